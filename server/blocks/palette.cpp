#include "server/blocks/palette.h"

#include <libimagequant.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>

namespace blocks {
namespace {

uint32_t Rgb(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

template <typename T>
using Owned = std::unique_ptr<T, void (*)(T*)>;

// Colours every palette holds, whatever the samples showed: a coarse cube
// and a ramp of greys, so that a colour no sample had (a label's ink, a
// feature found only elsewhere) still comes out near itself, never as
// the nearest of a handful of sample colours.
std::set<uint32_t> Fixed() {
    std::set<uint32_t> fixed;
    for (uint32_t r = 0; r < 4; ++r)
        for (uint32_t g = 0; g < 4; ++g)
            for (uint32_t b = 0; b < 4; ++b) fixed.insert((r * 85) << 16 | (g * 85) << 8 | b * 85);
    for (uint32_t v = 0; v < 256; v += 17) fixed.insert(v << 16 | v << 8 | v);
    return fixed;
}

std::vector<Colour> Quantised(const std::vector<std::vector<uint8_t>>& samples, int side,
                              const std::set<uint32_t>& fixed) {
    Owned<liq_attr> attr(liq_attr_create(), liq_attr_destroy);
    if (!attr) throw std::runtime_error("libimagequant: no attributes");
    liq_set_max_colors(attr.get(), 256);
    liq_set_speed(attr.get(), 3);  // once per plane: worth a careful search
    Owned<liq_histogram> histogram(liq_histogram_create(attr.get()), liq_histogram_destroy);
    for (const std::vector<uint8_t>& rgba : samples) {
        Owned<liq_image> image(liq_image_create_rgba(attr.get(), rgba.data(), side, side, 0),
                                                  liq_image_destroy);
        if (!image || liq_histogram_add_image(histogram.get(), attr.get(), image.get()) != LIQ_OK)
            throw std::runtime_error("libimagequant: bad sample");
    }
    for (uint32_t c : fixed)
        liq_histogram_add_fixed_color(histogram.get(), liq_color{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 255}, 0);
    liq_result* raw = nullptr;
    if (liq_histogram_quantize(histogram.get(), attr.get(), &raw) != LIQ_OK)
        throw std::runtime_error("libimagequant: quantisation failed");
    Owned<liq_result> result(raw, liq_result_destroy);
    const liq_palette* p = liq_get_palette(result.get());
    std::vector<Colour> colours;
    for (unsigned i = 0; i < p->count; ++i) colours.push_back({p->entries[i].r, p->entries[i].g, p->entries[i].b});
    return colours;
}

// On x86-64 built twice, the wider vector units chosen at start-up where
// the machine has them.
#if defined(__x86_64__)
#define PLIVORS_WIDEST_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define PLIVORS_WIDEST_VECTORS
#endif

// The index of rgb's nearest colour of the 256 padded ones, the lowest on a tie.
PLIVORS_WIDEST_VECTORS uint8_t NearestOf(const float* red, const float* green, const float* blue, uint32_t rgb) {
    // In floats: every distance (at most 9 x 255 x 255) is exact in one,
    // and every vector unit multiplies them.
    const float r = float(rgb >> 16), g = float(rgb >> 8 & 0xFF), b = float(rgb & 0xFF);
    std::array<float, 256> distance;
    for (size_t i = 0; i < 256; ++i) {
        const float dr = red[i] - r, dg = green[i] - g, db = blue[i] - b;
        // Weighted as the eye sees differences, roughly.
        distance[i] = 2 * dr * dr + 4 * dg * dg + 3 * db * db;
    }
    // Eight running minima, not one: a chain of dependent comparisons is
    // what would take the time.
    std::array<float, 8> lanes;
    std::copy(distance.begin(), distance.begin() + 8, lanes.begin());
    for (size_t i = 8; i < 256; i += 8)
        for (size_t j = 0; j < 8; ++j) lanes[j] = std::min(lanes[j], distance[i + j]);
    const float best = *std::min_element(lanes.begin(), lanes.end());
    return static_cast<uint8_t>(std::find(distance.begin(), distance.end(), best) - distance.begin());
}

}  // namespace

Palette::Palette(std::vector<Colour> colours) : colours_(std::move(colours)) {
    if (colours_.empty() || colours_.size() > 256) throw std::invalid_argument("a palette has 1 to 256 colours");
    red_.fill(4096.0f), green_.fill(4096.0f), blue_.fill(4096.0f);
    for (size_t i = 0; i < colours_.size(); ++i)
        red_[i] = colours_[i].r, green_[i] = colours_[i].g, blue_[i] = colours_[i].b;
    const std::string bytes = Serialised();
    checksum_ = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

Palette Palette::FromSamples(const std::vector<std::vector<uint8_t>>& samples, int side,
                             const std::set<uint32_t>& styleColours) {
    std::set<uint32_t> fixed = Fixed();
    fixed.insert(styleColours.begin(), styleColours.end());
    std::set<uint32_t> distinct = fixed;
    for (const std::vector<uint8_t>& rgba : samples)
        for (size_t i = 0; i + 3 < rgba.size() && distinct.size() <= 256; i += 4) distinct.insert(Rgb(&rgba[i]));
    if (distinct.size() > 256) return Palette(Quantised(samples, side, fixed));
    std::vector<Colour> colours;
    for (uint32_t c : distinct) colours.push_back({uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    return Palette(std::move(colours));
}

uint8_t Palette::Nearest(uint32_t rgb) const { return NearestOf(red_.data(), green_.data(), blue_.data(), rgb); }

std::vector<uint8_t> Palette::Indices(const uint8_t* rgba, size_t pixels) const {
    // A dense block's anti-aliased edges hold tens of thousands of colours
    // (50,000 in Bangkok's densest at level 4): each is matched once, then
    // found in a direct-mapped table, colour and index in one word.
    constexpr int kBits = 16;
    constexpr uint64_t kEmpty = ~uint64_t(0);
    std::vector<uint64_t> known(size_t(1) << kBits, kEmpty);
    std::vector<uint8_t> out(pixels);
    uint32_t last = 0xFFFFFFFF;
    uint8_t lastIndex = 0;
    for (size_t i = 0; i < pixels; ++i) {
        const uint32_t key = Rgb(rgba + 4 * i);
        if (key != last) {
            uint64_t& slot = known[(key * 2654435761u) >> (32 - kBits)];
            if (slot >> 8 != key) slot = uint64_t(key) << 8 | Nearest(key);
            last = key;
            lastIndex = static_cast<uint8_t>(slot);
        }
        out[i] = lastIndex;
    }
    return out;
}

std::string Palette::Serialised() const {
    std::string out(1, static_cast<char>(colours_.size() - 1));
    for (const Colour& c : colours_) {
        out += static_cast<char>(c.r);
        out += static_cast<char>(c.g);
        out += static_cast<char>(c.b);
    }
    return out;
}

std::optional<Palette> Palette::Parse(const std::string& bytes) {
    if (bytes.empty()) return std::nullopt;
    const size_t count = static_cast<uint8_t>(bytes[0]) + size_t(1);
    if (bytes.size() != 1 + 3 * count) return std::nullopt;
    std::vector<Colour> colours;
    for (size_t i = 0; i < count; ++i)
        colours.push_back({uint8_t(bytes[1 + 3 * i]), uint8_t(bytes[2 + 3 * i]), uint8_t(bytes[3 + 3 * i])});
    return Palette(std::move(colours));
}

std::set<uint32_t> StyleColours(const std::vector<std::string>& files) {
    static const std::regex kHex("#([0-9a-fA-F]{6})\\b");
    std::set<uint32_t> colours;
    for (const std::string& file : files) {
        std::ifstream in(file);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::sregex_iterator m(text.begin(), text.end(), kHex), end; m != end; ++m)
            colours.insert(static_cast<uint32_t>(std::stoul((*m)[1].str(), nullptr, 16)));
    }
    // Fixed colours beyond what a palette holds would leave none to choose.
    while (colours.size() > 128) colours.erase(std::prev(colours.end()));
    return colours;
}

}  // namespace blocks
