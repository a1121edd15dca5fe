// Descriptor downloads end to end, against the stand-in download server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/plugin_fixture.h"

using namespace testing_support;

namespace {

class Downloads : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        // The server serves the files of this folder.
        served = Env("PLIVORS_TEST_DOWNLOADS");
        content = "VERSION=1\nIDMAPA=1002\n" + std::string(70000, '#') + "\n";
        ASSERT_TRUE(WriteFile(HostPath(served + "/sur.plvr"), content));
        folder = FreshDir("downloads-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        progress = TProgreso{};
        std::memset(&context, 0, sizeof context);
        context.progreso = &progress;
    }
    void TearDown() override {
        LiberaTextoProgreso(progress);
        PluginTest::TearDown();
    }
    bool Download(const std::string& name, const std::string& dir) {
        success.texts.clear();
        failure.texts.clear();
        return api->downloadMap(name.c_str(), 0, dir.c_str(), success.get(), failure.get(), &context);
    }
    void DownloadServerOptions(const std::string& options) {
        SetEnv("PLIVORS_DOWNLOAD_SERVER", server + "/_opt/" + options);
    }
    std::string served, content, folder;
    TProgreso progress;
    TContextoDescarga context;
    RecordingCallback success, failure;
};

TEST_F(Downloads, StoresTheFileAndReportsItsPath) {
    ASSERT_TRUE(Download("sur.plvr", folder)) << (failure.texts.empty() ? "" : failure.texts[0]);
    ASSERT_EQ(success.texts.size(), 1u);
    EXPECT_TRUE(failure.texts.empty());
    EXPECT_EQ(ReadFile(success.texts[0]), content);
    EXPECT_EQ(+progress.bytesHechos, static_cast<int32_t>(content.size()));
    EXPECT_EQ(+progress.bytesTotal, static_cast<int32_t>(content.size()));
    EXPECT_STREQ(TextoProgreso(progress), "70 Kb / 70 Kb transferred");
    std::vector<std::string> requests = NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "/download/plugins/sur.plvr");
    // Nothing but the descriptor is left in the folder.
    EXPECT_FALSE(FileExists(success.texts[0] + ".1.part"));

    // With no progress record the download still completes.
    context.progreso = nullptr;
    RemoveFile(success.texts[0]);
    ASSERT_TRUE(Download("sur.plvr", folder));
    EXPECT_EQ(ReadFile(success.texts[0]), content);
}

TEST_F(Downloads, FolderSeparatorAndEmptyFolder) {
#if defined(_WIN32)
    const std::string sep = "\\";
#else
    const std::string sep = "/";
#endif
    ASSERT_TRUE(Download("sur.plvr", folder + sep));
    ASSERT_EQ(success.texts.size(), 1u);
    EXPECT_EQ(success.texts[0], folder + sep + "sur.plvr") << "no doubled separator";
    // An empty folder stores the bare name in the current directory.
    RemoveFile("sur.plvr");
    ASSERT_TRUE(Download("sur.plvr", ""));
    EXPECT_EQ(success.texts[0], "sur.plvr");
    EXPECT_EQ(ReadFile("sur.plvr"), content);
    RemoveFile("sur.plvr");
}

TEST_F(Downloads, UnsafeNamesAreRefusedBeforeAnythingHappens) {
    for (const char* name : {"../evil.plvr", "a/b.plvr", "a\\b.plvr", "C:evil.plvr", "", "two words.plvr"}) {
        EXPECT_FALSE(Download(name, folder)) << name;
        ASSERT_EQ(failure.texts.size(), 1u);
        EXPECT_EQ(failure.texts[0], std::string("Nombre de descriptor no valido: ") + name);
        EXPECT_TRUE(success.texts.empty());
    }
    EXPECT_TRUE(NewRequests().empty());
}

TEST_F(Downloads, HttpErrorsAreFailuresAndKeepTheOldFile) {
    std::string target = JoinPath(folder, "sur.plvr");
    WriteFile(target, "old descriptor");
    EXPECT_FALSE(Download("missing.plvr", folder));
    ASSERT_EQ(failure.texts.size(), 1u);
    EXPECT_EQ(failure.texts[0], "Error HTTP 404");
    EXPECT_FALSE(FileExists(JoinPath(folder, "missing.plvr")));

    DownloadServerOptions("status=500");
    EXPECT_FALSE(Download("sur.plvr", folder));
    EXPECT_EQ(failure.texts[0], "Error HTTP 500");
    EXPECT_EQ(ReadFile(target), "old descriptor");
}

TEST_F(Downloads, ADroppedOrCancelledTransferKeepsTheOldFile) {
    std::string target = JoinPath(folder, "sur.plvr");
    WriteFile(target, "old descriptor");
    DownloadServerOptions("drop=1000");
    EXPECT_FALSE(Download("sur.plvr", folder));
    ASSERT_EQ(failure.texts.size(), 1u);
    EXPECT_EQ(failure.texts[0].find("Error reading HTTP "), 0u) << failure.texts[0];
    EXPECT_EQ(ReadFile(target), "old descriptor");

    DownloadServerOptions("trickle=4000");
    progress.cancelar = 1;
    EXPECT_FALSE(Download("sur.plvr", folder));
    ASSERT_EQ(failure.texts.size(), 1u);
    EXPECT_EQ(failure.texts[0], "Operation Canceled");
    EXPECT_EQ(ReadFile(target), "old descriptor");
    EXPECT_GT(+progress.bytesHechos, 0);
    EXPECT_LT(+progress.bytesHechos, static_cast<int32_t>(content.size()));
}

TEST_F(Downloads, AMissingFolderFailsBeforeFetching) {
    std::string missing = JoinPath(folder, "no-such-folder");
    EXPECT_FALSE(Download("sur.plvr", missing));
    ASSERT_EQ(failure.texts.size(), 1u);
    std::string expected = "Error opening the local file for HTTP download: \"";
    EXPECT_EQ(failure.texts[0].find(expected), 0u) << failure.texts[0];
    EXPECT_NE(failure.texts[0].find("sur.plvr\""), std::string::npos) << failure.texts[0];
    EXPECT_EQ(failure.texts[0].find(".part"), std::string::npos) << "names the descriptor, not a temporary file";
    EXPECT_TRUE(NewRequests().empty());
}

}  // namespace
