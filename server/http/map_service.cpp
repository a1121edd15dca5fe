#include "server/http/map_service.h"

#include <httplib.h>

#include <chrono>
#include <cmath>

#include "server/database/database.h"
#include "server/geo.h"
#include "server/http/requests.h"
#include "server/streets/street_names.h"

namespace {

using requests::HtmlPage;

void Page(httplib::Response& res, int status, const std::string& title, const std::string& text) {
    res.status = status;
    res.set_content(HtmlPage(status, title, requests::Escape(text)), "text/html");
}

// The street database is gone: try again shortly; no cache may keep this.
void Unavailable(httplib::Response& res) {
    Page(res, 503, "Service Unavailable", "the street database is not reachable; try again in a few seconds");
    res.set_header("Retry-After", "5");
    res.set_header("Cache-Control", "no-store");
}

}  // namespace

void RequestLog::Line(const std::string& text) {
    if (out_ == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void MapService::Handle(const httplib::Request& req, httplib::Response& res) {
    const auto start = std::chrono::steady_clock::now();
    std::string how;  // how the answer came about, for the log
    const std::string& target = req.target;
    size_t question = target.find('?');
    const std::string path = target.substr(0, question);
    const std::string downloadPrefix = "/download/plugins/";

    if (path == "/plivors/client") {
        requests::Query q = requests::ParseQuery(question == std::string::npos ? "" : target.substr(question + 1));
        const std::string cmd = q.count("cmd") ? q.at("cmd") : "";
        double lat = 0, lon = 0;
        if (cmd == "map") {
            requests::MapRequest map;
            std::string why = requests::ReadMapRequest(q, map);
            const double x = geo::MercatorX(map.lon), y = geo::MercatorY(map.lat);
            if (why.empty() && !(std::isfinite(x) && std::isfinite(y))) why = "mo lies outside the Mercator plane";
            if (!why.empty()) {
                Page(res, 400, "Bad Request", why);
            } else {
                try {
                    bool hit = false;
                    auto gif = cache.Get(target, [&] {
                        return renderer.RenderGif(map.width, map.height, x, y, geo::MetresPerPixel(map.level));
                    }, hit);
                    res.status = 200;
                    res.set_content(*gif, "image/gif");
                    how = hit ? "cached" : "rendered";
                } catch (const std::exception& e) {
                    if (database != nullptr && !database->Reachable()) Unavailable(res);
                    else Page(res, 500, "Internal Server Error", std::string("the renderer cannot draw this map: ") + e.what());
                    how = e.what();
                }
            }
        } else if (cmd == "prox") {
            if (!requests::Position(q, lat, lon)) {
                Page(res, 400, "Bad Request", "mo must be LAT,LON in degrees");
            } else {
                try {
                    bool hit = false;
                    auto page = cache.Get(target, [&] {
                        std::optional<std::string> street = streets ? streets->Phrase(lat, lon) : std::nullopt;
                        return gazetteer::ProximityPage(street ? *street : places.Phrase(lat, lon, !land.OnLand(lat, lon)));
                    }, hit);
                    res.status = 200;
                    res.set_content(*page, "text/html; charset=ISO-8859-1");
                    how = hit ? "cached" : "looked up";
                } catch (const database::Unavailable& e) {
                    if (database != nullptr && !database->Reachable()) Unavailable(res);
                    else Page(res, 500, "Internal Server Error", std::string("the street lookup failed: ") + e.what());
                    how = e.what();
                }
            }
        } else {
            Page(res, 400, "Bad Request", "unknown cmd");
        }
    } else if (path.compare(0, downloadPrefix.size(), downloadPrefix) == 0) {
        std::string content;
        if (requests::ReadDownload(downloads, path.substr(downloadPrefix.size()), content)) {
            res.status = 200;
            res.set_content(content, "application/octet-stream");
        } else {
            Page(res, 404, "Not Found", "No such file: " + path);
        }
    } else {
        Page(res, 404, "Not Found", "No such page: " + path);
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    char line[64];
    std::snprintf(line, sizeof line, "%d %.1f ms ", res.status < 0 ? 200 : res.status, ms);
    for (char& c : how)
        if (c == '\n' || c == '\t') c = ' ';  // one line per request, whatever the library said
    log.Line(line + target + (how.empty() ? "" : " (" + how + ")"));
}
