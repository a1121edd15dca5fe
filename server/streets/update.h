// `plivors-server update [FILE.osc] --database URL`: OpenStreetMap changes
// applied to the imported data with osm2pgsql, from a change file or from a
// replication source, and the areas they touched recorded for the running
// servers, which draw those again and keep the rest.
#pragma once

#include <string>
#include <vector>

namespace streets {

// Where the areas each update touched are kept (schema public: a re-import
// swaps the data's schema, the numbering of updates goes on), and the
// channel the update names its number on.
constexpr const char* kExpiryTable = "public.plivors_expiry";
constexpr const char* kExpiryChannel = "plivors_expiry";

// Runs the update on its arguments (after the word "update"); the exit
// status. expireZoom: the web-Mercator zoom at whose tiles the touched
// areas are recorded.
int Update(const std::vector<std::string>& args, const std::string& defaultStyle, int expireZoom);
// `replication-init`: osm2pgsql-replication init for the imported data.
int ReplicationInit(const std::vector<std::string>& args);

const char* UpdateUsage();

}  // namespace streets
