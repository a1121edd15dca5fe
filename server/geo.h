// The map server's plane: spherical Mercator (EPSG:3857) on a sphere of radius
// 6378137 m (its levels: server/protocol/levels.h).
#pragma once

#include <algorithm>
#include <cmath>

namespace geo {

constexpr double kRadius = 6378137.0;
constexpr double kPi = 3.14159265358979323846;

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
