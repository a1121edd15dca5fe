// The map server proper: zones rendered by Mapnik, place names from the
// gazetteer, descriptor downloads from a folder; one log line per request
// with its duration.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "server/gazetteer/gazetteer.h"
#include "server/gazetteer/land_mask.h"
#include "server/http/answer_cache.h"
#include "server/render/renderer.h"

namespace database {
class Database;
}
namespace streets {
class StreetNames;
}

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

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
    std::string downloads;
    // With a street database (--database): street place names, and 503
    // answers, never cached, while the database is unreachable.
    const streets::StreetNames* streets = nullptr;
    database::Database* database = nullptr;

    void Handle(const httplib::Request& req, httplib::Response& res);
};
