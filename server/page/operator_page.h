// The operator's page: a slippy map of the server's own tiles over Leaflet
// (Debian's libjs-leaflet, served by the server itself), a place search and
// a status panel; the same status as JSON.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "server/gazetteer/gazetteer.h"
#include "server/http/answer_cache.h"
#include "server/http/statistics.h"
#include "server/streets/import_record.h"

namespace page {

const std::string& PageHtml();

struct Status {
    std::string style, data, database;
    size_t places = 0, connections = 0;
    AnswerCache::Use cache{};
    Statistics::Figures figures;
    std::optional<streets::ImportRecord> imported;  // the street data, when known
};
std::string StatusJson(const Status& status);

// {"name":..,"country":..,"lat":..,"lon":..}, or {"error":..} without a place.
std::string PlaceJson(const gazetteer::Place* place);

// A file of Leaflet's folder (script, style sheet, marker images) with its
// type; false for names outside it.
bool ReadLeaflet(const std::string& folder, const std::string& name, std::string& content, std::string& type);

}  // namespace page
