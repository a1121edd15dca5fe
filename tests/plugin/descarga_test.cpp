#include <gtest/gtest.h>

#include "plugin/descarga.h"

namespace {

TEST(DescriptorDownload, NamesThatCouldLeaveTheFolderAreRefused) {
    EXPECT_TRUE(NombreDescriptorValido("norte.plvr"));
    EXPECT_TRUE(NombreDescriptorValido("mapa_1001-v2.plvr"));
    for (const char* bad : {"", "../x.plvr", "..", "a/b.plvr", "a\\b.plvr", "C:x.plvr", "con tab\t.plvr",
                            "with blank.plvr", "line\n.plvr", "x..plvr", "\x7f"})
        EXPECT_FALSE(NombreDescriptorValido(bad)) << bad;
    EXPECT_FALSE(NombreDescriptorValido(nullptr));
}

TEST(DescriptorDownload, UrlCarriesTheNameUnchanged) {
    DString url;
    ComponeUrlDescarga("http://localhost", "norte.plvr", url);
    EXPECT_STREQ(url.Texto(), "http://localhost/download/plugins/norte.plvr");
}

}  // namespace
