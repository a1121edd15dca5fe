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
    if (entries_.count(path) != 0) return;
    while (bytes_ + size > maxBytes_ && !ages_.empty()) {
        auto oldest = entries_.find(ages_.back());
        bytes_ -= oldest->second.block->pixels.size();
        entries_.erase(oldest);
        ages_.pop_back();
    }
    ages_.push_front(path);
    entries_[path] = Entry{block, ages_.begin()};
    bytes_ += size;
}

uint64_t MemoryStore::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

}  // namespace blocks
