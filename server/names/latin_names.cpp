#include "server/names/latin_names.h"

#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/unistr.h>

#include <map>
#include <memory>
#include <mutex>

namespace names {
namespace {

// A transliterator of the compound id, or null when ICU has no such
// transform. Making one parses its rules (a tenth of a second for Any-Latin);
// that is done once, and each thread uses a clone of its own, as one is not
// safe to share.
const icu::Transliterator* Transform(const std::string& id) {
    thread_local std::map<std::string, std::unique_ptr<icu::Transliterator>> mine;
    auto found = mine.find(id);
    if (found != mine.end()) return found->second.get();
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<icu::Transliterator>> made;
    std::unique_ptr<icu::Transliterator> copy;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto first = made.find(id);
        if (first == made.end()) {
            UErrorCode status = U_ZERO_ERROR;
            std::unique_ptr<icu::Transliterator> t(
                icu::Transliterator::createInstance(icu::UnicodeString::fromUTF8(id), UTRANS_FORWARD, status));
            if (U_FAILURE(status)) t.reset();
            first = made.emplace(id, std::move(t)).first;
        }
        if (first->second != nullptr) copy.reset(first->second->clone());
    }
    return mine.emplace(id, std::move(copy)).first->second.get();
}

std::string Utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string Trimmed(const std::string& text) {
    const char* space = " \t\r\n";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// The romanisation of the language's own national or UN system where ICU
// has it; what it leaves (another script mixed in) goes through Any-Latin.
std::string TransformId(const std::string& language) {
    bool plain = language.size() >= 2 && language.size() <= 3;
    for (char c : language) plain = plain && c >= 'a' && c <= 'z';
    if (!plain) return "Any-Latin";
    if (language == "el") return "Greek-Latin/UNGEGN; Any-Latin";
    if (language == "ja") return "ja_Hrkt-ja_Latn/BGN; Any-Latin";
    return language + "-" + language + "_Latn/BGN; Any-Latin";
}

}  // namespace

std::string CountryLanguage(const std::string& country) {
    static const std::map<std::string, std::string> kLanguages = {
        {"AE", "ar"}, {"AF", "ps"}, {"AM", "hy"}, {"AZ", "az"}, {"BG", "bg"}, {"BH", "ar"}, {"BY", "be"},
        {"CY", "el"}, {"DZ", "ar"}, {"EG", "ar"}, {"ET", "am"}, {"GE", "ka"}, {"GR", "el"}, {"IL", "he"},
        {"IQ", "ar"}, {"IR", "fa"}, {"JO", "ar"}, {"JP", "ja"}, {"KG", "ky"}, {"KR", "ko"}, {"KW", "ar"},
        {"KZ", "kk"}, {"LB", "ar"}, {"LY", "ar"}, {"MA", "ar"}, {"MK", "mk"}, {"MN", "mn"}, {"MV", "dv"},
        {"OM", "ar"}, {"PS", "ar"}, {"QA", "ar"}, {"RS", "sr"}, {"RU", "ru"}, {"SA", "ar"}, {"SD", "ar"},
        {"SY", "ar"}, {"TJ", "tg"}, {"TM", "tk"}, {"TN", "ar"}, {"UA", "uk"}, {"UZ", "uz"}, {"YE", "ar"}};
    auto found = kLanguages.find(country);
    return found == kLanguages.end() ? "" : found->second;
}

bool InLatinLetters(const std::string& utf8) {
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        const UChar32 c = text.char32At(i);
        if (c == 0xFFFD) return false;
        UErrorCode status = U_ZERO_ERROR;
        if (u_isalpha(c) && uscript_getScript(c, &status) != USCRIPT_LATIN) return false;
    }
    return true;
}

std::string Transliterated(const std::string& utf8, const std::string& language) {
    const icu::Transliterator* t = Transform(TransformId(language));
    if (t == nullptr) t = Transform("Any-Latin");
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    if (t != nullptr) t->transliterate(text);
    return Trimmed(Utf8(text));
}

std::string LatinName(const Names& n) {
    const std::string es = Trimmed(n.es), name = Trimmed(n.name);
    if (!es.empty() && InLatinLetters(es)) return es;
    if (!name.empty() && InLatinLetters(name)) return name;
    for (const std::string* other : {&n.intName, &n.en, &n.fr, &n.pt, &n.it, &n.de}) {
        const std::string text = Trimmed(*other);
        if (!text.empty() && InLatinLetters(text)) return text;
    }
    if (name.empty()) return "";
    return Transliterated(name, n.language);
}

std::string ToLatin1(const std::string& utf8) {
    // Already Latin-1 (every character is composed there): as it is.
    bool plain = true;
    for (size_t i = 0; i < utf8.size() && plain; ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            plain = (c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() &&
                    (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80;
            ++i;
        } else {
            plain = c >= 0x20 || c == '\t';
        }
    }
    if (plain) return utf8;
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    auto beyond = [&text] {
        for (int32_t i = 0; i < text.length(); ++i)
            if (text.charAt(i) > 0xFF) return true;
        return false;
    };
    // Composed first, so that a letter and its combining accent become the
    // Latin-1 letter where there is one. Text of another script (rare: the
    // names come in Latin letters already) is transliterated first, with the
    // costlier Any-Latin.
    const icu::Transliterator* reduce = Transform("NFC; [^\\u0000-\\u00FF] Latin-ASCII");
    if (reduce != nullptr) reduce->transliterate(text);
    const icu::Transliterator* other = beyond() ? Transform("[^\\u0000-\\u00FF] Any-Latin") : nullptr;
    if (other != nullptr) {
        other->transliterate(text);
        if (reduce != nullptr) reduce->transliterate(text);
    }
    icu::UnicodeString kept;
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        const UChar32 c = text.char32At(i);
        if (c <= 0xFF && (c >= 0x20 || c == '\t')) kept.append(c);
    }
    return Utf8(kept);
}

}  // namespace names
