// An answer as it goes on the wire: a Beast message over the connection's
// stream. The front sends it whole in bounded pieces; an answer may bring its
// own Writer instead (the test stand-in shapes its answers so).
#pragma once

#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/span_body.hpp>

#include <chrono>
#include <functional>

namespace front {

// The body stays with the Answer (answer.h) while the message is sent.
using Message = boost::beast::http::response<boost::beast::http::span_body<const char>>;

class Writer {
public:
    virtual ~Writer() = default;
    // Sends message, its payload prepared, on stream; for HEAD (head) the body
    // is empty but the header describes the answer's. Every write that takes
    // nothing for sendTimeout fails. Calls done(true) once the answer has left
    // whole, done(false) when the connection must close; on the stream's
    // executor, and the message and stream outlive the call of done.
    virtual void Write(boost::beast::tcp_stream& stream, Message& message, bool head,
                       std::chrono::seconds sendTimeout, std::function<void(bool)> done) = 0;
};

}  // namespace front
