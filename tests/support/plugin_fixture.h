// A freshly loaded plug-in for one test, with the map and download servers
// pointed at the stand-in server, plus the host records the calls need.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tools/host/plugin_library.h"

namespace testing_support {

// The host's zone record with room for the host's own data behind it.
struct ZoneRecord {
    TBitmapZona record;
    int prepareCalls = 0;
    std::vector<uint32_t> palette;
    std::vector<uint8_t> pixels;
    bool giveBuffer = true;
    explicit ZoneRecord(int32_t size = static_cast<int32_t>(sizeof(TBitmapZona)));
    static int RowStride(int width, int bits) { return ((width * bits + 31) / 32) * 4; }
};

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a descriptor for map `id` into the working directory.
    std::string Descriptor(int id);
    // Opens a raster; asserts success.
    void Open(TInfoRaster& raster, int id);
    // Points the map server at the stand-in server, with per-request options.
    void MapServerOptions(const std::string& options);
    // One zone request; returns the export's result.
    int32_t Zone(TInfoRaster& raster, int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t& width,
                 int32_t& height, ZoneRecord& zone, RecordingCallback& failure, TProgreso* progress = nullptr);
    // Request targets logged by the server since the last call.
    std::vector<std::string> NewRequests();

    PluginLibrary plugin;
    const PluginExports* api = nullptr;
    std::string server;
    size_t logSeen = 0;
};

}  // namespace testing_support
