// plivors-host check: its verdict and exit status follow what really works,
// and each failure carries the plug-in's message and the matching hint.
#include <gtest/gtest.h>

#include <string>

#include "net/direcciones.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const char kSample[] = "norte-1000.plvr";

class HostCheck : public ::testing::Test {
protected:
    void SetUp() override {
        NEED_SERVER();
        offered = JoinPath(EnvPath("PLIVORS_TEST_DOWNLOADS"), kSample);
        const std::string source = JoinPath(JoinPath(EnvPath("PLIVORS_TEST_SOURCE"), "maps"), kSample);
        ASSERT_TRUE(WriteFile(offered, ReadFile(source)));
    }
    void TearDown() override {
        UnsetEnv("PLIVORS_MAP_SERVER");
        UnsetEnv("PLIVORS_DOWNLOAD_SERVER");
    }
    std::string offered;
};

TEST_F(HostCheck, AllThreeWorkAgainstOneServer) {
    SetEnv("PLIVORS_MAP_SERVER", Server());
    SetEnv("PLIVORS_DOWNLOAD_SERVER", Server() + "/");
    std::string out = RunHostCheck();
    EXPECT_EQ(out.substr(0, 2), "0\n") << out;
    EXPECT_TRUE(HasWords(out, "plug-in version  4") && HasWords(out, "exports          9 of 9")) << out;
    EXPECT_TRUE(HasWords(out, "map server       " + Server() + "  (from PLIVORS_MAP_SERVER)")) << out;
    EXPECT_TRUE(HasWords(out, "download server  " + Server() + "  (from PLIVORS_DOWNLOAD_SERVER)")) << out;
    EXPECT_TRUE(HasWords(out, "zone        ok") && HasWords(out, "place name  ok") && HasWords(out, "download    ok"))
        << out;
    EXPECT_TRUE(HasWords(out, "a map descriptor") && HasWords(out, "all three work")) << out;
}

TEST_F(HostCheck, EachFailureNamesItsCause) {
    // Nothing listens on port 1; the download server lacks the sample.
    RemoveFile(offered);
    SetEnv("PLIVORS_MAP_SERVER", "http://127.0.0.1:1");
    SetEnv("PLIVORS_DOWNLOAD_SERVER", Server());
    std::string out = RunHostCheck();
    EXPECT_EQ(out.substr(0, 2), "1\n") << out;
    EXPECT_TRUE(HasWords(out, "zone        FAILED") && HasWords(out, "Error opening URL 12029")) << out;
    EXPECT_TRUE(HasWords(out, "Nothing accepts connections at 127.0.0.1:1")) << out;
    EXPECT_TRUE(HasWords(out, "place name  FAILED") && HasWords(out, "The same server as the zone")) << out;
    EXPECT_TRUE(HasWords(out, "download    FAILED") && HasWords(out, "Error HTTP 404") &&
                HasWords(out, "does not offer"))
        << out;
    EXPECT_TRUE(HasWords(out, "3 of 3 failed")) << out;

    // A server that answers maps with something other than a picture; the
    // download address left to its default.
    ASSERT_TRUE(WriteFile(offered, "VERSION=1\nIDMAPA=1000\n"));
    SetEnv("PLIVORS_MAP_SERVER", Server() + "/_opt/notgif");
    UnsetEnv("PLIVORS_DOWNLOAD_SERVER");
    out = RunHostCheck();
    EXPECT_EQ(out.substr(0, 2), "1\n") << out;
    EXPECT_TRUE(HasWords(out, "zone        FAILED") && HasWords(out, "not with a map picture")) << out;
    EXPECT_TRUE(HasWords(out, "place name  ok")) << out;
    EXPECT_TRUE(HasWords(out, "download server  http://localhost:8080  (built-in default")) << out;
}

// The progress bar's last line shows what arrived, even when the whole file
// came between two draws of the bar.
TEST_F(HostCheck, DownloadProgressEndsAtTheBytesReceived) {
    SetEnv("PLIVORS_DOWNLOAD_SERVER", Server());
    std::string into = FreshDir("progress");
    std::string out;
    int rc = RunCommand(HostCommand() + " --plugin \"" + EnvPath("PLIVORS_TEST_PLUGIN") + "\" download " + kSample +
                            " \"" + into + "\" 2>&1",
                        out);
    EXPECT_EQ(rc, 0) << out;
    std::string last, piece;
    for (char c : out + "\n") {
        if (c != '\r' && c != '\n') {
            piece += c;
            continue;
        }
        if (piece.find(" bytes") != std::string::npos) last = piece;
        piece.clear();
    }
    const std::string size = std::to_string(ReadFile(offered).size());
    EXPECT_NE(last.find(size + " / " + size + " bytes"), std::string::npos) << out;
}

// One server answers all three on one port: unset, both addresses are that one.
TEST(ServerAddresses, DefaultsNameTheSameServer) {
    UnsetEnv("PLIVORS_MAP_SERVER");
    UnsetEnv("PLIVORS_DOWNLOAD_SERVER");
    EXPECT_STREQ(DireccionServidorMapas().Texto(), "http://localhost:8080");
    EXPECT_STREQ(DireccionServidorDescargas().Texto(), "http://localhost:8080");
    SetEnv("PLIVORS_DOWNLOAD_SERVER", "http://maps.example:9000/");
    EXPECT_STREQ(DireccionServidorDescargas().Texto(), "http://maps.example:9000");
    EXPECT_STREQ(DireccionServidorMapas().Texto(), "http://localhost:8080");
    UnsetEnv("PLIVORS_DOWNLOAD_SERVER");
}

}  // namespace
