// Blocks in memory, bounded in bytes, the least recently used first out.
#pragma once

#include <functional>
#include <list>
#include <map>
#include <mutex>

#include "server/blocks/block_store.h"

namespace blocks {

class MemoryStore : public BlockStore {
public:
    explicit MemoryStore(uint64_t maxBytes) : maxBytes_(maxBytes) {}
    BlockPtr Find(const BlockKey& key) override;
    void Keep(const BlockKey& key, const BlockPtr& block) override;
    uint64_t bytes() const override;
    // Drops the blocks `stale` says are; how many went and how many stayed.
    std::pair<uint64_t, uint64_t> DropIf(const std::function<bool(const BlockKey&, const Block&)>& stale);

private:
    struct Entry {
        BlockKey key;
        BlockPtr block;
        std::list<std::string>::iterator age;
    };
    const uint64_t maxBytes_;
    mutable std::mutex mutex_;
    uint64_t bytes_ = 0;
    std::map<std::string, Entry> entries_;
    std::list<std::string> ages_;  // most recent first
    void Erase(std::map<std::string, Entry>::iterator it);
};

}  // namespace blocks
