#include "server/http/map_service.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "server/geo.h"
#include "server/http/conditional.h"
#include "server/http/requests.h"
#include "server/page/operator_page.h"

using front::Answer;

void RequestLog::Line(const std::string& text) {
    if (out_ == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

// One request on its way: answered once, logged with its duration.
struct MapService::Exchange {
    front::Request request;
    front::Reply reply;
    RequestLog& log;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    void Send(Answer answer, const std::string& how = "") {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        char line[64];
        std::snprintf(line, sizeof line, "%d %.1f ms ", answer.status, ms);
        log.Line(line + request.target + (how.empty() ? "" : " (" + how + ")"));
        reply(std::move(answer));
    }
    void Page(int status, const std::string& title, const std::string& text, const std::string& how = "") {
        Answer a;
        a.Set(status, requests::HtmlPage(status, title, requests::Escape(text)), "text/html");
        a.fields.emplace_back("Cache-Control", "no-store");
        Send(std::move(a), how);
    }
};

void MapService::Handle(front::Request request, front::Reply reply) {
    statistics.Request();
    auto x = std::make_shared<Exchange>(Exchange{std::move(request), std::move(reply), log});
    const std::string& target = x->request.target;
    const size_t question = target.find('?');
    const std::string path = target.substr(0, question);
    const std::string query = question == std::string::npos ? "" : target.substr(question + 1);
    const std::string downloadPrefix = "/download/plugins/", tilePrefix = "/tiles/", leafletPrefix = "/leaflet/";

    if (path == "/plivors/client") return Client(x, query);
    if (path.compare(0, downloadPrefix.size(), downloadPrefix) == 0)
        return Download(x, path.substr(downloadPrefix.size()));
    if (path.compare(0, tilePrefix.size(), tilePrefix) == 0) return Tile(x, path.substr(tilePrefix.size()));
    if (path == "/") {
        Answer a;
        a.Set(200, page::PageHtml(), "text/html; charset=utf-8");
        a.fields.emplace_back("Cache-Control", "no-cache");
        return x->Send(std::move(a));
    }
    if (path == "/status.json") return Status(x);
    if (path == "/search") return Search(x, query);
    if (path.compare(0, leafletPrefix.size(), leafletPrefix) == 0) return Leaflet(x, path.substr(leafletPrefix.size()));
    x->Page(404, "Not Found", "No such page: " + path);
}

void MapService::Client(const std::shared_ptr<Exchange>& x, const std::string& query) {
    requests::Query q = requests::ParseQuery(query);
    const std::string cmd = q.count("cmd") ? q.at("cmd") : "";
    if (cmd == "map") {
        requests::MapRequest map;
        std::string why = requests::ReadMapRequest(q, map);
        const double cx = geo::MercatorX(map.lon), cy = geo::MercatorY(map.lat);
        if (why.empty() && !(std::isfinite(cx) && std::isfinite(cy))) why = "mo lies outside the Mercator plane";
        if (!why.empty()) return x->Page(400, "Bad Request", why);
        return Picture(x, map.width, map.height, cx, cy, geo::MetresPerPixel(map.level), render::Renderer::Format::Gif,
                       "image/gif");
    }
    if (cmd == "prox") {
        double lat = 0, lon = 0;
        if (!requests::Position(q, lat, lon)) return x->Page(400, "Bad Request", "mo must be LAT,LON in degrees");
        // A lookup takes microseconds: done here, kept like a picture.
        cache.Get(
            x->request.target,
            [&, lat, lon](const AnswerCache::Finish& finish) {
                std::string page;
                try {
                    page = gazetteer::ProximityPage(places.Phrase(lat, lon, !land.OnLand(lat, lon)));
                } catch (...) {
                    return finish(std::string(), std::current_exception());
                }
                finish(std::move(page), nullptr);
            },
            [this, x](AnswerCache::Value value, std::exception_ptr error, bool hit) {
                if (error != nullptr) return x->Page(500, "Internal Server Error", "the place cannot be named");
                Cacheable(x, value, "text/html; charset=ISO-8859-1", hit ? "cached" : "looked up");
            });
        return;
    }
    x->Page(400, "Bad Request", "unknown cmd");
}

void MapService::Picture(const std::shared_ptr<Exchange>& x, int width, int height, double cx, double cy,
                         double metresPerPixel, render::Renderer::Format format, const std::string& type) {
    Statistics& stats = statistics;
    render::Renderer& r = renderer;
    cache.Get(
        x->request.target,
        [&stats, &r, width, height, cx, cy, metresPerPixel, format](const AnswerCache::Finish& finish) {
            const auto start = std::chrono::steady_clock::now();
            r.Render(width, height, cx, cy, metresPerPixel, format,
                     [&stats, start, finish](std::string picture, std::exception_ptr error) {
                         stats.Rendered(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                                  start)
                                            .count());
                         finish(std::move(picture), error);
                     });
        },
        [this, x, type](AnswerCache::Value value, std::exception_ptr error, bool hit) {
            if (error != nullptr) {
                std::string what = "unknown failure";
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception& e) {
                    what = e.what();
                } catch (...) {
                }
                return x->Page(500, "Internal Server Error", "the renderer cannot draw this map: " + what, what);
            }
            Cacheable(x, value, type, hit ? "cached" : "rendered");
        });
}

void MapService::Cacheable(const std::shared_ptr<Exchange>& x, const AnswerCache::Value& value,
                           const std::string& type, const std::string& how) {
    Answer a;
    a.fields.emplace_back("Cache-Control", "public, max-age=" + std::to_string(maxAgeSeconds));
    a.fields.emplace_back("ETag", value->etag);
    if (conditional::Matches(x->request.Field("if-none-match"), value->etag)) {
        a.status = 304;
    } else {
        a.status = 200;
        a.type = type;
        // The kept bytes themselves, shared with the cache rather than copied.
        a.body = std::shared_ptr<const std::string>(value, &value->body);
    }
    x->Send(std::move(a), how);
}

void MapService::Tile(const std::shared_ptr<Exchange>& x, const std::string& path) {
    // z/x/y.png in the XYZ scheme: 256-pixel tiles of spherical Mercator,
    // row 0 at the top, levels 0 to 19.
    int z = -1, col = -1, row = -1;
    char end[8] = {};
    const int read = std::sscanf(path.c_str(), "%3d/%7d/%7d%7s", &z, &col, &row, end);
    const std::string canonical = std::to_string(z) + "/" + std::to_string(col) + "/" + std::to_string(row) + ".png";
    if (read != 4 || z < 0 || z > 19 || col < 0 || row < 0 || col >= (1 << z) || row >= (1 << z) || path != canonical)
        return x->Page(404, "Not Found", "No such tile: /tiles/" + path);
    const double world = 2 * geo::kPi * geo::kRadius, s = world / 256 / (1 << z);
    Picture(x, 256, 256, -world / 2 + (col + 0.5) * 256 * s, world / 2 - (row + 0.5) * 256 * s, s,
            render::Renderer::Format::Png, "image/png");
}

void MapService::Download(const std::shared_ptr<Exchange>& x, const std::string& name) {
    std::string content;
    requests::FileStamp stamp;
    if (!requests::ReadDownload(downloads, name, content, &stamp))
        return x->Page(404, "Not Found", "No such file: /download/plugins/" + name);
    Answer a;
    // Stored, but checked with the server before every use: a descriptor
    // that changes on the server reaches every client at once.
    a.fields.emplace_back("Cache-Control", "no-cache");
    a.fields.emplace_back("ETag", stamp.etag);
    a.fields.emplace_back("Last-Modified", conditional::HttpDate(stamp.modified));
    if (conditional::NotModified(x->request.Field("if-none-match"), x->request.Field("if-modified-since"), stamp.etag,
                                 stamp.modified))
        a.status = 304;
    else
        a.Set(200, std::move(content), "application/octet-stream");
    x->Send(std::move(a));
}

void MapService::Search(const std::shared_ptr<Exchange>& x, const std::string& query) {
    requests::Query q = requests::ParseQuery(query);
    std::string name = q.count("q") ? requests::DecodePercent(q.at("q")) : "";
    for (char& c : name)
        if (c == '+') c = ' ';
    const gazetteer::Place* place = places.Search(name);
    Answer a;
    a.Set(place != nullptr ? 200 : 404, page::PlaceJson(place), "application/json");
    a.fields.emplace_back("Cache-Control", "no-store");
    x->Send(std::move(a));
}

void MapService::Status(const std::shared_ptr<Exchange>& x) {
    page::Status s;
    s.style = style;
    s.data = data;
    s.places = places.size();
    s.database = database ? database() : "none";
    s.cache = cache.use();
    s.figures = statistics.figures();
    s.connections = connections ? connections() : 0;
    Answer a;
    a.Set(200, page::StatusJson(s), "application/json");
    a.fields.emplace_back("Cache-Control", "no-store");
    x->Send(std::move(a));
}

void MapService::Leaflet(const std::shared_ptr<Exchange>& x, const std::string& name) {
    std::string content, type;
    if (!page::ReadLeaflet(leaflet, name, content, type))
        return x->Page(404, "Not Found", "No such page: /leaflet/" + name);
    Answer a;
    a.Set(200, std::move(content), type);
    a.fields.emplace_back("Cache-Control", "public, max-age=" + std::to_string(maxAgeSeconds));
    x->Send(std::move(a));
}
