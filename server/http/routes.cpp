#include "server/http/routes.h"

#include <cmath>
#include <cstdio>

#include "server/files/folder_file.h"
#include "server/geo.h"
#include "server/protocol/levels.h"

namespace routes {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

Route Failure(Kind kind, const std::string& why) {
    Route r;
    r.kind = kind;
    r.why = why;
    return r;
}

Route Client(const std::string& query) {
    protocol::Query q = protocol::ParseQuery(query);
    auto cmd = q.find("cmd");
    Route r;
    if (cmd != q.end() && cmd->second == "map") {
        std::string why = protocol::ReadMapRequest(q, r.map);
        r.x = geo::MercatorX(r.map.lon);
        r.y = geo::MercatorY(r.map.lat);
        if (why.empty() && !(std::isfinite(r.x) && std::isfinite(r.y))) why = "mo lies outside the Mercator plane";
        if (!why.empty()) return Failure(Kind::BadRequest, why);
        r.kind = Kind::Map;
        r.metresPerPixel = protocol::MetresPerPixel(r.map.level);
        return r;
    }
    if (cmd != q.end() && cmd->second == "prox") {
        if (!protocol::Position(q, r.lat, r.lon)) return Failure(Kind::BadRequest, "mo must be LAT,LON in degrees");
        r.kind = Kind::Place;
        return r;
    }
    return Failure(Kind::BadRequest, "unknown cmd");
}

// z/x/y.png in the XYZ scheme: 256-pixel tiles of spherical Mercator, row 0
// at the top, levels 0 to 19; exactly as a tile client writes it.
Route Tile(const std::string& path) {
    Route r;
    char end[8] = {};
    const int read = std::sscanf(path.c_str(), "%3d/%7d/%7d%7s", &r.z, &r.column, &r.row, end);
    const bool inRange = read == 4 && r.z >= 0 && r.z <= 19 && r.column >= 0 && r.row >= 0 &&
                         r.column < (1 << r.z) && r.row < (1 << r.z);
    if (!inRange ||
        path != std::to_string(r.z) + "/" + std::to_string(r.column) + "/" + std::to_string(r.row) + ".png")
        return Failure(Kind::NotFound, "No such tile: /tiles/" + path);
    const double world = 2 * geo::kPi * geo::kRadius;
    r.kind = Kind::Tile;
    r.metresPerPixel = world / 256 / (1 << r.z);
    r.x = -world / 2 + (r.column + 0.5) * 256 * r.metresPerPixel;
    r.y = world / 2 - (r.row + 0.5) * 256 * r.metresPerPixel;
    return r;
}

}  // namespace

Route Read(const std::string& target) {
    const size_t question = target.find('?');
    const std::string path = target.substr(0, question);
    const std::string query = question == std::string::npos ? "" : target.substr(question + 1);
    const std::string downloads = "/download/plugins/", tiles = "/tiles/", leaflet = "/leaflet/";
    Route r;
    if (path == "/plivors/client") return Client(query);
    if (StartsWith(path, downloads)) {
        r.kind = Kind::Download;
        r.name = path.substr(downloads.size());
        r.why = "No such file: " + path;
    } else if (StartsWith(path, tiles)) {
        return Tile(path.substr(tiles.size()));
    } else if (path == "/") {
        r.kind = Kind::Page;
    } else if (path == "/status.json") {
        r.kind = Kind::Status;
    } else if (path == "/search") {
        protocol::Query q = protocol::ParseQuery(query);
        r.kind = Kind::Search;
        r.name = q.count("q") ? q.at("q") : "";
        for (char& c : r.name)
            if (c == '+') c = ' ';
        r.name = files::DecodePercent(r.name);
    } else if (StartsWith(path, leaflet)) {
        r.kind = Kind::Leaflet;
        r.name = path.substr(leaflet.size());
        r.why = "No such page: " + path;
    } else {
        r.why = "No such page: " + path;
    }
    return r;
}

}  // namespace routes
