// Real maps end to end: the plug-in (both builds) against the map server
// rendering open data, and against a style of a GeoTIFF the test wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/delivered_zone.h"
#include "support/map_geometry.h"
#include "support/plugin_fixture.h"

using namespace testing_support;

namespace {

// Map 1001's south-west corner: raster pixels are Mercator metres from it.
const double kWest = MercX(-20.9912576), kSouth = MercY(26.9674359);

class RealMaps : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        if (Env(variable_).empty()) GTEST_SKIP() << "no " << variable_;
        SetEnv("PLIVORS_MAP_SERVER", Env(variable_));
        Open(raster_, 1001);
    }
    void TearDown() override {
        if (raster_.datos != nullptr) api->cierraRaster(&raster_);
        PluginTest::TearDown();
    }
    // The zone of halfWidth x halfHeight metres each side of lat/lon.
    void ZoneAround(double lat, double lon, int halfWidth, int halfHeight, Delivered& d) {
        ZoneAt(static_cast<int>(MercX(lon) - kWest), static_cast<int>(MercY(lat) - kSouth), halfWidth, halfHeight, d);
    }
    // The same around raster pixel x, y.
    void ZoneAt(int x, int y, int halfWidth, int halfHeight, Delivered& d) {
        const int x0 = x - halfWidth, x1 = x + halfWidth, y0 = y - halfHeight, y1 = y + halfHeight;
        RecordingCallback failure;
        int32_t w = 800, h = 600;
        ASSERT_EQ(Zone(raster_, x0, x1, y0, y1, w, h, d.zone, failure), 1) << (failure.texts.empty() ? "" : failure.texts[0]);
        d.Placed(kWest, kSouth, x0, x1, y0, y1, w, h);
        ASSERT_EQ(w, static_cast<int>(2 * halfWidth / d.s));
    }
    const char* variable_ = "PLIVORS_TEST_MAPS";
    TInfoRaster raster_{};
};

TEST_F(RealMaps, LandSeaAndMadridWhereTheCalibrationPutsThem) {
    Delivered madrid;
    ZoneAround(40.45, -3.65, 50000, 37000, madrid);
    EXPECT_GT(madrid.Share(kLand), 0.6);
    // GeoNames' Madrid: its dot's centre within a pixel of the prediction.
    const double col = madrid.Col(-3.70256), row = madrid.Row(40.4165);
    double sx = 0, sy = 0, n = 0;
    for (int y = static_cast<int>(row) - 6; y <= row + 6; ++y)
        for (int x = static_cast<int>(col) - 6; x <= col + 6; ++x)
            if (Near(madrid.At(x, y), kDot, 20)) sx += x + 0.5, sy += y + 0.5, n += 1;
    ASSERT_GT(n, 8) << "no city symbol near the predicted pixel";
    EXPECT_NEAR(sx / n, col, 1.0);
    EXPECT_NEAR(sy / n, row, 1.0);

    Delivered zaragoza, atlantic, strait;
    ZoneAround(41.50, -0.60, 1500, 1100, zaragoza);
    EXPECT_GT(zaragoza.Share(kLand), 0.6);
    ZoneAround(39.5, -10.5, 60000, 45000, atlantic);
    EXPECT_GT(atlantic.Share(kSea), 0.95);
    EXPECT_EQ(+atlantic.zone.record.bitsPorPixel, 1) << "open sea takes a two-colour table";
    ZoneAround(35.965, -5.55, 400, 300, strait);
    EXPECT_GT(strait.Share(kSea), 0.6);
}

TEST_F(RealMaps, NeighbouringZonesJoin) {
    // East Greenland's fjords, unlabelled: two zones side by side against the
    // zone that covers both (all three at one level, which their height sets).
    const int x = static_cast<int>(MercX(-21.71) - kWest), y = static_cast<int>(MercY(70.645) - kSouth);
    const int quarter = 1500, tall = 2300;
    Delivered left, right, both;
    ZoneAt(x - quarter, y, quarter, tall, left);
    ZoneAt(x + quarter, y, quarter, tall, right);
    ZoneAt(x, y, 2 * quarter, tall, both);
    ASSERT_EQ(left.s, both.s);
    ASSERT_GT(both.Share(kSea), 0.1);
    ASSERT_GT(both.Share(kLand), 0.1);
    // The coast's soft edge takes more than 16 of the level's colours: a
    // table of 256, the same colours in all three zones.
    EXPECT_EQ(+both.zone.record.bitsPorPixel, 8);
    int differing = 0, compared = 0;
    for (int row = 0; row < both.height; ++row)
        for (int col = 0; col < both.width; ++col) {
            const Delivered& part = col < both.width / 2 ? left : right;
            // The same Mercator x in the part's picture, pixel centre to pixel centre.
            const double mx = both.centreX + (col + 0.5 - both.width / 2.0) * both.s;
            const int pc = static_cast<int>(std::floor((mx - part.centreX) / part.s + part.width / 2.0));
            if (pc < 0 || pc >= part.width || row >= part.height) continue;
            ++compared;
            differing += Near(part.At(pc, row), both.At(col, row), 24) ? 0 : 1;
        }
    EXPECT_GT(compared, both.width * both.height * 9 / 10);
    EXPECT_LT(differing, compared / 25);
}

TEST_F(RealMaps, PlaceNamesArriveInLatin1) {
    char buffer[512];
    ASSERT_TRUE(api->getLocalizacion(0, -3.7038, 40.4168, 0, 0, buffer));
    EXPECT_STREQ(buffer, "Madrid, Espa\xF1" "a");
    ASSERT_TRUE(api->getLocalizacion(0, -6.2930, 36.5298, 0, 0, buffer));
    EXPECT_STREQ(buffer, "Cadiz, Espa\xF1" "a");
    ASSERT_TRUE(api->getLocalizacion(0, -5.5703, 42.6000, 0, 0, buffer));
    EXPECT_STREQ(buffer, "Le\xF3n, Espa\xF1" "a");
}

TEST_F(RealMaps, CachedAnswersArriveWholeAndChangedDescriptorsArrive) {
    // The server's answers now say how long a cache may keep them; the
    // platform's HTTP layer keeps its own cache. A zone asked twice is the
    // same whole picture, and a descriptor changed on the server reaches
    // the plug-in at once.
    Delivered first, again;
    ZoneAround(37.39, -5.99, 20000, 15000, first);
    ZoneAround(37.39, -5.99, 20000, 15000, again);
    EXPECT_EQ(again.zone.pixels, first.zone.pixels);
    EXPECT_EQ(again.zone.palette, first.zone.palette);

    const std::string log = Env("PLIVORS_TEST_MAPS_LOG");
    const std::string served = log.substr(0, log.rfind('/')) + "/downloads/cambia.plvr";
    const std::string folder = FreshDir("changed-descriptor");
    SetEnv("PLIVORS_DOWNLOAD_SERVER", Env("PLIVORS_TEST_MAPS"));
    for (const char* content : {"VERSION=1\nIDMAPA=1003\n", "VERSION=2\nIDMAPA=1003\n"}) {
        ASSERT_TRUE(WriteFile(HostPath(served), content));
        TProgreso progress{};
        TContextoDescarga context;
        std::memset(&context, 0, sizeof context);
        context.progreso = &progress;
        RecordingCallback success, failure;
        ASSERT_TRUE(api->downloadMap("cambia.plvr", 0, folder.c_str(), success.get(), failure.get(), &context))
            << (failure.texts.empty() ? "" : failure.texts[0]);
        LiberaTextoProgreso(progress);
        ASSERT_EQ(success.texts.size(), 1u);
        EXPECT_EQ(ReadFile(success.texts[0]), content);
    }
}

class RasterStyle : public RealMaps {
protected:
    void SetUp() override {
        variable_ = "PLIVORS_TEST_RASTER";
        RealMaps::SetUp();
    }
};

TEST_F(RasterStyle, AGeoTiffArrivesWhereItsCoordinatesSay) {
    // tests/e2e/raster-picture.sh: 128 x 128 pixels of 100 m from x -420000,
    // y 4940000; red, green / blue, yellow quarters split at x -413600, y 4933600.
    const double midX = -413600, midY = 4933600;
    Delivered d;
    ZoneAround(Lat(midY), Lon(midX), 10000, 7500, d);
    const double col = d.Col(Lon(midX)), row = d.Row(Lat(midY));
    const double quarter = 3200 / d.s;  // a quarter's centre from the middle, in pixels
    EXPECT_TRUE(Near(d.At(static_cast<int>(col - quarter), static_cast<int>(row - quarter)), {255, 0, 0}, 2));
    EXPECT_TRUE(Near(d.At(static_cast<int>(col + quarter), static_cast<int>(row - quarter)), {0, 255, 0}, 2));
    EXPECT_TRUE(Near(d.At(static_cast<int>(col - quarter), static_cast<int>(row + quarter)), {0, 0, 255}, 2));
    EXPECT_TRUE(Near(d.At(static_cast<int>(col + quarter), static_cast<int>(row + quarter)), {255, 255, 0}, 2));
    // The split lies within a pixel of the prediction: the whole pixels on
    // either side of it carry the two colours.
    const int y = static_cast<int>(row + quarter), x = static_cast<int>(col + quarter);
    EXPECT_TRUE(Near(d.At(static_cast<int>(col) - 1, y), {0, 0, 255}, 2));
    EXPECT_TRUE(Near(d.At(static_cast<int>(col) + 1, y), {255, 255, 0}, 2));
    EXPECT_TRUE(Near(d.At(x, static_cast<int>(row) - 1), {0, 255, 0}, 2));
    EXPECT_TRUE(Near(d.At(x, static_cast<int>(row) + 1), {255, 255, 0}, 2));
    // White beyond the picture's edge, 6400 m from the middle.
    EXPECT_TRUE(Near(d.At(static_cast<int>(col + 7000 / d.s), y), {255, 255, 255}, 2));
}

}  // namespace
