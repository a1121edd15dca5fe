#include "server/render/renderer.h"

#include <mapnik/agg_renderer.hpp>
#include <mapnik/datasource_cache.hpp>
#include <mapnik/font_engine_freetype.hpp>
#include <mapnik/image.hpp>
#include <mapnik/image_util.hpp>
#include <mapnik/load_map.hpp>
#include <mapnik/map.hpp>

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "server/render/gif_encoder.h"

namespace render {
namespace {

std::unique_ptr<mapnik::Map> LoadMap(const std::string& style, const std::string& base) {
    auto map = std::make_unique<mapnik::Map>(256, 256);
    try {
        mapnik::load_map(*map, style, true, base);
    } catch (const std::exception& e) {
        throw std::runtime_error("cannot load the style " + style + ": " + e.what());
    }
    return map;
}

// Mapnik refuses maps smaller than 16 pixels a side: such a picture is cut
// from the top-left corner of a 16-pixel one on the same pixel lattice.
std::vector<uint8_t> Draw(mapnik::Map& map, int width, int height, double x, double y, double s) {
    const int w = std::max(width, 1), h = std::max(height, 1);
    const int kSmallest = 16;  // mapnik::Map::MIN_MAPSIZE, private
    const int cw = std::max(w, kSmallest), ch = std::max(h, kSmallest);
    const double left = x - w * s / 2, top = y + h * s / 2;
    map.resize(cw, ch);
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
    mapnik::freetype_engine::register_fonts(PLIVORS_FONT_DIR, true);
}

Renderer::Renderer(const std::string& styleFile, const std::string& basePath, int threads)
    : style_(styleFile), base_(basePath) {
    std::unique_ptr<mapnik::Map> first = LoadMap(style_, base_);
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

void Renderer::Submit(std::function<void(void*)> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void Renderer::Work() {
    // libimagequant would start an OpenMP team per picture and spin it on
    // the cores the other workers render on: one worker, one core.
    omp_set_num_threads(1);
    std::unique_ptr<mapnik::Map> map;
    std::string loadError;
    try {
        map = LoadMap(style_, base_);
    } catch (const std::exception& e) {
        loadError = e.what();
    }
    for (;;) {
        std::function<void(void*)> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job(map.get());
    }
}

std::string Renderer::RenderGif(int width, int height, double x, double y, double metresPerPixel) {
    auto done = std::make_shared<std::promise<std::string>>();
    std::future<std::string> result = done->get_future();
    Submit([=](void* m) {
        try {
            if (m == nullptr) throw std::runtime_error("this worker could not load the style " + style_);
            std::vector<uint8_t> rgba = Draw(*static_cast<mapnik::Map*>(m), width, height, x, y, metresPerPixel);
            done->set_value(EncodeGif(rgba.data(), std::max(width, 1), std::max(height, 1)));
        } catch (const std::exception& e) {
            done->set_exception(std::make_exception_ptr(std::runtime_error(e.what())));
        }
    });
    return result.get();
}

}  // namespace render
