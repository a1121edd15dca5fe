// Place names for positions: the nearest populated place of the GeoNames
// table, its country in Spanish, and the distance and direction to it, worded
// as the proximity page carries them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gazetteer {

struct Place {
    double lat, lon;
    long population;
    std::string country;  // ISO 3166-1 alpha-2
    std::string name;     // UTF-8, its Latin form in letters of ISO 8859-1 only
};

struct Nearest {
    const Place* place = nullptr;
    double metres = 0;
};

class Gazetteer {
public:
    // Reads places.tsv (lat, lon, population, country code, name in any
    // script) and countries.tsv (code, Spanish name) of dataDir; throws
    // std::runtime_error naming the missing or broken file.
    explicit Gazetteer(const std::string& dataDir);
    ~Gazetteer();

    Nearest Find(double lat, double lon) const;
    // The phrase of the proximity page, HTML with named entities; atSea
    // words it for a position off the coast.
    std::string Phrase(double lat, double lon, bool atSea) const;
    // The most populous place called name (any case), else the most
    // populous whose name begins with it; nullptr when none does.
    const Place* Search(const std::string& name) const;
    size_t size() const { return places_.size(); }
    // The n most populous places, the most populous first.
    std::vector<const Place*> Largest(size_t n) const;

private:
    struct Index;
    std::vector<Place> places_;
    std::vector<std::pair<std::string, std::string>> countries_;
    std::unique_ptr<Index> index_;
};

// UTF-8 text as the page's ISO 8859-1 HTML: reduced to Latin-1
// (names::ToLatin1), the letters of the plug-in's replacement table as their
// named entities, other Latin-1 characters as their bytes, markup characters
// escaped.
std::string ToPageText(const std::string& utf8);

}  // namespace gazetteer
