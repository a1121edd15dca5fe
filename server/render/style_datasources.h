// A Mapnik style read as Mapnik reads it (libxml2, entities substituted),
// to take the datasources of its PostGIS layers out before Mapnik loads it:
// Mapnik connects a PostGIS datasource as it creates it, and the server
// wants to make them itself, with its own connection words, when the
// database is there. The same reading keeps every label off the edges of
// the pictures drawn (each block's), so that none is cut in half.
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
// added to `taken`, and with avoid-edges on every label that does not set
// it; the text itself when there is nothing to change. Files it names are
// found from `base`, the folder Mapnik is given. Throws std::runtime_error
// when the text is not XML.
std::string TakePostgisDatasources(const std::string& xml, const std::string& base, std::vector<PostgisLayer>& taken);

}  // namespace render
