#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "base/dstring.h"
#include "plugin/modulo.h"
#include "plugin/tabla_mapas.h"

namespace {

struct Corners {
    double lat0 = 1234.5, lon0 = 1234.5, lat1 = 1234.5, lon1 = 1234.5;
};

bool Find(const TTablaMapas& tabla, int id, Corners& c, DString& message) {
    return tabla.BuscaMapa(id, message, c.lat0, c.lon0, c.lat1, c.lon1);
}

TEST(MapCatalogue, ModuleCatalogueHoldsFourWellFormedRowsInIdOrder) {
    const TTablaMapas& tabla = TablaMapas();
    ASSERT_EQ(tabla.Numero(), 4);
    for (int i = 0; i < tabla.Numero(); ++i) {
        const TRegistroMapa& r = tabla.Registro(i);
        EXPECT_EQ(r.id, 1000 + i);
        EXPECT_EQ(r.marca, 0);
        EXPECT_LT(r.latSur, r.latNorte) << r.id;
        EXPECT_LT(r.lonOeste, r.lonEste) << r.id;
        EXPECT_GE(r.latSur, -88.0);
        EXPECT_LE(r.latNorte, 88.0);
    }
}

TEST(MapCatalogue, FindGivesSouthWestThenNorthEastAndLeavesTheMessage) {
    DString message("untouched");
    Corners world;
    ASSERT_TRUE(Find(TablaMapas(), 1003, world, message));
    EXPECT_EQ(world.lat0, -88.0);
    EXPECT_EQ(world.lon0, -178.0);
    EXPECT_EQ(world.lat1, 88.0);
    EXPECT_EQ(world.lon1, 178.0);
    EXPECT_STREQ(message.Texto(), "untouched");

    Corners m1000;
    ASSERT_TRUE(Find(TablaMapas(), 1000, m1000, message));
    EXPECT_EQ(m1000.lat0, 27.5082486);
    EXPECT_EQ(m1000.lon0, -23.8797607);
    EXPECT_EQ(m1000.lat1, 44.330421);
    EXPECT_EQ(m1000.lon1, 6.2720658);

    Corners m1001, m1002;
    ASSERT_TRUE(Find(TablaMapas(), 1001, m1001, message));
    ASSERT_TRUE(Find(TablaMapas(), 1002, m1002, message));
    EXPECT_EQ(m1001.lat0, 26.9674359);
    EXPECT_EQ(m1001.lon0, -20.9912576);
    EXPECT_EQ(m1001.lat0, m1002.lat0);
    EXPECT_EQ(m1001.lon0, m1002.lon0);
    EXPECT_EQ(m1001.lat1, 56.5217513);
    EXPECT_EQ(m1002.lon1, -8.483808);
}

TEST(MapCatalogue, UnknownIdsReplaceOnlyTheMessage) {
    struct Case {
        int id;
        const char* message;
    } cases[] = {
        {1004, "idmapa no correcto i=4"},
        {999, "idmapa no correcto i=-1"},
        {0, "idmapa no correcto i=-1000"},
        {-7, "idmapa no correcto i=-1007"},
        // Ids from a descriptor can be anywhere in the 32-bit range: the
        // position must not wrap around.
        {INT_MAX, "idmapa no correcto i=2147482647"},
        {INT_MIN, "idmapa no correcto i=-2147484648"},
    };
    for (const Case& c : cases) {
        DString message("previous text that must go");
        Corners corners;
        EXPECT_FALSE(Find(TablaMapas(), c.id, corners, message)) << c.id;
        EXPECT_STREQ(message.Texto(), c.message);
        EXPECT_EQ(corners.lat0, 1234.5);
        EXPECT_EQ(corners.lon0, 1234.5);
        EXPECT_EQ(corners.lat1, 1234.5);
        EXPECT_EQ(corners.lon1, 1234.5);
    }
}

TEST(MapCatalogue, SeparateCataloguesAgreeAndFreeTheirRows) {
    // Built and destroyed here too: ASan reports any row the container leaks.
    for (int round = 0; round < 3; ++round) {
        TTablaMapas local;
        ASSERT_EQ(local.Numero(), 4);
        for (int id = 1000; id <= 1003; ++id) {
            Corners a, b;
            DString m;
            ASSERT_TRUE(Find(local, id, a, m));
            ASSERT_TRUE(Find(TablaMapas(), id, b, m));
            EXPECT_EQ(a.lat0, b.lat0);
            EXPECT_EQ(a.lon1, b.lon1);
        }
    }
}

}  // namespace
