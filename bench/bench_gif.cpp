// bench_gif: LeeGif against giflib's DGifSlurp on the same files, in one run.
// Prints megapixels per second of both and their ratio for each file.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "image/lee_gif.h"

namespace {

struct Sample {
    std::string name, path;
    double megapixels = 0;
};
std::vector<Sample> gSamples;

// A map-like tile: large areas of flat colour, roads and borders as thin
// lines, and sparse labels of mixed colours.
bool WriteMapTile(const std::string& path, int colours, bool interlaced) {
    const int w = 800, h = 600;
    std::vector<GifPixelType> p(static_cast<size_t>(w) * h);
    uint32_t s = 12345;
    auto rnd = [&s]() { return (s = s * 1664525u + 1013904223u) >> 8; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = static_cast<GifPixelType>(((x / 97) * 7 + (y / 71) * 3) % (colours / 2));
    for (int line = 0; line < 60; ++line) {
        int c = colours / 2 + static_cast<int>(rnd() % (colours / 2));
        int x0 = rnd() % w, y0 = rnd() % h, dx = static_cast<int>(rnd() % 5) - 2, dy = static_cast<int>(rnd() % 5) - 2;
        for (int k = 0; k < 900; ++k) {
            int x = x0 + dx * k / 2, y = y0 + dy * k / 2;
            if (x < 0 || y < 0 || x >= w - 2 || y >= h - 2) break;
            for (int t = 0; t < 2; ++t) p[static_cast<size_t>(y + t) * w + x + t] = static_cast<GifPixelType>(c);
        }
    }
    for (int label = 0; label < 120; ++label) {
        int x0 = rnd() % (w - 40), y0 = rnd() % (h - 10);
        for (int y = y0; y < y0 + 9; ++y)
            for (int x = x0; x < x0 + 36; ++x)
                if (rnd() % 3 == 0) p[static_cast<size_t>(y) * w + x] = static_cast<GifPixelType>(rnd() % colours);
    }
    std::vector<GifColorType> table(colours);
    for (int i = 0; i < colours; ++i)
        table[i] = {static_cast<GifByteType>(i * 37), static_cast<GifByteType>(i * 91), static_cast<GifByteType>(i * 13)};
    int err = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &err);
    if (!gif) return false;
    ColorMapObject* map = GifMakeMapObject(colours, table.data());
    bool ok = EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK && EGifPutImageDesc(gif, 0, 0, w, h, interlaced, nullptr) == GIF_OK;
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; ok && pass < (interlaced ? 4 : 1); ++pass)
        for (int y = interlaced ? start[pass] : 0; ok && y < h; y += interlaced ? step[pass] : 1)
            ok = EGifPutLine(gif, p.data() + static_cast<size_t>(y) * w, w) == GIF_OK;
    if (EGifCloseFile(gif, &err) != GIF_OK) ok = false;
    GifFreeMapObject(map);
    return ok;
}

void BM_LeeGif(benchmark::State& state, const Sample* s) {
    for (auto _ : state) {
        TDibKU bitmap;
        DString error;
        if (!LeeGif(s->path.c_str(), bitmap, error)) state.SkipWithError(error.Texto());
        benchmark::DoNotOptimize(bitmap.Bits());
    }
    state.counters["MP/s"] = benchmark::Counter(s->megapixels, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Giflib(benchmark::State& state, const Sample* s) {
    for (auto _ : state) {
        int err = 0;
        GifFileType* gif = DGifOpenFileName(s->path.c_str(), &err);
        if (!gif || DGifSlurp(gif) != GIF_OK) state.SkipWithError("giflib failed");
        if (gif) {
            benchmark::DoNotOptimize(gif->SavedImages);
            DGifCloseFile(gif, &err);
        }
    }
    state.counters["MP/s"] = benchmark::Counter(s->megapixels, benchmark::Counter::kIsIterationInvariantRate);
}

// Keeps the console output and remembers each run's rate for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto it = r.counters.find("MP/s");
            if (it != r.counters.end()) rate[r.benchmark_name()] = it->second.value;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    const char* shared = std::getenv("PLIVORS_SHARED_DIR");
    std::string corpus = std::string(shared ? shared : PLIVORS_SHARED_DEFAULT) + "/gif-corpus/valid/";
    std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/bench_gif." +
                      std::to_string(getpid());
    std::string mk = "mkdir -p '" + dir + "'";
    if (std::system(mk.c_str()) != 0) return 1;
    struct {
        const char* name;
        int colours;
        bool interlaced;
    } tiles[] = {{"map800x600-16", 16, false}, {"map800x600-256", 256, false}, {"map800x600-256-interlaced", 256, true}};
    // Only these files, written here, are removed at the end: the corpus is read-only.
    std::vector<std::string> written;
    for (auto& t : tiles) {
        std::string path = dir + "/" + t.name + ".gif";
        written.push_back(path);
        if (!WriteMapTile(path, t.colours, t.interlaced)) return 1;
        gSamples.push_back({t.name, path, 0.48});
    }
    // Large single-image corpus files; those not in this copy of the corpus are left out.
    struct {
        const char* name;
        const char* file;
        int w, h;
    } large[] = {{"corpus-test-1280x1067", "imagegif-test.gif", 1280, 1067},
                 {"corpus-colors-807x606", "pillow-test.colors.gif", 807, 606}};
    for (auto& l : large) {
        std::string path = corpus + l.file;
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            std::fclose(f);
            gSamples.push_back({l.name, path, static_cast<double>(l.w) * l.h / 1e6});
        } else {
            std::fprintf(stderr, "bench_gif: %s not found, left out\n", path.c_str());
        }
    }

    for (const Sample& s : gSamples) {
        benchmark::RegisterBenchmark(("LeeGif/" + s.name).c_str(), BM_LeeGif, &s)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("giflib/" + s.name).c_str(), BM_Giflib, &s)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-30s %12s %12s %8s\n", "file", "LeeGif MP/s", "giflib MP/s", "ratio");
    for (const Sample& s : gSamples) {
        double a = reporter.rate["LeeGif/" + s.name], b = reporter.rate["giflib/" + s.name];
        std::printf("%-30s %12.1f %12.1f %8.2f\n", s.name.c_str(), a, b, b > 0 ? a / b : 0.0);
    }
    for (const std::string& path : written) std::remove(path.c_str());
    std::string rm = "rmdir '" + dir + "'";
    (void)!std::system(rm.c_str());
    return 0;
}
