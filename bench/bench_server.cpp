// The map server under load: an 800 x 600 answer at each of the 13 levels
// over Iberia, rendered (a request never asked before) against cached (the
// same request again); a place name; throughput with 1 and 8 concurrent
// clients; and the
// server's resident memory after start-up and after 1,000 varied requests.
// Needs PLIVORS_TEST_MAPS and PLIVORS_TEST_MAPS_PID (tools/with-server.sh --maps).
// PLIVORS_BENCH_CENTRE=LAT,LON and PLIVORS_BENCH_SPREAD=DEGREES move it
// elsewhere, for instance over a city's street map (tools/run-benchmarks.sh).
// PLIVORS_BENCH_ZONES=LAT,LON first times blocks of zones around that point
// at levels 1 to 7, each cold and then cached, and names the slowest; the
// memory figures are then left out.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "process_memory.h"
#include "server/geo.h"
#include "server/protocol/levels.h"

namespace {

std::string gServer;
std::atomic<long> gFresh{0};
// Where the requests go, and how far apart the place names are asked.
double gLat = 40.0, gLon = -4.0, gSpread = 0.3;

size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

// One client: a keep-alive connection of its own, as a host's would be.
struct Client {
    CURL* curl = curl_easy_init();
    ~Client() { curl_easy_cleanup(curl); }
    bool Map(int level, double lat, double lon, int width = 800, int height = 600) {
        char url[256];
        std::snprintf(url, sizeof url, "%s/plivors/client?cmd=map&img=1&width=%d&height=%d&scale=%d&mocs=gdd&mo=%.8f,%.8f",
                      gServer.c_str(), width, height, level, lat, lon);
        std::string body;
        curl_easy_setopt(curl, CURLOPT_URL, url);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        long status = 0;
        return curl_easy_perform(curl) == CURLE_OK && curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
               status == 200 && body.compare(0, 4, "GIF8") == 0;
    }
};

// A position over Iberia that no request has used before: a few centimetres
// apart, the same work, a new cache key.
void Fresh(double& lat, double& lon) {
    long n = gFresh++;
    lat = gLat + (n % 1000) * 1e-7;
    lon = gLon + (n / 1000) * 1e-7;
}

void BM_Rendered(benchmark::State& state) {
    Client client;
    for (auto _ : state) {
        double lat, lon;
        Fresh(lat, lon);
        if (!client.Map(static_cast<int>(state.range(0)), lat, lon)) state.SkipWithError("map failed");
    }
}

void BM_Cached(benchmark::State& state) {
    Client client;
    const int level = static_cast<int>(state.range(0));
    client.Map(level, gLat, gLon);
    for (auto _ : state)
        if (!client.Map(level, gLat, gLon)) state.SkipWithError("map failed");
}

// A place name for a position never asked before: the round trip with the
// nearest-place search and the land test.
void BM_Place(benchmark::State& state) {
    Client client;
    for (auto _ : state) {
        double lat, lon;
        Fresh(lat, lon);
        char url[200];
        std::snprintf(url, sizeof url, "%s/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=%.8f,%.8f", gServer.c_str(),
                      lat + gSpread * (gFresh % 17), lon - 1.3 * gSpread * (gFresh % 13));
        std::string body;
        curl_easy_setopt(client.curl, CURLOPT_URL, url);
        curl_easy_setopt(client.curl, CURLOPT_WRITEFUNCTION, &Collect);
        curl_easy_setopt(client.curl, CURLOPT_WRITEDATA, &body);
        if (curl_easy_perform(client.curl) != CURLE_OK || body.find("se encuentra en") == std::string::npos)
            state.SkipWithError("place failed");
    }
}

// Concurrent clients asking for new zones across the levels a host uses most.
void BM_Clients(benchmark::State& state) {
    Client client;
    int level = 4 + state.thread_index() % 6;
    for (auto _ : state) {
        double lat, lon;
        Fresh(lat, lon);
        if (!client.Map(level, lat, lon)) state.SkipWithError("map failed");
        level = level == 9 ? 4 : level + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Rendered)->DenseRange(1, 13)->Iterations(12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cached)->DenseRange(1, 13)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Place)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Clients)->Threads(1)->Iterations(48)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Clients)->Threads(8)->Iterations(6)->UseRealTime()->Unit(benchmark::kMillisecond);

// Milliseconds of one map, or -1 when it failed.
double TimedMap(Client& client, int level, double lat, double lon) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = client.Map(level, lat, lon);
    return ok ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() : -1;
}

// Zones of 800 x 600 around lat0,lon0 (the densest part of a street map) at
// levels 1 to 7: a level's 3 x 3 neighbouring zones, each asked first cold
// (never asked before) and then again (from the answer cache). The middle
// zone goes first: none of its blocks is drawn yet, the cold zone of a map
// cut from blocks; its neighbours then find some of theirs drawn. Each
// level's palette is chosen before, far away: once per level and import,
// not a zone's cost. Prints each level's middle zone, mean and slowest cold
// zone, by its centre, and the slowest of all; returns how many maps failed.
int ZoneSweep(double lat0, double lon0) {
    Client client;
    // Each worker's first map opens its database connections: that is the
    // server's start-up, not a zone's cost.
    for (int i = 0; i < 4; ++i) client.Map(4, lat0 + 1.0, lon0 + 1.0 + i * 0.1);
    for (int level = 1; level <= 7; ++level) client.Map(level, lat0 + 1.0, lon0 - 1.0);
    for (int level = 1; level <= 7; ++level) client.Map(level, lat0 - 10.0, lon0, 1, 1);
    struct Zone {
        double ms = 0, lat = 0, lon = 0;
        int level = 0;
    } worstOfAll;
    int failures = 0;
    std::printf("\nzones of 800 x 600 around %.4f,%.4f, 3 x 3 a level, the middle one first\n", lat0, lon0);
    std::printf("level  middle cold ms  cold mean ms  cold worst ms  worst zone's centre  cached mean ms\n");
    const int order[9][2] = {{0, 0}, {-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    for (int level = 1; level <= 7; ++level) {
        const double s = protocol::MetresPerPixel(level);
        double cold = 0, cached = 0, middle = 0;
        Zone worst;
        for (const auto& at : order) {
            const double lat = geo::Lat(geo::MercatorY(lat0) + at[1] * 600 * s);
            const double lon = geo::Lon(geo::MercatorX(lon0) + at[0] * 800 * s);
            const double first = TimedMap(client, level, lat, lon), again = TimedMap(client, level, lat, lon);
            failures += (first < 0) + (again < 0);
            cold += first / 9, cached += again / 9;
            if (at[0] == 0 && at[1] == 0) middle = first;
            if (first > worst.ms) worst = {first, lat, lon, level};
        }
        std::printf("%5d  %14.1f  %12.1f  %13.1f  %8.4f,%9.4f  %14.2f\n", level, middle, cold, worst.ms, worst.lat,
                    worst.lon, cached);
        if (worst.ms > worstOfAll.ms) worstOfAll = worst;
    }
    std::printf("slowest cold zone: level %d at %.4f,%.4f, %.1f ms (%d maps failed)\n", worstOfAll.level, worstOfAll.lat,
                worstOfAll.lon, worstOfAll.ms, failures);
    return failures;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> time, rate;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            time[r.benchmark_name()] = r.GetAdjustedRealTime();
            auto items = r.counters.find("items_per_second");
            if (items != r.counters.end()) rate[r.benchmark_name()] = items->second;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    const char* server = std::getenv("PLIVORS_TEST_MAPS");
    const char* pid = std::getenv("PLIVORS_TEST_MAPS_PID");
    if (server == nullptr || pid == nullptr) {
        std::fprintf(stderr, "bench_server: run it through tools/with-server.sh --maps\n");
        return 1;
    }
    gServer = server;
    if (const char* centre = std::getenv("PLIVORS_BENCH_CENTRE")) std::sscanf(centre, "%lf,%lf", &gLat, &gLon);
    if (const char* spread = std::getenv("PLIVORS_BENCH_SPREAD")) gSpread = std::atof(spread);
    curl_global_init(CURL_GLOBAL_ALL);
    const long startKb = ResidentKilobytes(pid);
    double zoneLat, zoneLon;
    const char* zones = std::getenv("PLIVORS_BENCH_ZONES");
    const bool sweep = zones != nullptr && std::sscanf(zones, "%lf,%lf", &zoneLat, &zoneLon) == 2;
    const int sweepFailures = sweep ? ZoneSweep(zoneLat, zoneLon) : 0;
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nlevel  rendered ms  cached ms  rendered/cached\n");
    for (int level = 1; level <= 13; ++level) {
        const std::string n = "/" + std::to_string(level) + "/iterations:12";
        if (reporter.time.count("BM_Rendered" + n) == 0) continue;
        double rendered = reporter.time["BM_Rendered" + n];
        double cached = reporter.time["BM_Cached/" + std::to_string(level)];
        std::printf("%5d  %11.1f  %9.2f  %15.0f\n", level, rendered, cached, cached > 0 ? rendered / cached : 0);
    }
    double one = 0, eight = 0;
    for (auto& [name, r] : reporter.rate) {
        if (name.find("threads:1") != std::string::npos) one = r;
        if (name.find("threads:8") != std::string::npos) eight = r;
    }
    if (one > 0)
        std::printf("\nthroughput: 1 client %.1f maps/s, 8 clients %.1f maps/s, ratio %.2f\n", one, eight, eight / one);

    if (sweep) return sweepFailures == 0 ? 0 : 1;
    // Memory: 1,000 requests over all levels and across Iberia and beyond.
    const long beforeKb = ResidentKilobytes(pid);
    Client client;
    int failures = 0;
    for (int i = 0; i < 1000; ++i) {
        double lat = gLat - 4 * gSpread / 0.3 + (i * 37 % 100) * 0.08 * gSpread / 0.3;
        double lon = gLon - 5.5 * gSpread / 0.3 + (i * 61 % 100) * 0.12 * gSpread / 0.3;
        failures += client.Map(1 + i % 13, lat, lon, 200 + i % 600, 150 + i % 450) ? 0 : 1;
    }
    const long afterKb = ResidentKilobytes(pid);
    std::printf("\nresident memory: %.1f MB after start-up, %.1f MB after the benchmarks above, "
                "%.1f MB after 1,000 more varied requests (%d failed); ratio %.2f\n",
                startKb / 1024.0, beforeKb / 1024.0, afterKb / 1024.0, failures,
                startKb > 0 ? static_cast<double>(afterKb) / startKb : 0);
    return failures == 0 ? 0 : 1;
}
