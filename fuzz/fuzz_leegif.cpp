// libFuzzer target: any bytes as a GIF file. Every outcome of LeeGif is
// allowed except touching memory it does not own, hanging, or throwing
// anything but the bitmap's out-of-memory text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "image/lee_gif.h"

namespace {
std::string TempPath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_leegif." + std::to_string(getpid()) + ".gif";
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = TempPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    TDibKU bitmap;
    DString error;
    try {
        if (LeeGif(path.c_str(), bitmap, error)) {
            // Read the first and last row the bitmap claims, so that a short
            // block shows (the whole area can be hundreds of megabytes).
            volatile unsigned sum = 0;
            const unsigned char* bits = bitmap.Bits();
            int size = bitmap.ImageSize(), stride = bitmap.RowStride();
            for (int i = 0; i < size && i < stride; ++i) sum = sum + bits[i] + bits[size - 1 - i];
            int n = 0;
            std::unique_ptr<uint32_t[]> palette(bitmap.CopyPalette(n));
            for (int i = 0; i < n; ++i) sum = sum + palette[i];
            if (bitmap.Width() > 0 && bitmap.Height() > 0) sum = sum + bitmap.GetIndex(bitmap.Width() - 1, 0);
        } else if (error.EsVacia()) {
            std::abort();  // a failure must say why
        }
    } catch (const char*) {
        // Out of memory: the exports' barrier reports it.
    }
    return 0;
}
