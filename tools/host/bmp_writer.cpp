#include "bmp_writer.h"

#include <cstdio>
#include <cstring>

namespace {
void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
}  // namespace

bool WriteBmp(const std::string& path, const ZoneImage& image, std::string& error) {
    const uint32_t paletteBytes = static_cast<uint32_t>(image.palette.size() * 4);
    const uint32_t offset = 14 + 40 + paletteBytes;
    std::vector<uint8_t> head;
    head.push_back('B');
    head.push_back('M');
    Put32(head, offset + static_cast<uint32_t>(image.pixels.size()));
    Put32(head, 0);
    Put32(head, offset);
    Put32(head, 40);
    Put32(head, static_cast<uint32_t>(image.width));
    Put32(head, static_cast<uint32_t>(image.height));  // positive: bottom-up, as delivered
    Put16(head, 1);
    Put16(head, static_cast<uint16_t>(image.bitsPerPixel));
    Put32(head, 0);
    Put32(head, static_cast<uint32_t>(image.pixels.size()));
    Put32(head, 2835);
    Put32(head, 2835);
    Put32(head, static_cast<uint32_t>(image.palette.size()));
    Put32(head, 0);
    for (uint32_t entry : image.palette) Put32(head, entry);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot create " + path;
        return false;
    }
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
    if (!image.pixels.empty()) ok = ok && std::fwrite(image.pixels.data(), 1, image.pixels.size(), f) == image.pixels.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) error = "cannot write " + path;
    return ok;
}
