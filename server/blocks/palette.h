// One palette per style, data generation and plane: every block of a plane
// is mapped onto the same colours, each pixel to its nearest colour with no
// error diffusion, so that a pixel's index depends on its colour alone and
// two zones that overlap agree exactly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace blocks {

struct Colour {
    uint8_t r, g, b;
};

class Palette {
public:
    explicit Palette(std::vector<Colour> colours);

    // The colours of sample pictures (RGBA, side x side) beside fixed ones
    // (the style's own colours, a coarse cube, greys): all of them when there
    // are at most 256, else libimagequant's choice from their joint histogram
    // around the fixed ones. Throws std::runtime_error when libimagequant fails.
    static Palette FromSamples(const std::vector<std::vector<uint8_t>>& rgbaSamples, int side,
                               const std::set<uint32_t>& styleColours = {});

    // Each pixel's index (nearest colour, the lowest index on a tie).
    std::vector<uint8_t> Indices(const uint8_t* rgba, size_t pixels) const;

    const std::vector<Colour>& colours() const { return colours_; }
    uint32_t checksum() const { return checksum_; }

    // Kept beside the blocks: the count, then RGB triples.
    std::string Serialised() const;
    static std::optional<Palette> Parse(const std::string& bytes);

private:
    uint8_t Nearest(uint32_t rgb) const;

    std::vector<Colour> colours_;
    // The colours again, a component to an array and padded to 256 with
    // colours far from any: the search runs on the vector units.
    std::array<float, 256> red_{}, green_{}, blue_{};
    uint32_t checksum_ = 0;
};

// The colours a style names (#rrggbb, as 0xRRGGBB) in its files: its fills
// and lines come out exact, not as the nearest of the coarse fixed colours.
std::set<uint32_t> StyleColours(const std::vector<std::string>& files);

}  // namespace blocks
