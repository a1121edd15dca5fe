// Opening, closing and calibrating maps through the library's exports, loaded
// by name, and through the reference host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tools/host/plugin_library.h"

using namespace testing_support;

namespace {

const char kCacheSettings[] =
    "cache_it=1\r\ncache_dx=800\r\ncache_dy=600\r\ncache_quality=0.5\r\ncache_multithread=1\r\n";

struct SampleMap {
    const char* file;
    int32_t width, height;
};
const SampleMap kSamples[] = {
    {"norte-1000.plvr", 3356485, 2329603},
    {"europa-1001.plvr", 5074511, 4543586},
    {"canarias-1002.plvr", 1392322, 762070},
    {"mundo-1003.plvr", 39629738, 51638997},
};

std::string SamplePath(const char* file) { return JoinPath(JoinPath(EnvPath("PLIVORS_TEST_SOURCE"), "maps"), file); }

// Cache-settings callback that also notes what the raster record held when
// the text arrived.
struct CacheWatcher {
    TCallbackTexto record;
    const TInfoRaster* raster = nullptr;
    std::vector<std::string> texts;
    std::vector<int32_t> widthsSeen, heightsSeen;
    CacheWatcher();
};
int PLIVORS_CDECL Watch(TCallbackTexto* r, const char* text) {
    CacheWatcher* w = reinterpret_cast<CacheWatcher*>(r);
    w->texts.push_back(text ? text : "");
    w->widthsSeen.push_back(w->raster->ancho);
    w->heightsSeen.push_back(w->raster->alto);
    return 0;
}
CacheWatcher::CacheWatcher() { record.funcion = &Watch; }

// A raster record as a host might hand it over: unused fields full of noise.
TInfoRaster NoisyRecord() {
    TInfoRaster r;
    std::memset(&r, 0xA5, sizeof r);
    r.datos = nullptr;
    r.opcionesCache = nullptr;
    return r;
}

// The packed record's fields by value (gtest binds references, which a packed
// field cannot give).
struct Fields {
    bool open;
    int32_t ancho, alto, sinUso0, sinUso17, siempreOcho;
    int siempreCero;
};
Fields Read(const TInfoRaster& r) {
    return {r.datos != nullptr, r.ancho, r.alto, r.sinUso0, r.sinUso17, r.siempreOcho, r.siempreCero};
}

class MapExports : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(plugin.Load(EnvPath("PLIVORS_TEST_PLUGIN"), error)) << error;
        ASSERT_NE(plugin.exports().abreRaster, nullptr);
        ASSERT_NE(plugin.exports().cierraRaster, nullptr);
        ASSERT_NE(plugin.exports().leeCalibracion, nullptr);
    }
    PluginLibrary plugin;
};

TEST_F(MapExports, SampleMapsOpenCalibrateAndClose) {
    for (const SampleMap& s : kSamples) {
        const std::string path = SamplePath(s.file);
        TInfoRaster raster = NoisyRecord();
        CacheWatcher cache;
        cache.raster = &raster;
        raster.opcionesCache = &cache.record;
        RecordingCallback failure;
        ASSERT_TRUE(plugin.exports().abreRaster(path.c_str(), &raster, failure.get()))
            << s.file << ": " << (failure.texts.empty() ? "" : failure.texts[0]);
        EXPECT_TRUE(failure.texts.empty());
        Fields f = Read(raster);
        EXPECT_TRUE(f.open);
        EXPECT_EQ(f.ancho, s.width) << s.file;
        EXPECT_EQ(f.alto, s.height) << s.file;
        EXPECT_EQ(f.siempreCero, 0);
        EXPECT_EQ(f.siempreOcho, 8);
        EXPECT_EQ(f.sinUso0, static_cast<int32_t>(0xA5A5A5A5)) << "unused fields are not written";
        EXPECT_EQ(f.sinUso17, static_cast<int32_t>(0xA5A5A5A5));
        ASSERT_EQ(cache.texts.size(), 1u) << s.file;
        EXPECT_EQ(cache.texts[0], kCacheSettings);
        EXPECT_EQ(cache.widthsSeen[0], s.width) << "size written before the cache text";
        EXPECT_EQ(cache.heightsSeen[0], s.height);

        plugin.exports().cierraRaster(&raster);
        EXPECT_FALSE(Read(raster).open);
        plugin.exports().cierraRaster(&raster);
        EXPECT_FALSE(Read(raster).open) << "closing twice changes nothing";
        EXPECT_EQ(cache.texts.size(), 1u);

        RecordingCallback success, calFailure;
        ASSERT_TRUE(plugin.exports().leeCalibracion(path.c_str(), success.get(), calFailure.get()));
        EXPECT_TRUE(calFailure.texts.empty());
        ASSERT_EQ(success.texts.size(), 1u);
        const std::string w = std::to_string(s.width), h = std::to_string(s.height);
        const std::string& t = success.texts[0];
        EXPECT_NE(t.find("\r\nBitmap=" + path + "\r\nBitmapWidth=" + w + "\r\nBitmapHeight=" + h + "\r\n"),
                  std::string::npos)
            << t;
        EXPECT_NE(t.find("\r\nP1=" + w + ",0,30T,"), std::string::npos) << t;
        EXPECT_NE(t.find("\r\nP2=0," + h + ",30T,"), std::string::npos) << t;
    }
}

TEST_F(MapExports, OpensWithoutCacheCallbackAndSeveralRastersAtOnce) {
    TInfoRaster a = NoisyRecord(), b = NoisyRecord();
    RecordingCallback failure;
    ASSERT_TRUE(plugin.exports().abreRaster(SamplePath("norte-1000.plvr").c_str(), &a, failure.get()));
    ASSERT_TRUE(plugin.exports().abreRaster(SamplePath("mundo-1003.plvr").c_str(), &b, failure.get()));
    EXPECT_TRUE(failure.texts.empty());
    EXPECT_TRUE(a.datos != nullptr && b.datos != nullptr && a.datos != b.datos);
    EXPECT_EQ(Read(a).ancho, 3356485);
    EXPECT_EQ(Read(b).ancho, 39629738);
    plugin.exports().cierraRaster(&a);
    plugin.exports().cierraRaster(&b);
    EXPECT_TRUE(a.datos == nullptr && b.datos == nullptr);
}

// Every descriptor both opens and calibrates the same way: the same width, or
// the same single failure message.
TEST_F(MapExports, DescriptorCasesAgreeAcrossOpenAndCalibrate) {
    struct Case {
        const char* what;
        std::string content;
        int32_t width;
        const char* message;
    } cases[] = {
        {"line feeds", "VERSION=1\nIDMAPA=1001\n", 5074511, nullptr},
        {"carriage return and line feed", "VERSION=1\r\nIDMAPA=1001\r\n", 5074511, nullptr},
        {"lower-case key", "version=1\r\nidmapa=1001\r\n", 5074511, nullptr},
        {"digits then letters", "VERSION=1\nIDMAPA=1000xyz\n", 3356485, nullptr},
        {"bare carriage return line", "VERSION=1\r\n\r\nIDMAPA=1001\r\n", 0, "Error parseando respuesta plvr"},
        {"blank before equals", "VERSION=1\nIDMAPA =1001\n", 0, "Error en idmapa de plvr"},
        {"letters", "VERSION=1\nIDMAPA=abc\n", 0, "Error en idmapa de plvr"},
        {"leading empty line", "\nIDMAPA=1001\n", 0, "Error en idmapa de plvr"},
        {"unknown id 1004", "VERSION=1\nIDMAPA=1004\n", 0, "idmapa no correcto i=4"},
        {"unknown id 999", "VERSION=1\nIDMAPA=999\n", 0, "idmapa no correcto i=-1"},
        {"unreadable path", "", 0, "No se pudo leer el archivo"},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string path = JoinPath(EnvPath("PLIVORS_TEST_WORKDIR"), "case-" + std::to_string(n++) + ".plvr");
        if (c.content.empty()) {
            path = JoinPath(path, "missing.plvr");
        } else {
            ASSERT_TRUE(WriteFile(path, c.content));
        }
        TInfoRaster raster = NoisyRecord();
        raster.datos = reinterpret_cast<TDatosPlivors*>(&raster);  // a stale value the open must replace
        CacheWatcher cache;
        cache.raster = &raster;
        raster.opcionesCache = &cache.record;
        RecordingCallback failure, success, calFailure;
        bool opened = plugin.exports().abreRaster(path.c_str(), &raster, failure.get());
        bool calibrated = plugin.exports().leeCalibracion(path.c_str(), success.get(), calFailure.get());
        if (c.message == nullptr) {
            EXPECT_TRUE(opened && calibrated) << c.what;
            EXPECT_EQ(Read(raster).ancho, c.width) << c.what;
            EXPECT_EQ(cache.texts.size(), 1u) << c.what;
            EXPECT_TRUE(failure.texts.empty() && calFailure.texts.empty()) << c.what;
            ASSERT_EQ(success.texts.size(), 1u) << c.what;
            EXPECT_NE(success.texts[0].find("BitmapWidth=" + std::to_string(c.width) + "\r\n"), std::string::npos);
            plugin.exports().cierraRaster(&raster);
        } else {
            EXPECT_FALSE(opened || calibrated) << c.what;
            EXPECT_TRUE(raster.datos == nullptr) << c.what;
            EXPECT_TRUE(cache.texts.empty() && success.texts.empty()) << c.what;
            ASSERT_EQ(failure.texts.size(), 1u) << c.what;
            ASSERT_EQ(calFailure.texts.size(), 1u) << c.what;
            EXPECT_EQ(failure.texts[0], c.message) << c.what;
            EXPECT_EQ(calFailure.texts[0], c.message) << c.what;
        }
    }
}

TEST_F(MapExports, CalibrationWorkedExampleIsStable) {
    const std::string path = SamplePath("norte-1000.plvr");
    RecordingCallback first, second, failure;
    ASSERT_TRUE(plugin.exports().leeCalibracion(path.c_str(), first.get(), failure.get()));
    ASSERT_TRUE(plugin.exports().leeCalibracion(path.c_str(), second.get(), failure.get()));
    ASSERT_EQ(first.texts.size(), 1u);
    ASSERT_EQ(second.texts.size(), 1u);
    const std::string& t = first.texts[0];
    EXPECT_EQ(second.texts[0], t) << "two calls give the same text";
    EXPECT_EQ(t.rfind("HalvoGPS MAP File\r\n<Header>\r\nVersion=2\r\nProjection=2,Mercator,\r\n", 0), 0u) << t;
    const std::string tail =
        "<Calibration>\r\n"
        "P0=0,0,30T,-23.87976070,44.33042100\r\n"
        "P1=3356485,0,30T,6.27206580,44.33042100\r\n"
        "P2=0,2329603,30T,-23.87976070,27.50824860\r\n"
        "</Calibration>\r\n";
    ASSERT_GE(t.size(), tail.size());
    EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
}

// ---- through the reference host -------------------------------------------

std::string Host(const std::string& args) {
    return HostCommand() + " --plugin \"" + EnvPath("PLIVORS_TEST_PLUGIN") + "\" " + args;
}

TEST(ReferenceHostMaps, OpenPrintsSizeAndCacheSettings) {
    std::string out;
    int rc = RunCommand(Host("open \"" + SamplePath("europa-1001.plvr") + "\""), out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out, std::string("width: 5074511\nheight: 4543586\ncache settings:\n") + kCacheSettings);
}

TEST(ReferenceHostMaps, CalibrateWritesTheTextTheExportGives) {
    PluginLibrary plugin;
    std::string error;
    ASSERT_TRUE(plugin.Load(EnvPath("PLIVORS_TEST_PLUGIN"), error)) << error;
    const std::string path = SamplePath("canarias-1002.plvr");
    RecordingCallback success, failure;
    ASSERT_TRUE(plugin.exports().leeCalibracion(path.c_str(), success.get(), failure.get()));
    ASSERT_EQ(success.texts.size(), 1u);

    const std::string map = JoinPath(EnvPath("PLIVORS_TEST_WORKDIR"), "canarias.map");
    RemoveFile(map);
    std::string out;
    int rc = RunCommand(Host("calibrate \"" + path + "\" -o \"" + map + "\""), out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(ReadFile(map), success.texts[0]);
    rc = RunCommand(Host("calibrate \"" + path + "\""), out);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, success.texts[0]) << "printed byte for byte";
}

TEST(ReferenceHostMaps, FailuresExitNonZeroWithTheMessage) {
    const std::string missing = JoinPath(EnvPath("PLIVORS_TEST_WORKDIR"), "missing.plvr");
    std::string out;
    int rc = RunCommand(Host("open \"" + missing + "\" 2>&1"), out);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("No se pudo leer el archivo"), std::string::npos) << out;
    rc = RunCommand(Host("calibrate \"" + missing + "\" 2>&1"), out);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("No se pudo leer el archivo"), std::string::npos) << out;
    rc = RunCommand(Host("calibrate 2>&1"), out);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("usage"), std::string::npos) << out;
    rc = RunCommand(Host("calibrate \"" + SamplePath("norte-1000.plvr") + "\" -o 2>&1"), out);
    EXPECT_NE(rc, 0);
    rc = RunCommand(Host("calibrate \"" + SamplePath("norte-1000.plvr") + "\" -o \"" +
                         JoinPath(missing, "cannot.map") + "\" 2>&1"),
                    out);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
}

}  // namespace
