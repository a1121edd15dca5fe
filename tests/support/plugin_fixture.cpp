#include "support/plugin_fixture.h"
#include <cstring>

namespace testing_support {

namespace {
void PLIVORS_CDECL Prepare(TBitmapZona* r) {
    ZoneRecord* z = reinterpret_cast<ZoneRecord*>(r);
    ++z->prepareCalls;
    z->palette.assign(r->colores, r->colores + (r->colores ? r->numColores : 0));
    int h = r->alto < 0 ? -r->alto : r->alto;
    // One guard byte past the image catches a copy longer than the image.
    z->pixels.assign(static_cast<size_t>(ZoneRecord::RowStride(r->ancho, r->bitsPorPixel)) * h + 1, 0xA5);
    r->pixeles = z->giveBuffer ? z->pixels.data() : nullptr;
}
}  // namespace

ZoneRecord::ZoneRecord(int32_t size) {
    std::memset(&record, 0, sizeof record);
    record.tamano = size;
    record.prepara = &Prepare;
    record.sello = -1.0f;
}

void PluginTest::SetUp() {
    std::string error;
    ASSERT_TRUE(plugin.Load(EnvPath("PLIVORS_TEST_PLUGIN"), error)) << error;
    api = &plugin.exports();
    server = Server();
    ASSERT_FALSE(server.empty()) << "tests need the stand-in server";
    SetEnv("PLIVORS_MAP_SERVER", server);
    SetEnv("PLIVORS_DOWNLOAD_SERVER", server);
    logSeen = ServerLog().size();
}

void PluginTest::TearDown() {
    UnsetEnv("PLIVORS_MAP_SERVER");
    UnsetEnv("PLIVORS_DOWNLOAD_SERVER");
    plugin.Unload();
}

std::string PluginTest::Descriptor(int id) {
    std::string path = "map" + std::to_string(id) + ".plvr";
    WriteFile(path, "VERSION=1\nIDMAPA=" + std::to_string(id) + "\n");
    return path;
}

void PluginTest::Open(TInfoRaster& raster, int id) {
    std::memset(&raster, 0, sizeof raster);
    RecordingCallback failure;
    ASSERT_TRUE(api->abreRaster(Descriptor(id).c_str(), &raster, failure.get()));
    ASSERT_NE(static_cast<void*>(raster.datos), nullptr);
}

void PluginTest::MapServerOptions(const std::string& options) {
    SetEnv("PLIVORS_MAP_SERVER", options.empty() ? server : server + "/_opt/" + options);
}

int32_t PluginTest::Zone(TInfoRaster& raster, int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t& width,
                         int32_t& height, ZoneRecord& zone, RecordingCallback& failure, TProgreso* progress) {
    TContextoDescarga context;
    std::memset(&context, 0, sizeof context);
    context.progreso = progress;
    return api->abreZona(&raster, x0, x1, y0, y1, &width, &height, &zone.record, failure.get(), &context);
}

std::vector<std::string> PluginTest::NewRequests() {
    std::vector<std::string> all = ServerLog();
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(logSeen, all.size())), all.end());
    logSeen = all.size();
    return fresh;
}

}  // namespace testing_support
