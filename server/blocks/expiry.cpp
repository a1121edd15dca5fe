#include "server/blocks/expiry.h"

#include <algorithm>
#include <cmath>

#include "server/geo.h"
#include "server/protocol/levels.h"

namespace blocks {
namespace {

constexpr double kWorld = 2 * geo::kPi * geo::kRadius;

}  // namespace

Area TileArea(int zoom, int column, int row) {
    const double size = kWorld / std::ldexp(1.0, zoom);
    const double left = -kWorld / 2 + column * size, top = kWorld / 2 - row * size;
    return {left, top - size, left + size, top};
}

Area BlockArea(const Plane& plane, int64_t column, int64_t row) {
    const double left = BlockLeft(plane, column), top = BlockTop(plane, row);
    const double size = plane.blockSize * plane.metresPerPixel;
    return Area{left, top - size, left + size, top}.Grown(kLabelBuffer * plane.metresPerPixel);
}

int ExpiryZoom() {
    const double finest = kLevelBlock * protocol::MetresPerPixel(1);
    int zoom = 0;
    while (kWorld / std::ldexp(1.0, zoom) > finest) ++zoom;
    return zoom;
}

void Expiries::Add(uint64_t seq, const std::vector<Area>& areas) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (seq <= latest_) return;  // heard twice: on reconnection and by notice
    for (const Area& a : areas) areas_.emplace_back(seq, a);
    latest_ = seq;
    if (areas_.size() <= kKept) return;
    const size_t drop = areas_.size() - kKept / 2;
    forgotten_ = areas_[drop - 1].first;
    areas_.erase(areas_.begin(), areas_.begin() + static_cast<std::ptrdiff_t>(drop));
}

uint64_t Expiries::Latest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

bool Expiries::Touched(uint64_t since, const Area& area) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (since >= latest_) return false;
    if (since < forgotten_) return true;
    auto later = std::upper_bound(areas_.begin(), areas_.end(), since,
                                  [](uint64_t s, const std::pair<uint64_t, Area>& a) { return s < a.first; });
    return std::any_of(later, areas_.end(), [&](const std::pair<uint64_t, Area>& a) { return a.second.Meets(area); });
}

}  // namespace blocks
