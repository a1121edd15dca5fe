// Indexed pictures to GIF with the smallest colour table (2, 16 or 256
// entries) that holds the colours the picture uses: a picture of a few of
// its palette's colours goes out with 1 or 4 bits a pixel, those colours
// exactly.
#pragma once

#include <cstdint>
#include <string>

namespace render {

// rgb holds `colours` RGB triples; indices width * height of them, rows
// from the top.
std::string EncodeGif(const uint8_t* rgb, int colours, const uint8_t* indices, int width, int height);

}  // namespace render
