#include "server/http/conditional.h"

#include <ctime>

namespace conditional {

bool Matches(const std::string& ifNoneMatch, const std::string& etag) {
    size_t at = 0;
    while (at < ifNoneMatch.size()) {
        size_t comma = ifNoneMatch.find(',', at);
        if (comma == std::string::npos) comma = ifNoneMatch.size();
        std::string tag = ifNoneMatch.substr(at, comma - at);
        at = comma + 1;
        const size_t first = tag.find_first_not_of(" \t"), last = tag.find_last_not_of(" \t");
        if (first == std::string::npos) continue;
        tag = tag.substr(first, last - first + 1);
        if (tag == "*") return true;
        if (tag.compare(0, 2, "W/") == 0) tag = tag.substr(2);  // If-None-Match compares weakly
        if (tag == etag) return true;
    }
    return false;
}

bool NotModified(const std::string& ifNoneMatch, const std::string& ifModifiedSince, const std::string& etag,
                 long long modified) {
    if (!ifNoneMatch.empty()) return Matches(ifNoneMatch, etag);
    if (ifModifiedSince.empty()) return false;
    const long long since = ParseHttpDate(ifModifiedSince);
    return since >= 0 && modified <= since;
}

std::string HttpDate(long long seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

long long ParseHttpDate(const std::string& text) {
    // IMF-fixdate, then the obsolete RFC 850 and asctime forms.
    for (const char* form : {"%a, %d %b %Y %H:%M:%S GMT", "%A, %d-%b-%y %H:%M:%S GMT", "%a %b %d %H:%M:%S %Y"}) {
        std::tm utc{};
        const char* end = strptime(text.c_str(), form, &utc);
        if (end != nullptr && *end == 0) return static_cast<long long>(timegm(&utc));
    }
    return -1;
}

}  // namespace conditional
