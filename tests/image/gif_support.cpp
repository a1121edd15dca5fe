#include "gif_support.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "image/lee_gif.h"
#include "support/test_support.h"

namespace gif_support {

Decoded Decode(const std::string& path, TDibKU& bitmap) {
    DString error;
    error.Asigna("untouched");
    Decoded d;
    d.ok = LeeGif(path.c_str(), bitmap, error);
    d.error = error.Texto();
    return d;
}

std::string WriteTemp(const std::string& name, const std::string& content) {
    std::string dir = testing_support::Env("PLIVORS_TEST_WORKDIR");
    std::string path = testing_support::JoinPath(testing_support::HostPath(dir.empty() ? "." : dir), name);
    testing_support::WriteFile(path, content);
    return path;
}

std::map<std::string, std::map<std::string, std::string>> ReadManifest(const std::string& corpus) {
    std::map<std::string, std::map<std::string, std::string>> rows;
    std::ifstream in(testing_support::JoinPath(corpus, "MANIFEST.tsv"), std::ios::binary);
    std::string line;
    std::vector<std::string> columns;
    auto split = [](const std::string& l) {
        std::vector<std::string> f;
        std::string cell;
        std::istringstream s(l);
        while (std::getline(s, cell, '\t')) f.push_back(cell);
        return f;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> f = split(line);
        if (columns.empty()) {
            columns = f;
            continue;
        }
        if (f.empty()) continue;
        auto& row = rows[f[0]];
        for (size_t i = 0; i < f.size() && i < columns.size(); ++i) row[columns[i]] = f[i];
    }
    return rows;
}

bool ReadReference(const std::string& path, Reference& ref) {
    std::string data = testing_support::ReadFile(path);
    size_t eol = data.find('\n');
    if (eol == std::string::npos) return false;
    std::string head = data.substr(0, eol);
    if (head == "fail") {
        ref.ok = false;
        return true;
    }
    if (std::sscanf(head.c_str(), "ok %d %d %d %d %d", &ref.width, &ref.height, &ref.interlaced, &ref.colours,
                    &ref.transparent) != 5)
        return false;
    size_t need = static_cast<size_t>(ref.colours) * 3 + static_cast<size_t>(ref.width) * ref.height;
    if (data.size() - eol - 1 != need) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data()) + eol + 1;
    ref.rgb.assign(p, p + ref.colours * 3);
    ref.pixels.assign(p + ref.colours * 3, p + need);
    ref.ok = true;
    return true;
}

std::vector<uint32_t> ExpectedPalette(const std::vector<unsigned char>& rgb, int colours, int transparent) {
    std::vector<unsigned char> r(256, 0), g(256, 0), b(256, 0);
    bool white = false;
    for (int i = 0; i < colours && i < 256; ++i) {
        r[i] = rgb[3 * i];
        g[i] = rgb[3 * i + 1];
        b[i] = rgb[3 * i + 2];
        white = white || (r[i] == 255 && g[i] == 255 && b[i] == 255);
    }
    int n = colours;
    if (transparent != -1) {
        for (int i = colours; i < 256; ++i) r[i] = g[i] = b[i] = 255;
        if (colours < 256) white = true;
        if (!white) r[255] = g[255] = b[255] = 255;
        n = 256;
    }
    std::vector<uint32_t> out;
    for (int i = 0; i < n; ++i) out.push_back(b[i] | (g[i] << 8) | (static_cast<uint32_t>(r[i]) << 16));
    return out;
}

int ExpectedBits(int colours) { return colours <= 2 ? 1 : colours <= 16 ? 4 : 8; }

int ImagePixel(const TDibKU& bitmap, int x, int row) { return bitmap.GetIndex(x, bitmap.Height() - 1 - row); }

}  // namespace gif_support
