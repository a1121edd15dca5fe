#include "server/http/status_json.h"

#include <cstdio>

#include "server/markup.h"

namespace {

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

}  // namespace

std::string StatusJson(const ServerStatus& s) {
    const auto& c = s.cache;
    const auto& f = s.figures;
    const uint64_t asked = c.hits + c.misses;
    std::string json = "{";
    json += "\"version\":" + markup::JsonQuoted(PLIVORS_VERSION);
    json += ",\"style\":" + markup::JsonQuoted(s.style) + ",\"data\":" + markup::JsonQuoted(s.data);
    json += ",\"loaded\":true,\"places\":" + std::to_string(s.places);
    json += ",\"database\":" + markup::JsonQuoted(s.database);
    json += ",\"uptime_s\":" + Number(f.uptimeSeconds);
    json += ",\"connections\":" + std::to_string(s.connections);
    json += ",\"cache\":{\"bytes\":" + std::to_string(c.bytes) + ",\"capacity\":" + std::to_string(c.capacity) +
            ",\"entries\":" + std::to_string(c.entries) + ",\"hits\":" + std::to_string(c.hits) +
            ",\"misses\":" + std::to_string(c.misses) + ",\"expired\":" + std::to_string(c.expired) +
            ",\"hit_rate\":" + Number(asked > 0 ? static_cast<double>(c.hits) / asked : 0) + "}";
    json += ",\"requests\":{\"total\":" + std::to_string(f.requests) +
            ",\"last_minute\":" + std::to_string(f.requestsLastMinute) + "}";
    json += ",\"renders\":{\"count\":" + std::to_string(f.renders) + ",\"mean_ms\":" + Number(f.meanMs) +
            ",\"median_ms\":" + Number(f.medianMs) + ",\"p95_ms\":" + Number(f.p95Ms) +
            ",\"max_ms\":" + Number(f.maxMs) + "}";
    const auto& b = s.blocks;
    json += ",\"blocks\":{\"drawn\":" + std::to_string(b.drawn) + ",\"from_memory\":" + std::to_string(b.fromMemory) +
            ",\"from_disk\":" + std::to_string(b.fromDisk) + ",\"memory_bytes\":" + std::to_string(b.memoryBytes) +
            ",\"disk_bytes\":" + std::to_string(b.diskBytes) + ",\"expired\":" + std::to_string(b.expired) +
            ",\"kept\":" + std::to_string(b.kept) + ",\"update\":" + std::to_string(s.update) + "}";
    if (s.imported) {
        const streets::ImportRecord& i = *s.imported;
        char extent[160];
        std::snprintf(extent, sizeof extent, "[%.5f,%.5f,%.5f,%.5f]", i.west, i.south, i.east, i.north);
        json += ",\"streets\":{\"file\":" + markup::JsonQuoted(i.file) + ",\"imported\":" + markup::JsonQuoted(i.time) +
                ",\"extent\":" + extent + ",\"roads\":" + markup::JsonQuoted(i.roads) +
                ",\"buildings\":" + markup::JsonQuoted(i.buildings) + ",\"places\":" + markup::JsonQuoted(i.places) +
                ",\"addresses\":" + markup::JsonQuoted(i.addresses) + "}";
    }
    return json + "}\n";
}
