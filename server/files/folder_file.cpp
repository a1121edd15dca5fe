#include "server/files/folder_file.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace files {

std::string DecodePercent(const std::string& text) {
    auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        int high = -1, low = -1;
        if (text[i] == '%' && i + 2 < text.size() && (high = hex(text[i + 1])) >= 0 && (low = hex(text[i + 2])) >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool ReadDownload(const std::string& folder, const std::string& name, std::string& content, FileStamp* stamp) {
    std::string file = DecodePercent(name);
    // A control character (an encoded NUL above all, which would end the
    // name the system sees) names no file of ours.
    bool safe = !file.empty() && file.find('/') == std::string::npos && file.find('\\') == std::string::npos &&
                file != "." && file != "..";
    for (unsigned char c : file) safe = safe && c >= 0x20 && c != 0x7f;
    if (!safe || folder.empty()) return false;
    const std::string path = folder + "/" + file;
    struct stat s;
    if (stat(path.c_str(), &s) != 0 || !S_ISREG(s.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return false;
    std::ostringstream all;
    all << in.rdbuf();
    content = all.str();
    if (stamp != nullptr) {
        stamp->modified = s.st_mtim.tv_sec;
        stamp->etag = "\"" + std::to_string(s.st_size) + "-" + std::to_string(s.st_mtim.tv_sec) + "." +
                      std::to_string(s.st_mtim.tv_nsec) + "-" + std::to_string(s.st_ino) + "\"";
    }
    return true;
}

}  // namespace files
