#include "server/front/serving.h"

#include <cstring>
#include <stdexcept>

namespace front {
namespace {

bool WritePort(const std::string& file, int port) {
    // Written whole and then renamed: a reader never sees half a number.
    std::string temporary = file + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    if (f == nullptr) return false;
    bool ok = std::fprintf(f, "%d\n", port) > 0;
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(temporary.c_str(), file.c_str()) == 0;
}

}  // namespace

RequestLog::RequestLog(const std::string& file) : out_(stdout) {
    if (file.empty()) return;
    out_ = std::fopen(file.c_str(), "w");
    if (out_ == nullptr) throw std::runtime_error(file + ": " + std::strerror(errno));
}

RequestLog::~RequestLog() {
    if (out_ != stdout) std::fclose(out_);
}

void RequestLog::Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

std::unique_ptr<Server> Bind(const Serving& serving, const char* program) {
    try {
        return std::make_unique<Server>(serving.bind, serving.port, serving.limits);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        return nullptr;
    }
}

int Serve(Server& server, const Serving& serving, const char* program, const std::string& note, Handler handler,
          int threads) {
    if (!serving.portFile.empty() && !WritePort(serving.portFile, server.port())) {
        std::fprintf(stderr, "%s: cannot write %s\n", program, serving.portFile.c_str());
        return 1;
    }
    std::printf("%s listening on http://%s:%d%s\n", program, serving.bind.c_str(), server.port(), note.c_str());
    std::fflush(stdout);
    server.Run(std::move(handler), threads);
    std::printf("%s stopped\n", program);
    std::fflush(stdout);
    return 0;
}

}  // namespace front
