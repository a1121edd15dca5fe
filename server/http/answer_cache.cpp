#include "server/http/answer_cache.h"

#include <cstdio>
#include <string_view>

std::string EntityTag(const std::string& bytes) {
    // A 64-bit hash of the bytes and their length: a collision between two
    // answers of one server is not a practical concern.
    char tag[48];
    std::snprintf(tag, sizeof tag, "\"%016zx-%zx\"", std::hash<std::string_view>()(bytes), bytes.size());
    return tag;
}

void AnswerCache::Get(const std::string& key, const Make& make, Done done) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        auto found = entries_.find(key);
        if (found != entries_.end()) {
            ages_.splice(ages_.begin(), ages_, found->second.age);
            ++hits_;
            Value value = found->second.value;
            lock.unlock();
            return done(value, nullptr, true);
        }
        auto running = pending_.find(key);
        if (running != pending_.end()) {
            ++hits_;
            running->second.push_back(std::move(done));
            return;
        }
        ++misses_;
        pending_[key].push_back(std::move(done));
    }
    make([this, key](std::string body, std::exception_ptr error) { Complete(key, std::move(body), error); });
}

void AnswerCache::Complete(const std::string& key, std::string body, std::exception_ptr error) {
    Value value;
    if (error == nullptr) {
        std::string etag = EntityTag(body);
        value = std::make_shared<const Stored>(Stored{std::move(body), std::move(etag)});
    }
    std::vector<Done> waiters;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto running = pending_.find(key);
        if (running != pending_.end()) {
            waiters = std::move(running->second);
            pending_.erase(running);
        }
        if (value && unkept_.erase(key) == 0) Keep(key, value);
    }
    for (size_t i = 0; i < waiters.size(); ++i) waiters[i](value, error, i > 0);
}

void AnswerCache::Keep(const std::string& key, const Value& value) {
    const size_t size = value->body.size() + key.size();
    if (size > maxBytes_) return;
    while (bytes_ + size > maxBytes_ && !ages_.empty()) {
        auto oldest = entries_.find(ages_.back());
        bytes_ -= oldest->second.value->body.size() + oldest->first.size();
        entries_.erase(oldest);
        ages_.pop_back();
    }
    ages_.push_front(key);
    entries_[key] = Entry{value, ages_.begin()};
    bytes_ += size;
}

size_t AnswerCache::DropIf(const std::function<bool(const std::string& key)>& stale) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t dropped = 0;
    for (auto it = entries_.begin(); it != entries_.end();) {
        auto next = std::next(it);
        if (stale(it->first)) {
            bytes_ -= it->second.value->body.size() + it->first.size();
            ages_.erase(it->second.age);
            entries_.erase(it);
            ++dropped;
        }
        it = next;
    }
    for (const auto& running : pending_)
        if (stale(running.first)) unkept_.insert(running.first);
    expired_ += dropped;
    return dropped;
}

AnswerCache::Use AnswerCache::use() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Use{bytes_, maxBytes_, entries_.size(), hits_, misses_, expired_};
}
