#include "lzw_model.h"

#include <cstdint>

namespace lzw_model {

namespace {

struct Reader {
    const std::string& s;
    size_t pos = 0;
    bool Has(size_t n) const { return pos + n <= s.size(); }
    int Byte() { return Has(1) ? static_cast<unsigned char>(s[pos++]) : -1; }
};

std::vector<int> Decode(const std::vector<unsigned char>& data, int minCodeSize, bool& startsWithClear) {
    const int clear = 1 << minCodeSize, end = clear + 1;
    std::vector<std::vector<int>> dict(4096);
    for (int i = 0; i < clear; ++i) dict[i] = {i};
    int width = minCodeSize + 1, next = clear + 2;
    size_t bit = 0;
    auto code = [&]() {
        if (bit + width > data.size() * 8) return -1;
        int v = 0;
        for (int i = 0; i < width; ++i, ++bit)
            if ((data[bit / 8] >> (bit % 8)) & 1) v |= 1 << i;
        return v;
    };
    std::vector<int> out;
    int old = 0;  // without a clear code first, the previous string is that of code 0
    bool first = true;
    for (;;) {
        int c = code();
        if (first) startsWithClear = c == clear;
        first = false;
        if (c < 0 || c == end) break;
        if (c == clear) {
            width = minCodeSize + 1;
            next = clear + 2;
            do c = code();
            while (c == clear);
            if (c < 0 || c == end) break;
            if (c >= next) c = 0;
            out.push_back(c & 0xFF);
            old = c;
            continue;
        }
        // A code above the next free one (or one naming no string) is not valid
        // LZW: what follows it is no longer defined, and the model stops.
        if (c > next || dict[c < next ? c : old].empty()) break;
        std::vector<int> str = c < next ? dict[c] : dict[old];
        if (c >= next) str.push_back(dict[old][0]);
        if (next < (1 << width)) {
            std::vector<int> added = dict[old];
            added.push_back(str[0]);
            dict[next++] = added;
            old = c;
        }
        if (next >= (1 << width) && width < 12) ++width;
        for (int v : str) out.push_back(v & 0xFF);
    }
    return out;
}

}  // namespace

bool FirstImage(const std::string& file, Image& image) {
    Reader r{file};
    if (!r.Has(13) || file.compare(0, 4, "GIF8") != 0) return false;
    int flags = static_cast<unsigned char>(file[10]);
    r.pos = 13 + ((flags & 0x80) ? 3 * (2 << (flags & 7)) : 0);
    for (;;) {
        int b = r.Byte();
        if (b == 0x21) {
            r.Byte();
            for (int n = r.Byte(); n > 0; n = r.Byte()) r.pos += n;
            continue;
        }
        if (b != 0x2C || !r.Has(9)) return false;
        const unsigned char* d = reinterpret_cast<const unsigned char*>(file.data()) + r.pos;
        image.width = d[4] | (d[5] << 8);
        image.height = d[6] | (d[7] << 8);
        image.interlaced = (d[8] & 0x40) != 0;
        r.pos += 9 + ((d[8] & 0x80) ? 3 * (2 << (d[8] & 7)) : 0);
        image.minCodeSize = r.Byte();
        std::vector<unsigned char> data;
        for (int n = r.Byte(); n > 0 && r.Has(n); n = r.Byte()) {
            data.insert(data.end(), file.begin() + r.pos, file.begin() + r.pos + n);
            r.pos += n;
        }
        std::vector<int> stream;
        if (image.minCodeSize >= 2 && image.minCodeSize <= 9)
            stream = Decode(data, image.minCodeSize, image.startsWithClear);
        image.pixels.assign(static_cast<size_t>(image.width) * image.height, -1);
        std::vector<int> rows;
        if (image.interlaced) {
            static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int p = 0; p < 4; ++p)
                for (int y = start[p]; y < image.height; y += step[p]) rows.push_back(y);
        } else {
            for (int y = 0; y < image.height; ++y) rows.push_back(y);
        }
        for (size_t i = 0; i < stream.size() && image.width > 0 && i / image.width < rows.size(); ++i)
            image.pixels[static_cast<size_t>(rows[i / image.width]) * image.width + i % image.width] = stream[i];
        return true;
    }
}

}  // namespace lzw_model
