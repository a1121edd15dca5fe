#include "server/streets/import_record.h"

#include <cstdlib>

#include "server/streets/import.h"

namespace streets {

void WriteImportRecord(PGconn* c, const std::string& schema, const ImportRecord& counts) {
    const std::string table = schema + ".plivors_import";
    database::Execute(c, "CREATE TABLE " + table +
                             " (file text, imported timestamptz, west float8, south float8, east float8, north float8,"
                             " roads text, buildings text, places text, addresses text)");
    database::Execute(c,
        "INSERT INTO " + table + " SELECT $1, now(), ST_XMin(e), ST_YMin(e), ST_XMax(e), ST_YMax(e), $2, $3, $4, $5 "
        "FROM (SELECT ST_Transform(ST_SetSRID(ST_Extent(way), 3857), 4326) AS e FROM ("
        "SELECT way FROM " + schema + ".planet_osm_point UNION ALL SELECT way FROM " + schema + ".planet_osm_line "
        "UNION ALL SELECT way FROM " + schema + ".planet_osm_polygon) AS everything) AS extent",
        {counts.file, counts.roads, counts.buildings, counts.places, counts.addresses});
}

std::optional<ImportRecord> ReadImportRecord(database::Database& db) {
    database::Result r = db.Query(
        std::string("SELECT to_regclass('") + kLiveSchema + ".plivors_import') IS NOT NULL", {});
    if (PQgetvalue(r.get(), 0, 0)[0] != 't') return std::nullopt;
    r = db.Query(std::string("SELECT file, to_char(imported AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), "
                             "west, south, east, north, roads, buildings, places, addresses FROM ") +
                     kLiveSchema + ".plivors_import LIMIT 1",
                 {});
    if (PQntuples(r.get()) == 0) return std::nullopt;
    auto text = [&](int column) { return std::string(PQgetvalue(r.get(), 0, column)); };
    auto number = [&](int column) { return std::atof(PQgetvalue(r.get(), 0, column)); };
    ImportRecord record{text(0), text(1), number(2), number(3), number(4), number(5), text(6), text(7), text(8), text(9)};
    return record;
}

}  // namespace streets
