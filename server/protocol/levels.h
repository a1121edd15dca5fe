// The plug-in's 13 map levels as the server serves them: metres per image
// pixel of spherical Mercator, finest first. The plug-in's own table must
// agree (tests/server/protocol_test.cpp).
#pragma once

namespace protocol {

constexpr int kLevels = 13;
constexpr double kMetresPerPixel[kLevels] = {
    1.3229180000489578, 2.6458359999815,   6.614590000011958, 19.843769999977667, 39.68754000001354,
    79.37508000002708,  132.29179999997723, 396.875400000019,  793.750800000038,   1587.501600000076,
    2645.835999999894,  5291.671999999788, 21166.68799999915,
};

// Metres per pixel of levels 1..13, or 0 for another level.
constexpr double MetresPerPixel(int level) {
    return level >= 1 && level <= kLevels ? kMetresPerPixel[level - 1] : 0.0;
}

}  // namespace protocol
