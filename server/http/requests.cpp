#include "server/http/requests.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "server/geo.h"
#include "server/markup.h"

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

std::string Escape(const std::string& text) { return markup::Escaped(text); }

std::string DecodePercent(const std::string& text) {
    auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        int high = -1, low = -1;
        if (text[i] == '%' && i + 2 < text.size() && (high = hex(text[i + 1])) >= 0 && (low = hex(text[i + 2])) >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool ReadDownload(const std::string& folder, const std::string& name, std::string& content, FileStamp* stamp) {
    std::string file = DecodePercent(name);
    // A control character (an encoded NUL above all, which would end the
    // name the system sees) names no file of ours.
    bool safe = !file.empty() && file.find('/') == std::string::npos && file.find('\\') == std::string::npos &&
                file != "." && file != "..";
    for (unsigned char c : file) safe = safe && c >= 0x20 && c != 0x7f;
    if (!safe || folder.empty()) return false;
    const std::string path = folder + "/" + file;
    struct stat s;
    if (stat(path.c_str(), &s) != 0 || !S_ISREG(s.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return false;
    std::ostringstream all;
    all << in.rdbuf();
    content = all.str();
    if (stamp != nullptr) {
        stamp->modified = s.st_mtim.tv_sec;
        stamp->etag = "\"" + std::to_string(s.st_size) + "-" + std::to_string(s.st_mtim.tv_sec) + "." +
                      std::to_string(s.st_mtim.tv_nsec) + "-" + std::to_string(s.st_ino) + "\"";
    }
    return true;
}

}  // namespace requests
