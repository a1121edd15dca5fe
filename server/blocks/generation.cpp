#include "server/blocks/generation.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace blocks {
namespace fs = std::filesystem;

namespace {

// FNV-1a, 64 bits: enough to tell generations apart, not a defence.
void Mix(uint64_t& h, const std::string& bytes) {
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ULL;
    h = (h ^ 0xFF) * 1099511628211ULL;  // ends each part: "ab"+"c" is not "a"+"bc"
}

std::string Hex(uint64_t h) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

}  // namespace

std::string Fingerprint(const std::vector<std::string>& files, const std::vector<std::string>& folders) {
    uint64_t h = 14695981039346656037ULL;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        Mix(h, file);
        Mix(h, text.str());
    }
    for (const std::string& folder : folders) {
        std::set<std::string> entries;  // in name order: the walk's order is the filesystem's
        std::error_code e;
        for (auto it = fs::directory_iterator(folder, e); !e && it != fs::directory_iterator(); it.increment(e)) {
            std::error_code f;
            if (!it->is_regular_file(f)) continue;
            const auto size = it->file_size(f);
            const auto time = it->last_write_time(f).time_since_epoch().count();
            entries.insert(it->path().filename().string() + " " + std::to_string(size) + " " + std::to_string(time));
        }
        for (const std::string& entry : entries) Mix(h, entry);
    }
    return Hex(h);
}

Generation::Generation(std::string fixed, std::function<std::string()> poll)
    : fixed_(std::move(fixed)), poll_(std::move(poll)) {
    if (!poll_) return;
    try {
        polled_ = poll_();
    } catch (...) {  // unreachable now: the thread asks again
    }
    thread_ = std::thread([this] { Poll(); });
}

Generation::~Generation() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::string Generation::Current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return polled_.empty() ? fixed_ : fixed_ + "-" + polled_;
}

void Generation::Poll() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
        lock.unlock();
        std::string name;
        try {
            name = poll_();
        } catch (...) {
        }
        lock.lock();
        if (!name.empty()) polled_ = name;
    }
}

}  // namespace blocks
