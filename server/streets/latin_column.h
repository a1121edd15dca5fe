// The import's Latin names: each named feature's name as a reader of Latin
// script wants it (names::LatinName), written once into the column
// `name_latin` of the imported tables, which the street style's labels and
// the place names read. NULL where the name itself is that form.
#pragma once

#include <libpq-fe.h>

#include <string>

namespace streets {

struct LatinColumnCount {
    long named = 0, written = 0;  // features looked at, Latin forms written
};

// Adds and fills name_latin in the schema's point, line and polygon tables.
// Throws database::Failure; a table without the name and tags columns
// (another osm2pgsql style) gets an empty column.
LatinColumnCount WriteLatinNames(PGconn* c, const std::string& schema);
// After osm2pgsql appended changes: the rows it wrote come without a Latin
// form (it deletes a changed feature's rows and writes them anew), and get
// theirs. Rows whose name is its own Latin form are looked at again, as
// they hold NULL too.
LatinColumnCount UpdateLatinNames(PGconn* c, const std::string& schema);

}  // namespace streets
