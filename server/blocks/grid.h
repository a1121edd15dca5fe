// The fixed global grids that blocks are cut on. Each zone level and each
// tile zoom is a plane of pixels over the whole Mercator square, counted
// from its top-left corner; a plane is cut into square blocks, and every
// zone or tile is a window of one plane, so that two requests that overlap
// read the same pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace blocks {

// Zone levels: blocks of 1024 pixels (an 800 x 600 zone touches 4 at most),
// drawn with labels placed as if the map went on 128 pixels further.
// Chosen by bench_blocks over Montevideo, two runs each, load average 5-6
// (pan of 16 fresh zones, ms, levels 2 / 3 / 5 / 9 / 12; one block alone):
//    512: 845-2970 / 1006-1478 / 335-440 / 156-225 / 134-143; 3-19 ms
//   1024: 3457-3672 / 869-1217 / 453-955 / 148-155 / 126-166; 8-78 ms
//   2048: 6509-9730 / 1695-2093 / 676-753 / 570-796 / 326-410; 44-301 ms
// Zones over drawn ground took 2-10 ms (median) with each. 2048 draws far
// more than a pan needs; 512 pans as fast or faster but draws 2.25 times
// its area with the buffer, and has twice the edges that labels must keep
// clear of (names dropped or moved): 1024.
constexpr int kLevelBlock = 1024;
// Tiles: metatiles of 8 x 8 tiles.
constexpr int kTileSize = 256, kTilesPerBlock = 8;
constexpr int kLabelBuffer = 128;

struct Plane {
    std::string name;  // "L3" for zone level 3, "z12" for tile zoom 12
    double metresPerPixel = 0;
    int blockSize = 0;  // pixels a side
};

Plane LevelPlane(int level);
// Below zoom 3 the whole world is smaller than a metatile and is one block.
Plane TilePlane(int zoom);
// The plane of a name ("L3", "z12"); false for any other name.
bool PlaneNamed(const std::string& name, Plane& plane);

// A rectangle of a plane's pixels.
struct Window {
    int64_t left = 0, top = 0;
    int width = 0, height = 0;
};

// The zone of width x height pixels centred on (x, y) in Mercator metres,
// its corner moved to the plane's nearest pixel corner (half a pixel at most).
Window ZoneWindow(const Plane& plane, double x, double y, int width, int height);
Window TileWindow(int column, int row);

struct BlockId {
    int64_t column = 0, row = 0;
};
// The blocks a window touches, row by row.
std::vector<BlockId> BlocksOf(const Plane& plane, const Window& window);

// Mercator metres of a block's top-left corner.
double BlockLeft(const Plane& plane, int64_t column);
double BlockTop(const Plane& plane, int64_t row);

// Floor division, for pixels left of or above the plane's origin.
int64_t FloorDiv(int64_t a, int64_t b);

}  // namespace blocks
