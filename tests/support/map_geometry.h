// What tests of real maps need to predict a picture: the spherical Mercator
// plane of the map server, its 13 levels and the default style's colours.
// The levels are the protocol's own table (the plug-in's is checked against
// it); the plane is written here on its own, so that a fault in the server's
// shows up as a disagreement.
#pragma once

#include <cmath>
#include <cstdlib>

#include "server/protocol/levels.h"

namespace testing_support {

const double kR = 6378137.0, kPi = 3.14159265358979323846;
// Metres per pixel of levels 1..13.
inline constexpr const auto& kLevels = protocol::kMetresPerPixel;
inline double MercX(double lon) { return kR * lon * kPi / 180; }
inline double MercY(double lat) { return kR * std::log(std::tan(kPi / 4 + lat * kPi / 360)); }
inline double Lon(double x) { return x / kR * 180 / kPi; }
inline double Lat(double y) { return (2 * std::atan(std::exp(y / kR)) - kPi / 2) * 180 / kPi; }

struct Rgb {
    int r, g, b;
};
inline bool Near(Rgb a, Rgb b, int tolerance = 12) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}
// The default style's land, water and place dots.
const Rgb kLand{0xf2, 0xef, 0xe9}, kSea{0xaa, 0xd3, 0xdf}, kDot{0x3a, 0x3a, 0x3a};

}  // namespace testing_support
