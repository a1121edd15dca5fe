// The map server's plane: spherical Mercator (EPSG:3857) on a sphere of radius
// 6378137 m, and its 13 scale levels in metres per pixel.
#pragma once

#include <algorithm>
#include <cmath>

namespace geo {

constexpr double kRadius = 6378137.0;
constexpr double kPi = 3.14159265358979323846;

// Metres per pixel of levels 1..13, or 0 for another level.
inline double MetresPerPixel(int level) {
    static const double kLevels[13] = {1.3229180000489578, 2.6458359999815,    6.614590000011958,
                                       19.843769999977667, 39.68754000001354,  79.37508000002708,
                                       132.29179999997723, 396.875400000019,   793.750800000038,
                                       1587.501600000076,  2645.835999999894,  5291.671999999788,
                                       21166.68799999915};
    return level >= 1 && level <= 13 ? kLevels[level - 1] : 0.0;
}

inline double MercatorX(double lon) { return kRadius * lon * kPi / 180.0; }
inline double MercatorY(double lat) { return kRadius * std::log(std::tan(kPi / 4 + lat * kPi / 360.0)); }
inline double Lon(double x) { return x / kRadius * 180.0 / kPi; }
inline double Lat(double y) { return (2.0 * std::atan(std::exp(y / kRadius)) - kPi / 2) * 180.0 / kPi; }

// Great-circle distance in metres on the same sphere.
inline double Distance(double lat1, double lon1, double lat2, double lon2) {
    const double r = kPi / 180.0;
    double a = std::sin((lat2 - lat1) * r / 2), b = std::sin((lon2 - lon1) * r / 2);
    double h = a * a + std::cos(lat1 * r) * std::cos(lat2 * r) * b * b;
    return 2 * kRadius * std::asin(std::sqrt(std::min(1.0, h)));
}

}  // namespace geo
