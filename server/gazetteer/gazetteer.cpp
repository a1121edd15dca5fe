#include "server/gazetteer/gazetteer.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <tuple>
#include <cctype>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "server/geo.h"
#include "server/names/latin_names.h"

namespace gazetteer {

// Places as points on the unit sphere: the straight-line (chord) distance
// orders them as the great-circle distance does, with no trouble at the
// date line or the poles.
struct Gazetteer::Index {
    std::vector<double> xyz;
    size_t kdtree_get_point_count() const { return xyz.size() / 3; }
    double kdtree_get_pt(size_t i, size_t dim) const { return xyz[3 * i + dim]; }
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
    using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Index>, Index, 3>;
    std::unique_ptr<Tree> tree;
};

namespace {

void UnitVector(double lat, double lon, double out[3]) {
    const double r = geo::kPi / 180.0;
    out[0] = std::cos(lat * r) * std::cos(lon * r);
    out[1] = std::cos(lat * r) * std::sin(lon * r);
    out[2] = std::sin(lat * r);
}

std::vector<std::vector<std::string>> ReadTable(const std::string& file, size_t columns) {
    std::ifstream in(file);
    if (!in) throw std::runtime_error("cannot read " + file);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::vector<std::string> row;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) row.push_back(field);
        if (row.size() != columns) throw std::runtime_error(file + " has a broken line: " + line);
        rows.push_back(std::move(row));
    }
    return rows;
}

// Eight compass points, from north clockwise, as "al ... de".
const char* Direction(double bearingDegrees) {
    static const char* kNames[8] = {"norte", "noreste", "este", "sureste", "sur", "suroeste", "oeste", "noroeste"};
    int sector = static_cast<int>(std::floor(std::fmod(bearingDegrees + 360.0 + 22.5, 360.0) / 45.0)) % 8;
    return kNames[sector];
}

// Initial bearing from the place towards the position, degrees from north.
double Bearing(double fromLat, double fromLon, double toLat, double toLon) {
    const double r = geo::kPi / 180.0;
    double dl = (toLon - fromLon) * r;
    double y = std::sin(dl) * std::cos(toLat * r);
    double x = std::cos(fromLat * r) * std::sin(toLat * r) - std::sin(fromLat * r) * std::cos(toLat * r) * std::cos(dl);
    return std::atan2(y, x) / r;
}

}  // namespace

Gazetteer::Gazetteer(const std::string& dataDir) : index_(std::make_unique<Index>()) {
    for (auto& row : ReadTable(dataDir + "/countries.tsv", 2)) countries_.emplace_back(row[0], row[1]);
    std::sort(countries_.begin(), countries_.end());
    for (auto& row : ReadTable(dataDir + "/places.tsv", 5)) {
        // GeoNames' name as it is, through the same chain as the streets'.
        names::Names n;
        n.name = row[4];
        n.language = names::CountryLanguage(row[3]);
        Place p{std::atof(row[0].c_str()), std::atof(row[1].c_str()), std::atol(row[2].c_str()), row[3],
                names::ToLatin1(names::LatinName(n))};
        if (p.name.empty()) continue;
        places_.push_back(std::move(p));
    }
    if (places_.empty()) throw std::runtime_error(dataDir + "/places.tsv holds no places");
    index_->xyz.resize(places_.size() * 3);
    for (size_t i = 0; i < places_.size(); ++i) UnitVector(places_[i].lat, places_[i].lon, &index_->xyz[3 * i]);
    index_->tree = std::make_unique<Index::Tree>(3, *index_, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    index_->tree->buildIndex();
}

Gazetteer::~Gazetteer() = default;

Nearest Gazetteer::Find(double lat, double lon) const {
    double query[3];
    UnitVector(lat, lon, query);
    uint32_t best = 0;
    double squared = 0;
    index_->tree->knnSearch(query, 1, &best, &squared);
    Nearest n;
    n.place = &places_[best];
    n.metres = geo::Distance(lat, lon, n.place->lat, n.place->lon);
    return n;
}

std::string Gazetteer::Phrase(double lat, double lon, bool atSea) const {
    Nearest n = Find(lat, lon);
    const Place& p = *n.place;
    auto country = std::lower_bound(countries_.begin(), countries_.end(), std::make_pair(p.country, std::string()));
    std::string where = p.name;
    if (country != countries_.end() && country->first == p.country) where += ", " + country->second;
    std::string text;
    if (n.metres > 1000) {
        char distance[64];
        std::snprintf(distance, sizeof distance, "a %.0f km al %s de ", n.metres / 1000,
                      Direction(Bearing(p.lat, p.lon, lat, lon)));
        text = distance + where;
    } else {
        text = atSea ? "junto a " + where : where;
    }
    if (atSea) text = "en el mar, " + text;
    return ToPageText(text);
}

std::string ToPageText(const std::string& utf8) {
    // The plug-in's table: these letters travel as named entities.
    static const char* kEntities[256] = {};
    static const bool ready = [] {
        const char* upper[] = {"Agrave", "Aacute", "Acirc", nullptr, "Auml", nullptr, nullptr, nullptr,
                               "Egrave", "Eacute", "Ecirc", "Euml",  "Igrave", "Iacute", "Icirc", "Iuml",
                               nullptr,  "Ntilde", "Ograve", "Oacute", "Ocirc", nullptr, "Ouml", nullptr,
                               nullptr,  "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", nullptr, "szlig"};
        const char* lower[] = {"agrave", "aacute", "acirc", nullptr, "auml", nullptr, nullptr, nullptr,
                               "egrave", "eacute", "ecirc", "euml",  "igrave", "iacute", "icirc", "iuml",
                               nullptr,  "ntilde", "ograve", "oacute", "ocirc", nullptr, "ouml", nullptr,
                               nullptr,  "ugrave", "uacute", "ucirc", "uuml", "yacute", nullptr, "yuml"};
        for (int i = 0; i < 32; ++i) {
            kEntities[0xC0 + i] = upper[i];
            kEntities[0xE0 + i] = lower[i];
        }
        return true;
    }();
    (void)ready;
    const std::string latin1 = names::ToLatin1(utf8);
    std::string out;
    for (size_t i = 0; i < latin1.size(); ++i) {
        unsigned c = static_cast<unsigned char>(latin1[i]);
        if ((c == 0xC2 || c == 0xC3) && i + 1 < latin1.size())
            c = ((c & 0x1F) << 6) | (static_cast<unsigned char>(latin1[++i]) & 0x3F);
        if (kEntities[c] != nullptr) out += std::string("&") + kEntities[c] + ";";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == 0xA0) out += "&nbsp;";
        else out += static_cast<char>(c);
    }
    return out;
}

const Place* Gazetteer::Search(const std::string& name) const {
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    const std::string wanted = lower(name);
    if (wanted.empty()) return nullptr;
    const Place *exact = nullptr, *prefix = nullptr;
    for (const Place& p : places_) {
        const std::string n = lower(p.name);
        if (n == wanted && (exact == nullptr || p.population > exact->population)) exact = &p;
        if (n.compare(0, wanted.size(), wanted) == 0 && (prefix == nullptr || p.population > prefix->population))
            prefix = &p;
    }
    return exact != nullptr ? exact : prefix;
}

std::vector<const Place*> Gazetteer::Largest(size_t n) const {
    std::vector<const Place*> all;
    for (const Place& p : places_) all.push_back(&p);
    n = std::min(n, all.size());
    // Ties by name and position: the same places whatever the file's order.
    std::partial_sort(all.begin(), all.begin() + static_cast<long>(n), all.end(), [](const Place* a, const Place* b) {
        if (a->population != b->population) return a->population > b->population;
        return std::tie(a->name, a->lat, a->lon) < std::tie(b->name, b->lat, b->lon);
    });
    all.resize(n);
    return all;
}

}  // namespace gazetteer
