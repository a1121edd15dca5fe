// Text made safe inside HTML or XML markup: the pages' messages and the
// connection words written into Mapnik styles.
#pragma once

#include <string>

namespace markup {

inline std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

}  // namespace markup
