#include "server/http/map_service.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <boost/asio/post.hpp>

#include "server/blocks/block_maps.h"
#include "server/blocks/expiry.h"
#include "server/blocks/generation.h"
#include "server/database/database.h"
#include "server/files/folder_file.h"
#include "server/geo.h"
#include "server/http/conditional.h"
#include "server/http/routes.h"
#include "server/http/status_json.h"
#include "server/markup.h"
#include "server/page/operator_page.h"
#include "server/protocol/levels.h"
#include "server/protocol/proximity_page.h"
#include "server/streets/import_record.h"
#include "server/streets/street_names.h"

using front::Answer;

MapService::MapService(const Parts& parts, Settings settings, std::optional<StreetParts> streets)
    : parts_(parts),
      settings_(std::move(settings)),
      streets_(streets) {
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    if (streets_) lookups_ = std::make_unique<boost::asio::thread_pool>(std::max<size_t>(4, cores));
}

MapService::~MapService() {
    if (lookups_) lookups_->join();
}

// One request on its way: answered once, logged with its duration.
struct MapService::Exchange {
    front::Request request;
    front::Reply reply;
    front::RequestLog& log;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    void Send(Answer answer, const std::string& how = "") {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        char line[64];
        std::snprintf(line, sizeof line, "%d %.1f ms ", answer.status, ms);
        std::string why = how;
        for (char& c : why)
            if (c == '\n' || c == '\t') c = ' ';  // one line per request, whatever a library said
        log.Line(line + request.target + (why.empty() ? "" : " (" + why + ")"));
        reply(std::move(answer));
    }
    void Page(int status, const std::string& title, const std::string& text, const std::string& how = "") {
        Send(ErrorPage(status, title, text), how);
    }
    // A failure: 503 when it says the street database is gone (try again
    // shortly; no cache may keep it), else a 500 saying what could not be done.
    void Failed(const database::Database* db, const std::exception_ptr& error, const std::string& text,
                const std::string& how) {
        if (db == nullptr || !db->Lost(error)) return Page(500, "Internal Server Error", text, how);
        Answer a = ErrorPage(503, "Service Unavailable", "the street database is not reachable; try again in a few seconds");
        a.fields.emplace_back("Retry-After", "5");
        Send(std::move(a), how);
    }
    static Answer ErrorPage(int status, const std::string& title, const std::string& text) {
        Answer a;
        a.Set(status, markup::HtmlPage(status, title, markup::Escaped(text)), "text/html");
        a.fields.emplace_back("Cache-Control", "no-store");
        return a;
    }
};

namespace {

std::string Message(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "unknown failure";
}

}  // namespace

void MapService::Handle(front::Request request, front::Reply reply) {
    parts_.statistics.Request();
    auto x = std::make_shared<Exchange>(Exchange{std::move(request), std::move(reply), parts_.log});
    const routes::Route r = routes::Read(x->request.target);
    using routes::Kind;
    switch (r.kind) {
    case Kind::Map:
    case Kind::Tile:
        return Picture(x, r);
    case Kind::Place:
        return Place(x, r.lat, r.lon);
    case Kind::Download:
        return Download(x, r.name, r.why);
    case Kind::Page: {
        Answer a;
        a.Set(200, page::PageHtml(), "text/html; charset=utf-8");
        a.fields.emplace_back("Cache-Control", "no-cache");
        return x->Send(std::move(a));
    }
    case Kind::Status:
        return Status(x);
    case Kind::Search:
        return Search(x, r.name);
    case Kind::Leaflet:
        return Leaflet(x, r.name, r.why);
    case Kind::BadRequest:
        return x->Page(400, "Bad Request", r.why);
    case Kind::NotFound:
        break;
    }
    x->Page(404, "Not Found", r.why);
}

void MapService::Place(const std::shared_ptr<Exchange>& x, double lat, double lon) {
    parts_.cache.Get(
        parts_.generation.Current() + " " + x->request.target,
        [this, lat, lon](const AnswerCache::Finish& finish) {
            auto lookUp = [this, lat, lon, finish] {
                std::string page;
                try {
                    std::optional<std::string> street = streets_ ? streets_->names.Phrase(lat, lon) : std::nullopt;
                    page = protocol::ProximityPage(street ? *street : parts_.places.Phrase(lat, lon, !parts_.land.OnLand(lat, lon)));
                } catch (...) {
                    return finish(std::string(), std::current_exception());
                }
                finish(std::move(page), nullptr);
            };
            // A gazetteer lookup takes microseconds and is done here; a
            // street lookup waits on the database, off the front's threads.
            if (lookups_) boost::asio::post(*lookups_, std::move(lookUp));
            else lookUp();
        },
        [this, x](AnswerCache::Value value, std::exception_ptr error, bool hit) {
            if (error != nullptr) return x->Failed(StreetDatabase(), error, "the place cannot be named", Message(error));
            Cacheable(x, value, protocol::kProximityType, hit ? "cached" : "looked up", streets_.has_value());
        });
}

void MapService::Picture(const std::shared_ptr<Exchange>& x, const routes::Route& route) {
    const std::string drawnFrom = parts_.generation.Current();
    Statistics& stats = parts_.statistics;
    blocks::BlockMaps& maps = parts_.maps;
    parts_.cache.Get(
        drawnFrom + " " + x->request.target,
        [&stats, &maps, route, drawnFrom](const AnswerCache::Finish& finish) {
            const auto start = std::chrono::steady_clock::now();
            auto done = [&stats, start, finish](std::string picture, std::exception_ptr error) {
                stats.Rendered(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                                   .count());
                finish(std::move(picture), error);
            };
            if (route.kind == routes::Kind::Tile) return maps.Tile(drawnFrom, route.z, route.column, route.row, done);
            maps.Zone(drawnFrom, route.map.level, route.map.width, route.map.height, route.x, route.y, done);
        },
        [this, x, tile = route.kind == routes::Kind::Tile, streets = ShowsStreets(route)](
            AnswerCache::Value value, std::exception_ptr error, bool hit) {
            if (error != nullptr) {
                const std::string what = Message(error);
                return x->Failed(StreetDatabase(), error, "the renderer cannot draw this map: " + what, what);
            }
            Cacheable(x, value, tile ? "image/png" : "image/gif", hit ? "cached" : "rendered", streets);
        });
}

void MapService::Cacheable(const std::shared_ptr<Exchange>& x, const AnswerCache::Value& value,
                           const std::string& type, const std::string& how, bool streets) {
    Answer a;
    a.fields.emplace_back("Cache-Control", Lifetime(streets));
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

std::string MapService::Lifetime(bool streets) const {
    const int seconds = streets ? std::min(settings_.streetMaxAgeSeconds, settings_.maxAgeSeconds) : settings_.maxAgeSeconds;
    return "public, max-age=" + std::to_string(seconds);
}

// The street style draws from level 7 (about 130 m a pixel) down, and tiles
// of that scale or finer.
bool MapService::ShowsStreets(const routes::Route& route) const {
    return streets_ && route.metresPerPixel < 1.5 * protocol::MetresPerPixel(7);
}

bool MapService::Meets(const std::string& key, const std::vector<blocks::Area>& areas) const {
    const size_t space = key.find(' ');
    if (space == std::string::npos) return false;
    const routes::Route r = routes::Read(key.substr(space + 1));
    auto meets = [&areas](const blocks::Area& shown) {
        return std::any_of(areas.begin(), areas.end(), [&](const blocks::Area& a) { return a.Meets(shown); });
    };
    if (r.kind == routes::Kind::Place) {
        // A place is named by streets within a few hundred metres of it.
        const double x = geo::MercatorX(r.lon), y = geo::MercatorY(r.lat), reach = 500;
        return meets({x - reach, y - reach, x + reach, y + reach});
    }
    if (r.kind != routes::Kind::Map && r.kind != routes::Kind::Tile) return false;
    // A picture is cut from blocks: it changes when one of them does.
    const bool tile = r.kind == routes::Kind::Tile;
    const blocks::Plane plane = tile ? blocks::TilePlane(r.z) : blocks::LevelPlane(r.map.level);
    const blocks::Window window = tile ? blocks::TileWindow(r.column, r.row)
                                       : blocks::ZoneWindow(plane, r.x, r.y, std::max(r.map.width, 1),
                                                            std::max(r.map.height, 1));
    for (const blocks::BlockId& id : blocks::BlocksOf(plane, window))
        if (meets(blocks::BlockArea(plane, id.column, id.row))) return true;
    return false;
}

void MapService::Expire(const std::vector<blocks::Area>& areas) {
    parts_.cache.DropIf([this, &areas](const std::string& key) { return Meets(key, areas); });
}

void MapService::Download(const std::shared_ptr<Exchange>& x, const std::string& name, const std::string& why) {
    std::string content;
    files::FileStamp stamp;
    if (!files::ReadDownload(settings_.downloads, name, content, &stamp)) return x->Page(404, "Not Found", why);
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

void MapService::Search(const std::shared_ptr<Exchange>& x, const std::string& name) {
    const gazetteer::Place* place = parts_.places.Search(name);
    Answer a;
    a.Set(place != nullptr ? 200 : 404, page::PlaceJson(place), "application/json");
    a.fields.emplace_back("Cache-Control", "no-store");
    x->Send(std::move(a));
}

void MapService::Status(const std::shared_ptr<Exchange>& x) {
    // What the street database holds is asked off the front's threads, and
    // only while it answers: the status never waits on a lost database.
    if (streets_ && lookups_ && streets_->database.Connected()) {
        return boost::asio::post(*lookups_, [this, x] {
            std::optional<streets::ImportRecord> imported;
            try {
                imported = streets_->names.Imported();
            } catch (const database::Failure&) {
                // the status says whether the database is reachable
            }
            SendStatus(x, std::move(imported));
        });
    }
    SendStatus(x, std::nullopt);
}

void MapService::SendStatus(const std::shared_ptr<Exchange>& x, std::optional<streets::ImportRecord> imported) {
    ServerStatus s;
    s.imported = std::move(imported);
    s.style = settings_.style;
    s.data = settings_.data;
    s.places = parts_.places.size();
    s.database = !streets_ ? "none" : streets_->database.Connected() ? "connected" : "not reachable";
    s.cache = parts_.cache.use();
    s.figures = parts_.statistics.figures();
    s.blocks = parts_.maps.counters();
    s.connections = parts_.connections ? parts_.connections() : 0;
    s.update = parts_.expiries != nullptr ? parts_.expiries->Latest() : 0;
    Answer a;
    a.Set(200, StatusJson(s), "application/json");
    a.fields.emplace_back("Cache-Control", "no-store");
    x->Send(std::move(a));
}

void MapService::Leaflet(const std::shared_ptr<Exchange>& x, const std::string& name, const std::string& why) {
    std::string content, type;
    if (!page::ReadLeaflet(settings_.leaflet, name, content, type)) return x->Page(404, "Not Found", why);
    Answer a;
    a.Set(200, std::move(content), type);
    a.fields.emplace_back("Cache-Control", Lifetime());
    x->Send(std::move(a));
}
