#include <gtest/gtest.h>

#include <string>

#include "plugin/localizacion.h"

namespace {

const std::string kStart =
    "<small align=\"center\" class=\"textnormal\">Su veh&iacute;culo&nbsp;<b></b>&nbsp; se encuentra en&nbsp;";

bool Extract(const std::string& page, std::string& phrase) {
    DString p(page.c_str()), f("untouched");
    bool ok = ExtraeLocalizacion(p, f);
    phrase = f.Texto();
    return ok;
}

TEST(Location, RequestText) {
    DString url;
    ComponeUrlLocalizacion("http://h:8080", -3.7038, 40.4168, url);
    EXPECT_STREQ(url.Texto(), "http://h:8080/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=40.41680000,-3.70380000");
}

TEST(Location, EntitiesBecomeLatin1AndOthersStay) {
    std::string phrase;
    ASSERT_TRUE(Extract("<html>" + kStart + "Calle Mayor&nbsp;12, Le&oacute;n</small> more</html>", phrase));
    EXPECT_EQ(phrase, "Calle Mayor 12, Le\xF3n");
    ASSERT_TRUE(Extract(kStart + "A Coru&ntilde;a &Atilde; &ccedil; &NTILDE; &amp; &#241; &Ntilde;</small>", phrase));
    EXPECT_EQ(phrase, "A Coru\xF1" "a &Atilde; &ccedil; &NTILDE; &amp; &#241; \xD1");
    ASSERT_TRUE(Extract(kStart + "&szlig;&yuml;&Yacute;&Uuml;</small>", phrase));
    EXPECT_EQ(phrase, "\xDF\xFF\xDD\xDC");
}

TEST(Location, LineBreaksAndTabsVanishAfterBlanksAreMade) {
    std::string phrase;
    ASSERT_TRUE(Extract(kStart + "Avenida\r\n de la\tPaz, Sevil\nla</small>", phrase));
    EXPECT_EQ(phrase, "Avenida de laPaz, Sevilla");
    // A line break inside an entity hides it from the first step but not later ones.
    ASSERT_TRUE(Extract(kStart + "Le&oa\ncute;n&nb\nsp;X</small>", phrase));
    EXPECT_EQ(phrase, "Le\xF3n&nbsp;X");
}

TEST(Location, MissingMarkers) {
    std::string phrase;
    EXPECT_TRUE(Extract(kStart + "</small>", phrase));
    EXPECT_EQ(phrase, "");
    EXPECT_TRUE(Extract(kStart + "no end marker", phrase));
    EXPECT_EQ(phrase, "");
    EXPECT_FALSE(Extract("<html><body>Not Found</body></html>", phrase));
    EXPECT_EQ(phrase, "untouched");
    // The end marker before the start marker does not count.
    EXPECT_TRUE(Extract("</small>" + kStart + "Plaza</small>", phrase));
    EXPECT_EQ(phrase, "Plaza");
}

}  // namespace
