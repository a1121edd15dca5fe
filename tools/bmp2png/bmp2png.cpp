// bmp2png IN.bmp OUT.png: converts a palettised BMP (1, 4 or 8 bits, as the
// plug-in delivers zones) into an RGB PNG that any viewer opens.
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "bmp2png: %s\n", why.c_str());
    return 1;
}

// Kept apart from main so that nothing changes after libpng's setjmp.
int WritePng(const char* path, const std::vector<uint8_t>& b, uint32_t offset, int width, int height, int bits,
             uint32_t colours, int rows, size_t stride) {
    std::FILE* out = std::fopen(path, "wb");
    if (!out) return Fail(std::string("cannot create ") + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
        return Fail("libpng failed");
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, width, rows, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> line(static_cast<size_t>(width) * 3);
    for (int y = 0; y < rows; ++y) {
        // Bottom-up rows: the first stored row is the bottom of the picture.
        int stored = height > 0 ? rows - 1 - y : y;
        const uint8_t* row = &b[offset + stride * stored];
        for (int x = 0; x < width; ++x) {
            unsigned index = bits == 8 ? row[x] : bits == 4 ? (row[x / 2] >> ((x % 2) ? 0 : 4)) & 0x0F
                                                            : (row[x / 8] >> (7 - x % 8)) & 1;
            size_t entry = 54 + 4 * static_cast<size_t>(index < colours ? index : 0);
            line[3 * x] = b[entry + 2];
            line[3 * x + 1] = b[entry + 1];
            line[3 * x + 2] = b[entry];
        }
        png_write_row(png, line.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(out) == 0 ? 0 : Fail("cannot write the PNG file");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Fail("usage: bmp2png IN.bmp OUT.png");
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return Fail(std::string(argv[1]) + " is not a BMP file");
    uint32_t offset = Get32(b, 10);
    int width = static_cast<int32_t>(Get32(b, 18));
    int height = static_cast<int32_t>(Get32(b, 22));
    int bits = b[28] | (b[29] << 8);
    uint32_t colours = Get32(b, 46);
    if (colours == 0 && bits <= 8) colours = 1u << bits;
    if (bits != 1 && bits != 4 && bits != 8) return Fail("only 1, 4 and 8 bits per pixel are handled");
    int rows = height < 0 ? -height : height;
    size_t stride = static_cast<size_t>(((width * bits + 31) / 32) * 4);
    if (width <= 0 || rows <= 0) return Fail("the image is empty");
    if (54 + colours * 4 > b.size() || offset + stride * rows > b.size()) return Fail("the BMP file is truncated");

    return WritePng(argv[2], b, offset, width, height, bits, colours, rows, stride);
}
