// Builds GIF files byte by byte for the decoder tests, including streams that
// no encoder would write (no clear code, undefined codes, odd sub-blocks).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace gif_builder {

typedef std::vector<unsigned char> Bytes;

// Packs codes least significant bit first, each with its own width.
class CodeWriter {
public:
    void Put(int code, int width) {
        for (int i = 0; i < width; ++i) {
            if (bits_ == 0) out_.push_back(0);
            if ((code >> i) & 1) out_.back() |= static_cast<unsigned char>(1 << bits_);
            bits_ = (bits_ + 1) % 8;
        }
    }
    const Bytes& bytes() const { return out_; }

private:
    Bytes out_;
    int bits_ = 0;
};

// A valid code stream holding every pixel as a literal: clear code first,
// code widths tracked as a decoder grows its table, end code last.
inline Bytes LiteralCodes(const std::vector<int>& pixels, int minCodeSize) {
    CodeWriter w;
    const int clear = 1 << minCodeSize;
    int width = minCodeSize + 1, next = clear + 2;
    bool first = true;
    w.Put(clear, width);
    for (int p : pixels) {
        // Restart before the table fills, so widths stay small and predictable.
        if (next >= 4000) {
            w.Put(clear, width);
            width = minCodeSize + 1;
            next = clear + 2;
            first = true;
        }
        w.Put(p, width);
        if (!first && next < 4096) {
            ++next;
            if (next == (1 << width) && width < 12) ++width;
        }
        first = false;
    }
    w.Put(clear + 1, width);
    return w.bytes();
}

// A compressing code stream as an encoder writes it. Its widths follow the
// decoder's table, which makes each entry one code after the encoder does.
// A full table either restarts with a clear code or is used on without new
// entries; without the leading clear code the decoder's table runs one entry
// ahead of the encoder's, so the stream means what that decoder's rules say.
inline Bytes LzwCodes(const std::vector<int>& pixels, int minCodeSize, bool clearWhenFull = true,
                      bool leadingClear = true) {
    CodeWriter w;
    const int clear = 1 << minCodeSize;
    std::map<std::pair<int, int>, int> table;
    int width = minCodeSize + 1, decoderNext = clear + 2, next = clear + 2;
    bool first = leadingClear;
    auto put = [&](int code) {
        w.Put(code, width);
        if (code == clear) {
            width = minCodeSize + 1;
            decoderNext = clear + 2;
            first = true;
            return;
        }
        if (!first && decoderNext < 4096 && ++decoderNext == (1 << width) && width < 12) ++width;
        first = false;
    };
    if (leadingClear) put(clear);
    int current = pixels[0];
    for (size_t i = 1; i < pixels.size(); ++i) {
        auto found = table.find({current, pixels[i]});
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        put(current);
        if (next < 4096) {
            table[{current, pixels[i]}] = next++;
        } else if (clearWhenFull) {
            put(clear);
            table.clear();
            next = clear + 2;
        }
        current = pixels[i];
    }
    put(current);
    put(clear + 1);
    return w.bytes();
}

// Data bytes as sub-blocks of at most maxBlock bytes, with the terminator.
inline Bytes SubBlocks(const Bytes& data, int maxBlock = 255, bool terminator = true) {
    Bytes out;
    for (size_t i = 0; i < data.size(); i += maxBlock) {
        size_t n = data.size() - i < static_cast<size_t>(maxBlock) ? data.size() - i : maxBlock;
        out.push_back(static_cast<unsigned char>(n));
        out.insert(out.end(), data.begin() + i, data.begin() + i + n);
    }
    if (terminator) out.push_back(0);
    return out;
}

struct Colour {
    unsigned char r, g, b;
};

inline std::vector<Colour> Ramp(int n, int seed = 0) {
    std::vector<Colour> c;
    for (int i = 0; i < n; ++i)
        c.push_back({static_cast<unsigned char>(i * 7 + seed), static_cast<unsigned char>(i * 3 + 1),
                     static_cast<unsigned char>(200 - i % 200)});
    return c;
}

inline int SizeBits(size_t entries) {
    int n = 0;
    while ((2u << n) < entries) ++n;
    return n;
}

class GifFile {
public:
    explicit GifFile(const char* version = "89a") {
        Append("GIF");
        Append(version);
    }
    // Screen descriptor; an empty table means none, sizeBits still goes into the flags.
    GifFile& Screen(const std::vector<Colour>& table, int sizeBits = -1) {
        Le16(1);
        Le16(1);
        int bits = sizeBits >= 0 ? sizeBits : (table.empty() ? 0 : SizeBits(table.size()));
        bytes_.push_back(static_cast<unsigned char>((table.empty() ? 0 : 0x80) | bits));
        bytes_.push_back(0);
        bytes_.push_back(0);
        Table(table, bits);
        return *this;
    }
    GifFile& Control(bool transparentFlag, int index, int blockSize = 4) {
        Bytes b = {0x21, 0xF9, static_cast<unsigned char>(blockSize), static_cast<unsigned char>(transparentFlag ? 1 : 0),
                   0, 0, static_cast<unsigned char>(index), 0};
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    GifFile& Comment(const std::string& text) {
        bytes_.push_back(0x21);
        bytes_.push_back(0xFE);
        Bytes t(text.begin(), text.end());
        Raw(SubBlocks(t));
        return *this;
    }
    GifFile& Image(int w, int h, bool interlaced, const std::vector<Colour>& local = {}) {
        bytes_.push_back(0x2C);
        Le16(0);
        Le16(0);
        Le16(w);
        Le16(h);
        int bits = local.empty() ? 0 : SizeBits(local.size());
        bytes_.push_back(static_cast<unsigned char>((local.empty() ? 0 : 0x80) | (interlaced ? 0x40 : 0) | bits));
        Table(local, bits);
        return *this;
    }
    GifFile& MinCodeSize(int s) {
        bytes_.push_back(static_cast<unsigned char>(s));
        return *this;
    }
    GifFile& Raw(const Bytes& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    GifFile& Pixels(const std::vector<int>& pixels, int minCodeSize) {
        MinCodeSize(minCodeSize);
        return Raw(SubBlocks(LiteralCodes(pixels, minCodeSize)));
    }
    GifFile& Trailer() {
        bytes_.push_back(0x3B);
        return *this;
    }
    std::string str() const { return std::string(bytes_.begin(), bytes_.end()); }

private:
    void Append(const char* t) {
        for (; *t; ++t) bytes_.push_back(static_cast<unsigned char>(*t));
    }
    void Le16(int v) {
        bytes_.push_back(static_cast<unsigned char>(v & 0xFF));
        bytes_.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
    }
    void Table(const std::vector<Colour>& t, int bits) {
        if (t.empty()) return;
        size_t n = 2u << bits;
        for (size_t i = 0; i < n; ++i) {
            Colour c = i < t.size() ? t[i] : Colour{0, 0, 0};
            bytes_.push_back(c.r);
            bytes_.push_back(c.g);
            bytes_.push_back(c.b);
        }
    }
    Bytes bytes_;
};

}  // namespace gif_builder
