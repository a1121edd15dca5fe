// A Mapnik style read as XML, to take the datasources of its PostGIS layers
// out before Mapnik loads it: Mapnik connects a PostGIS datasource as it
// creates it, and the server wants to connect them itself, with its own
// connection words, when the database is there.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace render {

// A PostGIS layer of a style and the parameters of the datasource taken
// from it (those of its base="..." template first, its own over them).
struct PostgisLayer {
    size_t position;  // among the style's layers, in their order
    std::string name;
    std::map<std::string, std::string> parameters;
};

// The style's text without the datasources of its PostGIS layers, which are
// added to `taken`; the text itself when it has none. Throws
// std::runtime_error when the text is not XML.
std::string TakePostgisDatasources(const std::string& xml, std::vector<PostgisLayer>& taken);

}  // namespace render
