// The library loaded by file name, its exports resolved by name, as the host does.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/test_support.h"
#include "tools/host/plugin_library.h"

using namespace testing_support;

namespace {

class EntryPoints : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(plugin.Load(EnvPath("PLIVORS_TEST_PLUGIN"), error)) << error;
    }
    PluginLibrary plugin;
};

TEST_F(EntryPoints, VersionInitAndFileTypes) {
    ASSERT_NE(plugin.exports().version, nullptr);
    ASSERT_NE(plugin.exports().init, nullptr);
    ASSERT_NE(plugin.exports().getTipoArchivos, nullptr);
    EXPECT_EQ(plugin.exports().version(), 4);
    EXPECT_TRUE(plugin.exports().init());
    EXPECT_EQ(plugin.exports().version(), 4);
    const char* a = plugin.exports().getTipoArchivos();
    const char* b = plugin.exports().getTipoArchivos();
    EXPECT_EQ(a, b) << "the same address on every call";
    EXPECT_STREQ(a, "1|Raster Plivors|plvr|2|Plivors|plvr|");
    EXPECT_EQ(std::strlen(a), 37u);
}

TEST_F(EntryPoints, LoadsAndUnloadsRepeatedly) {
    for (int i = 0; i < 3; ++i) {
        plugin.Unload();
        std::string error;
        ASSERT_TRUE(plugin.Load(EnvPath("PLIVORS_TEST_PLUGIN"), error)) << error;
        EXPECT_EQ(plugin.exports().version(), 4);
    }
}

TEST(ReferenceHost, InfoReportsVersionTypesAndExports) {
    std::string out;
    int rc = RunCommand(HostCommand() + " --plugin \"" + EnvPath("PLIVORS_TEST_PLUGIN") + "\" info", out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("version: 4"), std::string::npos) << out;
    EXPECT_NE(out.find("file types: 1|Raster Plivors|plvr|2|Plivors|plvr|"), std::string::npos) << out;
    EXPECT_NE(out.find("_HalvoPlugIn_GetTipoArchivos"), std::string::npos) << out;
}

TEST(ReferenceHost, FailsClearlyOnAMissingLibrary) {
    std::string out;
    int rc = RunCommand(HostCommand() + " --plugin no-such-plugin.lib info 2>&1", out);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("cannot load"), std::string::npos) << out;
    rc = RunCommand(HostCommand() + " frobnicate 2>&1", out);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("unknown command"), std::string::npos) << out;
}

}  // namespace
