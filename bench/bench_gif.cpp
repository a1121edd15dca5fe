// bench_gif: LeeGif against giflib, stb_image and Wuffs on the same files, in
// one run. Every decoder reads the file and decodes its first image (palette
// indices; stb_image can only give RGBA). Two sets: map tiles fetched once,
// before any timing, from the map server at PLIVORS_TEST_MAPS (else from the
// stand-in at PLIVORS_TEST_SERVER), and the large images of the GIF corpus.
// Prints each file's times and each set's aggregate ratios.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <gif_lib.h>
#include <stb/stb_image.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "image/lee_gif.h"
#include "bench/wuffs_gif.h"

namespace {

struct Sample {
    std::string set, name, path;
};
std::vector<Sample> gSamples;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void BM_LeeGif(benchmark::State& state, const Sample* s) {
    for (auto _ : state) {
        TDibKU bitmap;
        DString error;
        if (!LeeGif(s->path.c_str(), bitmap, error)) state.SkipWithError(error.Texto());
        benchmark::DoNotOptimize(bitmap.Bits());
    }
}

// First image only, rows to their place (interlaced files deliver them by pass).
void BM_Giflib(benchmark::State& state, const Sample* s) {
    for (auto _ : state) {
        int err = 0;
        GifFileType* gif = DGifOpenFileName(s->path.c_str(), &err);
        bool done = false;
        GifRecordType type;
        while (gif && !done && DGifGetRecordType(gif, &type) == GIF_OK && type != TERMINATE_RECORD_TYPE) {
            if (type == EXTENSION_RECORD_TYPE) {
                int code;
                GifByteType* ext;
                if (DGifGetExtension(gif, &code, &ext) != GIF_OK) break;
                while (ext && DGifGetExtensionNext(gif, &ext) == GIF_OK) {
                }
                continue;
            }
            if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) != GIF_OK) break;
            int w = gif->Image.Width, h = gif->Image.Height;
            std::unique_ptr<GifPixelType[]> pixels(new GifPixelType[static_cast<size_t>(w) * h]);
            static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            bool ok = true;
            for (int pass = 0; ok && pass < (gif->Image.Interlace ? 4 : 1); ++pass)
                for (int y = gif->Image.Interlace ? start[pass] : 0; ok && y < h; y += gif->Image.Interlace ? step[pass] : 1)
                    ok = DGifGetLine(gif, pixels.get() + static_cast<size_t>(y) * w, w) == GIF_OK;
            benchmark::DoNotOptimize(pixels.get());
            done = ok;
        }
        if (!done) state.SkipWithError("giflib failed");
        if (gif) DGifCloseFile(gif, &err);
    }
}

void BM_Stb(benchmark::State& state, const Sample* s) {
    for (auto _ : state) {
        std::string file = ReadAll(s->path);
        int w, h, n;
        stbi_uc* rgba = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(file.data()), static_cast<int>(file.size()),
                                              &w, &h, &n, 4);
        if (!rgba) state.SkipWithError("stb_image failed");
        benchmark::DoNotOptimize(rgba);
        stbi_image_free(rgba);
    }
}

void BM_Wuffs(benchmark::State& state, const Sample* s) {
    WuffsGif wuffs;
    for (auto _ : state) {
        std::string file = ReadAll(s->path);
        if (const char* error = wuffs.DecodeFirstImage(file)) {
            state.SkipWithError(error);
            break;
        }
        benchmark::DoNotOptimize(wuffs.Pixels());
    }
}

const char* const kDecoders[] = {"LeeGif", "giflib", "stb_image", "Wuffs"};

// Keeps the console output and remembers each run's time for the tables.
class TimeReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            // With repetitions, the median stands for the file.
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
            // A decoder that refused the file has no time for it.
            seconds[r.run_name.function_name] = r.error_occurred ? -1 : r.GetAdjustedRealTime() / 1e3;
        }
    }
};

size_t ToFile(char* data, size_t size, size_t n, void* f) { return std::fwrite(data, size, n, static_cast<FILE*>(f)); }

// Map tiles of 800 x 600 at every level, around two places, written once.
bool FetchTiles(const std::string& server, const std::string& dir, std::vector<std::string>& written) {
    struct {
        const char* name;
        const char* position;
    } places[] = {{"madrid", "40.41680000,-3.70380000"}, {"valencia", "39.46990000,-0.37630000"}};
    CURL* curl = curl_easy_init();
    bool ok = curl != nullptr;
    for (auto& p : places)
        for (int level = 1; ok && level <= 13; ++level) {
            std::string name = std::string("tile-") + p.name + "-" + std::to_string(level);
            std::string path = dir + "/" + name + ".gif", url = server +
                "/plivors/client?cmd=map&img=1&width=800&height=600&scale=" + std::to_string(level) +
                "&mocs=gdd&mo=" + p.position;
            FILE* f = std::fopen(path.c_str(), "wb");
            if (!f) return false;
            written.push_back(path);
            curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &ToFile);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, f);
            curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
            curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
            ok = curl_easy_perform(curl) == CURLE_OK;
            std::fclose(f);
            gSamples.push_back({"tiles", name, path});
        }
    if (curl) curl_easy_cleanup(curl);
    return ok;
}

// The corpus's large images: first image of at least 60 000 pixels, neither
// side below 100 (the one-pixel strips measure nothing but overhead).
void AddCorpus(const std::string& corpus) {
    std::ifstream in(corpus + "/MANIFEST.tsv", std::ios::binary);
    std::string line;
    std::vector<std::string> columns;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream s(line);
        for (std::string c; std::getline(s, c, '\t');) cells.push_back(c);
        if (columns.empty()) {
            columns = cells;
            continue;
        }
        std::map<std::string, std::string> row;
        for (size_t i = 0; i < cells.size() && i < columns.size(); ++i) row[columns[i]] = cells[i];
        if (row["file"].compare(0, 6, "valid/") != 0) continue;
        long w = std::atol(row["width"].c_str()), h = std::atol(row["height"].c_str());
        if (w * h < 60000 || w < 100 || h < 100) continue;
        std::string path = corpus + "/" + row["file"];
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            std::fclose(f);
            gSamples.push_back({"corpus", row["file"].substr(6), path});
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* shared = std::getenv("PLIVORS_SHARED_DIR");
    std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/bench_gif." +
                      std::to_string(getpid());
    std::string mk = "mkdir -p '" + dir + "'";
    if (std::system(mk.c_str()) != 0) return 1;
    // Only the tiles written here are removed at the end: the corpus is read-only.
    std::vector<std::string> written;
    const char* server = std::getenv("PLIVORS_TEST_MAPS");
    if (server == nullptr) {
        server = std::getenv("PLIVORS_TEST_SERVER");
        if (server) std::fprintf(stderr, "bench_gif: no map server, tiles from the stand-in\n");
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    if (server == nullptr) {
        std::fprintf(stderr, "bench_gif: no server, map tiles left out (run it through tools/run-benchmarks.sh)\n");
    } else if (!FetchTiles(server, dir, written)) {
        std::fprintf(stderr, "bench_gif: fetching the map tiles failed\n");
        return 1;
    }
    AddCorpus(std::string(shared ? shared : PLIVORS_SHARED_DEFAULT) + "/gif-corpus");

    typedef void (*Bench)(benchmark::State&, const Sample*);
    const Bench benches[] = {BM_LeeGif, BM_Giflib, BM_Stb, BM_Wuffs};
    for (const Sample& s : gSamples)
        for (int d = 0; d < 4; ++d)
            benchmark::RegisterBenchmark((std::string(kDecoders[d]) + "/" + s.name).c_str(), benches[d], &s)
                ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // Per file: milliseconds of each decoder ("fail" where it refused the
    // file, "-" where it did not run); then per set each decoder's summed time against giflib's on the
    // files both decoded, and LeeGif's against Wuffs' likewise.
    std::printf("\n%-44s %9s %9s %9s %9s %12s\n", "file (ms)", "LeeGif", "giflib", "stb_image", "Wuffs",
                "LeeGif/Wuffs");
    std::map<std::string, std::vector<std::vector<double>>> times;  // set -> file -> decoder
    for (const Sample& s : gSamples) {
        std::vector<double> t(4);
        std::printf("%-44s", (s.set + "/" + s.name).c_str());
        for (int d = 0; d < 4; ++d) {
            auto found = reporter.seconds.find(std::string(kDecoders[d]) + "/" + s.name);
            t[d] = found == reporter.seconds.end() ? -2 : found->second < 0 ? -1 : found->second * 1e3;
            if (t[d] < 0) std::printf(" %9s", t[d] == -1 ? "fail" : "-");  // -2: filtered out
            else std::printf(" %9.3f", t[d]);
        }
        if (t[0] > 0 && t[3] > 0) std::printf(" %12.2f\n", t[3] / t[0]);
        else std::printf(" %12s\n", "-");
        times[s.set].push_back(t);
    }
    // Summed time of decoder a over summed time of decoder b, on the files both decoded.
    auto ratio = [](const std::vector<std::vector<double>>& files, int a, int b) {
        double ta = 0, tb = 0;
        for (const auto& t : files)
            if (t[a] > 0 && t[b] > 0) {
                ta += t[a];
                tb += t[b];
            }
        return ta > 0 ? tb / ta : 0.0;
    };
    for (auto& set : times) {
        const auto& f = set.second;
        std::printf("\n%s (%zu files), aggregate speed relative to giflib: LeeGif %.2fx  giflib 1.00x  stb_image %.2fx  "
                    "Wuffs %.2fx\n",
                    set.first.c_str(), f.size(), ratio(f, 0, 1), ratio(f, 2, 1), ratio(f, 3, 1));
        std::printf("%s, LeeGif speed / Wuffs speed: %.2f\n", set.first.c_str(), ratio(f, 0, 3));
    }
    for (const std::string& path : written) std::remove(path.c_str());
    std::string rm = "rmdir '" + dir + "'";
    (void)!std::system(rm.c_str());
    curl_global_cleanup();
    return 0;
}
