// `plivors-server import FILE --database URL`: an OpenStreetMap extract into
// PostGIS with osm2pgsql, swapped in whole or not at all.
#pragma once

#include <string>
#include <vector>

namespace streets {

// The schema the server draws from, and the one an import fills first.
constexpr const char* kLiveSchema = "osm";
constexpr const char* kImportSchema = "osm_import";
// One import or update at a time per database: an import drops the schema
// an update writes to. The key of the advisory lock that says so.
constexpr long long kImportLock = 7215001;

// Runs the import command on its arguments (after the word "import") and
// returns the process's exit status. defaultStyle is the osm2pgsql style
// file used unless --osm2pgsql-style names another.
int Import(const std::vector<std::string>& args, const std::string& defaultStyle);

const char* ImportUsage();

}  // namespace streets
