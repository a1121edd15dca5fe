// Two map servers behind nginx (tools/balanced-servers.sh): the plug-in gets
// the same zone from either, repeats come from nginx's cache, and stopping
// one server loses no request.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/server_support.h"
#include "support/map_geometry.h"
#include "support/plugin_fixture.h"

using namespace testing_support;

namespace {

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

size_t Lines(const std::vector<std::string>& files) {
    size_t n = 0;
    for (const std::string& f : files)
        for (char c : ReadFile(f)) n += c == '\n' ? 1 : 0;
    return n;
}

class Balanced : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        balancer_ = Env("PLIVORS_BALANCER");
        if (balancer_.empty()) GTEST_SKIP() << "no balanced servers";
        servers_ = Words(Env("PLIVORS_BALANCER_SERVERS"));
        logs_ = Words(Env("PLIVORS_BALANCER_LOGS"));
        pids_ = Words(Env("PLIVORS_BALANCER_PIDS"));
        ASSERT_EQ(servers_.size(), 2u);
        SetEnv("PLIVORS_MAP_SERVER", balancer_);
        Open(raster_, 1001);
    }
    void TearDown() override {
        if (raster_.datos != nullptr) api->cierraRaster(&raster_);
        PluginTest::TearDown();
    }
    // The 400 x 300 zone of 20 x 15 km around raster pixel x, y of map 1001
    // (pixels are Mercator metres from its south-west corner).
    bool ZoneAround(double lat, double lon, ZoneRecord& zone) {
        const int x = static_cast<int>(MercX(lon) - MercX(-20.9912576)), y = static_cast<int>(MercY(lat) - MercY(26.9674359));
        RecordingCallback failure;
        int32_t w = 400, h = 300;
        const int32_t result = Zone(raster_, x - 10000, x + 10000, y - 7500, y + 7500, w, h, zone, failure);
        EXPECT_EQ(result, 1) << (failure.texts.empty() ? "" : failure.texts[0]);
        return result == 1 && !zone.pixels.empty();
    }
    std::string balancer_;
    std::vector<std::string> servers_, logs_, pids_;
    TInfoRaster raster_{};
};

TEST_F(Balanced, SameZonesFromEitherServerRepeatsFromTheCacheNoRequestLost) {
    // The same zone straight from each server and through nginx.
    std::vector<ZoneRecord> zones(3);
    for (int i = 0; i < 3; ++i) {
        SetEnv("PLIVORS_MAP_SERVER", i < 2 ? servers_[i] : balancer_);
        ASSERT_TRUE(ZoneAround(37.39, -5.99, zones[i]));
    }
    EXPECT_EQ(zones[0].pixels, zones[1].pixels);
    EXPECT_EQ(zones[0].palette, zones[1].palette);
    EXPECT_EQ(zones[2].pixels, zones[0].pixels);

    // A new zone asked three times through nginx reaches a server once.
    const size_t before = Lines(logs_);
    for (int i = 0; i < 3; ++i) {
        ZoneRecord zone;
        ASSERT_TRUE(ZoneAround(36.72, -4.42, zone));
    }
    EXPECT_EQ(Lines(logs_) - before, 1u) << "nginx did not serve the repeats from its cache";
    server_testing::Get(balancer_ + "/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=40.4168,-3.7038");
    EXPECT_EQ(server_testing::Get(balancer_ + "/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=40.4168,-3.7038")
                  .Field("X-Cache-Status"),
              "HIT");
    EXPECT_EQ(server_testing::Get(balancer_ + "/nowhere").Field("X-Cache-Status"), "MISS");
    EXPECT_EQ(server_testing::Get(balancer_ + "/nowhere").Field("X-Cache-Status"), "MISS") << "errors are not kept";

    // One server stops while zones keep coming: every one arrives.
    std::atomic<int> asked{0}, arrived{0};
    std::thread client([&] {
        for (int i = 0; i < 12; ++i) {
            ZoneRecord zone;
            ++asked;
            if (ZoneAround(38.0 + i * 0.05, -2.0 - i * 0.05, zone)) ++arrived;
        }
    });
    while (asked < 4) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const pid_t stopped = static_cast<pid_t>(std::stol(pids_[0]));
    ASSERT_EQ(kill(stopped, SIGTERM), 0);
    client.join();
    EXPECT_EQ(arrived, 12);
    for (int i = 0; i < 100 && kill(stopped, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(kill(stopped, 0), 0) << "the stopped server is still running";
    for (int i = 0; i < 4; ++i) {
        ZoneRecord zone;
        EXPECT_TRUE(ZoneAround(39.0 + i * 0.05, -1.0, zone)) << "after the stop";
    }
}

}  // namespace
