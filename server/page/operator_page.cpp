#include "server/page/operator_page.h"

#include <cstdio>

#include "server/files/folder_file.h"
#include "server/markup.h"

namespace page {

extern const char kPageHtml[];  // index.html, compiled in

const std::string& PageHtml() {
    static const std::string html(kPageHtml);
    return html;
}


std::string PlaceJson(const gazetteer::Place* place) {
    if (place == nullptr) return "{\"error\":\"no such place\"}\n";
    char position[80];
    std::snprintf(position, sizeof position, ",\"lat\":%.5f,\"lon\":%.5f", place->lat, place->lon);
    return "{\"name\":" + markup::JsonQuoted(place->name) + ",\"country\":" + markup::JsonQuoted(place->country) + position + "}\n";
}

bool ReadLeaflet(const std::string& folder, const std::string& name, std::string& content, std::string& type) {
    // Leaflet's own names only: a file, or an image of images/.
    std::string file = name;
    if (file.compare(0, 7, "images/") == 0) file = file.substr(7);
    if (!files::ReadDownload(name == file ? folder : folder + "/images", file, content)) return false;
    auto ends = [&file](const char* tail) {
        const std::string t = tail;
        return file.size() >= t.size() && file.compare(file.size() - t.size(), t.size(), t) == 0;
    };
    type = ends(".js") ? "application/javascript" : ends(".css") ? "text/css" : ends(".png") ? "image/png"
         : ends(".svg") ? "image/svg+xml" : "application/octet-stream";
    return true;
}

}  // namespace page
