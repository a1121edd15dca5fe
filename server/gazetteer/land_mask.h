// Whether a position is ashore rather than at sea, from the polygons of the map
// data: the land, and the lakes, which are water on the map but not the sea.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace mapnik {
class datasource;
}

namespace gazetteer {

class LandMask {
public:
    // Opens each of shapeFiles (without their .shp) through Mapnik's shape
    // input, which reads only the polygons whose boxes hold the point; throws
    // std::runtime_error when it cannot.
    explicit LandMask(const std::vector<std::string>& shapeFiles);
    // Inside a polygon of any of the files.
    bool OnLand(double lat, double lon) const;

private:
    std::vector<std::shared_ptr<mapnik::datasource>> sources_;
};

}  // namespace gazetteer
