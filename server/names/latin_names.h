// Names a reader of Latin script can read, whatever script the data writes
// them in: OpenStreetMap's and GeoNames' names through one fallback chain
// and ICU's transliterations, then reduced to the Latin-1 letters the
// plug-in's host shows.
#pragma once

#include <string>

namespace names {

// The names a feature carries (UTF-8; empty when absent), and the language
// its `name` is written in when known (an OSM `name:xx` that repeats it, or
// the country's language for GeoNames).
struct Names {
    std::string name, es, intName, en, fr, pt, it, de;
    std::string language;
};

// The name a Spanish reader wants, first match wins: name:es; name when it is
// written in Latin letters; int_name, name:en, fr, pt, it, de (when in Latin
// letters); else name transliterated, with the language's own romanisation
// (BGN/PCGN, UNGEGN) where ICU has one, otherwise Any-Latin. UTF-8 in Latin
// letters (beyond Latin-1 still); empty when the feature has no name.
std::string LatinName(const Names& n);

// Whether every letter of the text is a Latin one (digits, spaces and
// punctuation count for any script). Broken UTF-8 is not Latin.
bool InLatinLetters(const std::string& utf8);

// The language GeoNames' names of a country (ISO 3166-1 alpha-2) are
// written in, where ICU romanises it by that language's own system; else empty.
std::string CountryLanguage(const std::string& country);

// The text in Latin letters: language as in Names::language, or empty.
std::string Transliterated(const std::string& utf8, const std::string& language);

// The text as UTF-8 with no character beyond U+00FF: composed first, then
// letters outside Latin-1 reduced (Latin-ASCII for those letters only; any
// other script transliterated first), what still has no Latin-1 form
// dropped. Never a question mark for a letter, never broken bytes.
std::string ToLatin1(const std::string& utf8);

}  // namespace names
