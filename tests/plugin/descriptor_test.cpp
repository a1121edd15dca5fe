#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>

#include "base/dstring.h"
#include "plugin/descriptor.h"
#include "plugin/protegido.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// Reads content as a descriptor file of its own.
struct Outcome {
    bool ok;
    int32_t id;
    std::string message;
};

Outcome Read(const std::string& content, const std::string& name = "descriptor-test.plvr") {
    EXPECT_TRUE(WriteFile(name, content));
    TDatosPlivors datos;
    DString message("untouched");
    bool ok = LeeDescriptor(name.c_str(), datos, message);
    RemoveFile(name);
    return {ok, datos.idmapa, message.Texto()};
}

const char kParseError[] = "Error parseando respuesta plvr";
const char kIdError[] = "Error en idmapa de plvr";

// The cases the end-to-end tests drive through the exports are not repeated.
TEST(DescriptorReader, LinesKeysAndValues) {
    struct Case {
        const char* what;
        std::string content;
        int32_t id;             // expected map id when message is null
        const char* message;
    } cases[] = {
        {"no final line feed", "VERSION=1\nIDMAPA=1001", 1001, nullptr},
        {"empty lines are skipped", "IDMAPA=1002\n\n\nVERSION=1\n\n", 1002, nullptr},
        {"blanks around the line", "   IDMAPA=1001   \n", 1001, nullptr},
        {"a tab is not a blank", "\tIDMAPA=1001\n", 0, kIdError},
        {"line of blanks only", "IDMAPA=1001\n   \n", 0, kParseError},
        {"line without an equals sign", "IDMAPA=1001\nVERSION\n", 0, kParseError},
        {"line starting with the equals sign", "=1001\nIDMAPA=1001\n", 0, kParseError},
        {"a bad line stops the reading", "FOO\nIDMAPA=1001\n", 0, kParseError},
        {"only line feeds", "\n\n\n", 0, kParseError},
        {"empty file", "", 0, kIdError},
        {"mixed-case key", "IdMapa=1002\n", 1002, nullptr},
        {"unknown keys are ignored", "NOMBRE=Norte\nIDMAPA=1000\nX=\n", 1000, nullptr},
        {"no map id", "VERSION=1\n", 0, kIdError},
        {"empty value", "IDMAPA=\n", 0, kIdError},
        {"white space and sign", "IDMAPA= +1001\n", 1001, nullptr},
        {"a negative id is still an id", "IDMAPA=-5\n", -5, nullptr},
        {"the value keeps later equals signs", "IDMAPA=1002=7\n", 1002, nullptr},
        {"the last map id wins", "IDMAPA=1001\nIDMAPA=1002\n", 1002, nullptr},
        {"a last zero wins too", "IDMAPA=1001\nIDMAPA=0\n", 0, kIdError},
        {"out of range saturates", "IDMAPA=99999999999\n", INT32_MAX, nullptr},
        {"a zero byte ends the text", std::string("IDMAPA=1001\n\0NOT A LINE\n", 25), 1001, nullptr},
        {"nothing after a zero byte", std::string("VERSION=1\n\0IDMAPA=1001\n", 23), 0, kIdError},
    };
    for (const Case& c : cases) {
        Outcome o = Read(c.content);
        if (c.message == nullptr) {
            EXPECT_TRUE(o.ok) << c.what << ": " << o.message;
            EXPECT_EQ(o.id, c.id) << c.what;
            EXPECT_EQ(o.message, "untouched") << c.what;
        } else {
            EXPECT_FALSE(o.ok) << c.what;
            EXPECT_EQ(o.message, c.message) << c.what;
        }
    }
}

TEST(DescriptorReader, LongFilesAreReadWholeAcrossPieces) {
    // The file is read in pieces of 1023 bytes: a line that straddles a piece
    // boundary, and lines far longer than a piece, must come out whole.
    for (int pad = 1010; pad <= 1030; ++pad) {
        std::string content = "VERSION=" + std::string(pad, 'v') + "\nIDMAPA=1002\n";
        Outcome o = Read(content);
        EXPECT_TRUE(o.ok) << pad;
        EXPECT_EQ(o.id, 1002) << pad;
    }
    std::string many;
    for (int i = 0; i < 3000; ++i) many += "CLAVE" + std::to_string(i) + "=" + std::string(i % 50, 'z') + "\r\n";
    Outcome o = Read(many + "IDMAPA=1003\r\n");
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.id, 1003);
    o = Read("IDMAPA=" + std::string(5000, '0') + "1001\n");
    EXPECT_EQ(o.id, 1001);
}

TEST(DescriptorReader, UnreadablePathsReplaceTheMessage) {
    FreshDir("descriptor-folder.plvr");
    const char* paths[] = {"no-such-descriptor.plvr", "no-such-folder/x.plvr", "descriptor-folder.plvr", "", nullptr};
    for (const char* path : paths) {
        TDatosPlivors datos;
        datos.idmapa = 77;
        DString message("previous");
        EXPECT_FALSE(LeeDescriptor(path, datos, message)) << (path ? path : "(null)");
        EXPECT_STREQ(message.Texto(), "No se pudo leer el archivo") << (path ? path : "(null)");
    }
}

TEST(Projection, ForwardKnownValuesAndFailure) {
    double x = 99, y = 99;
    ASSERT_TRUE(GeoAMercator(0, 0, x, y));
    EXPECT_EQ(x, 0.0);
    EXPECT_LT(std::fabs(y), 1e-6);

    // The square of spherical Mercator: 180 degrees east, and the latitude
    // whose northing equals that easting.
    ASSERT_TRUE(GeoAMercator(85.0511287798066, 180, x, y));
    EXPECT_NEAR(x, 20037508.342789244, 1e-6);
    EXPECT_NEAR(y, 20037508.342789244, 1e-3);
    ASSERT_TRUE(GeoAMercator(-45, -90, x, y));
    EXPECT_NEAR(x, -10018754.171394622, 1e-6);
    EXPECT_NEAR(y, -5621521.486192066, 1e-3);

    x = y = 99;
    EXPECT_FALSE(GeoAMercator(-90, 10, x, y));
    EXPECT_NEAR(x, 1113194.9079327357, 1e-6) << "x is written before the failure";
    EXPECT_EQ(y, 99);
    y = 99;
    EXPECT_FALSE(GeoAMercator(-120, 0, x, y));
    EXPECT_FALSE(GeoAMercator(std::nan(""), 0, x, y));
    EXPECT_EQ(y, 99);
}

TEST(Projection, InverseRoundTripsAndFailure) {
    const double points[][2] = {{0, 0}, {27.5082486, -23.8797607}, {56.5217513, 24.5938529}, {-88, -178},
                                {88, 178}, {-33.9, 151.2}};
    for (const auto& p : points) {
        double x, y, lon = 999, lat = 999;
        ASSERT_TRUE(GeoAMercator(p[0], p[1], x, y));
        ASSERT_TRUE(MercatorAGeo(x, y, lon, lat));
        EXPECT_NEAR(lat, p[0], 1e-9);
        EXPECT_NEAR(lon, p[1], 1e-9);
    }
    double lon = 999, lat = 999;
    EXPECT_FALSE(MercatorAGeo(kRadioTierra * 2, kRadioTierra * 1000.5, lon, lat));
    EXPECT_EQ(lat, 999) << "latitude left alone";
    EXPECT_DOUBLE_EQ(lon, 2.0) << "longitude holds radians";
    EXPECT_FALSE(MercatorAGeo(0, -kRadioTierra * 1001, lon, lat));
    EXPECT_TRUE(MercatorAGeo(0, kRadioTierra * 1000, lon, lat));
    EXPECT_NEAR(lat, 90.0, 1e-9);
}

TEST(Projection, PixelsCountFromTheSouthWestCorner) {
    TDatosPlivors d;
    d.x0 = -2658301.5;
    d.y0 = 3189625.25;
    double x, y;
    PixelAMercator(d, 800, -20, x, y);
    EXPECT_EQ(x, -2657501.5);
    EXPECT_EQ(y, 3189605.25);
}

TEST(RasterState, CompletedFromTheCatalogue) {
    TDatosPlivors d;
    d.idmapa = 1001;
    DString message("untouched");
    ASSERT_TRUE(CompletaDatos(d, message));
    EXPECT_EQ(d.lat0, 26.9674359) << "default corners replaced by the row";
    EXPECT_EQ(d.lon1, 24.5938529);
    double x, y;
    GeoAMercator(d.lat1, d.lon1, x, y);
    EXPECT_EQ(d.x1, x);
    EXPECT_EQ(d.y1, y);
    EXPECT_EQ(d.ancho, 5074511);
    EXPECT_EQ(d.alto, 4543586);
    EXPECT_STREQ(message.Texto(), "untouched");
    d.idmapa = 1004;
    d.lat0 = 1.5;
    EXPECT_FALSE(CompletaDatos(d, message));
    EXPECT_STREQ(message.Texto(), "idmapa no correcto i=4");
    EXPECT_EQ(d.lat0, 1.5);
}

// Host text callback that fails in the middle of an open, the way a module
// error would: the raster must come out closed, its state freed.
int PLIVORS_CDECL ThrowingCallback(TCallbackTexto*, const char*) { throw std::runtime_error("cache refused"); }

TEST(RasterHandle, AnErrorAfterTheStateExistsLeavesTheRasterClosed) {
    ASSERT_TRUE(WriteFile("throwing.plvr", "IDMAPA=1001\n"));
    TCallbackTexto throwing{&ThrowingCallback};
    RecordingCallback failure;
    TInfoRaster raster{};
    raster.opcionesCache = &throwing;
    bool ok = Protegido(false, failure.get(), [&] { return AbreRaster("throwing.plvr", &raster, failure.get()); });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(raster.datos == nullptr);
    ASSERT_EQ(failure.texts.size(), 1u);
    EXPECT_EQ(failure.texts[0], "Error interno: cache refused");
    CierraRaster(&raster);
    EXPECT_TRUE(raster.datos == nullptr);
    CierraRaster(nullptr);
    EXPECT_FALSE(AbreRaster("throwing.plvr", nullptr, failure.get()));
    RemoveFile("throwing.plvr");
}

}  // namespace
