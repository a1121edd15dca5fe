// libFuzzer target for the map server's requests: bytes as they come off a
// connection, in pieces, through Beast's parser and the front's limits and
// checks, the route the target asks for, the download name, the
// conditional header fields. Any outcome is allowed but touching memory it
// does not own, hanging, or a result that breaks the rules below.
#include <boost/asio/buffer.hpp>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "server/files/folder_file.h"
#include "server/front/request_reading.h"
#include "server/http/conditional.h"
#include "server/http/routes.h"

namespace http = boost::beast::http;

namespace {

// A downloads folder with one descriptor, and a file beside the folder that
// no name may reach.
std::string Downloads() {
    static std::string folder;
    if (folder.empty()) {
        std::string base = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/fuzz_request." +
                           std::to_string(getpid());
        folder = base + "/downloads";
        std::string command = "mkdir -p '" + folder + "' && printf descriptor >'" + folder +
                              "/a.plvr' && printf secret >'" + base + "/secret'";
        if (std::system(command.c_str()) != 0) std::abort();
        static std::string removal = "rm -rf '" + base + "'";
        std::atexit([] { (void)std::system(removal.c_str()); });
    }
    return folder;
}

void Check(bool rule) {
    if (!rule) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Small limits, so that the fuzzer reaches them with small inputs.
    front::Limits limits;
    limits.requestLine = 256;
    limits.headers = 1024;
    limits.body = 512;
    const size_t piece = 1 + data[0] % 64;  // how the bytes arrive
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const size_t total = size - 1;

    front::RequestParser parser;
    front::Prepare(parser, limits);
    std::string pending;
    size_t fed = 0, headerBytes = 0;
    boost::beast::error_code ec;
    bool headerDone = false;
    for (;;) {
        if (fed < total && (pending.empty() || ec == http::error::need_more)) {
            const size_t n = std::min(piece, total - fed);
            pending.append(bytes + fed, n);
            fed += n;
        } else if (ec == http::error::need_more) {
            ec = fed == 0 ? http::error::end_of_stream : http::error::partial_message;
            break;
        }
        if (pending.size() > limits.requestLine + limits.headers + 4096) {
            ec = http::error::buffer_overflow;  // the connection's buffer is full
            break;
        }
        ec = {};
        const size_t used = parser.put(boost::asio::buffer(pending), ec);
        pending.erase(0, used);
        if (!headerDone) headerBytes += used;
        if (ec && ec != http::error::need_more) break;
        if (parser.is_header_done() && !headerDone) {
            headerDone = true;
            if (front::Verdict(parser, {}, headerBytes, limits) != 0) break;
        }
        if (parser.is_done()) break;
        if (!ec) ec = http::error::need_more;
    }
    const int verdict = front::Verdict(parser, ec, headerBytes, limits);
    Check(verdict == -1 || verdict == 0 || verdict == 400 || verdict == 413 || verdict == 414 || verdict == 431);
    if (verdict != 0 || !parser.is_done()) return 0;

    const front::Request request = front::ToRequest(parser);
    Check(request.target.size() + request.method.size() + 12 <= limits.requestLine);
    const routes::Route route = routes::Read(request.target);
    using routes::Kind;
    switch (route.kind) {
    case Kind::Map:
        Check(route.map.width >= 0 && route.map.width <= 4096 && route.map.height >= 0 && route.map.height <= 4096);
        Check(route.metresPerPixel > 0);
        break;
    case Kind::Tile:
        Check(route.z >= 0 && route.z <= 19 && route.column >= 0 && route.row >= 0);
        Check(route.column < (1 << route.z) && route.row < (1 << route.z));
        break;
    case Kind::Place:
        Check(route.lat >= -90 && route.lat <= 90 && route.lon >= -360 && route.lon <= 360);
        break;
    case Kind::Download: {
        std::string content;
        if (files::ReadDownload(Downloads(), route.name, content))
            Check(content == "descriptor" && files::DecodePercent(route.name) == "a.plvr");
        break;
    }
    case Kind::BadRequest:
    case Kind::NotFound:
        Check(!route.why.empty());
        break;
    default:
        break;
    }
    conditional::Matches(request.Field("if-none-match"), "\"0123456789abcdef-29\"");
    const long long since = conditional::ParseHttpDate(request.Field("if-modified-since"));
    if (since >= 0 && since < 253402300800LL) Check(conditional::ParseHttpDate(conditional::HttpDate(since)) == since);
    return 0;
}
