// Zones cut from blocks drawn once: zones that overlap agree pixel for
// pixel, whichever server of the pair drew them; servers share one block
// store; a damaged block file is drawn again; the store keeps to its size;
// a store that cannot be written leaves the server answering.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <chrono>
#include <vector>

#include "server/server_support.h"
#include "support/map_geometry.h"
#include "support/test_support.h"

using namespace testing_support;
using namespace server_testing;
namespace fs = std::filesystem;

namespace {

Picture Zone(const std::string& url) {
    Answer a = Get(url);
    EXPECT_EQ(a.status, 200) << url << "\n" << a.body.substr(0, 200);
    return Decode(a.body);
}

// A counter of /status.json's blocks.
long long BlockFigure(const std::string& base, const std::string& name) {
    const std::string json = Get(base + "/status.json").body;
    const size_t blocks = json.find("\"blocks\":");
    const size_t at = json.find("\"" + name + "\":", blocks);
    return blocks == std::string::npos || at == std::string::npos ? -1 : std::atoll(json.c_str() + at + name.size() + 3);
}

std::vector<fs::path> BlockFiles(const std::string& dir) {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().extension() == ".block") files.push_back(e.path());
    return files;
}

uint64_t StoredBytes(const std::string& dir) {
    uint64_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) n += e.file_size();
    return n;
}

TEST(Blocks, OverlappingZonesAgreePixelForPixel) {
    const std::string base = Env("PLIVORS_TEST_MAPS");
    if (base.empty()) GTEST_SKIP() << "no map server";
    // Around Madrid, from the finest level to a whole continent; the two
    // zones overlap across a corner of four blocks. Behind the balancer,
    // the two may well come from two servers that drew their own blocks.
    for (int level : {1, 5, 9, 12}) {
        SCOPED_TRACE("level " + std::to_string(level));
        long long x = 0, y = 0;
        BlockCorner(level, 40.4168, -3.7038, x, y);
        const int w = 500, h = 400, dx = 173, dy = 91;
        const Picture a = Zone(ZoneUrl(base, level, x - 300, y - 250, w, h));
        const Picture b = Zone(ZoneUrl(base, level, x - 300 + dx, y - 250 + dy, w, h));
        ASSERT_EQ(a.pixels.size(), size_t(w) * h);
        ASSERT_EQ(b.pixels.size(), size_t(w) * h);
        EXPECT_EQ(Differing(a, b, dx, dy), 0) << "of " << (w - dx) * (h - dy) << " overlapping pixels";
    }
}

TEST(Blocks, ANameIsNeverCutAtABlockEdge) {
    if (Env("PLIVORS_TEST_MAPS").empty()) GTEST_SKIP() << "no map server";
    // Two named streets on white at level 3, each 800 pixels long, its name
    // of about 200 pixels at its middle: the first's middle on the edge
    // between two blocks, the second's 300 pixels left of it, the name
    // wholly in the left block.
    const int level = 3;
    const double s = kLevels[level - 1];
    const long long edge = 1000LL * kBlock, across = 600LL * kBlock + 512, inside = across + 200;
    auto street = [&](long long middle, long long row) {
        const double x = -kWorld / 2 + middle * s, y = kWorld / 2 - row * s;
        char wkt[160];
        std::snprintf(wkt, sizeof wkt, "\"LINESTRING(%.3f %.3f,%.3f %.3f)\",Bulevar Jose Batlle y Ordonez\n",
                      x - 400 * s, y, x + 400 * s, y);
        return std::string(wkt);
    };
    const std::string merc = "+proj=merc +a=6378137 +b=6378137 +units=m +nadgrids=@null +no_defs";
    const std::string style = JoinPath(Env("PLIVORS_TEST_WORKDIR"), "one-street.xml");
    WriteFile(style, "<Map srs=\"" + merc + "\" background-color=\"white\"><Style name=\"n\"><Rule>"
                     "<TextSymbolizer face-name=\"DejaVu Sans Book\" size=\"14\" fill=\"black\" placement=\"line\">"
                     "[name]</TextSymbolizer></Rule></Style><Layer name=\"n\" srs=\"" + merc + "\"><StyleName>n</StyleName>"
                     "<Datasource><Parameter name=\"type\">csv</Parameter><Parameter name=\"inline\">wkt,name\n" +
                     street(edge, across) + street(edge - 300, inside) + "</Parameter></Datasource></Layer></Map>");
    OwnServer server({"--style", style});
    ASSERT_FALSE(server.base().empty()) << server.output();
    // Dark pixels of an 800 x 60 zone around the street: left and right of
    // the edge (its column 600), and within 10 pixels of it.
    struct Dark {
        int left = 0, right = 0, atEdge = 0;
    };
    auto dark = [&](long long row) {
        const Picture p = Zone(ZoneUrl(server.base(), level, edge - 600, row - 30, 800, 60));
        Dark d;
        EXPECT_EQ(p.width, 800);
        for (int r = 0; r < p.height; ++r)
            for (int c = 0; c < p.width; ++c)
                if (Near(p.At(c, r), {0, 0, 0}, 100)) {
                    (c < 600 ? d.left : d.right) += 1;
                    d.atEdge += std::abs(c - 600) < 10 ? 1 : 0;
                }
        return d;
    };
    const Dark whole = dark(inside);
    EXPECT_GT(whole.left, 200) << "the name inside one block is drawn";
    EXPECT_EQ(whole.right, 0);
    // Across the edge, no letter is drawn at the edge: each block draws the
    // name whole within itself (further along the street) or not at all.
    const Dark atEdge = dark(across);
    EXPECT_EQ(atEdge.atEdge, 0) << atEdge.left << " dark pixels left of the edge, " << atEdge.right << " right";
    EXPECT_TRUE(atEdge.left == 0 || std::abs(atEdge.left - whole.left) < whole.left / 10) << atEdge.left;
}

TEST(Blocks, ServersShareOneStoreAndDrawADamagedBlockAgain) {
    if (Env("PLIVORS_TEST_MAPS").empty()) GTEST_SKIP() << "no map server";
    const std::string dir = JoinPath(Env("PLIVORS_TEST_WORKDIR"), "shared-blocks");
    fs::remove_all(dir);
    long long x = 0, y = 0;
    BlockCorner(7, 48.8566, 2.3522, x, y);  // Paris
    const std::string zone = ZoneUrl("", 7, x - 400, y - 300, 800, 600);
    std::string first;
    {
        OwnServer one({"--block-store", dir});
        ASSERT_FALSE(one.base().empty()) << one.output();
        first = Get(one.base() + zone).body;
        ASSERT_EQ(Decode(first).width, 800);
        EXPECT_EQ(BlockFigure(one.base(), "drawn"), 4) << "four blocks under the zone";
        // A second server on the same folder, both running: nothing to draw.
        OwnServer two({"--block-store", dir});
        ASSERT_FALSE(two.base().empty()) << two.output();
        EXPECT_EQ(Get(two.base() + zone).body, first);
        EXPECT_EQ(BlockFigure(two.base(), "drawn"), 0);
        EXPECT_EQ(BlockFigure(two.base(), "from_disk"), 4);
        EXPECT_GT(BlockFigure(two.base(), "disk_bytes"), 0);
    }
    // One block file cut short, another with a byte changed: both are
    // noticed, drawn again, and the zone comes out as before.
    std::vector<fs::path> files = BlockFiles(dir);
    ASSERT_EQ(files.size(), 4u);
    const std::string whole = ReadFile(files[0].string());
    ASSERT_TRUE(WriteFile(files[0].string(), whole.substr(0, whole.size() / 2)));
    std::string changed = ReadFile(files[1].string());
    changed[changed.size() - 5] ^= 0x10;
    ASSERT_TRUE(WriteFile(files[1].string(), changed));
    OwnServer three({"--block-store", dir});
    ASSERT_FALSE(three.base().empty()) << three.output();
    EXPECT_EQ(Get(three.base() + zone).body, first);
    EXPECT_EQ(BlockFigure(three.base(), "drawn"), 2);
    EXPECT_EQ(BlockFigure(three.base(), "from_disk"), 2);
    // Stored after the answer went out: give the server a moment.
    for (int i = 0; i < 100 && ReadFile(files[0].string()) != whole; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ReadFile(files[0].string()), whole) << "written again whole";
}

TEST(Blocks, TheStoreKeepsToItsSizeAndAnUnwritableOneLeavesMemory) {
    if (Env("PLIVORS_TEST_MAPS").empty()) GTEST_SKIP() << "no map server";
    const std::string work = Env("PLIVORS_TEST_WORKDIR");
    const std::string dir = JoinPath(work, "small-blocks");
    fs::remove_all(dir);
    {
        OwnServer server({"--block-store", dir, "--block-store-mb", "1"});
        ASSERT_FALSE(server.base().empty()) << server.output();
        // Busy blocks of Europe's borders and towns, each drawn once.
        long long x = 0, y = 0;
        BlockCorner(9, 50.0, 8.0, x, y);
        for (int i = 0; i < 48; ++i) {
            const long long left = x + (i % 8 - 4) * kBlock + 100, top = y + (i / 8 - 3) * kBlock + 100;
            ASSERT_EQ(Get(server.base() + ZoneUrl("", 9, left, top, 16, 16)).status, 200);
        }
        EXPECT_EQ(BlockFigure(server.base(), "drawn"), 48);
        EXPECT_LE(StoredBytes(dir), 1u << 20);
        EXPECT_LE(BlockFigure(server.base(), "disk_bytes"), 1 << 20);
        EXPECT_LT(BlockFiles(dir).size(), 48u) << "the oldest blocks went";
    }
    // A folder that cannot be made (a file stands in its way): answers all
    // the same, from memory, with one warning.
    const std::string blocked = JoinPath(work, "not-a-folder");
    ASSERT_TRUE(WriteFile(blocked, "x"));
    OwnServer server({"--block-store", blocked + "/blocks"});
    ASSERT_FALSE(server.base().empty()) << server.output();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Get(server.base() + ZoneUrl("", 6, 100 + i, 5000, 50, 50)).status, 200);
    EXPECT_EQ(BlockFigure(server.base(), "from_memory"), 2);
    const std::string out = server.output();
    const size_t warning = out.find("cannot write the block store");
    EXPECT_NE(warning, std::string::npos) << out;
    EXPECT_EQ(out.find("cannot write the block store", warning + 1), std::string::npos) << out;
}

}  // namespace
