// The server's figures as the operator's page and monitoring read them.
#pragma once

#include <cstddef>
#include <string>

#include "server/http/answer_cache.h"
#include "server/http/statistics.h"

// What the status names: the loaded style and data, the database's state,
// the cache, the figures of requests and renders.
struct ServerStatus {
    std::string style, data, database;
    size_t places = 0, connections = 0;
    AnswerCache::Use cache{};
    Statistics::Figures figures;
};
std::string StatusJson(const ServerStatus& status);
