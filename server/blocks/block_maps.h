// Zones and tiles cut from blocks drawn once. A request names a window of a
// plane (grid.h); each block it touches comes from memory, else from the
// disk store, else from one draw on a render worker that every request
// needing it at the same time waits for. A drawn block is kept even when
// its requests have gone; a failed draw keeps nothing and fails them all.
// Each plane's palette is chosen, once per generation, from the blocks
// around fixed sample points, and kept beside the blocks. Block files are
// read, and zones cut and encoded, on threads of this class's own: never on
// the front's threads (a slow disk or a 5 ms encode would stall every
// connection they serve), nor on the render workers (which only draw).
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/thread_pool.hpp>

#include "server/blocks/block_store.h"
#include "server/blocks/expiry.h"
#include "server/blocks/grid.h"
#include "server/blocks/palette.h"
#include "server/render/renderer.h"

namespace blocks {

class DiskStore;
class MemoryStore;

class BlockMaps {
public:
    // Mercator points whose blocks choose a plane's palette; asked on a
    // render worker (it may wait on a database, and throw).
    using Samples = std::function<std::vector<std::pair<double, double>>()>;
    // disk may be null: memory only.
    // styleColours: kept exact in every palette (StyleColours).
    // expiries: what street updates touched (null: the data never changes
    // under the blocks).
    BlockMaps(render::Renderer& renderer, MemoryStore& memory, DiskStore* disk, Samples samples,
              std::set<uint32_t> styleColours = {}, const Expiries* expiries = nullptr);
    BlockMaps(const BlockMaps&) = delete;
    BlockMaps& operator=(const BlockMaps&) = delete;

    // Finishes the cuts under way and queued, their answers given; call
    // once the renderer has stopped (no draw can queue another).
    void Drain();

    using Done = std::function<void(std::string picture, std::exception_ptr error)>;
    // A GIF of width x height pixels (0 counting as 1) centred on (x, y).
    void Zone(const std::string& generation, int level, int width, int height, double x, double y, Done done);
    // A 256-pixel PNG of the XYZ scheme.
    void Tile(const std::string& generation, int zoom, int column, int row, Done done);

    // After an update was added to the expiries: the blocks in memory it
    // touched go (those in the block store are judged as they are read).
    void DropExpired();

    struct Counters {
        uint64_t drawn = 0, fromMemory = 0, fromDisk = 0, memoryBytes = 0, diskBytes = 0;
        // Blocks found touched by an update and dropped, and the blocks in
        // memory the last update left as they were.
        uint64_t expired = 0, kept = 0;
    };
    Counters counters() const;

private:
    using PalettePtr = std::shared_ptr<const Palette>;
    // The window's indices, with the palette they refer to, or the error.
    using Cut = std::function<void(std::vector<uint8_t> indices, PalettePtr palette, std::exception_ptr error)>;
    using Got = std::function<void(BlockPtr block, PalettePtr palette, std::exception_ptr error)>;
    struct Gathering;

    // CutWindow on the cutting threads.
    void Post(const std::string& generation, const Plane& plane, const Window& window, Cut cut);
    void CutWindow(const std::string& generation, const Plane& plane, const Window& window, Cut cut);
    void Fetch(const BlockKey& key, const Plane& plane, Got got);
    void Draw(const BlockKey& key, const Plane& plane, const render::Renderer::Draw& draw);
    void Complete(const std::string& path, const BlockPtr& block, const PalettePtr& palette, std::exception_ptr error);
    // The plane's palette if chosen already (in memory or on disk), else null.
    PalettePtr KnownPalette(const std::string& generation, const Plane& plane);
    PalettePtr ChoosePalette(const std::string& generation, const Plane& plane, const render::Renderer::Draw& draw);

    render::Renderer& renderer_;
    MemoryStore& memory_;
    DiskStore* disk_;
    Samples samples_;
    std::set<uint32_t> styleColours_;
    std::mutex mutex_;
    std::map<std::string, std::vector<Got>> pending_;  // by block path: who waits for its draw
    std::map<std::string, PalettePtr> palettes_;       // by generation/plane
    std::mutex choosing_;                              // one palette chosen at a time
    const Expiries* expiries_;
    bool Stale(const BlockKey& key, const Plane& plane, const Block& block) const;
    std::atomic<uint64_t> drawn_{0}, fromMemory_{0}, fromDisk_{0}, expired_{0}, kept_{0};
    // Last: stopped and joined first, while everything its jobs use is there.
    boost::asio::thread_pool cutting_;
};

}  // namespace blocks
