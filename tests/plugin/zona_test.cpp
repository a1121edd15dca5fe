#include <gtest/gtest.h>

#include <string>

#include "plugin/descriptor.h"
#include "plugin/zona.h"

namespace {

// The state of an open raster of map `id`.
struct Map : TDatosPlivors {
    explicit Map(int id) {
        idmapa = id;
        DString message;
        EXPECT_TRUE(CompletaDatos(*this, message)) << message.Texto();
    }
};

std::string Url(const TPeticionZona& p) {
    DString url;
    ComponeUrlZona("", p, url);
    return url.Texto();
}

TEST(ZoneRequest, WorkedExamples) {
    TPeticionZona p;
    ASSERT_TRUE(CalculaPeticionZona(Map(1001), 2000000, 2000800, 1000000, 1000600, 800, 600, p));
    EXPECT_EQ(Url(p), "/plivors/client?cmd=map&img=1&width=604&height=453&scale=1&mocs=gdd&mo=34.67427378,-3.02135866");

    ASSERT_TRUE(CalculaPeticionZona(Map(1000), 1600000, 1601000, 1200000, 1201000, 256, 256, p));
    EXPECT_EQ(Url(p), "/plivors/client?cmd=map&img=1&width=377&height=377&scale=2&mocs=gdd&mo=36.62969136,-9.50222458");

    ASSERT_TRUE(CalculaPeticionZona(Map(1001), 0, 5074511, 0, 4543586, 640, 480, p));
    EXPECT_EQ(p.nivel, 13);
    EXPECT_EQ(p.ancho, 239);
    EXPECT_EQ(p.alto, 214);
    EXPECT_NE(Url(p).find("&mo=43.51829204,1.80129186"), std::string::npos) << Url(p);
}

TEST(ZoneRequest, ZonesNoLevelHoldsFallBackToLevelOneAtTheHostSize) {
    Map world(1003);
    TPeticionZona p;
    ASSERT_TRUE(CalculaPeticionZona(world, 0, world.ancho, 0, world.alto, 1024, 768, p));
    EXPECT_EQ(p.nivel, 1);
    EXPECT_EQ(p.ancho, 800);
    EXPECT_EQ(p.alto, 600);
    EXPECT_NEAR(p.latitud, 0.0, 0.01);
    EXPECT_NEAR(p.longitud, 0.0, 0.01);
    ASSERT_TRUE(CalculaPeticionZona(world, 0, world.ancho, 0, world.alto, 300, 200, p));
    EXPECT_EQ(p.ancho, 300);
    EXPECT_EQ(p.alto, 200);
}

TEST(ZoneRequest, TinySwappedAndRejectedZones) {
    Map d(1001);
    TPeticionZona p;
    ASSERT_TRUE(CalculaPeticionZona(d, 500, 501, 700, 701, 256, 256, p));
    EXPECT_EQ(p.nivel, 1);
    EXPECT_EQ(p.ancho, 0);
    EXPECT_EQ(p.alto, 0);

    TPeticionZona a, b;
    ASSERT_TRUE(CalculaPeticionZona(d, 1000, 90000, 2000, 50000, 256, 256, a));
    ASSERT_TRUE(CalculaPeticionZona(d, 90000, 1000, 50000, 2000, 256, 256, b));
    EXPECT_EQ(Url(a), Url(b));

    EXPECT_FALSE(CalculaPeticionZona(d, 0, 100, 0, 100, 4, 256, p));
    EXPECT_FALSE(CalculaPeticionZona(d, 0, 100, 0, 100, 256, 4, p));
    EXPECT_TRUE(CalculaPeticionZona(d, 0, 100, 0, 100, 5, 5, p));
}

TEST(ZoneRequest, ExtremeCornersDoNotOverflow) {
    Map d(1001);
    TPeticionZona p;
    ASSERT_TRUE(CalculaPeticionZona(d, INT32_MAX, INT32_MAX - 10, INT32_MIN, INT32_MIN + 10, 256, 256, p));
    EXPECT_EQ(p.nivel, 1);
    EXPECT_EQ(p.ancho, 7);
    EXPECT_EQ(p.alto, 7);
}

TEST(ZoneRequest, EachLevelIsChosenJustWhenItsWindowHoldsTheZone) {
    Map d(1001);
    for (int level = 1; level <= 13; ++level) {
        double s = EscalasNivel[level - 1];
        // A zone of 800 x 600 image pixels at this level, a little smaller.
        int w = static_cast<int>(790 * s), h = static_cast<int>(590 * s);
        TPeticionZona p;
        ASSERT_TRUE(CalculaPeticionZona(d, 1000000, 1000000 + w, 800000, 800000 + h, 800, 600, p));
        EXPECT_EQ(p.nivel, level);
        EXPECT_LE(p.ancho, 800);
        EXPECT_LE(p.alto, 600);
        EXPECT_GE(p.ancho, 780);
    }
}

}  // namespace
