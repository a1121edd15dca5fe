// Files a server hands out by name from a folder: the name as a client
// sent it, percent-encoded, never reaching outside the folder.
#pragma once

#include <string>

namespace files {

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

}  // namespace files
