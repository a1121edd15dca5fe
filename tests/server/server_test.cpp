// The map server on its own: real geography where it belongs, exact pixel
// geometry, place phrases as the plug-in reads them, and clear failures.
#include <curl/curl.h>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "server/protocol/proximity_page.h"
#include "server/server_support.h"
#include "support/map_geometry.h"
#include "support/test_support.h"

using namespace testing_support;
using namespace server_testing;

namespace {

std::string MapUrl(const std::string& base, int w, int h, int level, double lat, double lon) {
    char url[256];
    std::snprintf(url, sizeof url, "/plivors/client?cmd=map&img=1&width=%d&height=%d&scale=%d&mocs=gdd&mo=%.8f,%.8f",
                  w, h, level, lat, lon);
    return base + url;
}

Picture Map(int w, int h, int level, double lat, double lon) {
    Answer a = Get(MapUrl(Env("PLIVORS_TEST_MAPS"), w, h, level, lat, lon));
    EXPECT_EQ(a.status, 200) << a.body.substr(0, 200);
    Picture p = Decode(a.body);
    EXPECT_EQ(p.width, std::max(w, 1));
    EXPECT_EQ(p.height, std::max(h, 1));
    return p;
}

// Share of a picture's pixels near a colour.
double Share(const Picture& p, Rgb colour) {
    size_t n = 0;
    for (const Rgb& c : p.pixels) n += Near(c, colour) ? 1 : 0;
    return p.pixels.empty() ? 0 : static_cast<double>(n) / p.pixels.size();
}

class MapServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env("PLIVORS_TEST_MAPS").empty()) GTEST_SKIP() << "no map server";
    }
};

TEST_F(MapServer, LandAndSeaWhereTheyBelongAtEveryScale) {
    struct Case {
        const char* where;
        double lat, lon;
        int level;
        Rgb expected;
    } cases[] = {
        {"south of Madrid", 40.30, -3.55, 6, kLand},       {"Zaragoza's plain", 41.50, -0.60, 4, kLand},
        {"Atlantic west of Portugal", 39.5, -10.5, 9, kSea}, {"the Strait of Gibraltar", 35.965, -5.55, 2, kSea},
        {"inland Iberia, whole", 40.0, -4.0, 11, kLand},
        // Countries' political areas take in the estuary: land-only data must not.
        {"the Rio de la Plata off Montevideo", -34.93, -56.5, 5, kSea},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        Picture p = Map(40, 30, c.level, c.lat, c.lon);
        EXPECT_GT(Share(p, c.expected), 0.6);  // labels and dots take the rest
    }
    // Dry land stays dry: no water anywhere across central Madrid (the lakes
    // data scatters three-cornered slivers over land).
    EXPECT_EQ(Share(Map(250, 250, 5, 40.4168, -3.7038), kSea), 0.0);
    // Colour tables fit the picture: open sea needs 2 entries, a labelled
    // coast the full 256.
    EXPECT_EQ(Map(64, 48, 5, 38.0, -14.0).colors, 2);
    EXPECT_EQ(Map(400, 300, 10, 40.0, -4.0).colors, 256);
    EXPECT_EQ(Map(0, 0, 1, 40.0, -4.0).colors, 2);
}

TEST_F(MapServer, TheFineDataAgreesWithNaturalEarthWhereTheLevelsMeet) {
    // Level 10 draws Natural Earth's land, level 9 the fine data, at exactly
    // half its pixel size: each pixel of one covers two by two of the other.
    // Away from coasts (a pixel whose eight neighbours share its colour),
    // water must not turn into land between the two, nor land into water.
    struct Case {
        const char* where;
        double lat, lon;
    } cases[] = {{"the Rio de la Plata", -34.95, -57.2}, {"Chesapeake Bay", 37.8, -76.2}, {"the Tagus estuary", 38.75, -9.1}};
    const int w = 400, h = 300;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        Picture coarse = Map(w, h, 10, c.lat, c.lon), fine = Map(2 * w, 2 * h, 9, c.lat, c.lon);
        ASSERT_EQ(fine.pixels.size(), 4u * coarse.pixels.size());
        int water = 0, waterAsLand = 0, land = 0, landAsWater = 0;
        for (int y = 1; y < h - 1; ++y)
            for (int x = 1; x < w - 1; ++x) {
                const Rgb here = coarse.At(x, y);
                const bool isSea = Near(here, kSea), isLand = Near(here, kLand);
                bool inner = isSea || isLand;
                for (int dy = -1; dy <= 1 && inner; ++dy)
                    for (int dx = -1; dx <= 1 && inner; ++dx) inner = Near(coarse.At(x + dx, y + dy), here);
                if (!inner) continue;
                int fineLand = 0, fineSea = 0;
                for (int k = 0; k < 4; ++k) {
                    const Rgb f = fine.At(2 * x + k % 2, 2 * y + k / 2);
                    fineLand += Near(f, kLand) ? 1 : 0;
                    fineSea += Near(f, kSea) ? 1 : 0;
                }
                if (isSea) water += 1, waterAsLand += fineLand >= 3 ? 1 : 0;
                if (isLand) land += 1, landAsWater += fineSea >= 3 ? 1 : 0;
            }
        ASSERT_GT(water, w * h / 10);
        ASSERT_GT(land, w * h / 10);
        EXPECT_LT(waterAsLand, water / 100) << "of " << water << " water pixels";
        EXPECT_LT(landAsWater, land / 100) << "of " << land << " land pixels";
    }
}

TEST_F(MapServer, MadridsSymbolLiesWhereMercatorPutsIt) {
    // GeoNames' Madrid, placed off the centre of a zone at level 8.
    const double lat = 40.4165, lon = -3.70256, s = kLevels[7];
    const double cx = MercX(lon) - 123.4 * s, cy = MercY(lat) + 56.7 * s;
    Picture p = Map(400, 300, 8, Lat(cy), Lon(cx));
    const double col = 200 + 123.4, row = 150 + 56.7;  // pixel centres at +0.5
    double sx = 0, sy = 0, n = 0;
    for (int y = static_cast<int>(row) - 6; y <= row + 6; ++y)
        for (int x = static_cast<int>(col) - 6; x <= col + 6; ++x)
            if (Near(p.At(x, y), kDot, 20)) sx += x + 0.5, sy += y + 0.5, n += 1;
    ASSERT_GT(n, 8) << "no city symbol near the predicted pixel";
    EXPECT_NEAR(sx / n, col, 1.0);
    EXPECT_NEAR(sy / n, row, 1.0);
}

TEST_F(MapServer, NeighbouringZonesJoinWithoutASeam) {
    // A fjord coast of East Greenland, with no places to label: two zones side
    // by side on the same pixel lattice equal the zone that covers both.
    const int level = 6, w = 120, h = 90;
    const double s = kLevels[level - 1], x = MercX(-22.0) + 40 * kLevels[8], y = MercY(70.5) + 60 * kLevels[8];
    Picture left = Map(w, h, level, Lat(y), Lon(x));
    Picture right = Map(w, h, level, Lat(y), Lon(x + w * s));
    Picture both = Map(2 * w, h, level, Lat(y), Lon(x + w * s / 2));
    ASSERT_GT(Share(both, kLand), 0.1);
    ASSERT_GT(Share(both, kSea), 0.1);
    EXPECT_EQ(both.colors, 16) << "land, water and their edges fit a 16-colour table";
    int differing = 0;
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < 2 * w; ++col) {
            Rgb part = col < w ? left.At(col, row) : right.At(col - w, row);
            differing += Near(part, both.At(col, row), 24) ? 0 : 1;
        }
    EXPECT_LT(differing, 2 * w * h / 200) << "pixels that differ from the joined zone";
}

std::string Phrase(double lat, double lon) {
    char url[160];
    std::snprintf(url, sizeof url, "/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=%.8f,%.8f", lat, lon);
    Answer a = Get(Env("PLIVORS_TEST_MAPS") + url);
    EXPECT_EQ(a.status, 200);
    const std::string marker = protocol::kPhraseStart;
    size_t at = a.body.find(marker);
    if (at == std::string::npos) return "(no marker) " + a.body;
    at += marker.size();
    return a.body.substr(at, a.body.find("</small>", at) - at);
}

TEST_F(MapServer, PlacePhrasesNameTheNearestPlaceInSpanish) {
    EXPECT_EQ(Phrase(40.4168, -3.7038), "Madrid, Espa&ntilde;a");
    EXPECT_EQ(Phrase(36.5298, -6.2930), "Cadiz, Espa&ntilde;a");  // GeoNames' own spelling
    EXPECT_EQ(Phrase(42.6000, -5.5703), "Le&oacute;n, Espa&ntilde;a");
    // 4 km due south of GeoNames' Getafe (40.30571, -3.73295).
    EXPECT_EQ(Phrase(40.30571 - 4000 / 111195.0, -3.73295), "a 4 km al sur de Getafe, Espa&ntilde;a");
    std::string sea = Phrase(38.7, -10.0);
    EXPECT_EQ(sea.rfind("en el mar, a ", 0), 0u) << sea;
    EXPECT_NE(sea.find(" km al oeste de "), std::string::npos) << sea;
    EXPECT_NE(sea.find(", Portugal"), std::string::npos) << sea;
    // The sea reaches into estuaries; a lake is water but not the sea.
    EXPECT_EQ(Phrase(-34.932, -56.170), "en el mar, a 4 km al sureste de Montevideo, Uruguay");
    EXPECT_EQ(Phrase(-34.9058, -56.1913), "Montevideo, Uruguay");
    EXPECT_EQ(Phrase(43.0, -87.5), "a 30 km al este de Cudahy, Estados Unidos");
}

TEST_F(MapServer, MalformedRequestsGetA400Page) {
    const std::string base = Env("PLIVORS_TEST_MAPS") + "/plivors/client?cmd=map&img=1";
    for (const char* tail : {"&width=10&height=10&scale=14&mocs=gdd&mo=40,-3", "&width=10&height=10&scale=3&mo=40",
                             "&width=5000&height=10&scale=3&mo=40,-3",
                             "&width=4294967297&height=10&scale=3&mo=40,-3"}) {  // not 1 after wrapping
        Answer a = Get(base + tail);
        EXPECT_EQ(a.status, 400) << tail;
        EXPECT_NE(a.body.find("<html>"), std::string::npos);
    }
}

TEST_F(MapServer, BadStylesAndUnservableRequestsFailClearly) {
    const std::string dir = Env("PLIVORS_TEST_WORKDIR");
    const std::string broken = JoinPath(dir, "broken.xml");
    WriteFile(broken, "<Map><Layer name=\"x\"><Datasource><Parameter name=\"type\">nothing</Parameter>");
    {
        OwnServer server({"--style", broken});
        EXPECT_EQ(server.exitStatus(), 1);
        EXPECT_NE(server.output().find("broken.xml"), std::string::npos) << server.output();
    }
    // A mosaic whose tile has gone: the style loads, but the renderer cannot
    // draw, and says so with a 500 page rather than a picture.
    const std::string picture = JoinPath(dir, "tile.pgm"), tile = JoinPath(dir, "tile.tif");
    WriteFile(picture, "P5\n2 2\n255\n" + std::string(4, '\x80'));
    std::string out;
    ASSERT_EQ(RunCommand("gdal_translate -q -of GTiff -a_srs EPSG:3857 -a_ullr 0 200 200 0 " + picture + " " + tile +
                             " && gdal_translate -q -of VRT " + tile + " " + JoinPath(dir, "mosaic.vrt"),
                         out),
              0);
    const std::string merc = "+proj=merc +a=6378137 +b=6378137 +units=m +nadgrids=@null +no_defs";
    const std::string style = JoinPath(dir, "mosaic.xml");
    WriteFile(style, "<Map srs=\"" + merc + "\"><Style name=\"r\"><Rule><RasterSymbolizer/></Rule></Style>"
                     "<Layer name=\"r\" srs=\"" + merc + "\"><StyleName>r</StyleName><Datasource>"
                     "<Parameter name=\"type\">gdal</Parameter><Parameter name=\"file\">mosaic.vrt</Parameter>"
                     "</Datasource></Layer></Map>");
    OwnServer server({"--style", style});
    ASSERT_FALSE(server.base().empty()) << server.output();
    std::remove(tile.c_str());
    Answer a = Get(MapUrl(server.base(), 20, 20, 1, 0.0009, 0.0009));
    EXPECT_EQ(a.status, 500);
    EXPECT_NE(a.body.find("cannot draw"), std::string::npos) << a.body;
    EXPECT_EQ(Get(MapUrl(server.base(), 20, 20, 1, 0.0009, 0.0009)).status, 500) << "a failure must not be cached";
}

}  // namespace
