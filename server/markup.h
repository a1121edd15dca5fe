// Text made safe inside HTML or XML markup or a JSON string, and the small
// HTML page every error answer of both servers carries.
#pragma once

#include <cstdio>
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

// text as a JSON string, quotes included.
inline std::string JsonQuoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// title and text are markup already (Escaped where they come from outside).
inline std::string HtmlPage(int status, const std::string& title, const std::string& text) {
    return "<html><head><title>" + std::to_string(status) + " " + title + "</title></head><body><h1>" + title +
           "</h1><p>" + text + "</p></body></html>\n";
}

}  // namespace markup
