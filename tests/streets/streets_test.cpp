// Street maps end to end: the plug-in against a map server drawing central
// Montevideo and Bangkok from a private PostGIS that the import command
// filled (tools/run-test.sh --streets). Positions come from the OpenStreetMap data
// itself, so that a fault in the import, the projection or the style shows
// up as a street where it does not belong.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "server/server_support.h"
#include "support/delivered_zone.h"
#include "support/map_geometry.h"
#include "support/plugin_fixture.h"

using namespace testing_support;

namespace {

// Map 1003's south-west corner: raster pixels are Mercator metres from it.
const double kWest = MercX(-178.0), kSouth = MercY(-88.0);
// The street style's secondary road fill and building fill.
const Rgb kSecondary{0xf7, 0xfa, 0xbf}, kBuilding{0xd9, 0xd0, 0xc9};

struct LonLat {
    double lon, lat;
};

class StreetMaps : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        if (Env("PLIVORS_TEST_STREETS").empty()) GTEST_SKIP() << "no street database (see tools/run-test.sh --streets)";
        SetEnv("PLIVORS_MAP_SERVER", Env("PLIVORS_TEST_STREETS"));
        Open(raster_, 1003);
    }
    void TearDown() override {
        if (raster_.datos != nullptr) api->cierraRaster(&raster_);
        PluginTest::TearDown();
    }
    // The zone of halfWidth x halfHeight metres each side of lat/lon, asked
    // for at 800 x 600; false when the plug-in failed to deliver it.
    bool ZoneAround(double lat, double lon, int halfWidth, int halfHeight, Delivered& d) {
        const int x = static_cast<int>(MercX(lon) - kWest), y = static_cast<int>(MercY(lat) - kSouth);
        const int x0 = x - halfWidth, x1 = x + halfWidth, y0 = y - halfHeight, y1 = y + halfHeight;
        RecordingCallback failure;
        int32_t w = 800, h = 600;
        if (Zone(raster_, x0, x1, y0, y1, w, h, d.zone, failure) != 1) return false;
        d.Placed(kWest, kSouth, x0, x1, y0, y1, w, h);
        return true;
    }
    // Share of the 5 x 5 pixels around lat/lon that have the colour.
    static double Around(const Delivered& d, LonLat p, Rgb colour) {
        const int col = static_cast<int>(d.Col(p.lon)), row = static_cast<int>(d.Row(p.lat));
        int n = 0;
        for (int y = row - 2; y <= row + 2; ++y)
            for (int x = col - 2; x <= col + 2; ++x) n += Near(d.At(x, y), colour, 16) ? 1 : 0;
        return n / 25.0;
    }
    std::string Place(LonLat p) {
        char buffer[512] = {};
        return api->getLocalizacion(0, p.lon, p.lat, 0, 0, buffer) ? std::string(buffer) : "(failed)";
    }
    std::string Import(const std::string& file, int& status) {
        std::string output;
        status = RunCommand("\"" + Env("PLIVORS_TEST_SERVER_BINARY") + "\" import \"" + file + "\" --database \"" +
                                Env("PLIVORS_TEST_DATABASE") + "\" 2>&1",
                            output);
        return output;
    }
    // How many requests for `part` the street server answered with `status`.
    static int Answered(int status, const std::string& part) {
        std::ifstream log(Env("PLIVORS_TEST_STREETS_LOG"));
        int n = 0;
        for (std::string line; std::getline(log, line);)
            n += line.compare(0, 4, std::to_string(status) + " ") == 0 && line.find(part) != std::string::npos ? 1 : 0;
        return n;
    }
    TInfoRaster raster_{};
};

// Two single-carriageway pieces of Avenida 18 de Julio (secondary), from
// vertex to vertex as the data has them.
const LonLat kAvenida[2][2] = {{{-56.17271, -34.9006378}, {-56.1709194, -34.8999692}},
                               {{-56.1851015, -34.9054406}, {-56.1833904, -34.9047738}}};

// Where the secondary fill crosses the line through p square to the street,
// in pixels from p (NaN when the street is not there at all).
double FillOffset(const Delivered& d, LonLat a, LonLat b, double t) {
    const double ax = d.Col(a.lon), ay = d.Row(a.lat), bx = d.Col(b.lon), by = d.Row(b.lat);
    const double px = ax + t * (bx - ax), py = ay + t * (by - ay);
    const double length = std::hypot(bx - ax, by - ay), nx = -(by - ay) / length, ny = (bx - ax) / length;
    double sum = 0;
    int n = 0;
    for (double k = -6; k <= 6; k += 0.5) {
        const int x = static_cast<int>(std::floor(px + k * nx)), y = static_cast<int>(std::floor(py + k * ny));
        if (Near(d.At(x, y), kSecondary, 20)) sum += k, ++n;
    }
    return n >= 2 ? sum / n : NAN;
}

TEST_F(StreetMaps, AMainStreetLiesWhereItsGeometryProjects) {
    // Level 4 (about 20 m a pixel): the fill is a few pixels wide and carries no name.
    Delivered d;
    ASSERT_TRUE(ZoneAround(-34.903, -56.179, 7000, 5000, d));
    ASSERT_NEAR(d.s, kLevels[3], 1e-9);
    for (const auto& piece : kAvenida)
        for (double t = 0.2; t <= 0.81; t += 0.15) {
            const double offset = FillOffset(d, piece[0], piece[1], t);
            ASSERT_FALSE(std::isnan(offset)) << "no street at " << piece[0].lon << "," << piece[0].lat << " t=" << t;
            EXPECT_LE(std::fabs(offset), 2.0) << "at " << piece[0].lon << "," << piece[0].lat << " t=" << t;
        }
    // The same street is not drawn where the data has none: 400 m off, the
    // line square to it crosses no secondary fill.
    const LonLat off[2] = {{kAvenida[0][0].lon, kAvenida[0][0].lat - 0.0036}, {kAvenida[0][1].lon, kAvenida[0][1].lat - 0.0036}};
    EXPECT_TRUE(std::isnan(FillOffset(d, off[0], off[1], 0.5)));
}

TEST_F(StreetMaps, BuildingsAtTheFinestLevel) {
    // Inside points of two large buildings of the data.
    const LonLat buildings[2] = {{-56.1938085, -34.8985381}, {-56.1786029, -34.9118586}};
    for (LonLat b : buildings) {
        Delivered d;
        ASSERT_TRUE(ZoneAround(b.lat, b.lon, 400, 300, d));
        ASSERT_NEAR(d.s, kLevels[0], 1e-9);
        EXPECT_GT(Around(d, b, kBuilding), 0.6) << b.lon << "," << b.lat;
    }
}

TEST_F(StreetMaps, TheRiverIsWaterOffTheCity) {
    // The Rio de la Plata south of the old town and of Palermo.
    Delivered d;
    ASSERT_TRUE(ZoneAround(-34.929, -56.1775, 1500, 1000, d));
    // (The extract holds no sea: the world map's land must leave the estuary out.)
    EXPECT_GT(Around(d, {-56.170, -34.932}, kSea), 0.9) << "land drawn over the river";
    EXPECT_GT(Around(d, {-56.185, -34.930}, kSea), 0.9) << "land drawn over the river";
}

TEST_F(StreetMaps, PlacesAreNamedByTheirStreet) {
    // Beside Yaguaron, 30 m from the address point of number 1367, in the
    // suburb of Centro.
    EXPECT_EQ(Place({-56.1880, -34.9055}), "Yaguar\xF3n 1367, Centro, Montevideo");
    // Out on the river, more than 100 m from any street: the town phrase.
    const std::string river = Place({-56.170, -34.945});
    EXPECT_NE(river.find(", Uruguay"), std::string::npos) << river;
}

TEST_F(StreetMaps, OverlappingStreetZonesAgreePixelForPixel) {
    // Level 2, names and all, across a corner of four blocks.
    namespace st = server_testing;
    const std::string base = Env("PLIVORS_TEST_STREETS");
    long long x = 0, y = 0;
    st::BlockCorner(2, -34.9045, -56.1830, x, y);
    const st::Picture a = st::Decode(st::Get(st::ZoneUrl(base, 2, x - 400, y - 300, 800, 600)).body);
    const st::Picture b = st::Decode(st::Get(st::ZoneUrl(base, 2, x - 227, y - 209, 800, 600)).body);
    ASSERT_EQ(a.width, 800);
    ASSERT_EQ(b.width, 800);
    EXPECT_EQ(a.colors, 256) << "streets, blocks and names";
    EXPECT_EQ(st::Differing(a, b, 173, 91), 0);
}

TEST_F(StreetMaps, CoarseLevelsLeaveOutMinorStreetsAndKeepMotorways) {
    // A third of the way along Doctor Alejandro Gallinal, a residential
    // street of Montevideo with no larger road within 300 m, and on a Bangkok
    // expressway, both clear of any name at these levels (blocks place
    // "Malvin Norte" over the street's middle at level 5).
    const LonLat residential{-56.1026455, -34.8809882}, motorway{100.6276681, 13.8247902};
    const Rgb kMinor{0xff, 0xff, 0xff}, kMinorCasing{0xbb, 0xbb, 0xbb};
    const Rgb kMotorway{0xe8, 0x92, 0xa2}, kMotorwayCasing{0xdc, 0x2a, 0x67};
    auto zone = [&](int level, LonLat p, Delivered& d) {
        const double s = kLevels[level - 1];
        return ZoneAround(p.lat, p.lon, static_cast<int>(400 * s), static_cast<int>(300 * s), d) &&
               std::fabs(d.s - s) < 1e-9;
    };
    Delivered street4, street5;
    ASSERT_TRUE(zone(4, residential, street4));
    EXPECT_GT(Around(street4, residential, kMinor), 0.1) << "the street at level 4";
    ASSERT_TRUE(zone(5, residential, street5));
    EXPECT_EQ(Around(street5, residential, kMinor) + Around(street5, residential, kMinorCasing), 0.0)
        << "a residential street at 40 m a pixel";
    for (int level = 5; level <= 7; ++level) {
        Delivered d;
        ASSERT_TRUE(zone(level, motorway, d)) << level;
        EXPECT_GT(Around(d, motorway, kMotorway) + Around(d, motorway, kMotorwayCasing), 0.1) << "level " << level;
    }
}

TEST_F(StreetMaps, ALostDatabaseAnswers503UntilItReturns) {
    const std::string tools = Env("PLIVORS_TEST_SOURCE") + "/tools/database.sh";
    const std::string dir = Env("PLIVORS_TEST_DATABASE_DIR");
    std::string output;
    ASSERT_EQ(RunCommand("\"" + tools + "\" stop \"" + dir + "\" 2>&1", output), 0) << output;
    // Ground never drawn cannot be drawn without its streets: 503, kept
    // nowhere. Blocks drawn before stay good: central Montevideo, drawn by
    // the tests above, is still served.
    Delivered lost;
    EXPECT_FALSE(ZoneAround(-34.8720, -56.1220, 1000, 700, lost)) << "a map without its streets";
    EXPECT_FALSE(ZoneAround(-34.8720, -56.1220, 1000, 700, lost));
    EXPECT_GE(Answered(503, "scale=2&mocs=gdd&mo=-34.87"), 2) << "503 both times: never kept";
    Delivered kept;
    EXPECT_TRUE(ZoneAround(-34.9045, -56.1830, 1000, 700, kept));
    EXPECT_GT(kept.Share(kSecondary), 0.01);
    // A server started while the database is down connects its style's
    // layers once it is back.
    namespace st = server_testing;
    st::OwnServer late({"--database", Env("PLIVORS_TEST_DATABASE")});
    ASSERT_FALSE(late.base().empty()) << late.output();
    const std::string url = st::MapUrl(late.base(), 800, 600, 2, -34.8720, -56.1220);
    EXPECT_EQ(st::Get(url).status, 503);
    ASSERT_EQ(RunCommand("\"" + tools + "\" start \"" + dir + "\" 2>&1", output), 0) << output;
    Delivered back;
    ASSERT_TRUE(ZoneAround(-34.8720, -56.1220, 1000, 700, back));
    EXPECT_GT(back.Share(kSecondary), 0.01) << "the streets again";
    const st::Answer drawn = st::Get(url);
    ASSERT_EQ(drawn.status, 200) << late.output();
    const st::Picture picture = st::Decode(drawn.body);
    const auto secondary = std::count_if(picture.pixels.begin(), picture.pixels.end(),
                                         [](Rgb p) { return Near(p, kSecondary, 16); });
    EXPECT_GT(secondary, 800 * 600 / 100) << "the streets, from a server that never saw the database at its start";
}

// Street updates, on the first street server and a second one sharing its
// block store (each with its own connection, the second as a role of its
// own): what an update touched is drawn and named anew on both, what it did
// not touch keeps its entity tag, and a server that could not reach the
// database during an update catches up once it can.
// The proximity page's text for a point, from one server.
std::string Named(const std::string& server, LonLat p) {
    char url[160];
    std::snprintf(url, sizeof url, "/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=%.6f,%.6f", p.lat, p.lon);
    return server_testing::Get(server + url).body;
}

// Waits (5 s at most) until every server names p with `name`; the seconds
// it took, or -1.
double NamedEverywhere(LonLat p, const std::string& name, const std::vector<std::string>& servers) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        bool all = true;
        for (const std::string& server : servers) all = all && Named(server, p).find(name) != std::string::npos;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (all) return seconds;
        if (seconds > 5) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Share of the 5 x 5 pixels at the middle of a zone centred on p with the colour.
double AtMiddle(const std::string& server, int level, LonLat p, Rgb colour) {
    namespace st = server_testing;
    const st::Picture z = st::Decode(st::Get(st::MapUrl(server, 800, 600, level, p.lat, p.lon)).body);
    if (z.width != 800) return -1;
    int n = 0;
    for (int y = 298; y <= 302; ++y)
        for (int x = 398; x <= 402; ++x) n += Near(z.At(x, y), colour, 16) ? 1 : 0;
    return n / 25.0;
}

std::string Sql(const std::string& sql) {
    std::string out;
    RunCommand("psql -qtA '" + Env("PLIVORS_TEST_DATABASE") + "' -c \"" + sql + "\" 2>&1", out);
    return out;
}

// The server's command (update, replication-init) on the street database.
std::string Command(const std::string& words, int& status) {
    std::string output;
    status = RunCommand("\"" + Env("PLIVORS_TEST_SERVER_BINARY") + "\" " + words + " --database \"" +
                            Env("PLIVORS_TEST_DATABASE") + "\" 2>&1",
                        output);
    return output;
}

// Both street servers, or none when the second is missing.
std::vector<std::string> UpdatedServers() {
    if (Env("PLIVORS_TEST_STREETS_SECOND").empty()) return {};
    return {Env("PLIVORS_TEST_STREETS"), Env("PLIVORS_TEST_STREETS_SECOND")};
}

// Version 2's changes, and a zone 2.5 km from all of them.
const LonLat kRenamed{-56.1462, -34.90325}, kDeletedBuilding{-56.14401, -34.90965};
const LonLat kNewRoad[2] = {{-56.1488, -34.9240}, {-56.1452, -34.9240}};
const LonLat kFar{-56.1938085, -34.8985381};

TEST_F(StreetMaps, UpdatesShowOnBothServersAndLeaveTheRestAsItWas) {
    const std::vector<std::string> servers_ = UpdatedServers();
    if (servers_.empty()) GTEST_SKIP() << "no second street server";
    const std::string versions = Env("PLIVORS_TEST_VERSIONS");
    std::vector<std::string> farTags;
    for (const std::string& server : servers_) {
        // Everything asked first, so that both servers hold it drawn and named.
        EXPECT_NE(Named(server, kRenamed).find("Pedro P de la Sierra"), std::string::npos) << Named(server, kRenamed);
        EXPECT_GT(AtMiddle(server, 1, kDeletedBuilding, kBuilding), 0.6) << server;
        for (LonLat p : kNewRoad) EXPECT_GT(AtMiddle(server, 2, p, kSea), 0.9) << server;
        const server_testing::Answer far = server_testing::Get(server_testing::MapUrl(server, 800, 600, 1, kFar.lat, kFar.lon));
        ASSERT_EQ(far.status, 200);
        farTags.push_back(far.Field("ETag"));
    }
    // A cut change file (the first update of the run): one message, a
    // failure, nothing recorded.
    const std::string changes = ReadFile(versions + "/2.osc.gz");
    ASSERT_TRUE(WriteFile("cut.osc.gz", changes.substr(0, changes.size() / 3)));
    int status = 0;
    std::string output = Command("update cut.osc.gz", status);
    EXPECT_NE(status, 0) << output;
    EXPECT_NE(output.find("plivors-server update: osm2pgsql could not apply cut.osc.gz"), std::string::npos) << output;
    EXPECT_EQ(Sql("SELECT count(*) FROM plivors_expiry"), "0\n");

    const auto start = std::chrono::steady_clock::now();
    output = Command("update '" + versions + "/1.osc.gz'", status);
    ASSERT_EQ(status, 0) << output;
    const auto applied = std::chrono::steady_clock::now();
    const double took = std::chrono::duration<double>(applied - start).count();
    const double named = NamedEverywhere(kRenamed, "Calle del Cambio", servers_);
    // The labels read the streets merged by name: merged again for the new one.
    EXPECT_EQ(Sql("SELECT count(*) FROM osm.named_streets WHERE name = 'Calle del Cambio'"), "1\n");
    EXPECT_GE(named, 0) << Named(servers_[0], kRenamed) << " / " << Named(servers_[1], kRenamed);
    for (size_t i = 0; i < servers_.size(); ++i) {
        EXPECT_LT(AtMiddle(servers_[i], 1, kDeletedBuilding, kBuilding), 0.1) << "the building still there";
        for (LonLat p : kNewRoad) EXPECT_GT(AtMiddle(servers_[i], 2, p, kSecondary), 0.2) << "no new road";
        const server_testing::Answer far = server_testing::Get(
            server_testing::MapUrl(servers_[i], 800, 600, 1, kFar.lat, kFar.lon), {"If-None-Match: " + farTags[i]});
        EXPECT_EQ(far.status, 304);
        // Kept, not cut again from blocks (which would give the same tag).
        const std::string target = server_testing::MapUrl("", 800, 600, 1, kFar.lat, kFar.lon);
        std::ifstream log(Env(i == 0 ? "PLIVORS_TEST_STREETS_LOG" : "PLIVORS_TEST_STREETS_SECOND_LOG"));
        std::string last;
        for (std::string line; std::getline(log, line);)
            if (line.find(target) != std::string::npos) last = line;
        EXPECT_NE(last.find("(cached)"), std::string::npos) << last;
    }
    const double drawn = std::chrono::duration<double>(std::chrono::steady_clock::now() - applied).count();
    // The first server's memory held blocks of both kinds: the update
    // dropped some and kept the others.
    const std::string json = server_testing::Get(servers_[0] + "/status.json").body;
    const std::string blocks = json.substr(std::min(json.find("\"blocks\""), json.size()));
    auto figure = [&](const std::string& name) {
        const size_t at = blocks.find("\"" + name + "\":");
        return at == std::string::npos ? -1 : std::atoll(blocks.c_str() + at + name.size() + 3);
    };
    EXPECT_GT(figure("expired"), 0) << blocks;
    EXPECT_GT(figure("kept"), 0) << blocks;
    std::printf("update of version 2: %.2f s; both servers named the street %.2f s after it and had drawn and "
                "sent the changed zones %.2f s after it; first server's %s", took, named, drawn, blocks.c_str());
}

TEST_F(StreetMaps, AServerCutOffDuringAnUpdateCatchesUpWhenBack) {
    const std::vector<std::string> servers_ = UpdatedServers();
    if (servers_.empty()) GTEST_SKIP() << "no second street server";
    // The second server names Lepanto (and keeps the name) before it loses
    // the database; the update comes from the replication source meanwhile.
    const LonLat lepanto{-56.15455, -34.90212};
    ASSERT_NE(Named(servers_[1], lepanto).find("Lepanto"), std::string::npos) << Named(servers_[1], lepanto);
    const std::string role = Env("PLIVORS_TEST_SECOND_ROLE");
    Sql("ALTER ROLE " + role + " NOLOGIN");
    Sql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = '" + role + "'");
    std::string output;
    const std::string header = "base.osm.pbf";
    ASSERT_EQ(RunCommand("osmium cat -O -o " + header + " '" + Env("PLIVORS_TEST_VERSIONS") + "/v2.osm.pbf'" +
                             " --output-header=osmosis_replication_base_url=" + Env("PLIVORS_TEST_REPLICATION") +
                             " --output-header=osmosis_replication_sequence_number=1 2>&1",
                         output),
              0)
        << output;
    int status = 0;
    output = Command("replication-init --osm-file " + header, status);
    ASSERT_EQ(status, 0) << output;
    output = Command("update", status);
    ASSERT_EQ(status, 0) << output;
    std::printf("%s", output.substr(std::min(output.rfind("Updated from"), output.size())).c_str());
    EXPECT_NE(output.find("Updated from the replication source"), std::string::npos) << output;
    EXPECT_GE(NamedEverywhere(lepanto, "Calle Lejana", {servers_[0]}), 0) << Named(servers_[0], lepanto);
    EXPECT_EQ(Named(servers_[1], lepanto).find("Calle Lejana"), std::string::npos) << "cut off, yet told";
    Sql("ALTER ROLE " + role + " LOGIN");
    // Back: it reconnects within a second or two and reads what it missed.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_GE(NamedEverywhere(lepanto, "Calle Lejana", {servers_[1]}), 0) << Named(servers_[1], lepanto);
    const std::string json = server_testing::Get(servers_[1] + "/status.json").body;
    std::printf("second server after catching up: %s\n", json.substr(std::min(json.find("\"blocks\""), json.size()),
                                                                     json.find("}", json.find("\"blocks\"")) -
                                                                         json.find("\"blocks\"") + 1).c_str());
}

TEST_F(StreetMaps, AnImportReplacesTheDataWholeOrNotAtAll) {
    // Half a file: osm2pgsql fails midway, the streets stay.
    const std::string extracts = Env("PLIVORS_TEST_EXTRACTS");
    const std::string content = ReadFile(extracts + "/montevideo.osm.pbf");
    ASSERT_GT(content.size(), 1000000u);
    ASSERT_TRUE(WriteFile("half.osm.pbf", content.substr(0, content.size() / 2)));
    int status = 0;
    std::string output = Import("half.osm.pbf", status);
    EXPECT_NE(status, 0) << output;
    EXPECT_NE(output.find("the data imported before is unchanged"), std::string::npos) << output;
    Delivered still;
    ASSERT_TRUE(ZoneAround(-34.9035, -56.1790, 1200, 900, still));
    EXPECT_GT(still.Share(kSecondary), 0.005);
    EXPECT_EQ(Place({-56.18801, -34.90551}), "Yaguar\xF3n 1367, Centro, Montevideo");

    // A whole file replaces Montevideo by Three Rivers, Michigan.
    output = Import(extracts + "/three-rivers.osm.pbf", status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("329 roads"), std::string::npos) << output;
    EXPECT_EQ(Place({-85.6221, 41.95270}).compare(0, 11, "12th Avenue"), 0) << Place({-85.6221, 41.95270});
    const std::string gone = Place({-56.18802, -34.90552});
    EXPECT_EQ(gone.find("Yaguar"), std::string::npos) << gone;
    // Without a restart, the zone asked before shows the new data (the
    // server looks for a new import every second): no street of Montevideo.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    Delivered after;
    ASSERT_TRUE(ZoneAround(-34.9035, -56.1790, 1200, 900, after));
    EXPECT_EQ(after.Share(kSecondary), 0.0);
}

// What a host shows: every character a printable one of Latin-1, and no
// question mark standing for a letter.
bool Legible(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == '?' || c == '&') return false;
    return !text.empty();
}

// Dark label pixels around a point of the picture: how many, and how many
// rows they span (two lines of text span about twice one).
struct Ink {
    int pixels = 0, rows = 0;
};
Ink InkAround(const Delivered& d, LonLat p) {
    const int col = static_cast<int>(d.Col(p.lon)), row = static_cast<int>(d.Row(p.lat));
    Ink ink;
    int top = row + 40, bottom = row - 40;
    for (int y = row - 40; y <= row + 40; ++y)
        for (int x = col - 150; x <= col + 150; ++x) {
            if (x < 0 || y < 0 || x >= d.width || y >= d.height) continue;
            const Rgb c = d.At(x, y);
            if (c.r > 0x48 || c.g > 0x48 || c.b > 0x48) continue;  // the labels' #222222
            ++ink.pixels;
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    ink.rows = bottom >= top ? bottom - top + 1 : 0;
    return ink;
}

TEST_F(StreetMaps, NamesInEveryScriptReadInLatinLetters) {
    // Our own extract: a street and its town in each script, imported as an
    // operator would (it replaces the data before).
    int status = 0;
    const std::string output = Import(Env("PLIVORS_TEST_SOURCE") + "/tests/streets/scripts.osm", status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("Latin names: 16 of 16"), std::string::npos) << output;
    struct Street {
        LonLat at;         // the street's middle
        const char* tail;  // the answer's end (all of it where the romanisation is a standard one)
    };
    // Each street's name clear of the edges of level 1's blocks, where a
    // name would be left out of both blocks.
    const Street streets[] = {
        {{37.6050, 55.7570}, "Tverskaya ulitsa, Tverskoy, Mosc\xFA"},  // Russian by BGN/PCGN; name:es
        {{23.7290, 37.9760}, "Od\xF3s Ermo\xFA, Ath\xEDna"},           // Greek by UNGEGN
        {{34.7740, 32.0800}, "Dizengoff Street, tl 'vyv-yfw"},          // Hebrew, with name:en
        {{31.2300, 30.0450}, ", El Cairo"},                             // Arabic
        {{116.3960, 39.9070}, ", Pek\xEDn"},                           // Chinese
        {{139.7640, 35.6720}, ", dong jing"},                          // Japanese, an empty name:es
        {{100.5300, 13.7280}, ", Bangkok"},                            // Thai
    };
    for (const Street& street : streets) {
        const std::string place = Place({street.at.lon, street.at.lat + 0.0002});
        const std::string tail = street.tail;
        EXPECT_TRUE(Legible(place)) << place;
        EXPECT_TRUE(place.size() > tail.size() || tail[0] != ',') << place;
        EXPECT_TRUE(place.size() >= tail.size() && place.compare(place.size() - tail.size(), tail.size(), tail) == 0)
            << place;

        // The label is drawn on the street and nowhere near it: the local
        // name in its own letters, and the Latin form beneath it.
        Delivered d;
        ASSERT_TRUE(ZoneAround(street.at.lat, street.at.lon, 400, 300, d));
        const Ink ink = InkAround(d, street.at);
        EXPECT_GT(ink.pixels, 15) << tail;
        EXPECT_GE(ink.rows, 15) << tail << ": one line where two were due";
        EXPECT_EQ(InkAround(d, {street.at.lon, street.at.lat - 0.0014}).pixels, 0) << tail;
    }
    // A name of 300 letters: cut to the 255 the plug-in holds, at a letter,
    // never inside one of the page's entities.
    const std::string longest = Place({23.7500, 37.9902});
    EXPECT_TRUE(Legible(longest)) << longest;
    EXPECT_EQ(longest.size(), 255u) << longest;
    EXPECT_EQ(longest.compare(0, 17, "Leof\xF3ros Vasil\xEDss"), 0) << longest;
    // Off the data, GeoNames' places go through the same chain: Зуунмод,
    // Mongolia, in Latin letters (it had no name at all before).
    const std::string geonames = Place({106.9530, 47.7070});
    EXPECT_EQ(geonames, "Dzuunmod, Mongolia");
}

TEST_F(StreetMaps, TheOperatorsPageNamesTheImportedData) {
    // (After the extract in seven scripts.) The status names the file with
    // a link to its extent; a click on a street shows its Latin name.
    std::string output;
    if (RunCommand("command -v chromium && command -v node", output) != 0) GTEST_SKIP() << "no chromium or node";
    const std::string command = "node '" + Env("PLIVORS_TEST_SOURCE") + "/tests/server/page-click.js' '" +
                                Env("PLIVORS_TEST_WORKDIR") + "/chromium' '" + Env("PLIVORS_TEST_STREETS") +
                                "/#map=17/55.75700/37.60500' 350 350 2>&1";
    ASSERT_EQ(RunCommand(command, output), 0) << output;
    EXPECT_NE(output.find("\"name\":\"Tverskaya ulitsa, Tverskoy, Mosc\xC3\xBA\""), std::string::npos) << output;
    EXPECT_NE(output.find("\"streets\":\"scripts.osm, imported 20"), std::string::npos) << output;
    EXPECT_NE(output.find("8 roads, 0 buildings, 8 places, 0 addresses; 23.727, 13.728, 139.767, 55.761"),
              std::string::npos) << output;
}

}  // namespace
