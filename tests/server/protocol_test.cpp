// The plug-in and the server speak one protocol: the levels the plug-in
// asks for are the levels the server draws.
#include <gtest/gtest.h>

#include "plugin/zona.h"
#include "server/protocol/levels.h"

TEST(Protocol, ThePlugInsLevelsAreTheServersLevels) {
    ASSERT_EQ(sizeof EscalasNivel / sizeof EscalasNivel[0], static_cast<size_t>(protocol::kLevels));
    for (int level = 1; level <= protocol::kLevels; ++level)
        EXPECT_EQ(EscalasNivel[level - 1], protocol::MetresPerPixel(level)) << "level " << level;
    EXPECT_EQ(protocol::MetresPerPixel(0), 0.0);
    EXPECT_EQ(protocol::MetresPerPixel(protocol::kLevels + 1), 0.0);
}
