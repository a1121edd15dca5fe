// The plug-in as real hosts and servers use it: several host processes in one
// folder, a folder that cannot be written, error answers, servers that never
// finish, and no temporary file left behind by any of it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/ficheros.h"
#include "support/plugin_fixture.h"

using namespace testing_support;

namespace {

typedef std::chrono::steady_clock Clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> TemporaryFiles(const std::string& dir) {
    std::vector<std::string> found;
    for (const std::string& n : ListDir(dir))
        if (n.compare(0, 11, "plivor_temp") == 0 || n.find(".part") != std::string::npos) found.push_back(n);
    return found;
}

class Field : public PluginTest {
protected:
    bool Locate(std::string& text) {
        char buffer[512];
        bool ok = api->getLocalizacion(0, -3.7038, 40.4168, 0, 0, buffer);
        text = buffer;
        return ok;
    }
    void TearDown() override {
        UnsetEnv("PLIVORS_REQUEST_TIMEOUT_MS");
        PluginTest::TearDown();
    }
};

TEST_F(Field, ErrorAnswersRefusalsAndCancelsFailAndLeaveNoFile) {
    TInfoRaster raster;
    Open(raster, 1001);
    RecordingCallback failure;
    ZoneRecord zone;
    // The server's error picture is not the map: nothing reaches the host's cache.
    for (int status : {500, 503}) {
        MapServerOptions("status=" + std::to_string(status));
        int32_t w = 256, h = 256;
        EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure), 0);
        EXPECT_EQ(w, 256);
    }
    EXPECT_EQ(zone.prepareCalls, 0);
    std::string text;
    MapServerOptions("status=404");
    EXPECT_FALSE(Locate(text)) << "an error page is no place, markers or not";
    EXPECT_EQ(text, "hola");

    SetEnv("PLIVORS_MAP_SERVER", "http://127.0.0.1:1");
    int32_t w = 256, h = 256;
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure), 0);
    EXPECT_FALSE(Locate(text));
    MapServerOptions("");
    TProgreso progress = TProgreso{};
    progress.cancelar = 1;
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure, &progress), 0);
    LiberaTextoProgreso(progress);

    ASSERT_EQ(failure.texts.size(), 4u);
    EXPECT_EQ(failure.texts[0], "Error HTTP 500");
    EXPECT_EQ(failure.texts[1], "Error HTTP 503");
    EXPECT_EQ(failure.texts[2], "Error opening URL 12029");
    EXPECT_EQ(failure.texts[3], "Operation Canceled");
    EXPECT_EQ(TemporaryFiles("."), std::vector<std::string>());
    api->cierraRaster(&raster);
}

TEST_F(Field, ZonesAndPlacesEndAtTheirDeadlineDownloadsDoNot) {
    TInfoRaster raster;
    Open(raster, 1001);
    SetEnv("PLIVORS_REQUEST_TIMEOUT_MS", "1500");
    RecordingCallback failure;
    ZoneRecord zone;
    // One byte every 200 ms never trips the stall limit.
    MapServerOptions("trickle=1;pause=200");
    int32_t w = 256, h = 256;
    Clock::time_point start = Clock::now();
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure), 0);
    EXPECT_LT(SecondsSince(start), 5.0);
    std::string text;
    start = Clock::now();
    EXPECT_FALSE(Locate(text));
    EXPECT_LT(SecondsSince(start), 5.0);
    // Headers that do not come at all.
    MapServerOptions("delay=6000");
    start = Clock::now();
    EXPECT_EQ(Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure), 0);
    EXPECT_LT(SecondsSince(start), 5.0);
    ASSERT_EQ(failure.texts.size(), 2u);
    EXPECT_EQ(failure.texts[0], "Error reading HTTP 12002");
    EXPECT_EQ(failure.texts[1], "Error opening URL 12002");

    // The host can cancel a download: it keeps going past that deadline.
    WriteFile(JoinPath(EnvPath("PLIVORS_TEST_DOWNLOADS"), "slow.plvr"), "VERSION=1\nIDMAPA=1000\n");
    SetEnv("PLIVORS_DOWNLOAD_SERVER", server + "/_opt/trickle=2;pause=200");
    std::string folder = FreshDir("deadline-downloads");
    RecordingCallback success, downloadFailure;
    TContextoDescarga context = {0, nullptr};
    EXPECT_TRUE(api->downloadMap("slow.plvr", 0, folder.c_str(), success.get(), downloadFailure.get(), &context))
        << (downloadFailure.texts.empty() ? "" : downloadFailure.texts[0]);
    EXPECT_EQ(ReadFile(JoinPath(folder, "slow.plvr")), "VERSION=1\nIDMAPA=1000\n");
    EXPECT_EQ(TemporaryFiles("."), std::vector<std::string>());
    api->cierraRaster(&raster);
}

TEST_F(Field, TwoHostProcessesInOneFolderEachGetTheirOwnPicture) {
    std::string folder = FreshDir("two-hosts");
    std::string home = CurrentDir();
    ASSERT_TRUE(ChangeDir(folder));
    Descriptor(1001);
    std::string host = HostCommand() + " --plugin \"" + EnvPath("PLIVORS_TEST_PLUGIN") + "\" zone map1001.plvr ";
    const std::string zones[2] = {"0 1000 0 1000 256 256", "2000000 2000800 1000000 1000600 800 600"};
    std::string out[2];
    // Each alone first: the pictures they must get.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(RunCommand(host + zones[i] + " -o alone" + std::to_string(i) + ".bmp", out[i]), 0) << out[i];
    // Then both at once, each start numbering its files from 1, with both
    // downloads in flight together.
    MapServerOptions("delay=2500");
    int rc[2] = {-1, -1};
    std::thread other([&] { rc[1] = RunCommand(host + zones[1] + " -o together1.bmp", out[1]); });
    rc[0] = RunCommand(host + zones[0] + " -o together0.bmp", out[0]);
    other.join();
    std::vector<std::string> left = TemporaryFiles(".");
    ChangeDir(home);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(rc[i], 0) << out[i];
        std::string alone = ReadFile(JoinPath(folder, "alone" + std::to_string(i) + ".bmp"));
        EXPECT_GT(alone.size(), 1000u);
        EXPECT_TRUE(alone == ReadFile(JoinPath(folder, "together" + std::to_string(i) + ".bmp")))
            << "host " << i << " was handed another picture";
    }
    EXPECT_EQ(left, std::vector<std::string>());
}

TEST_F(Field, AReadOnlyCurrentFolderUsesTheSystemTemporaryFolder) {
    std::string readOnly = EnvPath("PLIVORS_TEST_READONLY_DIR");
    if (readOnly.empty()) GTEST_SKIP() << "no read-only folder (mounting needs root)";
    TInfoRaster raster;
    Open(raster, 1001);
    std::string home = CurrentDir();
    ASSERT_TRUE(ChangeDir(readOnly));
    ASSERT_FALSE(WriteFile("probe", "x")) << "the folder is writable";
    RecordingCallback failure;
    ZoneRecord zone;
    int32_t w = 256, h = 256;
    int32_t result = Zone(raster, 0, 1000, 0, 1000, w, h, zone, failure);
    std::string text;
    bool located = Locate(text);
    ChangeDir(home);
    EXPECT_EQ(result, 1) << (failure.texts.empty() ? "" : failure.texts[0]);
    EXPECT_EQ(zone.prepareCalls, 1);
    EXPECT_TRUE(located);
    EXPECT_EQ(text, "Calle Mayor 12, Madrid");
    const std::string system = PlataformaCarpetaTemporal();
    EXPECT_FALSE(FileExists(system + "plivor_temp1.gif"));
    EXPECT_FALSE(FileExists(system + "plivor_temp1.zip"));
    api->cierraRaster(&raster);
}

}  // namespace
