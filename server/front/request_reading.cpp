#include "server/front/request_reading.h"

#include <boost/asio/error.hpp>
#include <boost/beast/core/error.hpp>

#include <algorithm>
#include <cctype>

namespace front {

namespace http = boost::beast::http;

const std::string& Request::Field(const std::string& name) const {
    static const std::string none;
    for (const auto& f : fields)
        if (f.first == name) return f.second;
    return none;
}

namespace {

// The first line as sent: method, target, version and their separators.
size_t LineBytes(const RequestParser& parser) {
    const auto& req = parser.get();
    return req.method_string().size() + req.target().size() + 12;
}

}  // namespace

void Prepare(RequestParser& parser, const Limits& limits) {
    parser.header_limit(static_cast<std::uint32_t>(limits.requestLine + limits.headers));
    parser.body_limit(limits.body);
}

int Verdict(const RequestParser& parser, boost::beast::error_code ec, size_t headerBytes, const Limits& limits) {
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
        // Past the limits: the parser takes the first line as soon as it is
        // whole, so without a target it was the first line that ran long.
        if (parser.get().target().empty()) return 414;
        return LineBytes(parser) > limits.requestLine ? 414 : 431;
    }
    if (ec == http::error::body_limit) return 413;
    if (ec == boost::beast::error::timeout || ec == http::error::end_of_stream ||
        ec == boost::asio::error::operation_aborted || ec == boost::asio::error::eof ||
        ec == boost::asio::error::connection_reset || ec == http::error::partial_message)
        return -1;
    if (ec) return 400;
    const size_t line = LineBytes(parser);
    if (line > limits.requestLine) return 414;
    if (headerBytes - std::min(headerBytes, line) > limits.headers) return 431;
    return 0;
}

Request ToRequest(const RequestParser& parser) {
    const auto& req = parser.get();
    Request request;
    request.method = std::string(req.method_string());
    request.target = std::string(req.target());
    for (const auto& field : req) {
        std::string name(field.name_string());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        request.fields.emplace_back(std::move(name), std::string(field.value()));
    }
    return request;
}

}  // namespace front
