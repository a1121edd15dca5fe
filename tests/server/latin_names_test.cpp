// The name chain on its own: which name wins, each language's own
// romanisation, and the reduction to Latin-1 that the place names rely on.
#include <gtest/gtest.h>

#include <string>

#include "server/names/latin_names.h"

namespace {

using names::LatinName;
using names::Names;
using names::ToLatin1;

// True when every character is one of Latin-1's printable ones, as UTF-8.
bool PrintableLatin1(const std::string& utf8) {
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == 0xC2 || c == 0xC3) {
            if (++i >= utf8.size() || (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) return false;
        } else if (c < 0x20 || c >= 0x7F) {
            return false;
        }
    }
    return true;
}

TEST(LatinNames, FirstUsableNameOfTheChainWins) {
    Names moscow{"Москва", "Moscú", "Moskva", "Moscow", "Moscou", "", "", "", "ru"};
    EXPECT_EQ(LatinName(moscow), "Moscú");
    moscow.es = "  ";  // an empty name:xx is no name
    EXPECT_EQ(LatinName(moscow), "Moskva");
    moscow.intName = "";
    EXPECT_EQ(LatinName(moscow), "Moscow");
    moscow.en = "Москва";  // a name:en in another script is passed over
    EXPECT_EQ(LatinName(moscow), "Moscou");
    // A name in Latin letters is its own Latin form, before int_name or English.
    EXPECT_EQ(LatinName({"Łódź", "", "Lodz", "Lodz", "", "", "", "", "pl"}), "Łódź");
    EXPECT_EQ(LatinName({"", "", "", "", "", "", "", "", ""}), "");
}

TEST(LatinNames, EachLanguageByItsOwnSystem) {
    // Russian by BGN/PCGN, where Any-Latin writes ISO 9.
    EXPECT_EQ(LatinName({"Тверская улица", "", "", "", "", "", "", "", "ru"}), "Tverskaya ulitsa");
    EXPECT_EQ(names::Transliterated("Тверская", ""), "Tverskaâ");
    EXPECT_EQ(names::Transliterated("Київ", "uk"), "Kyyiv");
    // Mixed scripts: what the language's system leaves goes through Any-Latin.
    const std::string mixed = LatinName({"Тверская 北京", "", "", "", "", "", "", "", "ru"});
    EXPECT_EQ(mixed.compare(0, 10, "Tverskaya "), 0) << mixed;
    EXPECT_TRUE(names::InLatinLetters(mixed)) << mixed;
    // An unknown or malformed language is Any-Latin, never a failure.
    EXPECT_EQ(names::Transliterated("Αθήνα", "zz"), names::Transliterated("Αθήνα", ""));
    EXPECT_EQ(names::Transliterated("Αθήνα", "el\"; Null"), names::Transliterated("Αθήνα", ""));
    EXPECT_EQ(names::CountryLanguage("RU"), "ru");
    EXPECT_EQ(names::CountryLanguage("ES"), "");
}

TEST(LatinNames, ReducedToLatin1LettersOnly) {
    // Latin-1 letters stay; the others lose what Latin-1 lacks; a letter and
    // its combining accent become the composed Latin-1 letter.
    EXPECT_EQ(ToLatin1("Łódź, Kraków"), "Lódz, Kraków");
    EXPECT_EQ(ToLatin1("Œuvre Wulêswālī"), "OEuvre Wulêswali");
    EXPECT_EQ(ToLatin1("Cafe\xCC\x81 q\xCC\x83"), "Café q");
    // Other scripts come out as Latin letters, never as question marks.
    for (const std::string text : {"北京市", "ถนนสีลม", "תל אביב", "القاهرة", "東京 ginza", "Αθήνα"}) {
        const std::string reduced = ToLatin1(text);
        EXPECT_TRUE(PrintableLatin1(reduced)) << text << " -> " << reduced;
        EXPECT_EQ(reduced.find('?'), std::string::npos) << text << " -> " << reduced;
        EXPECT_GE(reduced.size(), 3u) << text << " -> " << reduced;
    }
    // Broken UTF-8 and control characters never reach the page.
    EXPECT_EQ(ToLatin1("ab\xFF\xC3 c\x01\xE2\x82"), "ab c");
    EXPECT_FALSE(names::InLatinLetters("ab\xFF"));
}

}  // namespace
