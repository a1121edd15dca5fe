#include "server/protocol/zone_request.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "server/protocol/levels.h"

namespace protocol {

Query ParseQuery(const std::string& query) {
    Query fields;
    std::stringstream list(query);
    std::string item;
    while (std::getline(list, item, '&')) {
        size_t eq = item.find('=');
        fields[item.substr(0, eq)] = eq == std::string::npos ? "" : item.substr(eq + 1);
    }
    return fields;
}

int ToInt(const std::string& s, int fallback) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    return end != s.c_str() && *end == 0 && v >= -2147483647L && v <= 2147483647L ? static_cast<int>(v) : fallback;
}

bool ToNumber(const std::string& s, double& v) {
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end != s.c_str() && *end == 0 && std::isfinite(v);
}

bool Position(const Query& q, double& lat, double& lon) {
    auto mo = q.find("mo");
    if (mo == q.end()) return false;
    size_t comma = mo->second.find(',');
    if (comma == std::string::npos) return false;
    return ToNumber(mo->second.substr(0, comma), lat) && ToNumber(mo->second.substr(comma + 1), lon) &&
           lat >= -90 && lat <= 90 && lon >= -360 && lon <= 360;
}

std::string ReadMapRequest(const Query& q, MapRequest& map) {
    auto field = [&q](const char* name) { return q.count(name) ? q.at(name) : std::string(); };
    map.width = ToInt(field("width"), -1);
    map.height = ToInt(field("height"), -1);
    map.level = ToInt(field("scale"), -1);
    if (map.width < 0 || map.height < 0 || map.width > 4096 || map.height > 4096)
        return "width and height must be 0 to 4096";
    if (MetresPerPixel(map.level) == 0) return "scale must be 1 to 13";
    if (!Position(q, map.lat, map.lon)) return "mo must be LAT,LON in degrees";
    return "";
}

}  // namespace protocol
