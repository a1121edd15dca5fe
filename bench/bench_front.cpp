// The map server's front under careless and busy clients, today's
// asynchronous front against the thread-per-connection one it replaced when
// both are there: a new zone's answer time on an unloaded server and with
// 2,000 idle and 500 trickling connections open; throughput and 99th
// percentile latency of a cached answer with 8, 64 and 512 concurrent
// keep-alive clients; resident memory with 10,000 idle connections.
// Needs PLIVORS_TEST_MAPS and PLIVORS_TEST_MAPS_PID (the new front) and,
// optionally, PLIVORS_OLD_MAPS and PLIVORS_OLD_MAPS_PID (the old one);
// tools/run-benchmarks.sh starts both.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "process_memory.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Server {
    std::string name, base, pid;
    int port = 0;
};
std::vector<Server> gServers;
std::atomic<long> gFresh{0};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// A connection to the server within timeoutMs, or -1.
int Connect(int port, int timeoutMs = 300) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    if (poll(&p, 1, timeoutMs) != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Connections held open: idle ones, and trickling ones that send a header
// line every two seconds and never finish their request.
class Crowd {
public:
    Crowd(int port, int idle, int trickling) {
        for (int i = 0; i < idle; ++i) Add(port, idle_);
        for (int i = 0; i < trickling; ++i)
            if (Add(port, trickling_)) Send(trickling_.back(), "GET /plivors/client?cmd=map HTTP/1.1\r\nHost: x\r\n");
        if (!trickling_.empty())
            feeder_ = std::thread([this] {
                for (int round = 0; !stop_; ++round) {
                    for (int i = 0; i < 20 && !stop_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    const std::string line = "X-Round: " + std::to_string(round) + "\r\n";
                    for (int fd : trickling_) Send(fd, line);
                }
            });
    }
    ~Crowd() {
        stop_ = true;
        if (feeder_.joinable()) feeder_.join();
        for (int fd : idle_) close(fd);
        for (int fd : trickling_) close(fd);
    }
    size_t open() const { return idle_.size() + trickling_.size(); }

private:
    bool Add(int port, std::vector<int>& into) {
        int fd = Connect(port);
        if (fd >= 0) into.push_back(fd);
        return fd >= 0;
    }
    static void Send(int fd, const std::string& text) { (void)send(fd, text.data(), text.size(), MSG_NOSIGNAL); }
    std::vector<int> idle_, trickling_;
    std::atomic<bool> stop_{false};
    std::thread feeder_;
};

size_t Discard(char*, size_t size, size_t n, void*) { return size * n; }

// A zone never asked before, on a connection of its own; its time, or a
// negative number when it did not arrive within 20 s.
double NewZone(const Server& s) {
    long n = gFresh++;
    char url[256];
    std::snprintf(url, sizeof url,
                  "%s/plivors/client?cmd=map&img=1&width=400&height=300&scale=6&mocs=gdd&mo=%.7f,%.7f",
                  s.base.c_str(), 40.0 + (n % 100) * 1e-6, -4.0 - (n / 100) * 1e-6);
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    const auto start = Clock::now();
    long status = 0;
    bool ok = curl_easy_perform(curl) == CURLE_OK && curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
              status == 200;
    const double t = Seconds(start);
    curl_easy_cleanup(curl);
    return ok ? t : -1;
}

std::map<std::string, double> gFigures;  // by "what/server"

void BM_NewZone(benchmark::State& state, const Server* s, bool loaded) {
    for (auto _ : state) {
        std::unique_ptr<Crowd> crowd;
        if (loaded) crowd = std::make_unique<Crowd>(s->port, 2000, 500);
        std::vector<double> times;
        int failed = 0;
        for (int i = 0; i < 9; ++i) {
            double t = NewZone(*s);
            if (t < 0) ++failed;
            else times.push_back(t);
        }
        std::sort(times.begin(), times.end());
        const double median = times.empty() ? -1 : times[times.size() / 2];
        state.SetIterationTime(times.empty() ? 20 : median);
        state.counters["open"] = crowd ? static_cast<double>(crowd->open()) : 0;
        state.counters["failed"] = failed;
        gFigures[std::string(loaded ? "loaded" : "unloaded") + "/" + s->name] = failed == 9 ? -1 : median * 1000;
    }
}

// N keep-alive clients asking for one cached zone as fast as answers come,
// for `seconds`; answers per second and the 99th percentile latency.
void BM_Cached(benchmark::State& state, const Server* s, int clients) {
    const std::string request = "GET /plivors/client?cmd=map&img=1&width=256&height=256&scale=6&mocs=gdd&mo=40,-4 "
                                "HTTP/1.1\r\nHost: bench\r\n\r\n";
    NewZone(*s);  // warms nothing in particular; the first answer below fills the cache
    struct Client {
        int fd = -1;
        std::string got;
        Clock::time_point sent;
    };
    for (auto _ : state) {
        std::vector<Client> all(static_cast<size_t>(clients));
        std::vector<double> latencies;
        long failures = 0;
        auto start = [&](Client& c) {
            if (c.fd < 0) c.fd = Connect(s->port, 2000);
            if (c.fd < 0) return ++failures, false;
            c.got.clear();
            c.sent = Clock::now();
            if (send(c.fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
                close(c.fd);
                c.fd = -1;
                return ++failures, false;
            }
            return true;
        };
        for (Client& c : all) start(c);
        const auto begin = Clock::now();
        const double duration = 3.0;
        std::vector<pollfd> fds;
        while (Seconds(begin) < duration) {
            fds.clear();
            for (Client& c : all) fds.push_back({c.fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 100) <= 0) continue;
            for (size_t i = 0; i < all.size(); ++i) {
                Client& c = all[i];
                if (c.fd < 0) {
                    start(c);
                    continue;
                }
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                char buffer[65536];
                ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
                if (n <= 0) {  // closed (the old front's fifth answer, or a failure): again
                    close(c.fd);
                    c.fd = -1;
                    if (!c.got.empty()) ++failures;
                    start(c);
                    continue;
                }
                c.got.append(buffer, static_cast<size_t>(n));
                size_t end = c.got.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                size_t length = c.got.find("Content-Length: ");
                if (length == std::string::npos || length > end) continue;
                const size_t body = std::strtoul(c.got.c_str() + length + 16, nullptr, 10);
                if (c.got.size() < end + 4 + body) continue;
                latencies.push_back(Seconds(c.sent) * 1000);
                if (c.got.find("Connection: close") != std::string::npos && c.got.find("Connection: close") < end) {
                    close(c.fd);
                    c.fd = -1;
                }
                start(c);
            }
        }
        const double elapsed = Seconds(begin);
        for (Client& c : all)
            if (c.fd >= 0) close(c.fd);
        std::sort(latencies.begin(), latencies.end());
        const double p99 = latencies.empty() ? -1 : latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
        state.SetIterationTime(elapsed);
        state.counters["answers_per_s"] = latencies.size() / elapsed;
        state.counters["p99_ms"] = p99;
        state.counters["failures"] = static_cast<double>(failures);
        const std::string key = std::to_string(clients) + "/" + s->name;
        gFigures["rate/" + key] = latencies.size() / elapsed;
        gFigures["p99/" + key] = p99;
    }
}

void BM_IdleMemory(benchmark::State& state, const Server* s) {
    for (auto _ : state) {
        const long before = ResidentKilobytes(s->pid);
        std::vector<int> idle;
        const auto start = Clock::now();
        for (int i = 0; i < 10000; ++i) {
            int fd = Connect(s->port, 100);
            if (fd < 0) break;
            idle.push_back(fd);
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        // How many the server holds: a new zone must still come through.
        const double zone = NewZone(*s);
        const long after = ResidentKilobytes(s->pid);
        state.SetIterationTime(Seconds(start));
        for (int fd : idle) close(fd);
        state.counters["connections"] = static_cast<double>(idle.size());
        state.counters["rss_MB"] = after / 1024.0;
        state.counters["per_connection_KB"] = idle.empty() ? 0 : static_cast<double>(after - before) / idle.size();
        gFigures["rss/" + s->name] = after / 1024.0;
        gFigures["rssdelta/" + s->name] = (after - before) / 1024.0;
        gFigures["held/" + s->name] = static_cast<double>(idle.size());
        gFigures["zone10k/" + s->name] = zone < 0 ? -1 : zone * 1000;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

std::string Figure(const std::string& key, const char* format) {
    auto f = gFigures.find(key);
    if (f == gFigures.end()) return "-";
    if (f->second < 0) return "none";
    char text[32];
    std::snprintf(text, sizeof text, format, f->second);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    for (auto [name, variable] : {std::pair<const char*, const char*>{"old", "PLIVORS_OLD_MAPS"}, {"new", "PLIVORS_TEST_MAPS"}}) {
        const char* base = std::getenv(variable);
        const char* pid = std::getenv((std::string(variable) + "_PID").c_str());
        if (base == nullptr || pid == nullptr) continue;
        Server s{name, base, pid, 0};
        s.port = std::atoi(s.base.c_str() + s.base.rfind(':') + 1);
        gServers.push_back(s);
    }
    if (gServers.empty() || gServers.back().name != "new") {
        std::fprintf(stderr, "bench_front: run it through tools/run-benchmarks.sh\n");
        return 1;
    }
    if (limit.rlim_cur < 12000) std::fprintf(stderr, "bench_front: only %ld descriptors\n", (long)limit.rlim_cur);
    curl_global_init(CURL_GLOBAL_ALL);
    for (const Server& s : gServers) {
        const Server* p = &s;
        benchmark::RegisterBenchmark(("new_zone/unloaded/" + s.name).c_str(), BM_NewZone, p, false)
            ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("new_zone/2000_idle_500_trickling/" + s.name).c_str(), BM_NewZone, p, true)
            ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
        for (int clients : {8, 64, 512})
            benchmark::RegisterBenchmark(("cached/" + std::to_string(clients) + "_clients/" + s.name).c_str(), BM_Cached,
                                         p, clients)
                ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("memory/10000_idle/" + s.name).c_str(), BM_IdleMemory, p)
            ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    std::printf("\n%-44s %12s %12s\n", "", "old front", "new front");
    std::printf("(none: no answer within 20 s; -: not measured)\n");
    std::printf("%-44s %12s %12s\n", "new zone, unloaded (ms, median of 9)", Figure("unloaded/old", "%.1f").c_str(),
                Figure("unloaded/new", "%.1f").c_str());
    std::printf("%-44s %12s %12s\n", "new zone, 2,000 idle + 500 trickling (ms)", Figure("loaded/old", "%.1f").c_str(),
                Figure("loaded/new", "%.1f").c_str());
    for (int clients : {8, 64, 512}) {
        const std::string k = std::to_string(clients) + "/";
        std::printf("%-44s %12s %12s\n", ("cached, " + std::to_string(clients) + " clients: answers/s").c_str(),
                    Figure("rate/" + k + "old", "%.0f").c_str(), Figure("rate/" + k + "new", "%.0f").c_str());
        std::printf("%-44s %12s %12s\n", ("cached, " + std::to_string(clients) + " clients: p99 (ms)").c_str(),
                    Figure("p99/" + k + "old", "%.2f").c_str(), Figure("p99/" + k + "new", "%.2f").c_str());
    }
    std::printf("%-44s %12s %12s\n", "idle connections opened (of 10,000)", Figure("held/old", "%.0f").c_str(),
                Figure("held/new", "%.0f").c_str());
    std::printf("%-44s %12s %12s\n", "resident memory with them (MB)", Figure("rss/old", "%.1f").c_str(),
                Figure("rss/new", "%.1f").c_str());
    std::printf("%-44s %12s %12s\n", "  of which for the connections (MB)", Figure("rssdelta/old", "%.1f").c_str(),
                Figure("rssdelta/new", "%.1f").c_str());
    std::printf("%-44s %12s %12s\n", "a new zone meanwhile (ms)", Figure("zone10k/old", "%.1f").c_str(),
                Figure("zone10k/new", "%.1f").c_str());
    auto ratio = [](const std::string& a, const std::string& b) {
        auto x = gFigures.find(a), y = gFigures.find(b);
        return x != gFigures.end() && y != gFigures.end() && x->second > 0 && y->second > 0 ? y->second / x->second : 0.0;
    };
    std::printf("\nnew front: loaded/unloaded new zone %.2f; cached answers/s new/old at 8, 64, 512 clients: "
                "%.2f %.2f %.2f (0: not measurable)\n",
                ratio("unloaded/new", "loaded/new"), ratio("rate/8/old", "rate/8/new"),
                ratio("rate/64/old", "rate/64/new"), ratio("rate/512/old", "rate/512/new"));
    return 0;
}
