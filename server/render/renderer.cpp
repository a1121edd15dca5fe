#include "server/render/renderer.h"

#include <mapnik/agg_renderer.hpp>
#include <mapnik/datasource_cache.hpp>
#include <mapnik/font_engine_freetype.hpp>
#include <mapnik/image.hpp>
#include <mapnik/image_util.hpp>
#include <mapnik/load_map.hpp>
#include <mapnik/map.hpp>
#include <mapnik/params.hpp>
#include <mapnik/feature_type_style.hpp>
#include <mapnik/layer.hpp>
#include <mapnik/rule.hpp>
#include <mapnik/symbolizer.hpp>

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <numeric>
#include <sstream>
#include <stdexcept>

#include "server/render/fonts.h"
#include "server/render/style_datasources.h"

namespace render {

namespace {

// A PostGIS layer of a loaded map still without its datasource: made, it
// connects, and the database may not be there yet.
struct Unconnected {
    size_t index;  // in the map's layers
    std::string name;
    mapnik::parameters parameters;
};

}  // namespace

struct Renderer::WorkerMap {
    std::unique_ptr<mapnik::Map> map;
    std::vector<Unconnected> unconnected;
    std::string loadError;
};

namespace {

// The style's parameters with the connection words over them.
mapnik::parameters WithConnection(const std::map<std::string, std::string>& style, const PostgisConnection& postgis) {
    mapnik::parameters parameters;
    for (const auto& p : style) parameters[p.first] = p.second;
    for (const auto& w : postgis) parameters[w.first] = w.second;
    return parameters;
}

std::string ReadStyle(const StyleFile& style) {
    std::ifstream in(style.file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) throw std::runtime_error("cannot read the style " + style.file);
    std::string xml = text.str();
    for (const auto& r : style.replaced)
        for (size_t at = xml.find(r.first); at != std::string::npos; at = xml.find(r.first, at + r.second.size()))
            xml.replace(at, r.first.size(), r.second);
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

// A later style's drawing goes under the earlier ones' labels, which stay
// readable; its labels come last, keeping clear of theirs (a city's name
// wins over its suburbs'). The layers from `before` on are the later style's.
void PutLabelsLast(mapnik::Map& map, size_t before, std::vector<Unconnected>& unconnected) {
    std::vector<mapnik::layer>& layers = map.layers();
    std::vector<size_t> order(layers.size());
    std::iota(order.begin(), order.end(), size_t(0));
    const auto text = [&](size_t i) { return DrawsText(map, layers[i]); };
    const auto added = order.begin() + static_cast<long>(before);
    const auto addedLabels = std::stable_partition(added, order.end(), [&](size_t i) { return !text(i); });
    size_t labels = 0;
    while (labels < before && !text(order[labels])) ++labels;
    std::rotate(order.begin() + static_cast<long>(labels), added, addedLabels);
    std::vector<mapnik::layer> sorted;
    std::vector<size_t> now(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        now[order[i]] = i;
        sorted.push_back(std::move(layers[order[i]]));
    }
    layers.swap(sorted);
    for (Unconnected& u : unconnected) u.index = now[u.index];
}

// The styles in one map, their PostGIS layers left unconnected: loading
// needs no database.
std::unique_ptr<mapnik::Map> LoadMap(const std::vector<StyleFile>& styles, const PostgisConnection& postgis,
                                     std::vector<Unconnected>& unconnected) {
    auto map = std::make_unique<mapnik::Map>(256, 256);
    std::vector<Unconnected> waiting;
    for (const StyleFile& style : styles) {
        // The first style sets the map's background; later ones add layers.
        const boost::optional<mapnik::color> background = map->background();
        const size_t before = map->layer_count();
        std::vector<PostgisLayer> taken;
        try {
            const std::string xml = TakePostgisDatasources(ReadStyle(style), style.base, taken);
            mapnik::load_map_string(*map, xml, true, style.base);
        } catch (const std::exception& e) {
            throw std::runtime_error("cannot load the style " + style.file + ": " + e.what());
        }
        for (const PostgisLayer& l : taken) {
            const size_t index = before + l.position;
            if (index >= map->layer_count() || map->layers()[index].name() != l.name)
                throw std::runtime_error("the style " + style.file + " lost its layer " + l.name + " in loading");
            waiting.push_back({index, l.name, WithConnection(l.parameters, postgis)});
        }
        if (before == 0) continue;
        if (background) map->set_background(*background);
        PutLabelsLast(*map, before, waiting);
    }
    unconnected = std::move(waiting);
    return map;
}

// Gives the waiting layers their datasources. Those made stay when a later
// one fails, whose error is thrown with its layer's name.
void Connect(mapnik::Map& map, std::vector<Unconnected>& unconnected) {
    while (!unconnected.empty()) {
        const Unconnected& u = unconnected.back();
        try {
            map.layers()[u.index].set_datasource(mapnik::datasource_cache::instance().create(u.parameters));
        } catch (const std::exception& e) {
            throw std::runtime_error("the layer " + u.name + " has no datasource: " + e.what());
        }
        unconnected.pop_back();
    }
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
    if (!lazy) {
        std::vector<Unconnected> unconnected;
        Connect(*LoadMap(styles_, postgis_, unconnected), unconnected);
    }
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
        if (w.map == nullptr) w.map = LoadMap(styles_, postgis_, w.unconnected);
        Connect(*w.map, w.unconnected);
    } catch (const std::exception& e) {
        w.loadError = e.what();
    }
}

std::vector<uint8_t> Renderer::DrawWithRetry(WorkerMap& w, int width, int height, double left, double top, double s,
                                             int buffer) {
    // A map whose layers could not connect to an unreachable database tries
    // again.
    const auto ready = [&w] { return w.map != nullptr && w.unconnected.empty(); };
    if (!ready() && !postgis_.empty()) Load(w);
    if (!ready()) throw std::runtime_error("this worker could not load its map: " + w.loadError);
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
