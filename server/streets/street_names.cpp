#include "server/streets/street_names.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "server/geo.h"
#include "server/names/latin_names.h"

namespace streets {
namespace {

// $1, $2: the position in Mercator metres; $3: Mercator metres per metre on
// the ground there. Each part orders by <-> on a partial spatial index that
// the import makes, so that a lookup reads a handful of index pages.
const char* kLookup = R"SQL(
WITH street AS (
  SELECT l.name, coalesce(l.name_latin, l.name) AS latin, ST_Distance(l.way, ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 3857)) / $3::float8 AS metres
  FROM osm.planet_osm_line l
  WHERE l.highway IS NOT NULL AND l.name IS NOT NULL
  ORDER BY l.way <-> ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 3857) LIMIT 1)
SELECT street.latin, street.metres,
  (SELECT p."addr:housenumber" FROM osm.planet_osm_point p
    WHERE p."addr:housenumber" IS NOT NULL AND (p."addr:street" IS NULL OR p."addr:street" = street.name)
      AND ST_DWithin(p.way, ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 3857), 30 * $3::float8)
    ORDER BY p.way <-> ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 3857) LIMIT 1),
  coalesce(
    (SELECT coalesce(a.name_latin, a.name) FROM osm.planet_osm_polygon a
      WHERE (a.place IN ('suburb', 'neighbourhood', 'quarter') OR a.boundary = 'administrative' AND a.admin_level IN ('9', '10'))
        AND a.name IS NOT NULL AND ST_Contains(a.way, ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 3857))
      ORDER BY a.way_area LIMIT 1),
    (SELECT coalesce(n.name_latin, n.name) FROM osm.planet_osm_point n
      WHERE n.place IN ('suburb', 'neighbourhood', 'quarter') AND n.name IS NOT NULL
        AND ST_DWithin(n.way, ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 3857), 1500 * $3::float8)
      ORDER BY n.way <-> ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 3857) LIMIT 1)),
  (SELECT coalesce(t.name_latin, t.name) FROM osm.planet_osm_point t
    WHERE t.place IN ('city', 'town', 'village') AND t.name IS NOT NULL
      AND ST_DWithin(t.way, ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 3857), 15000 * $3::float8)
    ORDER BY t.way <-> ST_SetSRID(ST_MakePoint($1::float8, $2::float8), 3857) LIMIT 1)
FROM street WHERE street.metres <= 100
)SQL";

// Letters as the plug-in counts them: one byte each once the page's
// entities are read (UTF-8 continuation bytes do not count).
size_t Letters(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

std::string CutToLetters(const std::string& utf8, size_t letters) {
    size_t n = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && ++n > letters) return utf8.substr(0, i);
    }
    return utf8;
}

}  // namespace

std::string Words(const StreetPlace& p) {
    const size_t kRoom = 255;
    std::vector<std::string> parts = {p.number.empty() ? p.street : p.street + " " + p.number};
    if (!p.area.empty() && p.area != p.town) parts.push_back(p.area);
    if (!p.town.empty()) parts.push_back(p.town);
    std::string text;
    for (;;) {
        text.clear();
        for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
        if (Letters(text) <= kRoom || parts.size() == 1) break;
        parts.pop_back();
    }
    return CutToLetters(text, kRoom);
}

std::optional<StreetPlace> StreetNames::Find(double lat, double lon) const {
    char x[32], y[32], k[32];
    std::snprintf(x, sizeof x, "%.3f", geo::MercatorX(lon));
    std::snprintf(y, sizeof y, "%.3f", geo::MercatorY(lat));
    std::snprintf(k, sizeof k, "%.9f", 1.0 / std::cos(lat * geo::kPi / 180.0));
    database::Result r = db_.Query(kLookup, {x, y, k});
    if (PQntuples(r.get()) == 0) return std::nullopt;
    auto text = [&](int column) { return std::string(PQgetvalue(r.get(), 0, column)); };
    StreetPlace p;
    p.street = text(0);
    p.metres = std::atof(PQgetvalue(r.get(), 0, 1));
    p.number = text(2);
    p.area = text(3);
    p.town = text(4);
    if (p.town.empty()) {
        // Extracts cut from a bigger region may lack the town's own node.
        gazetteer::Nearest n = places_.Find(lat, lon);
        if (n.place != nullptr && n.metres < 20000) p.town = n.place->name;
    }
    return p;
}

std::optional<std::string> StreetNames::Phrase(double lat, double lon) const {
    std::optional<StreetPlace> p = Find(lat, lon);
    if (!p) return std::nullopt;
    // Reduced before the parts are measured: a letter beyond Latin-1 may
    // become two (Œ, OE).
    for (std::string* part : {&p->street, &p->number, &p->area, &p->town}) *part = names::ToLatin1(*part);
    return gazetteer::ToPageText(Words(*p));
}

}  // namespace streets
