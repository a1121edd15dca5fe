// Conditional requests: If-None-Match against an entity tag, and
// If-Modified-Since against a file's time, in HTTP's own date format.
#pragma once

#include <string>

namespace conditional {

// Whether an If-None-Match value ("*", or tags separated by commas, weak or
// strong) names etag.
bool Matches(const std::string& ifNoneMatch, const std::string& etag);
// Whether the client's copy is current: If-None-Match decides when present,
// else If-Modified-Since (a date not before the file's time).
bool NotModified(const std::string& ifNoneMatch, const std::string& ifModifiedSince, const std::string& etag,
                 long long modified);
// "Sun, 06 Nov 1994 08:49:37 GMT"
std::string HttpDate(long long seconds);
// An HTTP date (any of its three forms) in seconds, or -1.
long long ParseHttpDate(const std::string& text);

}  // namespace conditional
