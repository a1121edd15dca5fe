// Place names end to end, through the stand-in server's proximity pages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/plugin_fixture.h"

using namespace testing_support;

namespace {

class Locations : public PluginTest {
protected:
    bool Locate(double lon, double lat, std::string& text) {
        char buffer[1024];
        std::memset(buffer, '@', sizeof buffer);
        bool ok = api->getLocalizacion(0, lon, lat, 0, 0, buffer);
        text = buffer;
        // Nothing past the terminator was touched.
        size_t end = text.size() + 1;
        untouchedAfter = end < sizeof buffer && buffer[end] == '@';
        return ok;
    }
    bool untouchedAfter = false;
};

TEST_F(Locations, PhrasesArriveDecodedOnOneLine) {
    std::string text;
    ASSERT_TRUE(Locate(-3.7038, 40.4168, text));
    EXPECT_EQ(text, "Calle Mayor 12, Madrid");
    EXPECT_TRUE(untouchedAfter);
    std::vector<std::string> requests = NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=40.41680000,-3.70380000");
    EXPECT_FALSE(FileExists("plivor_temp1.zip")) << "the page is deleted after use";

    ASSERT_TRUE(Locate(-5.5671, 42.5987, text));
    EXPECT_EQ(text, "Avenida de Ordo\xF1o II, Le\xF3n");
    // Line breaks and a tab inside the phrase vanish; an entity split by a break is still found.
    ASSERT_TRUE(Locate(-0.8891, 41.6488, text));
    EXPECT_EQ(text, "Plaza del Pilar,Zaragoza");
    ASSERT_TRUE(Locate(-5.6619, 43.5453, text));
    EXPECT_EQ(text, "Calle Corrida, Gij\xF3n");
    // Entities outside the table stay as written.
    ASSERT_TRUE(Locate(-0.3763, 39.4699, text));
    EXPECT_EQ(text, "Pla&ccedil;a de l'Ajuntament, Val\xE8ncia");
}

TEST_F(Locations, FailuresLeaveHolaAndNumberTheirFiles) {
    std::string text;
    SetEnv("PLIVORS_MAP_SERVER", "http://127.0.0.1:1");
    EXPECT_FALSE(Locate(-3.7038, 40.4168, text));
    EXPECT_EQ(text, "hola");
    EXPECT_FALSE(FileExists("plivor_temp1.zip")) << "a failed request leaves nothing behind";

    // A page without the start marker is a failure, not an empty success.
    MapServerOptions("nomarker");
    EXPECT_FALSE(Locate(-3.7038, 40.4168, text));
    EXPECT_EQ(text, "hola");
    SetEnv("PLIVORS_MAP_SERVER", server + "/no/such/page");
    EXPECT_FALSE(Locate(-3.7038, 40.4168, text));
    EXPECT_EQ(text, "hola");

    MapServerOptions("");
    ASSERT_TRUE(Locate(-3.7038, 40.4168, text));
    EXPECT_FALSE(FileExists("plivor_temp4.zip"));
    EXPECT_EQ(NewRequests().size(), 3u) << "the refused connection never reached the server";
}

TEST_F(Locations, ALongPhraseIsCutAtTheBufferLimit) {
    std::string text;
    MapServerOptions("longphrase=700");
    ASSERT_TRUE(Locate(-3.7038, 40.4168, text));
    EXPECT_EQ(text, std::string(255, 'x'));
    EXPECT_TRUE(untouchedAfter);
}

TEST_F(Locations, ReferenceHostPrintsThePlaceInUtf8) {
    std::string out;
    int rc = RunCommand(HostCommand() + " --plugin \"" + EnvPath("PLIVORS_TEST_PLUGIN") + "\" locate -5.5671 42.5987", out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("Avenida de Ordo\xC3\xB1o II, Le\xC3\xB3n"), std::string::npos) << out;
}

}  // namespace
