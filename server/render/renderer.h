// Mapnik rendering on a pool of worker threads, each with its own map: a
// mapnik::Map is not safe to share, and one per worker lets concurrent
// requests render in parallel on every core.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace render {

// Registers Mapnik's input plug-ins and the DejaVu fonts; call once first.
void SetUpMapnik();

class Renderer {
public:
    // Loads the style once on the calling thread, so that a bad style fails
    // here with Mapnik's message (std::runtime_error), then starts the workers.
    // Relative file names in the style are taken from basePath.
    Renderer(const std::string& styleFile, const std::string& basePath, int threads);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // A GIF of width x height pixels (0 meaning 1) of the Mercator window
    // centred on (x, y) at metresPerPixel, rendered and encoded on a worker.
    // Throws std::runtime_error when the renderer cannot draw it.
    std::string RenderGif(int width, int height, double x, double y, double metresPerPixel);

private:
    void Work();
    void Submit(std::function<void(void*)> job);

    std::string style_, base_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void(void*)>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace render
