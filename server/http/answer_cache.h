// Encoded answers by request text, bounded in bytes, least recently used
// first out. Concurrent requests for one key wait for a single computation,
// so that a host asking for the same zone twice at once costs one render.
#pragma once

#include <functional>
#include <future>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class AnswerCache {
public:
    explicit AnswerCache(size_t maxBytes) : maxBytes_(maxBytes) {}

    // The answer for key, computed by make when absent; make's exception
    // reaches every waiter and nothing is kept. hit tells whether it was there.
    std::shared_ptr<const std::string> Get(const std::string& key, const std::function<std::string()>& make,
                                           bool& hit);
    size_t bytes() const;

private:
    using Value = std::shared_ptr<const std::string>;
    struct Entry {
        Value value;
        std::list<std::string>::iterator age;
    };
    void Keep(const std::string& key, const Value& value);

    const size_t maxBytes_;
    mutable std::mutex mutex_;
    size_t bytes_ = 0;
    std::map<std::string, Entry> entries_;
    std::list<std::string> ages_;  // most recent first
    std::map<std::string, std::shared_future<Value>> pending_;
};
