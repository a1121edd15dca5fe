// RGBA pictures to GIF: an exact palette when the picture has few colours,
// libimagequant's quantisation to 256 otherwise, and the smallest colour table
// (2, 16 or 256 entries) that holds the palette.
#pragma once

#include <cstdint>
#include <string>

namespace render {

// rgba holds width * height pixels of 4 bytes, rows from the top.
std::string EncodeGif(const uint8_t* rgba, int width, int height);

}  // namespace render
