// What the HTTP front hands to a service and what it gets back: a parsed
// request, and an answer (which the front sends as a Beast message). A service
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

class Writer;  // writer.h

struct Answer {
    int status = 200;
    std::string type;  // Content-Type
    std::shared_ptr<const std::string> body = std::make_shared<const std::string>();
    std::vector<std::pair<std::string, std::string>> fields;  // further header fields
    std::shared_ptr<Writer> writer;  // how its bytes leave; none: whole, at once

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
