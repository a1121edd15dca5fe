// What --database adds to the map server: the connection that every PostGIS
// layer takes, the street style drawn over the world map (unless the
// operator's own style draws alone), and the database for place names and
// for telling whether it is reachable.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server/database/database.h"
#include "server/render/renderer.h"

namespace streets {

struct StreetMaps {
    render::PostgisConnection postgis;
    std::vector<render::StyleFile> styles;  // drawn over the first style
    std::unique_ptr<database::Database> db;
    bool lazy = false;                      // unreachable at start: the render workers load when it is back
};

// What the street style's labels show: the local name with its Latin form
// beneath where the local one is in another script, the Latin form alone,
// or the local name alone.
enum class Labels { Both, Latin, Local };
// "both", "latin" or "local"; false for anything else.
bool ReadLabels(const std::string& word, Labels& labels);

// Checks the URL and, when the database answers, that it holds imported
// data (for the street style). Throws std::runtime_error with the message
// for the operator.
StreetMaps SetUp(const std::string& url, bool ownStyle, const std::string& streetStyle, Labels labels = Labels::Both);

// The name of the import being served: each import swaps in a new schema,
// with an identity of its own. Throws database::Unavailable.
std::string ImportName(database::Database& db);
// Points on main streets spread over the imported data (several extracts
// imported together each get theirs), in Mercator metres; none when there
// are no streets.
std::vector<std::pair<double, double>> StreetSamples(database::Database& db, int count);

}  // namespace streets
