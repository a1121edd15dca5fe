#include "server/page/operator_page.h"

#include <cstdio>

#include "server/http/requests.h"

namespace page {

extern const char kPageHtml[];  // index.html, compiled in

const std::string& PageHtml() {
    static const std::string html(kPageHtml);
    return html;
}

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

}  // namespace

std::string StatusJson(const Status& s) {
    const auto& c = s.cache;
    const auto& f = s.figures;
    const uint64_t asked = c.hits + c.misses;
    std::string json = "{";
    json += "\"version\":" + Quoted(PLIVORS_VERSION);
    json += ",\"style\":" + Quoted(s.style) + ",\"data\":" + Quoted(s.data);
    json += ",\"loaded\":true,\"places\":" + std::to_string(s.places);
    json += ",\"database\":" + Quoted(s.database);
    json += ",\"uptime_s\":" + Number(f.uptimeSeconds);
    json += ",\"connections\":" + std::to_string(s.connections);
    json += ",\"cache\":{\"bytes\":" + std::to_string(c.bytes) + ",\"capacity\":" + std::to_string(c.capacity) +
            ",\"entries\":" + std::to_string(c.entries) + ",\"hits\":" + std::to_string(c.hits) +
            ",\"misses\":" + std::to_string(c.misses) +
            ",\"hit_rate\":" + Number(asked > 0 ? static_cast<double>(c.hits) / asked : 0) + "}";
    json += ",\"requests\":{\"total\":" + std::to_string(f.requests) +
            ",\"last_minute\":" + std::to_string(f.requestsLastMinute) + "}";
    json += ",\"renders\":{\"count\":" + std::to_string(f.renders) + ",\"mean_ms\":" + Number(f.meanMs) +
            ",\"median_ms\":" + Number(f.medianMs) + ",\"p95_ms\":" + Number(f.p95Ms) +
            ",\"max_ms\":" + Number(f.maxMs) + "}";
    if (s.imported) {
        const streets::ImportRecord& i = *s.imported;
        char extent[160];
        std::snprintf(extent, sizeof extent, "[%.5f,%.5f,%.5f,%.5f]", i.west, i.south, i.east, i.north);
        json += ",\"streets\":{\"file\":" + Quoted(i.file) + ",\"imported\":" + Quoted(i.time) +
                ",\"extent\":" + extent + ",\"roads\":" + Quoted(i.roads) + ",\"buildings\":" + Quoted(i.buildings) +
                ",\"places\":" + Quoted(i.places) + ",\"addresses\":" + Quoted(i.addresses) + "}";
    }
    return json + "}\n";
}

std::string PlaceJson(const gazetteer::Place* place) {
    if (place == nullptr) return "{\"error\":\"no such place\"}\n";
    char position[80];
    std::snprintf(position, sizeof position, ",\"lat\":%.5f,\"lon\":%.5f", place->lat, place->lon);
    return "{\"name\":" + Quoted(place->name) + ",\"country\":" + Quoted(place->country) + position + "}\n";
}

bool ReadLeaflet(const std::string& folder, const std::string& name, std::string& content, std::string& type) {
    // Leaflet's own names only: a file, or an image of images/.
    std::string file = name;
    if (file.compare(0, 7, "images/") == 0) file = file.substr(7);
    if (!requests::ReadDownload(name == file ? folder : folder + "/images", file, content)) return false;
    auto ends = [&file](const char* tail) {
        const std::string t = tail;
        return file.size() >= t.size() && file.compare(file.size() - t.size(), t.size(), t) == 0;
    };
    type = ends(".js") ? "application/javascript" : ends(".css") ? "text/css" : ends(".png") ? "image/png"
         : ends(".svg") ? "image/svg+xml" : "application/octet-stream";
    return true;
}

}  // namespace page
