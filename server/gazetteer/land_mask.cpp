#include "server/gazetteer/land_mask.h"

#include <mapnik/datasource.hpp>
#include <mapnik/datasource_cache.hpp>
#include <mapnik/feature.hpp>
#include <mapnik/geometry.hpp>
#include <mapnik/query.hpp>

#include <stdexcept>

#include "server/geo.h"

namespace gazetteer {
namespace {

// Even-odd rule over all rings: holes (lakes inside land) count as outside.
void Cross(const mapnik::geometry::linear_ring<double>& ring, double x, double y, bool& inside) {
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const auto &a = ring[i], &b = ring[j];
        if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
}

bool Inside(const mapnik::geometry::polygon<double>& polygon, double x, double y) {
    bool inside = false;
    Cross(polygon.exterior_ring, x, y, inside);
    for (const auto& hole : polygon.interior_rings) Cross(hole, x, y, inside);
    return inside;
}

bool Inside(const mapnik::geometry::geometry<double>& g, double x, double y) {
    if (g.is<mapnik::geometry::polygon<double>>()) return Inside(g.get<mapnik::geometry::polygon<double>>(), x, y);
    if (g.is<mapnik::geometry::multi_polygon<double>>()) {
        for (const auto& p : g.get<mapnik::geometry::multi_polygon<double>>())
            if (Inside(p, x, y)) return true;
    }
    return false;
}

}  // namespace

LandMask::LandMask(const std::vector<std::string>& shapeFiles) {
    for (const std::string& file : shapeFiles) {
        mapnik::parameters params;
        params["type"] = "shape";
        params["file"] = file;
        try {
            sources_.push_back(mapnik::datasource_cache::instance().create(params));
        } catch (const std::exception& e) {
            throw std::runtime_error("cannot open the polygons " + file + ".shp: " + e.what());
        }
    }
}

bool LandMask::OnLand(double lat, double lon) const {
    const double x = geo::MercatorX(lon), y = geo::MercatorY(std::max(-85.0, std::min(85.0, lat)));
    mapnik::query q(mapnik::box2d<double>(x, y, x, y));
    for (const auto& source : sources_) {
        mapnik::featureset_ptr features = source->features(q);
        if (!features) continue;
        for (mapnik::feature_ptr f = features->next(); f; f = features->next())
            if (Inside(f->get_geometry(), x, y)) return true;
    }
    return false;
}

}  // namespace gazetteer
