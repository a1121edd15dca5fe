#include "server/http/statistics.h"

#include <algorithm>

namespace {
const size_t kRecentRenders = 512;
}

Statistics::Statistics() : start_(Clock::now()) { secondOf_.fill(-1); }

long long Statistics::Second() const {
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_).count();
}

void Statistics::Request() {
    const long long now = Second();
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_;
    const size_t slot = static_cast<size_t>(now % 60);
    if (secondOf_[slot] != now) {
        secondOf_[slot] = now;
        perSecond_[slot] = 0;
    }
    ++perSecond_[slot];
}

void Statistics::Rendered(double ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++renders_;
    if (recent_.size() < kRecentRenders) {
        recent_.push_back(ms);
    } else {
        recent_[next_] = ms;
        next_ = (next_ + 1) % kRecentRenders;
    }
}

Statistics::Figures Statistics::figures() const {
    const long long now = Second();
    Figures f;
    std::vector<double> times;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f.requests = requests_;
        f.renders = renders_;
        for (size_t i = 0; i < 60; ++i)
            if (secondOf_[i] > now - 60) f.requestsLastMinute += perSecond_[i];
        times = recent_;
    }
    f.uptimeSeconds = std::chrono::duration<double>(Clock::now() - start_).count();
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        double sum = 0;
        for (double t : times) sum += t;
        f.meanMs = sum / times.size();
        f.medianMs = times[times.size() / 2];
        f.p95Ms = times[std::min(times.size() - 1, times.size() * 95 / 100)];
        f.maxMs = times.back();
    }
    return f;
}
