// The operator's page: a slippy map of the server's own tiles over Leaflet
// (Debian's libjs-leaflet, served by the server itself), a place search and
// a status panel (whose JSON is server/http/status_json.h).
#pragma once

#include <cstddef>
#include <string>

#include "server/gazetteer/gazetteer.h"

namespace page {

const std::string& PageHtml();

// {"name":..,"country":..,"lat":..,"lon":..}, or {"error":..} without a place.
std::string PlaceJson(const gazetteer::Place* place);

// A file of Leaflet's folder (script, style sheet, marker images) with its
// type; false for names outside it.
bool ReadLeaflet(const std::string& folder, const std::string& name, std::string& content, std::string& type);

}  // namespace page
