// The map server's command line: values reach their settings, and every
// mistake exits with status 2 and says what is wrong, before anything loads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/options/server_options.h"

using options::Parse;

TEST(ServerOptions, ValuesReachTheirSettings) {
    options::Settings s;
    options::Outcome o = Parse({"--port", "0", "--bind", "0.0.0.0", "--port-file", "p", "--log", "l", "--downloads",
                                "d", "--style", "s.xml", "--data", "dir", "--database", "postgresql://x/gis",
                                "--threads", "3", "--cache", "5", "--max-age=60", "--idle-timeout", "4",
                                "--request-timeout", "6", "--send-timeout", "7"},
                               s);
    ASSERT_TRUE(o.serve) << o.text;
    EXPECT_EQ(s.serving.port, 0);
    EXPECT_EQ(s.serving.bind, "0.0.0.0");
    EXPECT_EQ(s.serving.portFile + s.serving.logFile + s.serving.downloads, "pld");
    EXPECT_EQ(s.style + " " + s.data + " " + s.database, "s.xml dir postgresql://x/gis");
    EXPECT_EQ(s.threads * 10000 + s.cacheMegabytes * 100 + s.maxAge, 30560);
    EXPECT_EQ(s.serving.limits.idleSeconds * 100 + s.serving.limits.requestSeconds * 10 + s.serving.limits.sendSeconds,
              467);

    options::Settings defaults;
    ASSERT_TRUE(Parse({}, defaults).serve);
    EXPECT_EQ(defaults.serving.port, 8080);
    EXPECT_EQ(defaults.serving.bind, "127.0.0.1");
    EXPECT_EQ(defaults.cacheMegabytes, 256);
}

TEST(ServerOptions, MistakesExitWith2AndSaySo) {
    const struct {
        std::vector<std::string> args;
        const char* said;
    } cases[] = {
        {{"--port", "65536"}, "bad port"},
        {{"--port", "eighty"}, "port"},
        {{"--threads", "-1"}, "--threads"},
        {{"--idle-timeout", "0"}, "--idle-timeout"},
        {{"--stand-in"}, "stand-in"},  // the tests' server is a program of its own
        {{"--dat", "x"}, "dat"},       // no abbreviations
        {{"--port"}, "port"},
        {{"stray"}, "positional"},
    };
    for (const auto& c : cases) {
        options::Settings s;
        options::Outcome o = Parse(c.args, s);
        EXPECT_FALSE(o.serve) << c.args[0];
        EXPECT_EQ(o.status, 2) << c.args[0];
        EXPECT_NE(o.text.find(c.said), std::string::npos) << o.text;
    }
    options::Settings s;
    options::Outcome help = Parse({"--help"}, s), version = Parse({"--version"}, s);
    EXPECT_FALSE(help.serve || version.serve);
    EXPECT_EQ(help.status + version.status, 0);
    EXPECT_EQ(help.text.rfind("usage: plivors-server", 0), 0u);
    EXPECT_EQ(version.text, "plivors-server " PLIVORS_VERSION "\n");
}
