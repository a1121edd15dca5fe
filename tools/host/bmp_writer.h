// Writes a delivered zone image as a BMP file, straight from its DIB layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZoneImage {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    std::vector<uint32_t> palette;  // blue, green, red, 0 entries
    std::vector<uint8_t> pixels;    // bottom-up rows, each RowStride bytes
    static int RowStride(int width, int bits) { return ((width * bits + 31) / 32) * 4; }
};

bool WriteBmp(const std::string& path, const ZoneImage& image, std::string& error);
