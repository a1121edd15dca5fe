#include "server/streets/street_maps.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "server/streets/import.h"

namespace streets {

bool ReadLabels(const std::string& word, Labels& labels) {
    if (word == "both") labels = Labels::Both;
    else if (word == "latin") labels = Labels::Latin;
    else if (word == "local") labels = Labels::Local;
    else return false;
    return true;
}

StreetMaps SetUp(const std::string& url, bool ownStyle, const std::string& streetStyle, Labels labels) {
    StreetMaps s;
    try {
        for (const auto& w : database::ParseUrl(url))
            if (w.first == "host" || w.first == "hostaddr" || w.first == "port" || w.first == "dbname" ||
                w.first == "user" || w.first == "password" || w.first == "connect_timeout")
                s.postgis[w.first] = w.second;
    } catch (const std::invalid_argument& e) {
        throw std::runtime_error(e.what());
    }
    if (s.postgis.count("connect_timeout") == 0) s.postgis["connect_timeout"] = "4";
    if (!ownStyle) {
        struct stat st;
        if (stat(streetStyle.c_str(), &st) != 0)
            throw std::runtime_error("no street style " + streetStyle + " (build the server first)");
        // The style's label queries choose by this constant.
        const char* chosen = labels == Labels::Latin ? "'labels=latin'" : labels == Labels::Local ? "'labels=local'"
                                                                                                   : "'labels=both'";
        s.styles.push_back({streetStyle, streetStyle.substr(0, streetStyle.rfind('/')), {{"'labels=both'", chosen}}});
    }
    s.db = std::make_unique<database::Database>(url);
    if (!s.db->Reachable()) {
        s.lazy = true;
        std::fprintf(stderr, "plivors-server: the database %s is not reachable; maps answer 503 until it is\n",
                     database::Printable(url).c_str());
        return s;
    }
    if (ownStyle) return s;
    // Reachable but never imported into: say so, rather than Mapnik's word
    // on a missing table.
    try {
        database::Connection c = database::Connect(url);
        database::Result r = database::Execute(
            c.get(), std::string("SELECT to_regclass('") + kLiveSchema + ".planet_osm_line') IS NOT NULL, "
                     "EXISTS (SELECT 1 FROM information_schema.columns WHERE table_schema = '" + kLiveSchema +
                     "' AND table_name = 'planet_osm_line' AND column_name = 'name_latin'), "
                     "to_regclass('" + kLiveSchema + ".named_streets') IS NOT NULL");
        if (PQgetvalue(r.get(), 0, 0)[0] != 't')
            throw std::runtime_error("the database " + database::Printable(url) +
                                     " holds no imported street data (plivors-server import FILE.osm.pbf --database URL)");
        if (PQgetvalue(r.get(), 0, 1)[0] != 't')
            throw std::runtime_error("the street data of " + database::Printable(url) +
                                     " was imported without Latin names: import it again");
        if (PQgetvalue(r.get(), 0, 2)[0] != 't')
            throw std::runtime_error("the street data of " + database::Printable(url) +
                                     " was imported without its streets' merged names: import it again");
    } catch (const database::Unavailable&) {
        s.lazy = true;  // gone again since the ping: the workers retry
    }
    return s;
}

std::string ImportName(database::Database& db) {
    database::Result r = db.Query("SELECT oid FROM pg_namespace WHERE nspname = $1", {kLiveSchema});
    return PQntuples(r.get()) == 1 ? std::string("import") + PQgetvalue(r.get(), 0, 0) : std::string("none");
}

std::vector<std::pair<double, double>> StreetSamples(database::Database& db, int count) {
    // Every n-th main street in id order: extracts get ids of their own
    // ranges, so each is sampled, and the same data gives the same points.
    const std::string n = std::to_string(count);
    database::Result r = db.Query(
        "SELECT ST_X(p), ST_Y(p) FROM (SELECT ST_LineInterpolatePoint(way, 0.5) AS p, row_number() OVER (ORDER BY osm_id)"
        " AS i, count(*) OVER () AS total FROM " + std::string(kLiveSchema) +
            ".planet_osm_line WHERE highway IN ('primary', 'secondary', 'tertiary') AND GeometryType(way) = 'LINESTRING')"
            " AS roads WHERE (i - 1) % greatest(total / " + n + ", 1) = total / " + n + " / 2 ORDER BY i LIMIT " + n,
        {});
    std::vector<std::pair<double, double>> points;
    for (int row = 0; row < PQntuples(r.get()); ++row)
        points.emplace_back(std::atof(PQgetvalue(r.get(), row, 0)), std::atof(PQgetvalue(r.get(), row, 1)));
    return points;
}

}  // namespace streets
