#include "server/render/renderer.h"

#include <mapnik/agg_renderer.hpp>
#include <mapnik/datasource_cache.hpp>
#include <mapnik/font_engine_freetype.hpp>
#include <mapnik/image.hpp>
#include <mapnik/image_util.hpp>
#include <mapnik/load_map.hpp>
#include <mapnik/map.hpp>
#include <mapnik/feature_type_style.hpp>
#include <mapnik/layer.hpp>
#include <mapnik/rule.hpp>
#include <mapnik/symbolizer.hpp>

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "server/markup.h"
#include "server/render/fonts.h"

namespace render {

struct Renderer::WorkerMap {
    std::unique_ptr<mapnik::Map> map;
    std::string loadError;
};

namespace {

// The style's text with the connection words at the end of every PostGIS
// datasource: Mapnik keeps the last of a repeated parameter.
std::string WithConnection(const std::string& xml, const PostgisConnection& postgis) {
    if (postgis.empty()) return xml;
    std::string words;
    for (const auto& w : postgis) words += "<Parameter name=\"" + w.first + "\">" + markup::Escaped(w.second) + "</Parameter>";
    std::string out;
    size_t from = 0;
    for (;;) {
        size_t open = xml.find("<Datasource", from);
        size_t close = open == std::string::npos ? open : xml.find("</Datasource>", open);
        if (close == std::string::npos) break;
        const std::string block = xml.substr(open, close - open);
        out.append(xml, from, close - from);
        if (block.find("postgis") != std::string::npos && block.find("\"type\"") != std::string::npos) out += words;
        from = close;
    }
    out.append(xml, from, std::string::npos);
    return out;
}

// The style's text with every label kept off the picture's edges (Mapnik's
// avoid-edges, against the picture without its buffer). A block is drawn
// once and cut into zones: a label across its edge would need the
// neighbour to place it exactly the same, which another set of labels in
// the neighbour's buffer can prevent; so no label crosses a block's edge,
// and none is ever cut in half. A symbolizer that says otherwise keeps its word.
std::string LabelsOffEdges(std::string xml) {
    for (const char* tag : {"<TextSymbolizer", "<ShieldSymbolizer"}) {
        const std::string name = tag;
        for (size_t at = xml.find(name); at != std::string::npos; at = xml.find(name, at + name.size())) {
            const size_t end = xml.find('>', at);
            if (end == std::string::npos) break;
            const char after = xml[at + name.size()];
            if (after != ' ' && after != '\n' && after != '\t' && after != '>' && after != '/') continue;
            if (xml.substr(at, end - at).find("avoid-edges") != std::string::npos) continue;
            xml.insert(at + name.size(), " avoid-edges=\"true\"");
        }
    }
    return xml;
}

bool DrawsText(const mapnik::Map& map, const mapnik::layer& layer) {
    for (const std::string& name : layer.styles()) {
        auto style = map.find_style(name);
        if (!style) continue;
        for (const mapnik::rule& rule : style->get_rules())
            for (const mapnik::symbolizer& symbolizer : rule.get_symbolizers())
                if (symbolizer.is<mapnik::text_symbolizer>()) return true;
    }
    return false;
}

std::unique_ptr<mapnik::Map> LoadMap(const std::vector<StyleFile>& styles, const PostgisConnection& postgis) {
    auto map = std::make_unique<mapnik::Map>(256, 256);
    for (const StyleFile& style : styles) {
        std::ifstream in(style.file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) throw std::runtime_error("cannot read the style " + style.file);
        std::string xml = text.str();
        for (const auto& r : style.replaced)
            for (size_t at = xml.find(r.first); at != std::string::npos; at = xml.find(r.first, at + r.second.size()))
                xml.replace(at, r.first.size(), r.second);
        // The first style sets the map's background; later ones add layers.
        const boost::optional<mapnik::color> background = map->background();
        const size_t before = map->layer_count();
        try {
            mapnik::load_map_string(*map, WithConnection(LabelsOffEdges(std::move(xml)), postgis), true, style.base);
        } catch (const std::exception& e) {
            throw std::runtime_error("cannot load the style " + style.file + ": " + e.what());
        }
        if (before == 0) continue;
        if (background) map->set_background(*background);
        // A later style's drawing goes under the earlier ones' labels, which
        // stay readable; its labels come last, keeping clear of theirs (a
        // city's name wins over its suburbs').
        std::vector<mapnik::layer>& layers = map->layers();
        const auto added = layers.begin() + static_cast<long>(before);
        const auto addedLabels = std::stable_partition(
            added, layers.end(), [&](const mapnik::layer& l) { return !DrawsText(*map, l); });
        size_t labels = 0;
        while (labels < before && !DrawsText(*map, layers[labels])) ++labels;
        std::rotate(layers.begin() + static_cast<long>(labels), added, addedLabels);
    }
    return map;
}

// Mapnik refuses maps smaller than 16 pixels a side: such a picture is cut
// from the top-left corner of a 16-pixel one on the same pixel lattice.
std::vector<uint8_t> DrawMap(mapnik::Map& map, int width, int height, double left, double top, double s, int buffer) {
    const int w = std::max(width, 1), h = std::max(height, 1);
    const int kSmallest = 16;  // mapnik::Map::MIN_MAPSIZE, private
    const int cw = std::max(w, kSmallest), ch = std::max(h, kSmallest);
    map.resize(cw, ch);
    map.set_buffer_size(buffer);
    map.zoom_to_box(mapnik::box2d<double>(left, top - ch * s, left + cw * s, top));
    mapnik::image_rgba8 canvas(cw, ch);
    mapnik::agg_renderer<mapnik::image_rgba8> renderer(map, canvas);
    renderer.apply();
    // Mapnik's pixels are premultiplied; the background is opaque in any
    // sensible style, but a transparent one must not turn black.
    canvas.set_premultiplied(true);
    mapnik::demultiply_alpha(canvas);
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (int row = 0; row < h; ++row)
        std::memcpy(&rgba[static_cast<size_t>(row) * w * 4], canvas.get_row(row), static_cast<size_t>(w) * 4);
    return rgba;
}

}  // namespace

void SetUpMapnik() {
    mapnik::datasource_cache::instance().register_datasources(PLIVORS_MAPNIK_INPUT_DIR);
    for (const char* folder : kFontFolders) mapnik::freetype_engine::register_fonts(folder, true);
}

Renderer::Renderer(const std::vector<StyleFile>& styles, const PostgisConnection& postgis, int threads, bool lazy)
    : styles_(styles), postgis_(postgis) {
    if (!lazy) LoadMap(styles_, postgis_);
    threads = std::max(1, threads);
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

Renderer::~Renderer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void Renderer::Run(std::function<void(const Draw&)> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void Renderer::Load(WorkerMap& w) {
    try {
        w.map = LoadMap(styles_, postgis_);
    } catch (const std::exception& e) {
        w.loadError = e.what();
    }
}

std::vector<uint8_t> Renderer::DrawWithRetry(WorkerMap& w, int width, int height, double left, double top, double s,
                                             int buffer) {
    // A map whose load failed on an unreachable database is loaded again.
    if (w.map == nullptr && !postgis_.empty()) Load(w);
    if (w.map == nullptr) throw std::runtime_error("this worker could not load its map: " + w.loadError);
    try {
        return DrawMap(*w.map, width, height, left, top, s, buffer);
    } catch (const std::exception&) {
        if (postgis_.empty()) throw;
        // After the database restarted, each pooled connection fails its
        // first query and is then replaced: draw once more before failing.
        return DrawMap(*w.map, width, height, left, top, s, buffer);
    }
}

void Renderer::Work() {
    // libimagequant would start an OpenMP team per picture and spin it on
    // the cores the other workers render on: one worker, one core.
    omp_set_num_threads(1);
    WorkerMap w;
    Load(w);
    const Draw draw = [this, &w](int width, int height, double left, double top, double s, int buffer) {
        return DrawWithRetry(w, width, height, left, top, s, buffer);
    };
    for (;;) {
        std::function<void(const Draw&)> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job(draw);
    }
}

std::string EncodePng(const uint8_t* rgba, int width, int height) {
    mapnik::image_rgba8 image(width, height);
    std::memcpy(image.data(), rgba, static_cast<size_t>(width) * height * 4);
    return mapnik::save_to_string(image, "png32");
}

}  // namespace render
