#include "server/http/requests.h"

#include <httplib.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "server/geo.h"

namespace requests {

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
    if (geo::MetresPerPixel(map.level) == 0) return "scale must be 1 to 13";
    if (!Position(q, map.lat, map.lon)) return "mo must be LAT,LON in degrees";
    return "";
}

std::string HtmlPage(int status, const std::string& title, const std::string& text) {
    return "<html><head><title>" + std::to_string(status) + " " + title + "</title></head><body><h1>" + title +
           "</h1><p>" + text + "</p></body></html>\n";
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

bool ReadDownload(const std::string& folder, const std::string& name, std::string& content) {
    std::string file = httplib::detail::decode_url(name, false);
    bool safe = !file.empty() && file.find('/') == std::string::npos && file.find('\\') == std::string::npos &&
                file != "." && file != "..";
    if (!safe || folder.empty()) return false;
    std::ifstream in(folder + "/" + file, std::ios::binary);
    if (!in.is_open()) return false;
    std::ostringstream all;
    all << in.rdbuf();
    content = all.str();
    return true;
}

}  // namespace requests
