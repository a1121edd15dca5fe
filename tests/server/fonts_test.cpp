// The map styles' labels in every script: each fontset a text symbolizer
// draws with, looked up among the faces of the server's font folders as
// Mapnik names them ("family style"), must hold a glyph for every letter of a
// place name in each script. A letter no face holds is drawn as the
// missing-glyph box.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "server/render/fonts.h"

namespace {

struct Face {
    std::string file;
    long index;
};

// Every face of the server's font folders by its Mapnik name.
std::map<std::string, Face> InstalledFaces(FT_Library library) {
    std::map<std::string, Face> faces;
    for (const char* folder : render::kFontFolders) {
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (!it->is_regular_file()) continue;
            const std::string file = it->path().string();
            for (long index = 0, count = 1; index < count; ++index) {
                FT_Face face;
                if (FT_New_Face(library, file.c_str(), index, &face) != 0) break;
                count = face->num_faces;
                if (face->family_name != nullptr && face->style_name != nullptr)
                    faces.emplace(std::string(face->family_name) + " " + face->style_name, Face{file, index});
                FT_Done_Face(face);
            }
        }
    }
    return faces;
}

std::string Attribute(const xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    const std::string s = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return s;
}

bool Is(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>(name));
}

// Every element under node, depth first.
template <typename Visit>
void EachElement(xmlNode* node, const Visit& visit) {
    for (xmlNode* c = node; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) visit(c), EachElement(c->children, visit);
}

// The face names each fontset or face a text symbolizer of the Mapnik style
// names draws with, by the symbolizer's word for it.
std::map<std::string, std::vector<std::string>> LabelFonts(const std::string& styleFile) {
    std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> document(
        xmlReadFile(styleFile.c_str(), nullptr, XML_PARSE_NOENT | XML_PARSE_NONET), xmlFreeDoc);
    std::map<std::string, std::vector<std::string>> fontsets, used;
    if (document == nullptr) return used;
    xmlNode* root = xmlDocGetRootElement(document.get());
    EachElement(root, [&](xmlNode* n) {
        if (!Is(n, "FontSet")) return;
        for (xmlNode* f = n->children; f != nullptr; f = f->next)
            if (Is(f, "Font")) fontsets[Attribute(n, "name")].push_back(Attribute(f, "face-name"));
    });
    EachElement(root, [&](xmlNode* n) {
        if (!Is(n, "TextSymbolizer")) return;
        for (const char* kind : {"fontset-name", "face-name"}) {
            const std::string name = Attribute(n, kind);
            if (name.empty()) continue;
            const bool face = std::string(kind) == "face-name";
            used[std::string(kind) + " " + name] = face ? std::vector<std::string>{name} : fontsets[name];
            break;
        }
    });
    return used;
}

std::vector<char32_t> CodePoints(const std::string& utf8) {
    std::vector<char32_t> out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const int length = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
        char32_t cp = length == 1 ? c : c & (0x7f >> length);
        for (int k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3f);
        out.push_back(cp);
        i += length;
    }
    return out;
}

// Place names, one a script, with the script's marks and signs.
const std::pair<const char*, const char*> kLabels[] = {
    {"Latin", "Łódź, São Paulo, Ñuñoa, Køge"},
    {"Cyrillic", "Москва, Київ, Београд"},
    {"Greek", "Αθήνα, Θεσσαλονίκη"},
    {"Arabic", "القاهرة، الدار البيضاء"},
    {"Hebrew", "ירושלים, תל אביב"},
    {"Thai", "กรุงเทพมหานคร ถนนสุขุมวิท"},
    {"Devanagari", "नई दिल्ली, मुंबई"},
    {"Chinese", "北京市朝阳区, 廣州"},
    {"Japanese", "東京都渋谷区, しぶや, シブヤ"},
    {"Korean", "서울특별시 강남구"},
    {"Bengali", "ঢাকা"},
    {"Tamil", "சென்னை"},
    {"Georgian", "თბილისი"},
    {"Armenian", "Երևան"},
    {"Ethiopic", "አዲስ አበባ"},
    {"Khmer", "ភ្នំពេញ"},
};

class LabelFontsTest : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override { ASSERT_EQ(FT_Init_FreeType(&library_), 0); }
    void TearDown() override { FT_Done_FreeType(library_); }
    FT_Library library_ = nullptr;
};

TEST_P(LabelFontsTest, EveryScriptHasItsLettersInEachFontset) {
    const std::map<std::string, Face> installed = InstalledFaces(library_);
    const auto used = LabelFonts(GetParam());
    ASSERT_FALSE(used.empty()) << GetParam() << " draws no labels";
    for (const auto& entry : used) {
        std::vector<FT_Face> faces;
        for (const std::string& name : entry.second) {
            auto found = installed.find(name);
            ASSERT_NE(found, installed.end()) << entry.first << ": no installed face " << name;
            FT_Face face;
            ASSERT_EQ(FT_New_Face(library_, found->second.file.c_str(), found->second.index, &face), 0);
            faces.push_back(face);
        }
        ASSERT_FALSE(faces.empty()) << entry.first << " lists no fonts";
        for (const auto& label : kLabels) {
            std::set<std::string> missing;
            for (char32_t cp : CodePoints(label.second)) {
                bool held = cp == ' ' || cp == ',';
                for (FT_Face face : faces) held = held || FT_Get_Char_Index(face, cp) != 0;
                if (!held) missing.insert(std::to_string(static_cast<unsigned long>(cp)));
            }
            EXPECT_TRUE(missing.empty()) << GetParam() << ", " << entry.first << ": " << label.first << " ("
                                         << label.second << ") lacks " << missing.size() << " letters";
        }
        for (FT_Face face : faces) FT_Done_Face(face);
    }
}

INSTANTIATE_TEST_SUITE_P(StreetAndWorldMaps, LabelFontsTest,
                         testing::Values(PLIVORS_TEST_STREET_STYLE, PLIVORS_TEST_WORLD_STYLE));

}  // namespace
