#include <gtest/gtest.h>

#include <climits>

#include "base/dstring.h"
#include "plugin/modulo.h"
#include "plugin/tabla_mapas.h"

namespace {

TEST(MapCatalogue, FindGivesSouthWestThenNorthEastAndLeavesTheMessage) {
    ASSERT_EQ(TablaMapas().Numero(), 4);
    DString message("untouched");
    double c[4];
    ASSERT_TRUE(TablaMapas().BuscaMapa(1003, message, c[0], c[1], c[2], c[3]));
    EXPECT_EQ(c[0], -88.0);
    EXPECT_EQ(c[1], -178.0);
    EXPECT_EQ(c[2], 88.0);
    EXPECT_EQ(c[3], 178.0);
    ASSERT_TRUE(TablaMapas().BuscaMapa(1000, message, c[0], c[1], c[2], c[3]));
    EXPECT_EQ(c[0], 27.5082486);
    EXPECT_EQ(c[1], -23.8797607);
    EXPECT_EQ(c[2], 44.330421);
    EXPECT_EQ(c[3], 6.2720658);
    double d[4];
    ASSERT_TRUE(TablaMapas().BuscaMapa(1001, message, c[0], c[1], c[2], c[3]));
    ASSERT_TRUE(TablaMapas().BuscaMapa(1002, message, d[0], d[1], d[2], d[3]));
    EXPECT_EQ(c[0], 26.9674359);
    EXPECT_EQ(c[1], -20.9912576);
    EXPECT_EQ(c[0], d[0]) << "1001 and 1002 share the south-west corner";
    EXPECT_EQ(c[1], d[1]);
    EXPECT_EQ(c[2], 56.5217513);
    EXPECT_EQ(d[3], -8.483808);
    EXPECT_STREQ(message.Texto(), "untouched");
}

TEST(MapCatalogue, UnknownIdsReplaceOnlyTheMessage) {
    struct Case {
        int id;
        const char* message;
    } cases[] = {
        {1004, "idmapa no correcto i=4"},
        {999, "idmapa no correcto i=-1"},
        {0, "idmapa no correcto i=-1000"},
        // Ids read from a descriptor span the 32-bit range: no wrap-around.
        {INT_MAX, "idmapa no correcto i=2147482647"},
        {INT_MIN, "idmapa no correcto i=-2147484648"},
    };
    for (const Case& c : cases) {
        DString message("previous text");
        double v[4] = {1.5, 1.5, 1.5, 1.5};
        EXPECT_FALSE(TablaMapas().BuscaMapa(c.id, message, v[0], v[1], v[2], v[3])) << c.id;
        EXPECT_STREQ(message.Texto(), c.message);
        for (double x : v) EXPECT_EQ(x, 1.5) << c.id;
    }
}

}  // namespace
