// Mapnik rendering on a pool of worker threads, each with its own map: a
// mapnik::Map is not safe to share, and one per worker lets concurrent
// requests render in parallel on every core.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <cstdint>
#include <vector>

namespace mapnik {
class Map;
}

namespace render {

// Registers Mapnik's input plug-ins and the fonts of kFontFolders; call once first.
void SetUpMapnik();

// A Mapnik style file and the folder its relative file names start from;
// texts of the file replaced before it loads (a choice the server's options
// make in the style's queries).
struct StyleFile {
    std::string file, base;
    std::vector<std::pair<std::string, std::string>> replaced = {};
};

// Connection words (host, port, dbname, user, password) that every PostGIS
// layer of the styles takes instead of its own: the styles name tables, the
// server's --database says where they are.
using PostgisConnection = std::map<std::string, std::string>;

// rgba (width x height pixels of 4 bytes) as a 32-bit PNG.
std::string EncodePng(const uint8_t* rgba, int width, int height);

class Renderer {
public:
    // The styles drawn one over the other in one map, the first setting the
    // background. Loads them once on the calling thread, so that a bad style
    // fails here with Mapnik's message (std::runtime_error), then starts the
    // workers. The styles' PostGIS layers get their datasources, with the
    // connection words, once the style has loaded; with the database
    // unreachable (lazy is then true) the workers make them on their next
    // job, and draw once it is back.
    Renderer(const std::vector<StyleFile>& styles, const PostgisConnection& postgis, int threads, bool lazy = false);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Drawing on a worker: the RGBA pixels (straight alpha, rows from the
    // top) of width x height pixels whose top-left corner lies at (left,
    // top) in Mercator metres, labels placed as if the map went on buffer
    // pixels beyond every edge. Throws std::runtime_error when the map
    // cannot be drawn.
    using Draw = std::function<std::vector<uint8_t>(int width, int height, double left, double top,
                                                     double metresPerPixel, int buffer)>;
    // Runs job on the next free worker, with that worker's drawing.
    void Run(std::function<void(const Draw&)> job);

private:
    // A worker's own map, or why it could not load one.
    struct WorkerMap;
    void Work();
    void Load(WorkerMap& w);
    std::vector<uint8_t> DrawWithRetry(WorkerMap& w, int width, int height, double left, double top, double s,
                                       int buffer);

    std::vector<StyleFile> styles_;
    PostgisConnection postgis_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void(const Draw&)>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace render
