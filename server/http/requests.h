// Reading the plug-in's requests and writing the small pages both servers
// (the map server and the test stand-in) answer with.
#pragma once

#include <map>
#include <string>

namespace requests {

using Query = std::map<std::string, std::string>;

Query ParseQuery(const std::string& query);
int ToInt(const std::string& s, int fallback);
bool ToNumber(const std::string& s, double& v);
// "mo=LAT,LON" in degrees.
bool Position(const Query& q, double& lat, double& lon);

// A map request, checked: sizes 0..4096 (0 meaning 1 pixel), level 1..13.
struct MapRequest {
    int width = 0, height = 0, level = 0;
    double lat = 0, lon = 0;
};
// Fills map or returns why the request is malformed.
std::string ReadMapRequest(const Query& q, MapRequest& map);

std::string HtmlPage(int status, const std::string& title, const std::string& text);
std::string Escape(const std::string& text);
// %XX sequences of a URL path as their bytes; others stay as they are.
std::string DecodePercent(const std::string& text);

// When a file last changed, and its entity tag (size, time and inode).
struct FileStamp {
    long long modified = 0;  // seconds since 1970
    std::string etag;
};
// Content of NAME (percent-encoded) in folder, for /download/plugins/NAME;
// false for a name that leaves the folder, holds a control character, or
// names no regular file.
bool ReadDownload(const std::string& folder, const std::string& name, std::string& content,
                  FileStamp* stamp = nullptr);

}  // namespace requests
