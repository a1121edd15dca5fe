#include <gtest/gtest.h>

#include <string>

#include "base/dstring.h"
#include "plugin/calibracion.h"
#include "plugin/descriptor.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

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

TEST(CalibrationText, FailuresLeaveTheTextAlone) {
    ASSERT_TRUE(WriteFile("calibration-1004.plvr", "VERSION=1\r\nIDMAPA=1004\r\n"));
    DString text("untouched"), message;
    EXPECT_FALSE(LeeCalibracion("calibration-1004.plvr", text, message));
    EXPECT_STREQ(message.Texto(), "idmapa no correcto i=4");
    EXPECT_FALSE(LeeCalibracion("calibration-missing.plvr", text, message));
    EXPECT_STREQ(message.Texto(), "No se pudo leer el archivo");
    EXPECT_STREQ(text.Texto(), "untouched");
    RemoveFile("calibration-1004.plvr");
}

}  // namespace
