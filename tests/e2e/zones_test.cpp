// Zones end to end: the exports loaded by name, over real HTTP to the
// stand-in map server.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <cstring>
#include <string>

#include "net/internet_zeb.h"
#include "server/protocol/levels.h"
#include "support/plugin_fixture.h"

using namespace testing_support;

namespace {

const char kExample1[] = "/plivors/client?cmd=map&img=1&width=604&height=453&scale=1&mocs=gdd&mo=34.67427378,-3.02135866";
const char kExample2[] = "/plivors/client?cmd=map&img=1&width=377&height=377&scale=2&mocs=gdd&mo=36.62969136,-9.50222458";

class Zones : public PluginTest {};

TEST_F(Zones, WorkedExamplesSendTheExactRequest) {
    TInfoRaster r1001, r1000;
    Open(r1001, 1001);
    Open(r1000, 1000);
    RecordingCallback failure;
    ZoneRecord zone;
    int32_t w = 800, h = 600;
    ASSERT_EQ(Zone(r1001, 2000000, 2000800, 1000000, 1000600, w, h, zone, failure), 1) << failure.texts.size();
    EXPECT_EQ(w, 604);
    EXPECT_EQ(h, 453);
    EXPECT_EQ(+zone.record.ancho, 604);
    EXPECT_EQ(+zone.record.alto, 453);
    EXPECT_EQ(zone.prepareCalls, 1);
    w = h = 256;
    ASSERT_EQ(Zone(r1000, 1600000, 1601000, 1200000, 1201000, w, h, zone, failure), 1);
    EXPECT_EQ(w, 377);
    w = 640, h = 480;
    ASSERT_EQ(Zone(r1001, 0, 5074511, 0, 4543586, w, h, zone, failure), 1);
    EXPECT_EQ(w, 239);
    EXPECT_EQ(h, 214);
    std::vector<std::string> requests = NewRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], kExample1);
    EXPECT_EQ(requests[1], kExample2);
    EXPECT_EQ(requests[2], "/plivors/client?cmd=map&img=1&width=239&height=214&scale=13&mocs=gdd&mo=43.51829204,1.80129186");
    EXPECT_TRUE(failure.texts.empty());
    api->cierraRaster(&r1001);
    api->cierraRaster(&r1000);
}

// An independent computation of the request: level, image size and centre.
struct Expected {
    int level, width, height;
    double lat, lon;
};

Expected Compute(int id, int x0, int x1, int y0, int y1, int hostW, int hostH) {
    const double R = 6378137.0, pi = 3.141592653589793;
    const double corners[2][4] = {{27.5082486, 44.330421, -23.8797607, 6.2720658},
                                  {26.9674359, 56.5217513, -20.9912576, 24.5938529}};
    const double* c = corners[id - 1000];
    double westX = R * c[2] * pi / 180.0;
    double southY = R * std::log(std::tan(pi / 4 + c[0] * pi / 360.0));
    double ax = westX + x0, ay = southY + y0, bx = westX + x1, by = southY + y1;
    double cx = westX + static_cast<int>((static_cast<long long>(x0) + x1) / 2);
    double cy = southY + static_cast<int>((static_cast<long long>(y0) + y1) / 2);
    Expected e{1, std::min(hostW, 800), std::min(hostH, 600), 0, 0};
    for (int i = 0; i < 13; ++i) {
        double s = protocol::kMetresPerPixel[i];
        bool in = std::max(ax, bx) <= cx + 400 * s && std::min(ax, bx) >= cx - 400 * s &&
                  std::max(ay, by) <= cy + 300 * s && std::min(ay, by) >= cy - 300 * s;
        if (in) {
            e = {i + 1, static_cast<int>(std::fabs(bx - ax) / s), static_cast<int>(std::fabs(by - ay) / s), 0, 0};
            break;
        }
    }
    e.lon = cx / R * 180.0 / pi;
    e.lat = (2.0 * std::atan(std::exp(cy / R)) - pi / 2) * 180.0 / pi;
    return e;
}

TEST_F(Zones, RandomZonesMatchAnIndependentComputation) {
    TInfoRaster rasters[2];
    Open(rasters[0], 1000);
    Open(rasters[1], 1001);
    std::mt19937 random(20261208);
    RecordingCallback failure;
    for (int i = 0; i < 12; ++i) {
        int id = 1000 + static_cast<int>(random() % 2);
        int x0 = static_cast<int>(random() % 3000000), y0 = static_cast<int>(random() % 2000000);
        int span = 1 << (random() % 22);
        int x1 = x0 + static_cast<int>(random() % span) + 1, y1 = y0 + static_cast<int>(random() % span) + 1;
        if (random() % 2) std::swap(x0, x1);
        int hostW = 5 + static_cast<int>(random() % 1000), hostH = 5 + static_cast<int>(random() % 800);
        Expected e = Compute(id, x0, x1, y0, y1, hostW, hostH);
        ZoneRecord zone;
        int32_t w = hostW, h = hostH;
        ASSERT_EQ(Zone(rasters[id - 1000], x0, x1, y0, y1, w, h, zone, failure), 1);
        std::vector<std::string> requests = NewRequests();
        ASSERT_EQ(requests.size(), 1u);
        int width = -1, height = -1, level = -1;
        double lat = 0, lon = 0;
        ASSERT_EQ(std::sscanf(requests[0].c_str(),
                              "/plivors/client?cmd=map&img=1&width=%d&height=%d&scale=%d&mocs=gdd&mo=%lf,%lf", &width,
                              &height, &level, &lat, &lon),
                  5)
            << requests[0];
        SCOPED_TRACE(requests[0]);
        EXPECT_EQ(level, e.level);
        EXPECT_EQ(width, e.width);
        EXPECT_EQ(height, e.height);
        EXPECT_NEAR(lat, e.lat, 1.5e-8);
        EXPECT_NEAR(lon, e.lon, 1.5e-8);
        EXPECT_EQ(w, e.width);
        EXPECT_EQ(h, e.height);
        // Eight decimals exactly, in the request text.
        size_t comma = requests[0].rfind(',');
        EXPECT_EQ(requests[0].size() - requests[0].find('.', comma) - 1, 8u);
    }
    api->cierraRaster(&rasters[0]);
    api->cierraRaster(&rasters[1]);
}

// Palette index of column x in one stored row of a delivered image.
int IndexAt(const ZoneRecord& zone, int storedRow, int x) {
    int bits = zone.record.bitsPorPixel;
    const uint8_t* row = zone.pixels.data() + static_cast<size_t>(ZoneRecord::RowStride(zone.record.ancho, bits)) * storedRow;
    if (bits == 8) return row[x];
    if (bits == 4) return (row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
    return (row[x / 8] >> (7 - x % 8)) & 1;
}

TEST_F(Zones, EveryKindOfGifArrivesPixelExact) {
    TInfoRaster raster;
    Open(raster, 1001);
    struct Kind {
        const char* options;
        int bits, colours;
    } kinds[] = {{"colors=2", 1, 2},          {"colors=16", 4, 16},
                 {"colors=256", 8, 256},      {"colors=16;interlace", 4, 16},
                 {"colors=256;interlace", 8, 256}, {"colors=16;transparent=3", 4, 16},
                 {"colors=2;interlace;transparent=1", 1, 2}};
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.options);
        MapServerOptions(kind.options);
        RecordingCallback failure;
        ZoneRecord zone;
        // 201 by 151 metres at level 1: odd widths exercise the row padding.
        int32_t w = 800, h = 600;
        ASSERT_EQ(Zone(raster, 1924030, 1924296, 1806992, 1807192, w, h, zone, failure), 1);
        EXPECT_EQ(+zone.record.bitsPorPixel, kind.bits);
        EXPECT_EQ(+zone.record.numColores, kind.colours);
        EXPECT_EQ(zone.palette.size(), static_cast<size_t>(kind.colours));
        EXPECT_EQ(zone.pixels.back(), 0xA5) << "the copy ran past the image";
        std::vector<std::string> requests = NewRequests();
        ASSERT_EQ(requests.size(), 1u);
        // The same picture as raw indices, top row first, straight from the server.
        std::string path = requests[0].substr(requests[0].find("/plivors/"));
        std::string raw = "raw-" + std::to_string(&kind - kinds) + ".bin";
        DString local(raw.c_str()), error;
        TInternetZEB client("", "", nullptr);
        ASSERT_TRUE(client.DescargaFichero((server + "/_opt/" + kind.options + ";pixels" + path).c_str(), local, error,
                                           nullptr))
            << error.Texto();
        std::string expected = ReadFile(raw);
        ASSERT_EQ(expected.size(), static_cast<size_t>(w) * h);
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (IndexAt(zone, h - 1 - y, x) != static_cast<uint8_t>(expected[static_cast<size_t>(y) * w + x])) ++wrong;
        EXPECT_EQ(wrong, 0) << "of " << w * h << " pixels";
        RemoveFile(raw);
        NewRequests();
    }
    api->cierraRaster(&raster);
}

TEST_F(Zones, SmallHostSizeOneByOneZoneAndSwappedCorners) {
    TInfoRaster raster;
    Open(raster, 1001);
    RecordingCallback failure;
    ZoneRecord zone;
    int32_t w = 4, h = 256;
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure), 0);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(zone.prepareCalls, 0);
    EXPECT_TRUE(failure.texts.empty());
    EXPECT_TRUE(NewRequests().empty()) << "no request for a host size below 5";

    w = h = 256;
    Zone(raster, 700, 701, 900, 901, w, h, zone, failure);
    std::vector<std::string> requests = NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].find("/plivors/client?cmd=map&img=1&width=0&height=0&scale=1&"), 0u) << requests[0];

    w = h = 300;
    ASSERT_EQ(Zone(raster, 10000, 90000, 20000, 60000, w, h, zone, failure), 1);
    w = h = 300;
    ASSERT_EQ(Zone(raster, 90000, 10000, 60000, 20000, w, h, zone, failure), 1);
    requests = NewRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], requests[1]);
    api->cierraRaster(&raster);
}

TEST_F(Zones, TemporaryFilesAreNumberedPerRequestAndFailuresReachTheCallback) {
    TInfoRaster raster;
    Open(raster, 1001);
    ZoneRecord zone;
    RecordingCallback failure;
    int32_t w = 256, h = 256;
    // A body that is not a GIF names the temporary file in its message.
    MapServerOptions("notgif");
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure), 0);
    // No server listening: the download fails and still uses a number.
    SetEnv("PLIVORS_MAP_SERVER", "http://127.0.0.1:1");
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure), 0);
    MapServerOptions("notgif");
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure), 0);
    ASSERT_EQ(failure.texts.size(), 3u);
    EXPECT_EQ(failure.texts[0], "Error 2 opening plivor_temp1.gif");
    EXPECT_EQ(failure.texts[1], "Error opening URL 12029");
    EXPECT_EQ(failure.texts[2], "Error 2 opening plivor_temp3.gif");
    EXPECT_FALSE(FileExists("plivor_temp1.gif")) << "deleted after a failed decode";
    EXPECT_FALSE(FileExists("plivor_temp2.gif")) << "a failed download leaves nothing either";
    EXPECT_EQ(w, 256);
    EXPECT_EQ(zone.prepareCalls, 0);
    api->cierraRaster(&raster);
}

TEST_F(Zones, StampsOnlyForRecordsLargeEnough) {
    TInfoRaster raster;
    Open(raster, 1001);
    RecordingCallback failure;
    ZoneRecord big, small(kTamanoConSello - 4);
    int32_t w = 256, h = 256;
    ASSERT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, big, failure), 1);
    EXPECT_EQ(+big.record.sello, 0.01f);
    w = h = 256;
    ASSERT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, small, failure), 1);
    EXPECT_EQ(+small.record.sello, -1.0f) << "a small record's last four bytes stay untouched";
    w = h = 256;
    ASSERT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, big, failure), 1);
    EXPECT_EQ(+big.record.sello, 0.02f);
    api->cierraRaster(&raster);
}

TEST_F(Zones, CancelAndMissingBuffer) {
    TInfoRaster raster;
    Open(raster, 1001);
    RecordingCallback failure;
    ZoneRecord zone;
    TProgreso progress;
    progress = TProgreso{};
    progress.cancelar = 1;
    int32_t w = 256, h = 256;
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure, &progress), 0);
    ASSERT_EQ(failure.texts.size(), 1u);
    EXPECT_EQ(failure.texts[0], "Operation Canceled");
    EXPECT_EQ(zone.prepareCalls, 0);
    EXPECT_EQ(w, 256);
    LiberaTextoProgreso(progress);
    std::remove("plivor_temp1.gif");

    // A host that gives no pixel buffer gets a failure, not a crash.
    zone.giveBuffer = false;
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure), 0);
    EXPECT_EQ(failure.texts.size(), 2u);
    api->cierraRaster(&raster);
}

}  // namespace
