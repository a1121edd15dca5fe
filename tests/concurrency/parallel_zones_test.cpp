// Zone requests from eight host threads at once, against a server that
// answers slowly: the calls must overlap and never mix up their images or
// their temporary files.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/plugin_fixture.h"

using namespace testing_support;

namespace {

class ParallelZones : public PluginTest {};

const int kThreads = 8;
const int kPerThread = 3;

TEST_F(ParallelZones, EachCallGetsItsOwnImage) {
    TInfoRaster raster;
    Open(raster, 1001);
    MapServerOptions("delay=100");
    std::vector<std::string> errors(kThreads);
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kPerThread; ++k) {
                // Every request asks for an image size of its own.
                int span = 200 + 10 * (t * kPerThread + k);
                int x0 = 1000000 + 5000 * t, y0 = 2000000 + 7000 * k;
                ZoneRecord zone;
                RecordingCallback failure;
                int32_t w = 800, h = 600;
                int32_t r = Zone(raster, x0, x0 + span, y0, y0 + span, w, h, zone, failure);
                int expected = static_cast<int>(span / 1.3229180000489578);
                if (r != 1 || w != expected || h != expected || zone.record.ancho != expected ||
                    zone.pixels.size() != static_cast<size_t>(ZoneRecord::RowStride(w, zone.record.bitsPorPixel)) * h + 1 ||
                    zone.pixels.back() != 0xA5)
                    errors[t] += "request " + std::to_string(k) + " got " + std::to_string(w) + "x" +
                                 std::to_string(h) + " (wanted " + std::to_string(expected) + ") ";
            }
        });
    }
    for (std::thread& th : threads) th.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const std::string& e : errors) EXPECT_TRUE(e.empty()) << e;
    EXPECT_EQ(NewRequests().size(), static_cast<size_t>(kThreads * kPerThread));
    // 24 requests of 100 ms each take 2.4 s one after another.
    EXPECT_LT(seconds, 2.0) << "the calls queued instead of overlapping";
    api->cierraRaster(&raster);
}

TEST_F(ParallelZones, EveryTemporaryFileNameIsUsedOnce) {
    TInfoRaster raster;
    Open(raster, 1001);
    // A body that is not a GIF makes each call name its temporary file.
    MapServerOptions("notgif;delay=20");
    std::vector<std::vector<std::string>> messages(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kPerThread; ++k) {
                ZoneRecord zone;
                RecordingCallback failure;
                int32_t w = 256, h = 256;
                Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure);
                for (const std::string& m : failure.texts) messages[t].push_back(m);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    std::set<std::string> names;
    size_t total = 0;
    for (const auto& list : messages)
        for (const std::string& m : list) {
            names.insert(m);
            ++total;
        }
    EXPECT_EQ(total, static_cast<size_t>(kThreads * kPerThread));
    EXPECT_EQ(names.size(), total) << "two calls shared a temporary file";
    for (int n = 1; n <= kThreads * kPerThread; ++n)
        EXPECT_EQ(names.count("Error 2 opening plivor_temp" + std::to_string(n) + ".gif"), 1u) << n;
    api->cierraRaster(&raster);
}

}  // namespace
