#include "server/http/answer_cache.h"

std::shared_ptr<const std::string> AnswerCache::Get(const std::string& key, const std::function<std::string()>& make,
                                                    bool& hit) {
    std::promise<Value> promise;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        auto found = entries_.find(key);
        if (found != entries_.end()) {
            ages_.splice(ages_.begin(), ages_, found->second.age);
            hit = true;
            return found->second.value;
        }
        auto running = pending_.find(key);
        if (running != pending_.end()) {
            std::shared_future<Value> wait = running->second;
            lock.unlock();
            hit = true;
            return wait.get();
        }
        pending_.emplace(key, promise.get_future().share());
    }
    hit = false;
    Value value;
    try {
        value = std::make_shared<const std::string>(make());
    } catch (...) {
        promise.set_exception(std::current_exception());
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.erase(key);
        throw;
    }
    promise.set_value(value);
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.erase(key);
    Keep(key, value);
    return value;
}

void AnswerCache::Keep(const std::string& key, const Value& value) {
    const size_t size = value->size() + key.size();
    if (size > maxBytes_) return;
    while (bytes_ + size > maxBytes_ && !ages_.empty()) {
        auto oldest = entries_.find(ages_.back());
        bytes_ -= oldest->second.value->size() + oldest->first.size();
        entries_.erase(oldest);
        ages_.pop_back();
    }
    ages_.push_front(key);
    entries_[key] = Entry{value, ages_.begin()};
    bytes_ += size;
}

size_t AnswerCache::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}
