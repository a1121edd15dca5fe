#include "server/blocks/memory_store.h"

namespace blocks {

BlockPtr MemoryStore::Find(const BlockKey& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key.Path());
    if (it == entries_.end()) return nullptr;
    ages_.splice(ages_.begin(), ages_, it->second.age);
    return it->second.block;
}

void MemoryStore::Keep(const BlockKey& key, const BlockPtr& block) {
    const uint64_t size = block->pixels.size();
    std::lock_guard<std::mutex> lock(mutex_);
    if (size > maxBytes_) return;
    const std::string path = key.Path();
    auto kept = entries_.find(path);
    if (kept != entries_.end()) {
        if (kept->second.block->update >= block->update) return;
        Erase(kept);  // drawn again after an update
    }
    while (bytes_ + size > maxBytes_ && !ages_.empty()) Erase(entries_.find(ages_.back()));
    ages_.push_front(path);
    entries_[path] = Entry{key, block, ages_.begin()};
    bytes_ += size;
}

void MemoryStore::Erase(std::map<std::string, Entry>::iterator it) {
    bytes_ -= it->second.block->pixels.size();
    ages_.erase(it->second.age);
    entries_.erase(it);
}

std::pair<uint64_t, uint64_t> MemoryStore::DropIf(const std::function<bool(const BlockKey&, const Block&)>& stale) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t dropped = 0;
    for (auto it = entries_.begin(); it != entries_.end();) {
        auto next = std::next(it);
        if (stale(it->second.key, *it->second.block)) {
            Erase(it);
            ++dropped;
        }
        it = next;
    }
    return {dropped, entries_.size()};
}

uint64_t MemoryStore::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

}  // namespace blocks
