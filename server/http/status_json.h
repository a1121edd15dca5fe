// The server's figures as the operator's page and monitoring read them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "server/blocks/block_maps.h"
#include "server/http/answer_cache.h"
#include "server/http/statistics.h"
#include "server/streets/import_record.h"

// What the status names: the loaded style and data, the database's state,
// the imported street data, the cache, the figures of requests, renders and
// blocks.
struct ServerStatus {
    std::string style, data, database;
    size_t places = 0, connections = 0;
    uint64_t update = 0;  // the last street update heard of
    AnswerCache::Use cache{};
    Statistics::Figures figures;
    blocks::BlockMaps::Counters blocks;
    std::optional<streets::ImportRecord> imported;  // the street data, when known
};
std::string StatusJson(const ServerStatus& status);
