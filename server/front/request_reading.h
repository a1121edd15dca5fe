// Reading a request off the wire with Beast's parser and the front's limits:
// the same steps for a connection and for the fuzz target.
#pragma once

#include <boost/beast/http.hpp>

#include "server/front/answer.h"
#include "server/front/http_front.h"

namespace front {

using RequestParser = boost::beast::http::request_parser<boost::beast::http::string_body>;

// A fresh parser's limits: the first line and the fields together, the body.
void Prepare(RequestParser& parser, const Limits& limits);
// After reading the header (headerBytes of it) or failing with ec: 0 when
// the request may go on, the status of the refusal (400, 413, 414, 431), or
// -1 when the connection simply ends (closed, timed out, cancelled).
int Verdict(const RequestParser& parser, boost::beast::error_code ec, size_t headerBytes, const Limits& limits);
// The parsed request as services see it.
Request ToRequest(const RequestParser& parser);

}  // namespace front
