// Starting either server: the request log, binding, announcing the port
// (to a file written whole) and serving until SIGTERM.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "server/front/http_front.h"
#include "server/front/serving_options.h"

namespace front {

// One line per request, from any thread.
class RequestLog {
public:
    // To file, or to stdout for ""; throws std::runtime_error when the file
    // cannot be written.
    explicit RequestLog(const std::string& file);
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;
    void Line(const std::string& text);

private:
    std::mutex mutex_;
    std::FILE* out_;
};

// Binds serving's address and port, or says why not on stderr.
std::unique_ptr<Server> Bind(const Serving& serving, const char* program);
// Writes the port file, announces "PROGRAM listening on URL" and the note,
// and serves until SIGTERM; the exit status of the program.
int Serve(Server& server, const Serving& serving, const char* program, const std::string& note, Handler handler,
          int threads);

}  // namespace front
