// What the HTTP front hands to a service and what it gets back: a parsed
// request, and an answer with the way its bytes should leave. A service
// answers through a Reply, at once or later from any thread (a render
// worker), so that no connection ever holds a thread while it waits.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace front {

struct Request {
    std::string method;  // GET or HEAD; others never reach a service
    std::string target;  // as sent: path and query
    std::vector<std::pair<std::string, std::string>> fields;  // names in lower case

    // The value of a header field (name in lower case), or "".
    const std::string& Field(const std::string& name) const;
    bool head() const { return method == "HEAD"; }
};

// How the bytes of an answer leave: all at once by default; the test
// stand-in shapes them to play a misbehaving server.
struct Delivery {
    int delayMs = 0;         // before the status line
    size_t piece = 0;        // body in pieces of this size (0: whole)
    int pauseMs = 0;         // between pieces
    bool chunked = false;    // no Content-Length; chunked transfer coding
    long long drop = -1;     // close after this many body bytes
    int stallMs = 0;         // pause once in the middle of the body
    int lingerMs = 0;        // pause before the last chunk of a chunked body
};

struct Answer {
    int status = 200;
    std::string type;  // Content-Type
    std::shared_ptr<const std::string> body = std::make_shared<const std::string>();
    std::vector<std::pair<std::string, std::string>> fields;  // further header fields
    Delivery delivery;

    void Set(int code, std::string content, std::string contentType) {
        status = code;
        body = std::make_shared<const std::string>(std::move(content));
        type = std::move(contentType);
    }
};

// Called exactly once per request, from any thread.
using Reply = std::function<void(Answer)>;
using Handler = std::function<void(Request, Reply)>;

}  // namespace front
