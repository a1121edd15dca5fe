#include "server/render/style_datasources.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <sstream>
#include <stdexcept>

namespace render {

namespace {

using Tree = boost::property_tree::ptree;
using Parameters = std::map<std::string, std::string>;

// A datasource's <Parameter name="...">value</Parameter> children over the
// parameters it starts from.
Parameters Read(const Tree& datasource, Parameters parameters) {
    for (const auto& child : datasource)
        if (child.first == "Parameter") parameters[child.second.get("<xmlattr>.name", "")] = child.second.data();
    return parameters;
}

// Takes the PostGIS datasource out of the layer, if it has one.
bool TakeFrom(Tree& layer, const std::map<std::string, Parameters>& templates, Parameters& taken) {
    for (auto it = layer.begin(); it != layer.end(); ++it) {
        if (it->first != "Datasource") continue;
        const auto base = templates.find(it->second.get("<xmlattr>.base", ""));
        Parameters parameters = Read(it->second, base == templates.end() ? Parameters() : base->second);
        const auto type = parameters.find("type");
        if (type == parameters.end() || type->second != "postgis") return false;
        taken = std::move(parameters);
        layer.erase(it);
        return true;
    }
    return false;
}

}  // namespace

std::string TakePostgisDatasources(const std::string& xml, std::vector<PostgisLayer>& taken) {
    Tree document;
    try {
        std::istringstream in(xml);
        boost::property_tree::read_xml(in, document);
    } catch (const boost::property_tree::xml_parser_error& e) {
        throw std::runtime_error(e.what());
    }
    const auto map = document.get_child_optional("Map");
    if (!map) return xml;  // Mapnik says what is wrong with it
    // Datasources named at the top, which a layer's one may start from.
    std::map<std::string, Parameters> templates;
    for (const auto& child : *map)
        if (child.first == "Datasource") templates[child.second.get("<xmlattr>.name", "")] = Read(child.second, {});
    const size_t before = taken.size();
    size_t position = 0;
    for (auto& child : *map) {
        if (child.first != "Layer") continue;
        Parameters parameters;
        if (TakeFrom(child.second, templates, parameters))
            taken.push_back({position, child.second.get("<xmlattr>.name", ""), std::move(parameters)});
        ++position;
    }
    if (taken.size() == before) return xml;
    std::ostringstream out;
    boost::property_tree::write_xml(out, document);
    return out.str();
}

}  // namespace render
