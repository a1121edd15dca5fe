#include "server/blocks/block_maps.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>
#include <thread>

#include <boost/asio/post.hpp>

#include "server/blocks/disk_store.h"
#include "server/blocks/memory_store.h"
#include "server/geo.h"
#include "server/render/gif_encoder.h"

namespace blocks {

// A window's blocks as they arrive, in any order and from any thread; the
// last one to arrive cuts the window.
struct BlockMaps::Gathering {
    Plane plane;
    Window window;
    std::vector<BlockId> ids;
    Cut cut;
    std::mutex mutex;
    std::vector<BlockPtr> blocks;
    PalettePtr palette;
    std::exception_ptr error;
    size_t remaining = 0;

    void Arrived(size_t i, const BlockPtr& block, const PalettePtr& p, std::exception_ptr e) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (e != nullptr && error == nullptr) error = e;
            blocks[i] = block;
            if (palette == nullptr) palette = p;
            if (--remaining > 0) return;
        }
        if (error != nullptr) return cut({}, nullptr, error);
        cut(Compose(), palette, nullptr);
    }

    std::vector<uint8_t> Compose() const {
        const int64_t size = plane.blockSize, right = window.left + window.width, bottom = window.top + window.height;
        std::vector<uint8_t> out(static_cast<size_t>(window.width) * window.height);
        for (size_t k = 0; k < ids.size(); ++k) {
            const int64_t bx = ids[k].column * size, by = ids[k].row * size;
            const int64_t x0 = std::max(window.left, bx), x1 = std::min(right, bx + size);
            const int64_t y0 = std::max(window.top, by), y1 = std::min(bottom, by + size);
            for (int64_t y = y0; y < y1; ++y)
                std::memcpy(&out[static_cast<size_t>((y - window.top) * window.width + (x0 - window.left))],
                            &blocks[k]->pixels[static_cast<size_t>((y - by) * size + (x0 - bx))],
                            static_cast<size_t>(x1 - x0));
        }
        return out;
    }
};

BlockMaps::BlockMaps(render::Renderer& renderer, MemoryStore& memory, DiskStore* disk, Samples samples,
                     std::set<uint32_t> styleColours, const Expiries* expiries)
    : renderer_(renderer), memory_(memory), disk_(disk), samples_(std::move(samples)),
      styleColours_(std::move(styleColours)), expiries_(expiries),
      cutting_(std::max(2u, std::thread::hardware_concurrency())) {}

void BlockMaps::Drain() { cutting_.join(); }

void BlockMaps::Zone(const std::string& generation, int level, int width, int height, double x, double y,
                     Done done) {
    const Plane plane = LevelPlane(level);
    const int w = std::max(width, 1), h = std::max(height, 1);
    Post(generation, plane, ZoneWindow(plane, x, y, w, h),
         [w, h, done](std::vector<uint8_t> indices, PalettePtr palette, std::exception_ptr error) {
             if (error != nullptr) return done(std::string(), error);
             std::string gif;
             try {
                 const std::string table = palette->Serialised();
                 gif = render::EncodeGif(reinterpret_cast<const uint8_t*>(table.data() + 1),
                                         static_cast<int>(palette->colours().size()), indices.data(), w, h);
             } catch (const std::exception& e) {
                 return done(std::string(), std::make_exception_ptr(std::runtime_error(e.what())));
             }
             done(std::move(gif), nullptr);
         });
}

void BlockMaps::Tile(const std::string& generation, int zoom, int column, int row, Done done) {
    Post(generation, TilePlane(zoom), TileWindow(column, row),
         [done](std::vector<uint8_t> indices, PalettePtr palette, std::exception_ptr error) {
             if (error != nullptr) return done(std::string(), error);
             std::vector<uint8_t> rgba;
             rgba.reserve(indices.size() * 4);
             for (uint8_t i : indices) {
                 const Colour& c = palette->colours()[i];
                 rgba.insert(rgba.end(), {c.r, c.g, c.b, 255});
             }
             std::string png;
             try {
                 png = render::EncodePng(rgba.data(), kTileSize, kTileSize);
             } catch (const std::exception& e) {
                 return done(std::string(), std::make_exception_ptr(std::runtime_error(e.what())));
             }
             done(std::move(png), nullptr);
         });
}

void BlockMaps::Post(const std::string& generation, const Plane& plane, const Window& window, Cut cut) {
    boost::asio::post(cutting_, [this, generation, plane, window, cut = std::move(cut)]() mutable {
        CutWindow(generation, plane, window, std::move(cut));
    });
}

void BlockMaps::CutWindow(const std::string& generation, const Plane& plane, const Window& window, Cut cut) {
    auto g = std::make_shared<Gathering>();
    g->plane = plane;
    g->window = window;
    g->ids = BlocksOf(plane, window);
    g->cut = std::move(cut);
    g->blocks.resize(g->ids.size());
    g->remaining = g->ids.size();
    for (size_t i = 0; i < g->ids.size(); ++i)
        Fetch(BlockKey{generation, plane.name, g->ids[i].column, g->ids[i].row}, plane,
              [g, i](BlockPtr block, PalettePtr palette, std::exception_ptr error) {
                  g->Arrived(i, block, palette, error);
              });
}

void BlockMaps::Fetch(const BlockKey& key, const Plane& plane, Got got) {
    const PalettePtr palette = KnownPalette(key.generation, plane);
    auto fits = [&](const BlockPtr& b, bool count = true) {
        if (!b || b->palette != palette->checksum() || b->size != plane.blockSize) return false;
        if (!Stale(key, plane, *b)) return true;
        if (count) ++expired_;
        return false;
    };
    if (palette != nullptr) {
        BlockPtr block = memory_.Find(key);
        if (fits(block)) {
            ++fromMemory_;
            return got(block, palette, nullptr);
        }
        block = disk_ != nullptr ? disk_->Find(key) : nullptr;
        if (fits(block)) {
            ++fromDisk_;
            memory_.Keep(key, block);
            return got(block, palette, nullptr);
        }
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // Drawn by someone else since the look above?
        BlockPtr block = palette != nullptr ? memory_.Find(key) : nullptr;
        if (fits(block, false)) {
            lock.unlock();
            ++fromMemory_;
            return got(block, palette, nullptr);
        }
        std::vector<Got>& waiting = pending_[key.Path()];
        waiting.push_back(std::move(got));
        if (waiting.size() > 1) return;  // its draw is under way
    }
    renderer_.Run([this, key, plane](const render::Renderer::Draw& draw) { Draw(key, plane, draw); });
}

void BlockMaps::Draw(const BlockKey& key, const Plane& plane, const render::Renderer::Draw& draw) {
    PalettePtr palette;
    BlockPtr block;
    // Known before the draw reads the database: an update learnt of later
    // finds this block older than itself.
    const uint64_t update = expiries_ != nullptr ? expiries_->Latest() : 0;
    try {
        palette = KnownPalette(key.generation, plane);
        if (palette == nullptr) palette = ChoosePalette(key.generation, plane, draw);
        const int size = plane.blockSize;
        const std::vector<uint8_t> rgba = draw(size, size, BlockLeft(plane, key.column), BlockTop(plane, key.row),
                                               plane.metresPerPixel, kLabelBuffer);
        auto drawn = std::make_shared<Block>();
        drawn->size = size;
        drawn->palette = palette->checksum();
        drawn->update = update;
        drawn->pixels = palette->Indices(rgba.data(), static_cast<size_t>(size) * size);
        block = std::move(drawn);
    } catch (const std::exception& e) {
        return Complete(key.Path(), nullptr, nullptr, std::make_exception_ptr(std::runtime_error(e.what())));
    }
    ++drawn_;
    memory_.Keep(key, block);
    Complete(key.Path(), block, palette, nullptr);
    // After the waiters: they need not wait for the file.
    if (disk_ != nullptr) disk_->Keep(key, block);
}

void BlockMaps::Complete(const std::string& path, const BlockPtr& block, const PalettePtr& palette,
                         std::exception_ptr error) {
    std::vector<Got> waiting;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pending_.find(path);
        if (it == pending_.end()) return;
        waiting = std::move(it->second);
        pending_.erase(it);
    }
    // The render worker goes back to drawing; the waiters cut on our threads.
    boost::asio::post(cutting_, [waiting = std::move(waiting), block, palette, error] {
        for (const Got& got : waiting) got(block, palette, error);
    });
}

BlockMaps::PalettePtr BlockMaps::KnownPalette(const std::string& generation, const Plane& plane) {
    const std::string name = generation + "/" + plane.name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = palettes_.find(name);
        if (it != palettes_.end()) return it->second;
    }
    std::optional<std::string> kept = disk_ != nullptr ? disk_->Read(name + "/palette") : std::nullopt;
    std::optional<Palette> parsed = kept ? Palette::Parse(*kept) : std::nullopt;
    if (!parsed) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return palettes_.emplace(name, std::make_shared<const Palette>(std::move(*parsed))).first->second;
}

BlockMaps::PalettePtr BlockMaps::ChoosePalette(const std::string& generation, const Plane& plane,
                                               const render::Renderer::Draw& draw) {
    std::lock_guard<std::mutex> choosing(choosing_);
    if (PalettePtr known = KnownPalette(generation, plane)) return known;
    // The blocks at the samples and at the plane's centre (open sea, for
    // the sea's colour); each once.
    std::vector<std::pair<double, double>> points = samples_ ? samples_() : std::vector<std::pair<double, double>>();
    points.emplace_back(0.0, 0.0);
    std::set<std::pair<int64_t, int64_t>> ids;
    std::vector<std::vector<uint8_t>> pictures;
    for (const auto& p : points) {
        const Window at = ZoneWindow(plane, p.first, p.second, 1, 1);
        const BlockId id = BlocksOf(plane, at).front();
        if (!ids.insert({id.column, id.row}).second) continue;
        pictures.push_back(draw(plane.blockSize, plane.blockSize, BlockLeft(plane, id.column), BlockTop(plane, id.row),
                                plane.metresPerPixel, kLabelBuffer));
    }
    auto palette = std::make_shared<const Palette>(Palette::FromSamples(pictures, plane.blockSize, styleColours_));
    const std::string name = generation + "/" + plane.name;
    if (disk_ != nullptr) disk_->Write(name + "/palette", palette->Serialised());
    std::lock_guard<std::mutex> lock(mutex_);
    return palettes_.emplace(name, palette).first->second;
}

bool BlockMaps::Stale(const BlockKey& key, const Plane& plane, const Block& block) const {
    return expiries_ != nullptr && expiries_->Touched(block.update, BlockArea(plane, key.column, key.row));
}

void BlockMaps::DropExpired() {
    const auto counts = memory_.DropIf([this](const BlockKey& key, const Block& block) {
        Plane plane;
        return PlaneNamed(key.plane, plane) && Stale(key, plane, block);
    });
    expired_ += counts.first;
    kept_ = counts.second;
}

BlockMaps::Counters BlockMaps::counters() const {
    Counters c;
    c.drawn = drawn_;
    c.fromMemory = fromMemory_;
    c.fromDisk = fromDisk_;
    c.expired = expired_;
    c.kept = kept_;
    c.memoryBytes = memory_.bytes();
    c.diskBytes = disk_ != nullptr ? disk_->bytes() : 0;
    return c;
}

}  // namespace blocks
