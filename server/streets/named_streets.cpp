#include "server/streets/named_streets.h"

#include <cstdlib>

#include "server/database/database.h"

namespace streets {
namespace {

using database::Execute;

// The merged streets of schema's lines, of the names that pass `names`.
std::string Merged(const std::string& schema, const std::string& names) {
    return "SELECT name, name_latin, kind, ST_LineMerge(ST_Collect(way ORDER BY osm_id)) AS way FROM\n"
           " (SELECT way, osm_id, name, name_latin, CASE\n"
           "    WHEN highway IN ('motorway', 'trunk', 'primary') THEN 'major'\n"
           "    WHEN highway IN ('secondary', 'tertiary') THEN 'middle'\n"
           "    ELSE 'minor' END AS kind\n"
           "  FROM " + schema + ".planet_osm_line\n"
           "  WHERE name IS NOT NULL AND highway IN ('motorway', 'trunk', 'primary', 'secondary', 'tertiary',\n"
           "    'residential', 'unclassified', 'living_street', 'pedestrian', 'road', 'service')" + names +
           ") AS named\n"
           "GROUP BY name, name_latin, kind";
}

std::string IntArray(const std::set<Tile>& tiles, int part) {
    std::string s = "{";
    for (const Tile& t : tiles) {
        if (s.size() > 1) s += ',';
        s += std::to_string(part == 0 ? std::get<0>(t) : part == 1 ? std::get<1>(t) : std::get<2>(t));
    }
    return s + "}";
}

// In the caller's transaction: the names met in touched merged again; the
// tiles of the pieces of street that changed.
std::set<Tile> Remerge(PGconn* c, const std::string& schema, const std::string& table, const std::set<Tile>& touched,
                       int zoom) {
    Execute(c, "CREATE TEMP TABLE touched_names ON COMMIT DROP AS\n"
               "WITH area AS (SELECT ST_TileEnvelope(z, x, y) AS box FROM unnest($1::int[], $2::int[], $3::int[])"
               " AS t(z, x, y))\n"
               "SELECT n.name FROM " + table + " n JOIN area ON n.way && area.box\n"
               "UNION SELECT l.name FROM " + schema + ".planet_osm_line l JOIN area ON l.way && area.box"
               " WHERE l.name IS NOT NULL",
            {IntArray(touched, 0), IntArray(touched, 1), IntArray(touched, 2)});
    Execute(c, "CREATE TEMP TABLE old_streets ON COMMIT DROP AS SELECT * FROM " + table +
                   " WHERE name IN (SELECT name FROM touched_names)");
    Execute(c, "DELETE FROM " + table + " WHERE name IN (SELECT name FROM touched_names)");
    Execute(c, "INSERT INTO " + table + " " + Merged(schema, " AND name IN (SELECT name FROM touched_names)"));
    // The pieces of street found on one side only, old or new, as tiles.
    const database::Result tiles = Execute(
        c, "WITH old AS (SELECT name, (ST_Dump(way)).geom AS g FROM old_streets),\n"
           " new AS (SELECT name, (ST_Dump(way)).geom AS g FROM " + table +
               " WHERE name IN (SELECT name FROM touched_names)),\n"
           " moved AS (SELECT g FROM old WHERE NOT EXISTS (SELECT 1 FROM new WHERE new.name = old.name AND new.g = old.g)\n"
           "  UNION ALL SELECT g FROM new WHERE NOT EXISTS (SELECT 1 FROM old WHERE old.name = new.name AND old.g = new.g)),\n"
           " size AS (SELECT 40075016.68557849 / 2 ^ $1::int AS s, 20037508.342789244 AS half)\n"
           "SELECT DISTINCT x, y FROM moved, size,\n"
           " generate_series(floor((ST_XMin(g) + half) / s)::int, floor((ST_XMax(g) + half) / s)::int) x,\n"
           " generate_series(floor((half - ST_YMax(g)) / s)::int, floor((half - ST_YMin(g)) / s)::int) y",
        {std::to_string(zoom)});
    std::set<Tile> changed;
    for (int i = 0; i < PQntuples(tiles.get()); ++i)
        changed.emplace(zoom, std::atoi(PQgetvalue(tiles.get(), i, 0)), std::atoi(PQgetvalue(tiles.get(), i, 1)));
    return changed;
}

}  // namespace

void MakeNamedStreets(PGconn* c, const std::string& schema) {
    Execute(c, "CREATE TABLE " + schema + ".named_streets AS\n" + Merged(schema, ""));
    Execute(c, "CREATE INDEX ON " + schema + ".named_streets USING gist (way)");
}

std::set<Tile> MergeTouchedStreets(PGconn* c, const std::string& schema, const std::set<Tile>& touched, int zoom) {
    std::set<Tile> changed;
    if (touched.empty()) return changed;
    const std::string table = schema + ".named_streets";
    if (PQgetvalue(Execute(c, "SELECT to_regclass($1) IS NOT NULL", {table}).get(), 0, 0)[0] != 't') return changed;
    Execute(c, "BEGIN");
    try {
        changed = Remerge(c, schema, table, touched, zoom);
    } catch (...) {
        PQclear(PQexec(c, "ROLLBACK"));
        throw;
    }
    Execute(c, "COMMIT");
    return changed;
}

}  // namespace streets
