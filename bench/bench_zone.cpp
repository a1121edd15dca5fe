// One zone through the plug-in on loopback against fetching the same GIF with
// libcurl and decoding it with giflib, and with Wuffs; and eight concurrent
// zones against a server that delays every answer, against one such zone alone.
// Prints each pair's time ratio. Needs the stand-in at PLIVORS_TEST_SERVER and
// takes the single zones from the map server at PLIVORS_TEST_MAPS when there
// is one (tools/run-benchmarks.sh starts both).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <gif_lib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <memory>
#include <thread>
#include <vector>

#include "plugin/descriptor.h"
#include "plugin/zona.h"
#include "bench/wuffs_gif.h"

namespace {

std::string gServer;
std::string gMaps;  // the real map server, else the stand-in
const char kDescriptor[] = "bench_zone_1001.plvr";
// 800 by 600 metres of Madrid on map 1001: level 1, a 604 by 453 image.
const int32_t kZone[4] = {1924030, 1924830, 1806992, 1807592};

struct Host {
    TBitmapZona record;
};

// The host's display buffer, one per thread, kept from zone to zone as a
// viewer keeps its own: what is timed is the plug-in, not the host's memory.
void PLIVORS_CDECL Prepare(TBitmapZona* r) {
    thread_local std::vector<uint8_t> pixels;
    size_t size = static_cast<size_t>(((r->ancho * r->bitsPorPixel + 31) / 32) * 4) * r->alto;
    if (pixels.size() < size) pixels.resize(size);
    r->pixeles = pixels.data();
}

bool OneZone(TInfoRaster& raster) {
    Host host;
    std::memset(&host.record, 0, sizeof host.record);
    host.record.tamano = sizeof(TBitmapZona);
    host.record.prepara = &Prepare;
    int32_t w = 800, h = 600;
    TContextoDescarga context;
    std::memset(&context, 0, sizeof context);
    return AbreZona(&raster, kZone[0], kZone[1], kZone[2], kZone[3], &w, &h, &host.record, nullptr, &context) == 1;
}

void SetMapServer(const std::string& options) {
    std::string base = options.empty() ? gServer : gServer + "/_opt/" + options;
    setenv("PLIVORS_MAP_SERVER", base.c_str(), 1);
}

struct Raster {
    TInfoRaster info;
    Raster() {
        std::memset(&info, 0, sizeof info);
        if (!AbreRaster(kDescriptor, &info, nullptr)) std::abort();
    }
    ~Raster() { CierraRaster(&info); }
};

void BM_PluginZone(benchmark::State& state) {
    setenv("PLIVORS_MAP_SERVER", gMaps.c_str(), 1);
    Raster raster;
    for (auto _ : state)
        if (!OneZone(raster.info)) state.SkipWithError("zone failed");
}

size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

struct Memory {
    const std::string* data;
    size_t at;
};

int ReadMemory(GifFileType* gif, GifByteType* buffer, int n) {
    Memory* m = static_cast<Memory*>(gif->UserData);
    size_t k = std::min(static_cast<size_t>(n), m->data->size() - m->at);
    std::memcpy(buffer, m->data->data() + m->at, k);
    m->at += k;
    return static_cast<int>(k);
}

// The URL of the plug-in's request for the benchmark zone.
DString ZoneUrl(Raster& raster) {
    TPeticionZona request;
    CalculaPeticionZona(*raster.info.datos, kZone[0], kZone[1], kZone[2], kZone[3], 800, 600, request);
    DString url;
    ComponeUrlZona(gMaps.c_str(), request, url);
    return url;
}

bool Fetch(CURL* curl, const DString& url, std::string& body) {
    curl_easy_setopt(curl, CURLOPT_URL, url.Texto());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    // A new connection each time, as the plug-in makes one per zone.
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    return curl_easy_perform(curl) == CURLE_OK;
}

// The same request the plug-in sends, fetched and decoded by the reference libraries.
void BM_CurlGiflib(benchmark::State& state) {
    Raster raster;
    DString url = ZoneUrl(raster);
    CURL* curl = curl_easy_init();
    for (auto _ : state) {
        std::string body;
        if (!Fetch(curl, url, body)) state.SkipWithError("fetch failed");
        Memory m{&body, 0};
        int error = 0;
        GifFileType* gif = DGifOpen(&m, &ReadMemory, &error);
        if (gif == nullptr || DGifSlurp(gif) != GIF_OK) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
        DGifCloseFile(gif, &error);
    }
    curl_easy_cleanup(curl);
}

// Wuffs decodes the first frame into palette indices, as the plug-in does.
void BM_CurlWuffs(benchmark::State& state) {
    Raster raster;
    DString url = ZoneUrl(raster);
    CURL* curl = curl_easy_init();
    WuffsGif wuffs;
    for (auto _ : state) {
        std::string body;
        if (!Fetch(curl, url, body)) state.SkipWithError("fetch failed");
        if (wuffs.DecodeFirstImage(body) != nullptr) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(wuffs.Pixels());
    }
    curl_easy_cleanup(curl);
}

void BM_OneDelayedZone(benchmark::State& state) {
    SetMapServer("delay=100");
    Raster raster;
    for (auto _ : state)
        if (!OneZone(raster.info)) state.SkipWithError("zone failed");
}

void BM_EightDelayedZones(benchmark::State& state) {
    SetMapServer("delay=100");
    Raster raster;
    for (auto _ : state) {
        std::vector<std::thread> threads;
        bool ok[8] = {};
        for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { ok[i] = OneZone(raster.info); });
        for (std::thread& t : threads) t.join();
        for (bool b : ok)
            if (!b) state.SkipWithError("zone failed");
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            // With repetitions, the median stands for the benchmark.
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
            seconds[r.run_name.function_name] = r.GetAdjustedRealTime();
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    const char* server = std::getenv("PLIVORS_TEST_SERVER");
    if (server == nullptr) {
        std::fprintf(stderr, "bench_zone: run it through tools/with-server.sh\n");
        return 1;
    }
    gServer = server;
    const char* maps = std::getenv("PLIVORS_TEST_MAPS");
    gMaps = maps ? maps : server;
    std::FILE* f = std::fopen(kDescriptor, "wb");
    if (f == nullptr) return 1;
    std::fputs("VERSION=1\nIDMAPA=1001\n", f);
    std::fclose(f);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // The map server chooses level 1's palette on its first zone there,
    // drawing sample blocks: once per level, not a zone's cost. Done here,
    // far from the zone measured.
    if (CURL* warm = curl_easy_init()) {
        std::string body;
        const std::string url = gMaps + "/plivors/client?cmd=map&img=1&width=1&height=1&scale=1&mocs=gdd&mo=-40,-20";
        curl_easy_setopt(warm, CURLOPT_URL, url.c_str());
        curl_easy_setopt(warm, CURLOPT_WRITEFUNCTION, &Collect);
        curl_easy_setopt(warm, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(warm, CURLOPT_NOPROXY, "*");
        curl_easy_perform(warm);
        curl_easy_cleanup(warm);
    }
    // The concurrent pair runs first: thousands of short loopback connections
    // later leave ports in TIME-WAIT, whose collisions cost one-second SYN
    // retries that have nothing to do with the plug-in.
    benchmark::RegisterBenchmark("delayed/one", BM_OneDelayedZone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
    benchmark::RegisterBenchmark("delayed/eight-concurrent", BM_EightDelayedZones)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(10);
    benchmark::RegisterBenchmark("zone/plugin", BM_PluginZone)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("zone/curl+giflib", BM_CurlGiflib)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("zone/curl+wuffs", BM_CurlWuffs)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double a = reporter.seconds["zone/plugin"], b = reporter.seconds["zone/curl+giflib"];
    double w = reporter.seconds["zone/curl+wuffs"];
    double c = reporter.seconds["delayed/eight-concurrent"], d = reporter.seconds["delayed/one"];
    std::printf("\none zone, plug-in / (libcurl + giflib): %.2f (target at most 1.3)\n", b > 0 ? a / b : 0.0);
    std::printf("one zone, plug-in / (libcurl + Wuffs):  %.2f\n", w > 0 ? a / w : 0.0);
    std::printf("eight concurrent delayed zones / one:    %.2f (target at most 2)\n", d > 0 ? c / d : 0.0);
    std::remove(kDescriptor);
    curl_global_cleanup();
    return 0;
}
