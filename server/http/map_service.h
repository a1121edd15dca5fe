// The map server proper: zones rendered by Mapnik, place names from the
// gazetteer, descriptor downloads from a folder, XYZ tiles and the
// operator's page; one log line per request with its duration. Answers a
// standard HTTP cache can keep: entity tags, lifetimes, conditional
// requests; errors are never stored.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "server/front/answer.h"
#include "server/gazetteer/gazetteer.h"
#include "server/gazetteer/land_mask.h"
#include "server/http/answer_cache.h"
#include "server/http/statistics.h"
#include "server/render/renderer.h"

namespace database {
class Database;
}
namespace streets {
class StreetNames;
struct ImportRecord;
}

class RequestLog {
public:
    explicit RequestLog(std::FILE* out) : out_(out) {}
    void Line(const std::string& text);

private:
    std::mutex mutex_;
    std::FILE* out_;
};

struct MapService {
    render::Renderer& renderer;
    const gazetteer::Gazetteer& places;
    const gazetteer::LandMask& land;
    AnswerCache& cache;
    RequestLog& log;
    Statistics& statistics;
    std::string downloads;
    int maxAgeSeconds = 86400;  // of maps, places and tiles in any cache
    std::string leaflet;        // folder of Leaflet's script, style and images
    std::string style, data;    // what the page names as loaded
    // Connections the front holds open, for the status.
    std::function<size_t()> connections;
    // With a street database (--database): street place names, looked up
    // through offFront (which must then be set), and 503 answers, never
    // cached, while the database is unreachable; the status reports it.
    const streets::StreetNames* streets = nullptr;
    database::Database* streetDatabase = nullptr;
    std::function<void(std::function<void()>)> offFront;

    // Called on the front's thread; renders go to the render workers.
    void Handle(front::Request request, front::Reply reply);

private:
    struct Exchange;
    void Place(const std::shared_ptr<Exchange>& x, double lat, double lon);
    void Download(const std::shared_ptr<Exchange>& x, const std::string& name, const std::string& why);
    void Search(const std::shared_ptr<Exchange>& x, const std::string& name);
    void Status(const std::shared_ptr<Exchange>& x);
    void SendStatus(const std::shared_ptr<Exchange>& x, std::optional<streets::ImportRecord> imported);
    void Leaflet(const std::shared_ptr<Exchange>& x, const std::string& name, const std::string& why);
    // A kept answer: 200 with its tag and lifetime, or 304 when the client
    // holds it already.
    void Cacheable(const std::shared_ptr<Exchange>& x, const AnswerCache::Value& value, const std::string& type,
                   const std::string& how);
    // Cache-Control of what other caches may keep.
    std::string Lifetime() const;
    // Renders (or finds) a picture and answers with it.
    void Picture(const std::shared_ptr<Exchange>& x, int width, int height, double cx, double cy, double metresPerPixel,
                 render::Renderer::Format format, const std::string& type);
};
