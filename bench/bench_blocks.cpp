// Zones cut from blocks against zones rendered one by one, side by side in
// one run, at levels 2, 3, 5, 9 and 12: a host's pan of 16 zones of
// 800 x 600 in 200-pixel steps over ground never drawn; the same band 100
// pixels lower (zones never asked, over ground drawn); one block alone; the
// share of identical pixels where zones overlap; memory and disk per 1,000
// blocks. Needs PLIVORS_TEST_MAPS (today's server, with a block store) and,
// optionally, PLIVORS_OLD_MAPS (the server as it was before blocks);
// tools/run-benchmarks.sh builds that one from history and starts both.
// PLIVORS_BENCH_CENTRE (lat,lon) is where the pans start.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <gif_lib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const double kRadius = 6378137.0, kPi = 3.14159265358979323846, kWorld = 2 * kPi * kRadius;
const double kLevels[13] = {1.3229180000489578, 2.6458359999815,   6.614590000011958, 19.843769999977667,
                            39.68754000001354,  79.37508000002708, 132.29179999997723, 396.875400000019,
                            793.750800000038,   1587.501600000076, 2645.835999999894, 5291.671999999788,
                            21166.68799999915};
const int kZoneWidth = 800, kZoneHeight = 600, kStep = 200, kZones = 16;
const int kBlock = 1024;  // the blocks of the zone levels

struct Server {
    std::string name, base;
};
std::vector<Server> gServers;
double gLat = -34.8700, gLon = -56.1700;
std::map<std::string, double> gFigures;

size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

std::string Fetch(CURL* curl, const std::string& url) {
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    long status = 0;
    if (curl_easy_perform(curl) != CURLE_OK || (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status), status != 200))
        return std::string();
    return body;
}

// The zone whose top-left pixel is (left, top) of the level's grid.
std::string ZoneUrl(const std::string& base, int level, long long left, long long top, int w, int h) {
    const double s = kLevels[level - 1];
    const double x = -kWorld / 2 + (left + w / 2.0 + 0.2) * s, y = kWorld / 2 - (top + h / 2.0 + 0.2) * s;
    const double lon = x / kRadius * 180 / kPi, lat = (2 * std::atan(std::exp(y / kRadius)) - kPi / 2) * 180 / kPi;
    char url[256];
    std::snprintf(url, sizeof url, "/plivors/client?cmd=map&img=1&width=%d&height=%d&scale=%d&mocs=gdd&mo=%.9f,%.9f",
                  w, h, level, lat, lon);
    return base + url;
}

int ReadMemory(GifFileType* gif, GifByteType* out, int n) {
    auto* source = static_cast<std::pair<const std::string*, size_t>*>(gif->UserData);
    const int k = static_cast<int>(std::min<size_t>(n, source->first->size() - source->second));
    std::memcpy(out, source->first->data() + source->second, k);
    source->second += k;
    return k;
}

// RGB of each pixel, 0xRRGGBB; empty when the bytes are no GIF.
std::vector<uint32_t> Pixels(const std::string& gifBytes) {
    std::pair<const std::string*, size_t> source(&gifBytes, 0);
    int error = 0;
    GifFileType* gif = DGifOpen(&source, &ReadMemory, &error);
    std::vector<uint32_t> out;
    if (gif == nullptr) return out;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1 && gif->SColorMap != nullptr)
        for (int i = 0; i < gif->SWidth * gif->SHeight; ++i) {
            const GifColorType& c = gif->SColorMap->Colors[gif->SavedImages[0].RasterBits[i]];
            out.push_back(uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue);
        }
    DGifCloseFile(gif, &error);
    return out;
}

// The top-left pixel of the level's pan, which has the centre in its middle.
void Corner(int level, long long& x, long long& y) {
    const double s = kLevels[level - 1];
    x = std::llround((kRadius * gLon * kPi / 180 + kWorld / 2) / s) - ((kZones - 1) * kStep + kZoneWidth) / 2;
    y = std::llround((kWorld / 2 - kRadius * std::log(std::tan(kPi / 4 + gLat * kPi / 360))) / s) - kZoneHeight / 2;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The level's pan, `down` pixels lower: 16 zones one after the other, as a
// host pans; the time of each.
std::vector<double> Pan(CURL* curl, const Server& s, int level, int down, std::vector<std::string>* zones) {
    long long x = 0, y = 0;
    Corner(level, x, y);
    std::vector<double> ms;
    for (int i = 0; i < kZones; ++i) {
        const auto start = Clock::now();
        std::string body = Fetch(curl, ZoneUrl(s.base, level, x + i * kStep, y + down, kZoneWidth, kZoneHeight));
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (zones != nullptr) zones->push_back(std::move(body));
    }
    return ms;
}

// Share of identical pixels where a zone and the one 100 pixels below it overlap.
double Agreement(const std::vector<std::string>& upper, const std::vector<std::string>& lower) {
    size_t same = 0, all = 0;
    for (size_t k = 0; k < upper.size() && k < lower.size(); ++k) {
        const std::vector<uint32_t> a = Pixels(upper[k]), b = Pixels(lower[k]);
        if (a.size() != size_t(kZoneWidth) * kZoneHeight || b.size() != a.size()) return 0;
        for (int row = 100; row < kZoneHeight; ++row)
            for (int col = 0; col < kZoneWidth; ++col, ++all)
                same += a[size_t(row) * kZoneWidth + col] == b[size_t(row - 100) * kZoneWidth + col] ? 1 : 0;
    }
    return all == 0 ? 0 : 100.0 * same / all;
}

void BM_Pan(benchmark::State& state, const Server* s, int level) {
    CURL* curl = curl_easy_init();
    const std::string key = std::to_string(level) + "/" + s->name;
    for (auto _ : state) {
        std::vector<std::string> upper, lower;
        const std::vector<double> fresh = Pan(curl, *s, level, 0, &upper);
        const std::vector<double> drawn = Pan(curl, *s, level, 100, &lower);
        double total = 0;
        for (double t : fresh) total += t;
        state.SetIterationTime(total / 1000);
        gFigures["fresh/" + key] = total;
        gFigures["drawn/" + key] = Median(drawn);
        gFigures["agree/" + key] = Agreement(upper, lower);
    }
    curl_easy_cleanup(curl);
}

// One block alone: a zone of one pixel on a block never drawn, two blocks
// above the pan.
void BM_OneBlock(benchmark::State& state, const Server* s, int level) {
    CURL* curl = curl_easy_init();
    long long x = 0, y = 0;
    Corner(level, x, y);
    std::vector<double> ms;
    int block = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        Fetch(curl, ZoneUrl(s->base, level, x + (block++) * kBlock, y - 2 * kBlock, 1, 1));
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        state.SetIterationTime(ms.back() / 1000);
    }
    gFigures["block/" + std::to_string(level) + "/" + s->name] = Median(ms);
    curl_easy_cleanup(curl);
}

// The store's bytes per 1,000 blocks (MB), from the server's status.
void BM_Store(benchmark::State& state, const Server* s) {
    CURL* curl = curl_easy_init();
    for (auto _ : state) {
        const std::string json = Fetch(curl, s->base + "/status.json");
        auto figure = [&json](const std::string& name) {
            const size_t at = json.find("\"" + name + "\":", json.find("\"blocks\":"));
            return at == std::string::npos ? 0.0 : std::atof(json.c_str() + at + name.size() + 3);
        };
        // Every block drawn is still held: the run draws far fewer than
        // the memory holds.
        const double drawn = figure("drawn"), perThousand = drawn > 0 ? 1000 / drawn / (1 << 20) : 0;
        gFigures["memory"] = figure("memory_bytes") * perThousand;
        gFigures["disk"] = figure("disk_bytes") * perThousand;
        state.SetIterationTime(0.001);
    }
    curl_easy_cleanup(curl);
}

std::string Figure(const std::string& key, const char* format) {
    auto f = gFigures.find(key);
    if (f == gFigures.end()) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, f->second);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    for (auto [name, variable] : {std::pair<const char*, const char*>{"old", "PLIVORS_OLD_MAPS"}, {"new", "PLIVORS_TEST_MAPS"}})
        if (const char* base = std::getenv(variable)) gServers.push_back({name, base});
    if (gServers.empty() || gServers.back().name != "new") {
        std::fprintf(stderr, "bench_blocks: run it through tools/run-benchmarks.sh\n");
        return 1;
    }
    if (const char* centre = std::getenv("PLIVORS_BENCH_CENTRE")) std::sscanf(centre, "%lf,%lf", &gLat, &gLon);
    curl_global_init(CURL_GLOBAL_ALL);
    const int levels[] = {2, 3, 5, 9, 12};
    // Each level's palette is chosen once, on its first draw: chosen here,
    // with a pixel far south of the pans, out of what is measured.
    CURL* curl = curl_easy_init();
    for (const Server& s : gServers)
        for (int level : levels) {
            long long x = 0, y = 0;
            Corner(level, x, y);
            Fetch(curl, ZoneUrl(s.base, level, x, y + 8 * kBlock, 1, 1));
        }
    curl_easy_cleanup(curl);
    for (int level : levels) {
        for (const Server& s : gServers)
            benchmark::RegisterBenchmark(("pan/" + std::to_string(level) + "/" + s.name).c_str(), BM_Pan, &s, level)
                ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("block/" + std::to_string(level)).c_str(), BM_OneBlock, &gServers.back(), level)
            ->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("store", BM_Store, &gServers.back())->Iterations(1)->UseManualTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    std::printf("\n%-52s %12s %12s %8s\n", "", "per zone", "blocks", "ratio");
    for (int level : levels) {
        const std::string l = std::to_string(level);
        auto row = [&](const std::string& what, const std::string& key, const char* format, bool ratio) {
            const auto o = gFigures.find(key + "/old"), n = gFigures.find(key + "/new");
            std::string r = "-";
            if (ratio && o != gFigures.end() && n != gFigures.end() && n->second > 0) {
                char text[16];
                std::snprintf(text, sizeof text, "%.2f", o->second / n->second);
                r = text;
            }
            std::printf("%-52s %12s %12s %8s\n", what.c_str(), Figure(key + "/old", format).c_str(),
                        Figure(key + "/new", format).c_str(), r.c_str());
        };
        row("level " + l + ": pan of 16 zones, fresh ground (ms)", "fresh/" + l, "%.0f", true);
        row("level " + l + ": zone 100 px lower, drawn ground (ms, median)", "drawn/" + l, "%.1f", true);
        row("level " + l + ": identical pixels where zones overlap (%)", "agree/" + l, "%.2f", false);
        std::printf("%-52s %12s %12s\n", ("level " + l + ": one block alone (ms, median of 3)").c_str(), "",
                    Figure("block/" + l + "/new", "%.0f").c_str());
    }
    std::printf("%-52s %12s %12s\n", "memory per 1,000 blocks (MB)", "",
                Figure("memory", "%.0f").c_str());
    std::printf("%-52s %12s %12s\n", "disk per 1,000 blocks (MB)", "", Figure("disk", "%.1f").c_str());
    curl_global_cleanup();
    return 0;
}
