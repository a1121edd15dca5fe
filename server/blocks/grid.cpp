#include "server/blocks/grid.h"

#include <cmath>

#include "server/geo.h"
#include "server/protocol/levels.h"

namespace blocks {
namespace {

constexpr double kWorld = 2 * geo::kPi * geo::kRadius;

}  // namespace

Plane LevelPlane(int level) { return {"L" + std::to_string(level), protocol::MetresPerPixel(level), kLevelBlock}; }

Plane TilePlane(int zoom) {
    const int64_t world = int64_t(kTileSize) << zoom;
    const int block = world < kTileSize * kTilesPerBlock ? static_cast<int>(world) : kTileSize * kTilesPerBlock;
    return {"z" + std::to_string(zoom), kWorld / static_cast<double>(world), block};
}

bool PlaneNamed(const std::string& name, Plane& plane) {
    if (name.size() < 2 || name.size() > 3 || name.find_first_not_of("0123456789", 1) != std::string::npos) return false;
    const int n = std::stoi(name.substr(1));
    if (name[0] == 'L' && protocol::MetresPerPixel(n) > 0) plane = LevelPlane(n);
    else if (name[0] == 'z' && n <= 30) plane = TilePlane(n);
    else return false;
    return true;
}

Window ZoneWindow(const Plane& plane, double x, double y, int width, int height) {
    const double s = plane.metresPerPixel;
    Window w;
    w.width = width;
    w.height = height;
    w.left = std::llround((x + kWorld / 2) / s - width / 2.0);
    w.top = std::llround((kWorld / 2 - y) / s - height / 2.0);
    return w;
}

Window TileWindow(int column, int row) {
    return {int64_t(column) * kTileSize, int64_t(row) * kTileSize, kTileSize, kTileSize};
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

std::vector<BlockId> BlocksOf(const Plane& plane, const Window& w) {
    std::vector<BlockId> ids;
    const int64_t b = plane.blockSize;
    for (int64_t row = FloorDiv(w.top, b); row <= FloorDiv(w.top + w.height - 1, b); ++row)
        for (int64_t col = FloorDiv(w.left, b); col <= FloorDiv(w.left + w.width - 1, b); ++col)
            ids.push_back({col, row});
    return ids;
}

double BlockLeft(const Plane& plane, int64_t column) {
    return -kWorld / 2 + static_cast<double>(column * plane.blockSize) * plane.metresPerPixel;
}

double BlockTop(const Plane& plane, int64_t row) {
    return kWorld / 2 - static_cast<double>(row * plane.blockSize) * plane.metresPerPixel;
}

}  // namespace blocks
