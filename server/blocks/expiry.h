// What updates of the street data touched, as the servers learn it: areas
// of the Mercator plane under the number of the update that touched them.
// Every block records the last update its server knew of when it began to
// draw it; a block is stale when a later update touched it or the ground
// its labels reach into, wherever it is kept (memory or a block store that
// several servers share). Untouched blocks stay as they are.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "server/blocks/grid.h"

namespace blocks {

// Mercator metres; top > bottom.
struct Area {
    double left = 0, bottom = 0, right = 0, top = 0;
    bool Meets(const Area& other) const {
        return left < other.right && other.left < right && bottom < other.top && other.bottom < top;
    }
    Area Grown(double metres) const { return {left - metres, bottom - metres, right + metres, top + metres}; }
};

// A tile of the XYZ scheme.
Area TileArea(int zoom, int column, int row);
// A block with the margin its labels are placed in.
Area BlockArea(const Plane& plane, int64_t column, int64_t row);
// The zoom whose tiles are as large as a block of the finest level or
// smaller: an update's touched areas at that zoom expire few blocks more
// than it changed.
int ExpiryZoom();

class Expiries {
public:
    // The areas of update seq (updates come in their order).
    void Add(uint64_t seq, const std::vector<Area>& areas);
    // The last update known; 0 before any.
    uint64_t Latest() const;
    // Whether an update after `since` touched the area.
    bool Touched(uint64_t since, const Area& area) const;

private:
    // Past this many areas the oldest go; a block drawn before them counts
    // as touched.
    static constexpr size_t kKept = 200000;
    mutable std::mutex mutex_;
    std::vector<std::pair<uint64_t, Area>> areas_;  // in update order
    uint64_t latest_ = 0, forgotten_ = 0;           // updates up to forgotten_ are no longer known area by area
};

}  // namespace blocks
