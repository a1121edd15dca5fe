// What the operator's page shows of the server's work: requests in the
// last minute, and render times (recent ones, for their median and 95th
// percentile). Safe to record from any thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

class Statistics {
public:
    Statistics();
    void Request();
    void Rendered(double ms);

    struct Figures {
        uint64_t requests = 0;
        uint64_t requestsLastMinute = 0;
        uint64_t renders = 0;
        double meanMs = 0, medianMs = 0, p95Ms = 0, maxMs = 0;  // of the recent renders
        double uptimeSeconds = 0;
    };
    Figures figures() const;

private:
    using Clock = std::chrono::steady_clock;
    long long Second() const;

    const Clock::time_point start_;
    mutable std::mutex mutex_;
    uint64_t requests_ = 0, renders_ = 0;
    std::array<uint64_t, 60> perSecond_{};      // counts of the last minute, by second
    std::array<long long, 60> secondOf_{};      // which second each slot counts
    std::vector<double> recent_;                // last render times, a ring
    size_t next_ = 0;
};
