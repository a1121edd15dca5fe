// Clients nobody here wrote read what the server draws: GDAL's WMS driver
// takes the XYZ tiles as any tile client would, and headless Chromium shows
// the operator's page, its map, its status and its search.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "server/server_support.h"
#include "support/map_geometry.h"
#include "support/test_support.h"

using namespace server_testing;
using namespace testing_support;

namespace {

// A binary PPM (P6) as RGB pixels.
struct Pixels {
    int width = 0, height = 0;
    std::vector<Rgb> rgb;
    Rgb At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

Pixels ReadPpm(const std::string& path) {
    Pixels p;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maximum = 0;
    if (!(in >> magic >> p.width >> p.height >> maximum) || magic != "P6" || maximum != 255) return Pixels();
    in.get();
    std::string bytes(static_cast<size_t>(p.width) * p.height * 3, '\0');
    if (!in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()))) return Pixels();
    for (size_t i = 0; i < bytes.size(); i += 3)
        p.rgb.push_back({static_cast<unsigned char>(bytes[i]), static_cast<unsigned char>(bytes[i + 1]),
                         static_cast<unsigned char>(bytes[i + 2])});
    return p;
}

class Clients : public ::testing::Test {
protected:
    void SetUp() override {
        maps_ = Env("PLIVORS_TEST_MAPS");
        if (maps_.empty()) GTEST_SKIP() << "no map server";
        dir_ = Env("PLIVORS_TEST_WORKDIR");
    }
    std::string maps_, dir_;
};

TEST_F(Clients, GdalReadsTheTilesAsTheZoneShowsTheRegion) {
    // The Strait of Gibraltar, 200 x 150 pixels of level 12 (5.3 km each).
    const double lat = 36.5, lon = -5.0, s = kLevels[11];
    const int w = 200, h = 150;
    const std::string description = JoinPath(dir_, "tiles.xml"), out = JoinPath(dir_, "tiles.ppm");
    WriteFile(description,
              "<GDAL_WMS><Service name=\"TMS\"><ServerUrl>" + maps_ +
                  "/tiles/${z}/${x}/${y}.png</ServerUrl></Service><DataWindow>"
                  "<UpperLeftX>-20037508.34</UpperLeftX><UpperLeftY>20037508.34</UpperLeftY>"
                  "<LowerRightX>20037508.34</LowerRightX><LowerRightY>-20037508.34</LowerRightY>"
                  "<TileLevel>19</TileLevel><TileCountX>1</TileCountX><TileCountY>1</TileCountY>"
                  "<YOrigin>top</YOrigin></DataWindow><Projection>EPSG:3857</Projection>"
                  "<BlockSizeX>256</BlockSizeX><BlockSizeY>256</BlockSizeY><BandsCount>3</BandsCount></GDAL_WMS>\n");
    const double cx = MercX(lon), cy = MercY(lat);
    char window[200];
    std::snprintf(window, sizeof window, "-outsize %d %d -projwin %.3f %.3f %.3f %.3f", w, h, cx - w * s / 2,
                  cy + h * s / 2, cx + w * s / 2, cy - h * s / 2);
    std::string output;
    ASSERT_EQ(RunCommand("gdal_translate -q -of PNM " + std::string(window) + " " + description + " " + out + " 2>&1",
                         output),
              0)
        << output;
    Pixels tiles = ReadPpm(out);
    ASSERT_EQ(tiles.width, w);
    ASSERT_EQ(tiles.height, h);
    EXPECT_NE(ReadFile(Env("PLIVORS_TEST_MAPS_LOG")).find("/tiles/5/"), std::string::npos)
        << "GDAL asked for the level nearest the window's scale";

    char zone[200];
    std::snprintf(zone, sizeof zone, "/plivors/client?cmd=map&img=1&width=%d&height=%d&scale=12&mocs=gdd&mo=%.6f,%.6f",
                  w, h, lat, lon);
    Picture own = Decode(Get(maps_ + zone).body);
    ASSERT_EQ(own.width, w);
    int land = 0, sea = 0, agree = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb mine = own.At(x, y), theirs = tiles.At(x, y);
            if (Near(mine, kLand)) ++land, agree += Near(theirs, kLand, 20) ? 1 : 0;
            else if (Near(mine, kSea)) ++sea, agree += Near(theirs, kSea, 20) ? 1 : 0;
        }
    ASSERT_GT(land, w * h / 5);
    ASSERT_GT(sea, w * h / 5);
    // The tiles are drawn at 4.9 km a pixel and resampled: coasts and
    // labels differ by a pixel or so, land and sea do not.
    EXPECT_GT(agree, (land + sea) * 85 / 100) << agree << " of " << land + sea;
}

// Headless Chromium on a page of the server; what it prints.
std::string Chromium(const std::string& dir, const std::string& what, const std::string& url) {
    std::string output;
    const std::string command = "chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars "
                                "--no-first-run --user-data-dir='" + JoinPath(dir, "chromium") +
                                "' --window-size=1000,700 --virtual-time-budget=10000 " + what + " '" + url +
                                "' 2>/dev/null";
    int status = RunCommand(command, output);
    EXPECT_EQ(status, 0) << command;
    return output;
}

class Browser : public Clients {
protected:
    void SetUp() override {
        Clients::SetUp();
        std::string ignored;
        if (!IsSkipped() && RunCommand("command -v chromium", ignored) != 0) GTEST_SKIP() << "no chromium";
    }
};

TEST_F(Browser, PageShowsTheMapAndFillsTheStatus) {
    const std::string shot = JoinPath(dir_, "page.png"), pixels = JoinPath(dir_, "page.ppm");
    std::remove(shot.c_str());
    Chromium(dir_, "--screenshot='" + shot + "'", maps_ + "/");
    std::string output;
    ASSERT_EQ(RunCommand("convert '" + shot + "' '" + pixels + "'", output), 0) << output;
    Pixels page = ReadPpm(pixels);
    ASSERT_EQ(page.width, 1000);
    // The map (left of the 300-pixel panel) over Iberia at level 5: land
    // and sea, and more than a few colours.
    int land = 0, sea = 0;
    std::set<int> colours;
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < 700; ++x) {
            const Rgb c = page.At(x, y);
            land += Near(c, kLand) ? 1 : 0;
            sea += Near(c, kSea) ? 1 : 0;
            colours.insert(c.r << 16 | c.g << 8 | c.b);
        }
    const int area = 700 * page.height;
    EXPECT_GT(land, area / 5);
    EXPECT_GT(sea, area / 10);
    EXPECT_GT(colours.size(), 20u);

    const std::string dom = Chromium(dir_, "--dump-dom", maps_ + "/");
    EXPECT_NE(dom.find("data-filled=\"yes\""), std::string::npos) << "the status panel did not fill";
    EXPECT_NE(dom.find("id=\"s-database\">none<"), std::string::npos);
    EXPECT_EQ(dom.find("id=\"s-places\"></td>"), std::string::npos);
}

TEST_F(Browser, SearchMovesTheMapToThePlace) {
    const std::string dom = Chromium(dir_, "--dump-dom", maps_ + "/#search=Madrid");
    const std::string key = "id=\"centre\" data-lat=\"";
    size_t at = dom.find(key);
    ASSERT_NE(at, std::string::npos) << dom.substr(0, 2000);
    double lat = std::atof(dom.c_str() + at + key.size());
    at = dom.find("data-lon=\"", at);
    ASSERT_NE(at, std::string::npos);
    double lon = std::atof(dom.c_str() + at + 10);
    EXPECT_NEAR(lat, 40.4165, 0.01);
    EXPECT_NEAR(lon, -3.7026, 0.01);
    EXPECT_NE(dom.find("Madrid (ES)"), std::string::npos);
    // and the browser drew it: tiles of level 10 around Madrid.
    EXPECT_NE(ReadFile(Env("PLIVORS_TEST_MAPS_LOG")).find("/tiles/10/501/"), std::string::npos);
}

// The operator's page in Chromium driven over its DevTools pipe
// (page-click.js): what it shows, as JSON, after an optional click at x, y.
std::string DrivenPage(const std::string& dir, const std::string& url, const std::string& click = "") {
    std::string output;
    const std::string command = "node '" + Env("PLIVORS_TEST_SOURCE") + "/tests/server/page-click.js' '" +
                                JoinPath(dir, "chromium-driven") + "' '" + url + "' " + click + " 2>&1";
    EXPECT_EQ(RunCommand(command, output), 0) << command << "\n" << output;
    return output;
}

// A string or number field of that JSON ("" when absent).
std::string Field(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const size_t at = json.find(key);
    if (at == std::string::npos) return "";
    return json.substr(at + key.size(), json.find('"', at + key.size()) - at - key.size());
}

TEST_F(Browser, AClickNamesThePlaceAndTheAddressHoldsTheView) {
    // The address opens the map there; the click asks for the place name as
    // the plug-in does and shows its letters (ñ, not an entity).
    std::string page = DrivenPage(dir_, maps_ + "/#map=12/40.41680/-3.70380", "300 300");
    EXPECT_EQ(Field(page, "hash"), "#map=12/40.41680/-3.70380") << page;
    EXPECT_EQ(Field(page, "zoom"), "12") << page;
    const std::string lat = Field(page, "lat"), lon = Field(page, "lon");
    EXPECT_NEAR(std::atof(lat.c_str()), 40.4168, 0.001) << page;
    const size_t clicked = page.find("\"clicked\":");
    ASSERT_NE(clicked, std::string::npos) << page;
    const std::string clickLat = Field(page.substr(clicked), "lat"), clickLon = Field(page.substr(clicked), "lon");
    EXPECT_NEAR(std::atof(clickLat.c_str()), 40.4168, 0.05) << page;
    EXPECT_NEAR(std::atof(clickLon.c_str()), -3.7038, 0.05) << page;
    // The phrase of the proximity page, its entity read: "... de X, España".
    std::string name = Field(page, "name");
    const std::string spain = ", Espa\xC3\xB1" "a";
    ASSERT_GT(name.size(), spain.size()) << page;
    EXPECT_EQ(name.substr(name.size() - spain.size()), spain) << page;
    name.replace(name.size() - 3, 2, "&ntilde;");
    const std::string answer = Get(maps_ + "/plivors/client?cmd=prox&mo=" + clickLat + "," + clickLon).body;
    EXPECT_NE(answer.find("&nbsp;" + name + "</small>"), std::string::npos) << answer;
    EXPECT_NE(Field(page, "attribution").find("\xC2\xA9 OpenStreetMap contributors"), std::string::npos) << page;
    EXPECT_EQ(Field(page, "streets"), "none imported") << page;

    // The address follows the view: a search moves the map, and the address with it.
    page = DrivenPage(dir_, maps_ + "/#search=Madrid");
    EXPECT_EQ(Field(page, "hash").compare(0, 15, "#map=10/40.4165"), 0) << page;
}

}  // namespace
