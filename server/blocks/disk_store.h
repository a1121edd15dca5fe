// Blocks in files under one folder, which several servers on one machine or
// on a shared filesystem may use at once. Every file is written whole to a
// temporary and renamed into place, and carries its length and a checksum:
// a damaged or truncated file reads as absent and is drawn again. Past its
// size limit the least recently used files go (a read marks a file used).
// When the folder cannot be written (full, read-only, not ours) the store
// says so once on stderr and keeps nothing more: blocks stay in memory.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>

#include "server/blocks/block_store.h"

namespace blocks {

class DiskStore : public BlockStore {
public:
    DiskStore(std::string folder, uint64_t maxBytes);
    BlockPtr Find(const BlockKey& key) override;
    void Keep(const BlockKey& key, const BlockPtr& block) override;
    uint64_t bytes() const override { return bytes_; }

    // Any other checked file of the store, by relative name (a plane's palette).
    std::optional<std::string> Read(const std::string& name);
    void Write(const std::string& name, const std::string& payload);

private:
    void Failed(const std::string& what);
    void Evict();
    void EvictOnce();

    const std::string folder_;
    const uint64_t maxBytes_;
    // What the folder holds, never less: a walk's count plus what was
    // written while it walked (which it may have counted too).
    std::atomic<uint64_t> bytes_{0}, writtenSinceWalk_{0};
    // A write went over the limit while a walk was under way: walk again.
    std::atomic<bool> again_{false};
    std::atomic<bool> writable_{true};
    std::atomic<uint64_t> serial_{0};
    std::mutex evicting_;
};

}  // namespace blocks
