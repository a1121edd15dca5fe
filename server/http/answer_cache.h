// Encoded answers by request text, bounded in bytes, least recently used
// first out, each with the strong entity tag of its bytes. Concurrent
// requests for one key wait for a single computation, so that a host asking
// for the same zone twice at once costs one render. Nobody blocks: a
// computation finishes by a callback, from whichever thread did the work,
// and the answer is kept even when no one waits for it any more.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class AnswerCache {
public:
    struct Stored {
        std::string body;
        std::string etag;  // "\"...\"", from the bytes
    };
    using Value = std::shared_ptr<const Stored>;
    // The answer or why there is none; hit tells whether it was kept (or
    // being computed for someone else) already.
    using Done = std::function<void(Value, std::exception_ptr, bool hit)>;
    using Finish = std::function<void(std::string body, std::exception_ptr error)>;
    using Make = std::function<void(Finish)>;

    explicit AnswerCache(size_t maxBytes) : maxBytes_(maxBytes) {}

    // Calls done with the answer for key: at once when kept, else when make
    // calls its Finish. A failure reaches every waiter and nothing is kept.
    void Get(const std::string& key, const Make& make, Done done);

    // Drops the answers whose key `stale` names; those being computed are
    // handed to their waiters but not kept (they may have read what went
    // stale). How many were dropped.
    size_t DropIf(const std::function<bool(const std::string& key)>& stale);

    struct Use {
        size_t bytes, capacity, entries;
        uint64_t hits, misses, expired;
    };
    Use use() const;

private:
    struct Entry {
        Value value;
        std::list<std::string>::iterator age;
    };
    void Complete(const std::string& key, std::string body, std::exception_ptr error);
    void Keep(const std::string& key, const Value& value);

    const size_t maxBytes_;
    mutable std::mutex mutex_;
    size_t bytes_ = 0;
    uint64_t hits_ = 0, misses_ = 0, expired_ = 0;
    std::map<std::string, Entry> entries_;
    std::list<std::string> ages_;  // most recent first
    std::map<std::string, std::vector<Done>> pending_;
    std::set<std::string> unkept_;  // pending, but stale once done
};

// A strong entity tag for bytes.
std::string EntityTag(const std::string& bytes);
