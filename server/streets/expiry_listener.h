// A running server's ear for street updates: a connection of its own that
// LISTENs for the update command's notices and reads the areas each update
// touched from the table it wrote. At start, and after every outage, it
// reads all it has not heard yet, so that an update made while this server
// could not reach the database is seen once it can.
#pragma once

#include <libpq-fe.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace streets {

struct ExpiredTile {
    uint64_t update;
    int zoom, column, row;
};

class ExpiryListener {
public:
    // heard gets each update's tiles, one update a call, in their order, on
    // the listener's thread.
    using Heard = std::function<void(uint64_t update, const std::vector<ExpiredTile>& tiles)>;
    ExpiryListener(std::string url, Heard heard);
    ~ExpiryListener();
    ExpiryListener(const ExpiryListener&) = delete;
    ExpiryListener& operator=(const ExpiryListener&) = delete;

private:
    void Run();
    void Listen();
    void CatchUp(PGconn* c);

    const std::string url_;
    Heard heard_;
    uint64_t last_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace streets
