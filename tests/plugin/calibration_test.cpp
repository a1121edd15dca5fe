#include <gtest/gtest.h>

#include <string>

#include "base/dstring.h"
#include "plugin/calibracion.h"
#include "plugin/descriptor.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

std::string Calibrate(const std::string& path, bool& ok, std::string& message) {
    DString text, why("untouched");
    ok = LeeCalibracion(path.c_str(), text, why);
    message = why.Texto();
    return text.Texto();
}

TEST(CalibrationText, WorkedExampleByteForByte) {
    const std::string path = "C:\\Mapas de prueba\\norte 1000.plvr";
    TDatosPlivors d;
    d.idmapa = 1000;
    DString message;
    ASSERT_TRUE(CompletaDatos(d, message));
    DString text;
    ConstruyeCalibracion(path.c_str(), d, text);
    const std::string expected =
        "HalvoGPS MAP File\r\n"
        "<Header>\r\n"
        "Version=2\r\n"
        "Projection=2,Mercator,\r\n"
        "Coordinates=1\r\n"
        "Datum=WGS84\r\n"
        "Copyright=1\r\n"
        "</Header>\r\n"
        "<Map>\r\n"
        "Bitmap=C:\\Mapas de prueba\\norte 1000.plvr\r\n"
        "BitmapWidth=3356485\r\n"
        "BitmapHeight=2329603\r\n"
        "BitsPerPixel=0\r\n"
        "</Map>\r\n"
        "<Calibration>\r\n"
        "P0=0,0,30T,-23.87976070,44.33042100\r\n"
        "P1=3356485,0,30T,6.27206580,44.33042100\r\n"
        "P2=0,2329603,30T,-23.87976070,27.50824860\r\n"
        "</Calibration>\r\n";
    EXPECT_EQ(std::string(text.Texto()), expected);
}

TEST(CalibrationText, WholeDegreesNegativeValuesAndReusedText) {
    TDatosPlivors d;
    d.idmapa = 1003;
    DString message;
    ASSERT_TRUE(CompletaDatos(d, message));
    // A text that already holds something, with another decimals setting,
    // comes out the same as a fresh one.
    DString fresh, reused("old calibration text");
    reused.PonDecimales(2);
    ConstruyeCalibracion("mundo.plvr", d, fresh);
    ConstruyeCalibracion("mundo.plvr", d, reused);
    EXPECT_EQ(std::string(fresh.Texto()), std::string(reused.Texto()));
    std::string t = fresh.Texto();
    EXPECT_NE(t.find("\r\nBitmapWidth=39629738\r\nBitmapHeight=51638997\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("\r\nP0=0,0,30T,-178.00000000,88.00000000\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("\r\nP1=39629738,0,30T,178.00000000,88.00000000\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("\r\nP2=0,51638997,30T,-178.00000000,-88.00000000\r\n"), std::string::npos) << t;
    EXPECT_EQ(t.substr(t.size() - 16), "</Calibration>\r\n");
}

TEST(CalibrationText, FromDescriptorFilesAndTheirFailures) {
    ASSERT_TRUE(WriteFile("calibration-1002.plvr", "VERSION=1\r\nIDMAPA=1002\r\n"));
    ASSERT_TRUE(WriteFile("calibration-1004.plvr", "VERSION=1\r\nIDMAPA=1004\r\n"));
    ASSERT_TRUE(WriteFile("calibration-bad.plvr", "VERSION 1\r\nIDMAPA=1002\r\n"));
    bool ok;
    std::string message;
    std::string first = Calibrate("calibration-1002.plvr", ok, message);
    ASSERT_TRUE(ok) << message;
    EXPECT_EQ(message, "untouched");
    EXPECT_NE(first.find("\r\nBitmap=calibration-1002.plvr\r\nBitmapWidth=1392322\r\nBitmapHeight=762070\r\n"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("\r\nP1=1392322,0,30T,-8.48380800,32.89574620\r\n"), std::string::npos) << first;
    EXPECT_EQ(Calibrate("calibration-1002.plvr", ok, message), first) << "two calls give the same text";

    struct Case {
        const char* path;
        const char* message;
    } failures[] = {
        {"calibration-1004.plvr", "idmapa no correcto i=4"},
        {"calibration-bad.plvr", "Error parseando respuesta plvr"},
        {"calibration-missing.plvr", "No se pudo leer el archivo"},
    };
    for (const Case& c : failures) {
        EXPECT_EQ(Calibrate(c.path, ok, message), "") << c.path;
        EXPECT_FALSE(ok) << c.path;
        EXPECT_EQ(message, c.message) << c.path;
    }
    RemoveFile("calibration-1002.plvr");
    RemoveFile("calibration-1004.plvr");
    RemoveFile("calibration-bad.plvr");
}

}  // namespace
