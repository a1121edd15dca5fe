// What a request target asks the map server for, read and checked without
// doing any of it: the service acts on the result, the fuzz target reads
// any bytes through it.
#pragma once

#include <string>

#include "server/protocol/zone_request.h"

namespace routes {

enum class Kind {
    Map,         // a zone of the plug-in's protocol (map)
    Place,       // a proximity page (lat, lon)
    Download,    // a descriptor file (name, percent-encoded as sent)
    Tile,        // an XYZ tile (z, x, y)
    Page,        // the operator's page
    Status,      // its figures as JSON
    Search,      // a place by name (name, decoded)
    Leaflet,     // a file of Leaflet (name)
    BadRequest,  // 400, why
    NotFound,    // 404, why
};

struct Route {
    Kind kind = Kind::NotFound;
    protocol::MapRequest map;
    double lat = 0, lon = 0;  // of a place
    double x = 0, y = 0, metresPerPixel = 0;  // Mercator centre and scale of a map or tile
    int z = 0, column = 0, row = 0;           // of a tile
    std::string name;
    std::string why;  // the text of a 400 or 404 page
};

Route Read(const std::string& target);

}  // namespace routes
