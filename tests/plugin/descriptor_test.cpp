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

TEST(DescriptorReader, LineEndsBlanksAndEmptyLines) {
    struct Case {
        const char* what;
        std::string content;
        int32_t id;  // 0: expect failure with message
        const char* message;
    } cases[] = {
        {"line feeds", "VERSION=1\nIDMAPA=1001\n", 1001, nullptr},
        {"no final line feed", "VERSION=1\nIDMAPA=1001", 1001, nullptr},
        {"carriage return and line feed", "VERSION=1\r\nIDMAPA=1001\r\n", 1001, nullptr},
        {"bare carriage return line", "VERSION=1\r\n\r\nIDMAPA=1001\r\n", 0, kParseError},
        {"empty lines are skipped", "IDMAPA=1002\n\n\nVERSION=1\n\n", 1002, nullptr},
        {"blanks around the line", "   IDMAPA=1001   \n", 1001, nullptr},
        {"a tab is not a blank", "\tIDMAPA=1001\n", 0, kIdError},
        {"blank before the equals sign", "VERSION=1\nIDMAPA =1001\n", 0, kIdError},
        {"leading empty line sticks to the key", "\nIDMAPA=1001\n", 0, kIdError},
        {"line of blanks only", "IDMAPA=1001\n   \n", 0, kParseError},
        {"line without an equals sign", "IDMAPA=1001\nVERSION\n", 0, kParseError},
        {"line starting with the equals sign", "=1001\nIDMAPA=1001\n", 0, kParseError},
        {"bad line stops the reading", "FOO\nIDMAPA=1001\n", 0, kParseError},
        {"empty file", "", 0, kIdError},
        {"only line feeds", "\n\n\n", 0, kParseError},
    };
    for (const Case& c : cases) {
        Outcome o = Read(c.content);
        if (c.id != 0) {
            EXPECT_TRUE(o.ok) << c.what << ": " << o.message;
            EXPECT_EQ(o.id, c.id) << c.what;
            EXPECT_EQ(o.message, "untouched") << c.what;
        } else {
            EXPECT_FALSE(o.ok) << c.what;
            EXPECT_EQ(o.message, c.message) << c.what;
        }
    }
}

TEST(DescriptorReader, KeysAndValues) {
    struct Case {
        const char* what;
        std::string content;
        bool ok;
        int32_t id;
    } cases[] = {
        {"lower-case key", "idmapa=1001\n", true, 1001},
        {"mixed-case key", "IdMapa=1002\n", true, 1002},
        {"unknown keys are ignored", "NOMBRE=Norte\nIDMAPA=1000\nX=\n", true, 1000},
        {"version value is not used", "VERSION=abc\nIDMAPA=1003\n", true, 1003},
        {"no map id", "VERSION=1\n", false, 0},
        {"letters read as 0", "IDMAPA=abc\n", false, 0},
        {"digits then letters", "IDMAPA=1000xyz\n", true, 1000},
        {"empty value", "IDMAPA=\n", false, 0},
        {"white space and sign", "IDMAPA= +1001\n", true, 1001},
        {"negative id is still an id", "IDMAPA=-5\n", true, -5},
        {"value keeps later equals signs", "IDMAPA=1002=7\n", true, 1002},
        {"the last map id wins", "IDMAPA=1001\nIDMAPA=1002\n", true, 1002},
        {"a last zero wins too", "IDMAPA=1001\nIDMAPA=0\n", false, 0},
        {"out of range saturates", "IDMAPA=99999999999\n", true, INT32_MAX},
    };
    for (const Case& c : cases) {
        Outcome o = Read(c.content);
        EXPECT_EQ(o.ok, c.ok) << c.what << ": " << o.message;
        EXPECT_EQ(o.id, c.id) << c.what;
        if (!c.ok) {
            EXPECT_EQ(o.message, kIdError) << c.what;
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

TEST(DescriptorReader, AZeroByteEndsTheText) {
    Outcome o = Read(std::string("IDMAPA=1001\n\0NOT A LINE\n", 25));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.id, 1001);
    o = Read(std::string("VERSION=1\n\0IDMAPA=1001\n", 23));
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.message, kIdError);
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

TEST(RasterState, StartsWithTheDefaultCorners) {
    TDatosPlivors d;
    EXPECT_EQ(d.idmapa, 0);
    EXPECT_TRUE(d.texto1.EsVacia());
    EXPECT_TRUE(d.texto2.EsVacia());
    EXPECT_EQ(d.lat0, 35.6566604);
    EXPECT_EQ(d.lon0, -12.4095978);
    EXPECT_EQ(d.lat1, 44.593674);
    EXPECT_EQ(d.lon1, 4.9270885);
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
    PixelAMercator(d, 0, 0, x, y);
    EXPECT_EQ(x, d.x0);
    EXPECT_EQ(y, d.y0);
    PixelAMercator(d, 800, 600, x, y);
    EXPECT_EQ(x, -2657501.5);
    EXPECT_EQ(y, 3190225.25);
    PixelAMercator(d, -10, -20, x, y);
    EXPECT_EQ(x, -2658311.5);
    EXPECT_EQ(y, 3189605.25);
}

TEST(RasterState, CompletedFromTheCatalogue) {
    struct Case {
        int32_t id;
        int32_t width, height;
    } cases[] = {
        {1000, 3356485, 2329603},
        {1001, 5074511, 4543586},
        {1002, 1392322, 762070},
        {1003, 39629738, 51638997},
    };
    for (const Case& c : cases) {
        TDatosPlivors d;
        d.idmapa = c.id;
        DString message("untouched");
        ASSERT_TRUE(CompletaDatos(d, message)) << c.id;
        EXPECT_EQ(d.ancho, c.width) << c.id;
        EXPECT_EQ(d.alto, c.height) << c.id;
        EXPECT_STREQ(message.Texto(), "untouched");
        // The edges are the projected corners, and the size spans them.
        double x, y;
        GeoAMercator(d.lat0, d.lon0, x, y);
        EXPECT_EQ(d.x0, x);
        EXPECT_EQ(d.y0, y);
        GeoAMercator(d.lat1, d.lon1, x, y);
        EXPECT_EQ(d.x1, x);
        EXPECT_EQ(d.y1, y);
        EXPECT_LE(d.ancho, d.x1 - d.x0);
        EXPECT_GT(d.ancho + 1, d.x1 - d.x0);
    }
    TDatosPlivors d;
    d.idmapa = 1004;
    DString message;
    EXPECT_FALSE(CompletaDatos(d, message));
    EXPECT_STREQ(message.Texto(), "idmapa no correcto i=4");
    EXPECT_EQ(d.lat0, 35.6566604) << "corners unchanged for an unknown id";
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
    RemoveFile("throwing.plvr");
}

}  // namespace
