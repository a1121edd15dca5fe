// The map server proper: zones rendered by Mapnik, place names from the
// gazetteer, descriptor downloads from a folder, XYZ tiles and the
// operator's page; one log line per request with its duration. Answers a
// standard HTTP cache can keep: entity tags, lifetimes, conditional
// requests; errors are never stored.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/thread_pool.hpp>

#include "server/front/answer.h"
#include "server/front/serving.h"
#include "server/gazetteer/gazetteer.h"
#include "server/gazetteer/land_mask.h"
#include "server/http/answer_cache.h"
#include "server/http/statistics.h"
#include "server/http/routes.h"

namespace blocks {
class BlockMaps;
class Generation;
struct Area;
class Expiries;
}
namespace database {
class Database;
}
namespace streets {
class StreetNames;
struct ImportRecord;
}

class MapService {
public:
    // What the service answers from and keeps its figures in.
    struct Parts {
        // Zones and tiles, cut from blocks; what they were drawn from is part
        // of every kept answer's key, so that nothing from before a
        // re-import is served after it.
        blocks::BlockMaps& maps;
        const blocks::Generation& generation;
        const gazetteer::Gazetteer& places;
        const gazetteer::LandMask& land;
        AnswerCache& cache;
        front::RequestLog& log;
        Statistics& statistics;
        std::function<size_t()> connections;  // the front's open connections, for the status
        const blocks::Expiries* expiries;      // what street updates touched; null without a database
    };
    struct Settings {
        std::string downloads;
        int maxAgeSeconds = 86400;  // of maps, places and tiles in any cache
        int streetMaxAgeSeconds = 3600;  // of those that show street data, which updates change
        std::string leaflet;        // folder of Leaflet's script, style and images
        std::string style, data;    // what the page names as loaded
    };
    // With a street database (--database): place names by street, and 503
    // answers, never cached, while the database is unreachable; the status
    // reports it.
    struct StreetParts {
        const streets::StreetNames& names;
        const database::Database& database;
    };

    MapService(const Parts& parts, Settings settings, std::optional<StreetParts> streets);
    // Waits for the street lookups in flight.
    ~MapService();
    MapService(const MapService&) = delete;
    MapService& operator=(const MapService&) = delete;

    // Called on the front's thread; renders go to the render workers.
    void Handle(front::Request request, front::Reply reply);
    // A street update touched the areas: the answers that show them go.
    void Expire(const std::vector<blocks::Area>& areas);

private:
    const Parts parts_;
    const Settings settings_;
    const std::optional<StreetParts> streets_;
    // Street lookups wait on the database: on threads of their own.
    std::unique_ptr<boost::asio::thread_pool> lookups_;

    struct Exchange;
    void Place(const std::shared_ptr<Exchange>& x, double lat, double lon);
    void Download(const std::shared_ptr<Exchange>& x, const std::string& name, const std::string& why);
    void Search(const std::shared_ptr<Exchange>& x, const std::string& name);
    void Status(const std::shared_ptr<Exchange>& x);
    void SendStatus(const std::shared_ptr<Exchange>& x, std::optional<streets::ImportRecord> imported);
    void Leaflet(const std::shared_ptr<Exchange>& x, const std::string& name, const std::string& why);
    const database::Database* StreetDatabase() const { return streets_ ? &streets_->database : nullptr; }
    // A kept answer: 200 with its tag and lifetime, or 304 when the client
    // holds it already.
    void Cacheable(const std::shared_ptr<Exchange>& x, const AnswerCache::Value& value, const std::string& type,
                   const std::string& how, bool streets);
    // Whether a kept answer's key shows any of the areas.
    bool Meets(const std::string& key, const std::vector<blocks::Area>& areas) const;
    // Cache-Control of what other caches may keep; streets: it shows street
    // data (a database is drawn from, at a street level or a place name).
    std::string Lifetime(bool streets = false) const;
    bool ShowsStreets(const routes::Route& route) const;
    // Cuts (or finds) a zone or a tile and answers with it.
    void Picture(const std::shared_ptr<Exchange>& x, const routes::Route& route);
};
