#include "server/streets/latin_column.h"

#include <cstdio>
#include <string>
#include <vector>

#include "server/database/database.h"
#include "server/names/latin_names.h"

namespace streets {
namespace {

using database::Execute;

// Features whose Latin form may differ from their name: a Spanish name, or a
// character beyond the Latin letters of Latin-1 and Latin Extended-A/B (the
// chain then decides). The language is the one of a name:xx repeating name.
const char* kCandidates = R"SQL(
SELECT DISTINCT osm_id, name, tags->'name:es', tags->'int_name', tags->'name:en', tags->'name:fr',
       tags->'name:pt', tags->'name:it', tags->'name:de',
       (SELECT substr(key, 6) FROM each(tags) WHERE key ~ '^name:[a-z]{2,3}$' AND value = name LIMIT 1)
FROM %s WHERE name IS NOT NULL AND (tags ? 'name:es' OR name ~ '[^\x01-\u024F]')%s
)SQL";

// A PostgreSQL array literal of texts.
std::string ArrayOf(const std::vector<std::string>& items) {
    std::string out = "{";
    for (const std::string& item : items) {
        if (out.size() > 1) out += ',';
        out += '"';
        for (char ch : item) {
            if (ch == '"' || ch == '\\') out += '\\';
            out += ch;
        }
        out += '"';
    }
    return out + "}";
}

void Flush(PGconn* c, const std::string& table, std::vector<std::string>& ids, std::vector<std::string>& latin) {
    if (ids.empty()) return;
    Execute(c, "UPDATE " + table + " t SET name_latin = v.latin FROM unnest($1::bigint[], $2::text[]) AS v(id, latin)"
               " WHERE t.osm_id = v.id", {ArrayOf(ids), ArrayOf(latin)});
    ids.clear();
    latin.clear();
}

void FillTable(PGconn* c, const std::string& table, bool added, LatinColumnCount& count) {
    if (!added) Execute(c, "ALTER TABLE " + table + " ADD COLUMN name_latin text");
    char sql[1024];
    std::snprintf(sql, sizeof sql, kCandidates, table.c_str(), added ? " AND name_latin IS NULL" : "");
    database::Result rows;
    try {
        rows = Execute(c, sql);
    } catch (const database::StatementFailed& e) {
        std::fprintf(stderr, "plivors-server import: no Latin names in %s (%s)\n", table.c_str(), e.what());
        return;
    }
    std::vector<std::string> ids, latin;
    for (int i = 0; i < PQntuples(rows.get()); ++i) {
        auto text = [&](int column) { return std::string(PQgetvalue(rows.get(), i, column)); };
        names::Names n{text(1), text(2), text(3), text(4), text(5), text(6), text(7), text(8), text(9)};
        const std::string form = names::LatinName(n);
        ++count.named;
        if (form.empty() || form == n.name) continue;
        ids.push_back(text(0));
        latin.push_back(form);
        ++count.written;
        if (ids.size() >= 5000) Flush(c, table, ids, latin);
    }
    Flush(c, table, ids, latin);
}

}  // namespace

LatinColumnCount WriteLatinNames(PGconn* c, const std::string& schema) {
    LatinColumnCount count;
    for (const char* table : {"planet_osm_point", "planet_osm_line", "planet_osm_polygon"}) {
        std::string name = schema + "." + table;
        FillTable(c, name, false, count);
    }
    return count;
}

LatinColumnCount UpdateLatinNames(PGconn* c, const std::string& schema) {
    LatinColumnCount count;
    for (const char* table : {"planet_osm_point", "planet_osm_line", "planet_osm_polygon"})
        FillTable(c, schema + "." + table, true, count);
    return count;
}

}  // namespace streets
