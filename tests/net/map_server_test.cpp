// The stand-in server as the plug-in meets it: map pictures, proximity pages,
// downloads and the request log, fetched through the plug-in's own client.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "net/internet_zeb.h"
#include "server/protocol/proximity_page.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// The body of a GET (binary-safe: through a file), and its status.
std::string Get(const std::string& path, int* status = nullptr) {
    TInternetZEB client("", "", nullptr);
    DString local("net_server_answer.bin"), error;
    bool ok = client.DescargaFichero((Server() + path).c_str(), local, error, nullptr);
    EXPECT_TRUE(ok) << path << ": " << error.Texto();
    if (status) *status = client.UltimoEstado();
    return ReadFile("net_server_answer.bin");
}

std::string MapPath(int w, int h, int level, double lat, double lon) {
    char text[200];
    std::snprintf(text, sizeof text, "/plivors/client?cmd=map&img=1&width=%d&height=%d&scale=%d&mocs=gdd&mo=%.8f,%.8f",
                  w, h, level, lat, lon);
    return text;
}

struct GifFacts {
    int width = -1, height = -1, colors = 0;
    bool interlaced = false;
    int transparent = -1;
};

unsigned Byte(const std::string& s, size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; }

// Header, colour table size, transparency and interlacing of the first image.
GifFacts Inspect(const std::string& gif) {
    GifFacts f;
    if (gif.size() < 13 || gif.compare(0, 4, "GIF8") != 0) return f;
    f.width = Byte(gif, 6) | Byte(gif, 7) << 8;
    f.height = Byte(gif, 8) | Byte(gif, 9) << 8;
    unsigned packed = Byte(gif, 10);
    size_t at = 13;
    if (packed & 0x80) {
        f.colors = 1 << ((packed & 7) + 1);
        at += 3 * f.colors;
    }
    while (at < gif.size()) {
        unsigned kind = Byte(gif, at);
        if (kind == 0x21) {
            unsigned label = Byte(gif, at + 1);
            if (label == 0xF9 && (Byte(gif, at + 3) & 1)) f.transparent = Byte(gif, at + 6);
            at += 2;
            while (at < gif.size() && Byte(gif, at) != 0) at += Byte(gif, at) + 1;
            ++at;
        } else if (kind == 0x2C) {
            f.interlaced = (Byte(gif, at + 9) & 0x40) != 0;
            break;
        } else {
            break;
        }
    }
    return f;
}

const double kRadius = 6378137.0, kPi = 3.14159265358979323846;
double Lon(double x) { return x / kRadius * 180.0 / kPi; }
double Lat(double y) { return (2.0 * std::atan(std::exp(y / kRadius)) - kPi / 2) * 180.0 / kPi; }
double MercatorX(double lon) { return kRadius * lon * kPi / 180.0; }
double MercatorY(double lat) { return kRadius * std::log(std::tan(kPi / 4 + lat * kPi / 360.0)); }

}  // namespace

TEST(MapServer, PicturesHaveTheRequestedSizeAndKind) {
    NEED_SERVER();
    struct Case {
        const char* options;
        int w, h, colors, transparent;
        bool interlaced;
    } cases[] = {
        {"", 604, 453, 256, -1, false},
        {"/_opt/colors=16", 377, 377, 16, -1, false},
        {"/_opt/colors=2;interlace", 239, 214, 2, -1, true},
        {"/_opt/transparent=5", 800, 600, 256, 5, false},
        {"", 0, 0, 256, -1, false},  // drawn as one pixel
    };
    for (const Case& c : cases) {
        GifFacts f = Inspect(Get(std::string(c.options) + MapPath(c.w, c.h, 3, 34.67427378, -3.02135866)));
        EXPECT_EQ(c.w > 0 ? c.w : 1, f.width) << c.options << " " << c.w;
        EXPECT_EQ(c.h > 0 ? c.h : 1, f.height) << c.options << " " << c.h;
        EXPECT_EQ(c.colors, f.colors) << c.options;
        EXPECT_EQ(c.transparent, f.transparent) << c.options;
        EXPECT_EQ(c.interlaced, f.interlaced) << c.options;
    }
    int status = 0;
    std::string page = Get("/_opt/notgif" + MapPath(10, 10, 1, 40, -3), &status);
    EXPECT_EQ(200, status);
    EXPECT_NE("GIF8", page.substr(0, 4));
    Get(MapPath(10, 10, 14, 40, -3), &status);
    EXPECT_EQ(400, status);
    Get("/plivors/client?cmd=map&img=1&width=10&height=10&scale=3&mocs=gdd&mo=north", &status);
    EXPECT_EQ(400, status);
}

TEST(MapServer, NeighbouringZonesJoinWithoutASeam) {
    NEED_SERVER();
    const int level = 5;
    const double s = 39.68754000001354;
    // Centres on half pixels of the level's lattice, so that B's first column
    // is A's column 100 and C's first row is A's row 50.
    const double kx = std::floor(MercatorX(-3.7) / s) + 0.5, ky = std::floor(MercatorY(40.4) / s) + 0.5;
    auto pixels = [&](int w, int h, double cx, double cy) {
        return Get("/_opt/pixels" + MapPath(w, h, level, Lat(cy * s), Lon(cx * s)));
    };
    std::string a = pixels(200, 100, kx, ky);
    std::string b = pixels(100, 100, kx + 50, ky);
    std::string c = pixels(200, 100, kx, ky - 50);
    ASSERT_EQ(20000u, a.size());
    ASSERT_EQ(10000u, b.size());
    ASSERT_EQ(20000u, c.size());
    int differentAcross = 0, differentDown = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (a[y * 200 + 100 + x] != b[y * 100 + x]) ++differentAcross;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 200; ++x)
            if (a[(50 + y) * 200 + x] != c[y * 200 + x]) ++differentDown;
    EXPECT_EQ(0, differentAcross);
    EXPECT_EQ(0, differentDown);
    // And the picture is not uniform: it shows something of the place.
    int changes = 0;
    for (size_t i = 1; i < a.size(); ++i) changes += a[i] != a[i - 1];
    EXPECT_GT(changes, 20);
    EXPECT_NE(a, pixels(200, 100, kx + 5000, ky + 5000));
}

TEST(MapServer, ProximityPageNamesTheNearestPlaceBetweenTheMarkers) {
    NEED_SERVER();
    const std::string start = protocol::kPhraseStart;
    ASSERT_EQ(100u, start.size());
    struct Case {
        const char* mo;
        const char* phrase;
    } cases[] = {
        {"40.41680000,-3.70380000", "Calle Mayor&nbsp;12, Madrid"},
        {"42.60000000,-5.57000000", "Avenida de Ordo&ntilde;o II, Le&oacute;n"},
        {"43.36000000,-8.40000000", "R&uacute;a Real&nbsp;5, A Coru&ntilde;a"},
        {"41.65000000,-0.90000000", "Plaza del Pilar,\r\n\tZaragoza"},
    };
    for (const Case& c : cases) {
        TInternetZEB client("", "", nullptr);
        DString page, error;
        std::string url = Server() + "/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=" + c.mo;
        ASSERT_TRUE(client.DescargaTexto(url.c_str(), page, error, nullptr)) << error.Texto();
        std::string html = page.Texto();
        size_t at = html.find(start);
        ASSERT_NE(std::string::npos, at) << c.mo;
        size_t end = html.find("</small>", at);
        ASSERT_NE(std::string::npos, end);
        EXPECT_EQ(c.phrase, html.substr(at + start.size(), end - at - start.size())) << c.mo;
    }
}

TEST(MapServer, DownloadsServeTheFolderAndLogEveryTargetVerbatim) {
    NEED_SERVER();
    std::string folder = EnvPath("PLIVORS_TEST_DOWNLOADS");
    ASSERT_FALSE(folder.empty());
    std::string content("VERSION=1\r\nIDMAPA=1001\r\n\x01\x02", 26);
    ASSERT_TRUE(WriteFile(JoinPath(folder, "norte.plvr"), content));
    int status = 0;
    EXPECT_EQ(content, Get("/download/plugins/norte.plvr", &status));
    EXPECT_EQ(200, status);
    std::string missing = Get("/download/plugins/sur.plvr", &status);
    EXPECT_EQ(404, status);
    EXPECT_NE(std::string::npos, missing.find("<html>"));
    Get("/download/plugins/..%2Fport", &status);
    EXPECT_EQ(404, status);

    const std::string target = "/_opt/delay=1" + MapPath(5, 5, 1, -33.5, -70.25);
    Get(target);
    std::vector<std::string> log = ServerLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(target, log.back());
}

TEST(MapServer, DelayedRequestsAreAnsweredConcurrently) {
    NEED_SERVER();
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    std::vector<int> ok(8, 0);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([i, &ok] {
            TInternetZEB client("", "", nullptr);
            DString body, error;
            ok[i] = client.DescargaTexto((Server() + "/_opt/delay=600/_test/bytes/10").c_str(), body, error, nullptr);
        });
    }
    for (std::thread& t : threads) t.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(ok[i]) << i;
    EXPECT_LT(seconds, 2.4);  // one after another would take 4.8 s
}
