// Each street's name over the whole street: its ways merged into one line
// per name and kind of road, so that a label along a street is placed the
// same in every block that shows it, and a block reads the streets it
// touches by their index instead of merging every street whose name it meets.
#pragma once

#include <libpq-fe.h>

#include <set>
#include <string>
#include <tuple>

namespace streets {

using Tile = std::tuple<int, int, int>;  // zoom, x, y of a web Mercator tile

// The table in schema, made anew from its lines (an import).
void MakeNamedStreets(PGconn* c, const std::string& schema);

// After an update touched tiles: the streets of every name met there merged
// again. A street's merged line decides where its labels stand along all of
// it, so the tiles (at zoom) of each piece of street that changed, wherever
// it lies, are returned to be drawn again beside those touched.
std::set<Tile> MergeTouchedStreets(PGconn* c, const std::string& schema, const std::set<Tile>& touched, int zoom);

}  // namespace streets
