#include "server/render/style_datasources.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xinclude.h>

#include <boost/algorithm/string/trim.hpp>

#include <memory>
#include <stdexcept>

namespace render {

namespace {

using Parameters = std::map<std::string, std::string>;

struct FreeDocument {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct FreeText {
    void operator()(xmlChar* t) const { xmlFree(t); }
};
using Text = std::unique_ptr<xmlChar, FreeText>;

// libxml2 as Mapnik sets it up: entities substituted, external DTDs loaded,
// CDATA read as text.
const int kOptions = XML_PARSE_NOERROR | XML_PARSE_NOENT | XML_PARSE_NOBLANKS | XML_PARSE_DTDLOAD | XML_PARSE_NOCDATA;

bool Is(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>(name));
}

std::string String(Text text) { return text ? reinterpret_cast<const char*>(text.get()) : ""; }

std::string Attribute(const xmlNode* node, const char* name) {
    return String(Text(xmlGetProp(node, reinterpret_cast<const xmlChar*>(name))));
}

// A datasource's <Parameter name="...">value</Parameter> children over the
// parameters it starts from; values trimmed, as Mapnik trims them.
Parameters Read(const xmlNode* datasource, Parameters parameters) {
    for (const xmlNode* c = datasource->children; c != nullptr; c = c->next)
        if (Is(c, "Parameter"))
            parameters[Attribute(c, "name")] = boost::algorithm::trim_copy(String(Text(xmlNodeGetContent(c))));
    return parameters;
}

// The map's layers in Mapnik's order (an <Include> holds more of them) and
// the named datasources met before each, which a layer's one may start from.
struct Walk {
    std::vector<PostgisLayer>& taken;
    std::map<std::string, Parameters> templates;
    size_t position = 0;
    bool labelsMoved = false;

    void Children(xmlNode* parent) {
        for (xmlNode* c = parent->children; c != nullptr; c = c->next) {
            if (Is(c, "Include")) Children(c);
            else if (Is(c, "Datasource")) templates[Attribute(c, "name")] = Read(c, {});
            else if (Is(c, "Layer")) Layer(c), ++position;
            else if (Is(c, "Style")) Style(c);
        }
    }
    // Every label kept off the picture's edges (avoid-edges, against the
    // picture without its buffer). A block is drawn once and cut into zones:
    // a label across its edge would need the neighbour to place it exactly
    // the same, which other labels in the neighbour's buffer can prevent; so
    // no label crosses a block's edge, and none is ever cut in half. A
    // symbolizer that says otherwise keeps its word.
    void Style(xmlNode* style) {
        for (xmlNode* rule = style->children; rule != nullptr; rule = rule->next)
            for (xmlNode* c = Is(rule, "Rule") ? rule->children : nullptr; c != nullptr; c = c->next)
                if ((Is(c, "TextSymbolizer") || Is(c, "ShieldSymbolizer")) &&
                    !xmlHasProp(c, reinterpret_cast<const xmlChar*>("avoid-edges"))) {
                    xmlSetProp(c, reinterpret_cast<const xmlChar*>("avoid-edges"), reinterpret_cast<const xmlChar*>("true"));
                    labelsMoved = true;
                }
    }
    void Layer(xmlNode* layer) {
        for (xmlNode* c = layer->children; c != nullptr; c = c->next) {
            if (!Is(c, "Datasource")) continue;
            const auto base = templates.find(Attribute(c, "base"));
            Parameters parameters = Read(c, base == templates.end() ? Parameters() : base->second);
            if (parameters["type"] != "postgis") return;
            taken.push_back({position, Attribute(layer, "name"), std::move(parameters)});
            xmlUnlinkNode(c);
            xmlFreeNode(c);
            return;
        }
    }
};

}  // namespace

std::string TakePostgisDatasources(const std::string& xml, const std::string& base, std::vector<PostgisLayer>& taken) {
    std::unique_ptr<xmlDoc, FreeDocument> document(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), base.c_str(), nullptr, kOptions));
    if (document == nullptr) {
        const xmlError* e = xmlGetLastError();
        throw std::runtime_error(std::string("XML document not well formed: ") + (e && e->message ? e->message : ""));
    }
    if (xmlXIncludeProcessFlags(document.get(), kOptions) < 0)
        throw std::runtime_error("XML XInclude error: a file it includes did not load");
    xmlNode* map = xmlDocGetRootElement(document.get());
    if (map == nullptr || !Is(map, "Map")) return xml;  // Mapnik says what is wrong with it
    const size_t before = taken.size();
    Walk walk{taken, {}, 0};
    walk.Children(map);
    if (taken.size() == before && !walk.labelsMoved) return xml;
    // The entities are substituted in the text now: their declarations go.
    if (xmlDtd* dtd = xmlGetIntSubset(document.get())) {
        xmlUnlinkNode(reinterpret_cast<xmlNode*>(dtd));
        xmlFreeDtd(dtd);
    }
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(document.get(), &text, &size, "UTF-8");
    const Text owned(text);
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
}

}  // namespace render
