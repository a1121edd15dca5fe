// Whether a position is on land, from the land polygons of the map data.
#pragma once

#include <memory>
#include <string>

namespace mapnik {
class datasource;
}

namespace gazetteer {

class LandMask {
public:
    // Opens shapeFile (without its .shp) through Mapnik's shape input, which
    // reads only the polygons whose boxes hold the point; throws
    // std::runtime_error when it cannot.
    explicit LandMask(const std::string& shapeFile);
    bool OnLand(double lat, double lon) const;

private:
    std::shared_ptr<mapnik::datasource> source_;
};

}  // namespace gazetteer
