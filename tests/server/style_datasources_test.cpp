// The styles' PostGIS datasources are taken out of the text Mapnik loads, so
// that the server makes them with its connection: every other part of the
// style must reach Mapnik as it was written.
#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <sstream>
#include <stdexcept>

#include "server/render/style_datasources.h"

using render::PostgisLayer;
using render::TakePostgisDatasources;

namespace {

const char kStyle[] = R"(<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE Map [<!ENTITY schema "osm">]>
<!-- a comment -->
<Map srs="+init=epsg:3857" background-color="#aad3df">
  <Datasource name="osm">
    <Parameter name="type">postgis</Parameter>
    <Parameter name="dbname">style's own</Parameter>
    <Parameter name="host">style-host</Parameter>
  </Datasource>
  <Style name="roads"><Rule><Filter>([kind] = '&schema;&amp;b')</Filter><LineSymbolizer stroke="#fff"/></Rule></Style>
  <Layer name="land" srs="+init=epsg:4326">
    <StyleName>land</StyleName>
    <Datasource><Parameter name="type">shape</Parameter><Parameter name="file">land.shp</Parameter></Datasource>
  </Layer>
  <Layer name="roads">
    <StyleName>roads</StyleName>
    <Datasource base="osm">
      <Parameter name="table">(SELECT way FROM &schema;.planet_osm_line<![CDATA[
 WHERE highway <> '' AND name = 'R&D') AS roads]]></Parameter>
      <Parameter name="host">layer-host</Parameter>
    </Datasource>
  </Layer>
  <Layer name="off" status="off"><StyleName>roads</StyleName></Layer>
  <Include>
    <Layer name="names">
      <StyleName>names</StyleName>
      <Datasource><Parameter name="type"><![CDATA[ postgis
      ]]></Parameter><Parameter name="table">names</Parameter></Datasource>
    </Layer>
  </Include>
</Map>
)";

boost::property_tree::ptree Parsed(const std::string& xml) {
    boost::property_tree::ptree tree;
    std::istringstream in(xml);
    boost::property_tree::read_xml(in, tree);
    return tree;
}

}  // namespace

TEST(StyleDatasources, PostgisLayersLoseTheirDatasourceAndNothingElse) {
    std::vector<PostgisLayer> taken;
    const std::string out = TakePostgisDatasources(kStyle, "", taken);

    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].position, 1u);
    EXPECT_EQ(taken[0].name, "roads");
    const std::map<std::string, std::string> roads = {
        {"type", "postgis"},
        {"dbname", "style's own"},
        {"host", "layer-host"},
        {"table", "(SELECT way FROM osm.planet_osm_line\n WHERE highway <> '' AND name = 'R&D') AS roads"}};
    EXPECT_EQ(taken[0].parameters, roads) << "the template's parameters under the layer's own";
    EXPECT_EQ(taken[1].position, 3u) << "a layer without a datasource counts, and one in an <Include>";
    EXPECT_EQ(taken[1].name, "names");
    EXPECT_EQ(taken[1].parameters, (std::map<std::string, std::string>{{"type", "postgis"}, {"table", "names"}}));

    // The rest, as Mapnik will read it: every layer in its place, the shape
    // layer's datasource and the texts with markup characters unchanged.
    EXPECT_EQ(out.find("ENTITY"), std::string::npos) << "substituted, the entities need no declaration";
    const auto map = Parsed(out).get_child("Map");
    EXPECT_EQ(map.get<std::string>("<xmlattr>.background-color"), "#aad3df");
    EXPECT_EQ(map.get<std::string>("Style.Rule.Filter"), "([kind] = 'osm&b')");
    EXPECT_EQ(map.get<std::string>("Datasource.<xmlattr>.name"), "osm") << "a template is Mapnik's to read";
    std::vector<std::string> names;
    const auto look = [&names](const boost::property_tree::ptree& layer) {
        names.push_back(layer.get<std::string>("<xmlattr>.name"));
        EXPECT_EQ(layer.count("Datasource") > 0, names.back() == "land") << names.back();
        EXPECT_EQ(layer.count("StyleName"), 1u) << names.back();
    };
    for (const auto& child : map) {
        if (child.first == "Layer") look(child.second);
        if (child.first == "Include") look(child.second.get_child("Layer"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"land", "roads", "off", "names"}));
    EXPECT_EQ(map.get<std::string>("Layer.Datasource.Parameter"), "shape");

    // Another style's layers are added after these, counted from its own first.
    const std::string second = "<Map><Layer name=\"x\"><Datasource><Parameter name=\"type\">postgis</Parameter>"
                               "</Datasource></Layer></Map>";
    TakePostgisDatasources(second, "", taken);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[2].position, 0u);
}

TEST(StyleDatasources, AStyleWithoutPostgisIsLoadedAsWritten) {
    std::vector<PostgisLayer> taken;
    const std::string style = "<?xml version=\"1.0\"?>\n<!-- kept -->\n<Map><Layer name=\"a\"><Datasource>"
                              "<Parameter name=\"type\">csv</Parameter></Datasource></Layer></Map>\n";
    EXPECT_EQ(TakePostgisDatasources(style, "", taken), style);
    EXPECT_TRUE(taken.empty());
    EXPECT_THROW(TakePostgisDatasources("<Map><Layer></Map>", "", taken), std::runtime_error);
}
