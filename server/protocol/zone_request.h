// Reading the plug-in's requests: the query of /plivors/client and the
// zone a map request asks for, checked.
#pragma once

#include <map>
#include <string>

namespace protocol {

using Query = std::map<std::string, std::string>;

Query ParseQuery(const std::string& query);
int ToInt(const std::string& s, int fallback);
bool ToNumber(const std::string& s, double& v);
// "mo=LAT,LON" in degrees.
bool Position(const Query& q, double& lat, double& lon);

// A map request, checked: sizes 0..4096 (0 meaning 1 pixel), level 1..13.
struct MapRequest {
    int width = 0, height = 0, level = 0;
    double lat = 0, lon = 0;
};
// Fills map or returns why the request is malformed.
std::string ReadMapRequest(const Query& q, MapRequest& map);

}  // namespace protocol
