#include "server/render/gif_encoder.h"

#include <gif_lib.h>

#include <array>
#include <stdexcept>
#include <vector>

namespace render {
namespace {

int Append(GifFileType* gif, const GifByteType* data, int n) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), n);
    return n;
}

}  // namespace

std::string EncodeGif(const uint8_t* rgb, int colours, const uint8_t* indices, int width, int height) {
    const size_t count = static_cast<size_t>(width) * height;
    std::array<int, 256> compact;
    compact.fill(-1);
    std::vector<GifColorType> used;
    for (size_t i = 0; i < count && used.size() <= 16; ++i)
        if (compact[indices[i]] < 0) {
            compact[indices[i]] = static_cast<int>(used.size());
            used.push_back(GifColorType{rgb[3 * indices[i]], rgb[3 * indices[i] + 1], rgb[3 * indices[i] + 2]});
        }
    std::vector<GifByteType> pixels(indices, indices + count);
    std::vector<GifColorType> table;
    if (used.size() <= 16) {
        for (GifByteType& p : pixels) p = static_cast<GifByteType>(compact[p]);
        table = used;
    } else {
        for (int i = 0; i < colours; ++i) table.push_back(GifColorType{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
    }
    const int entries = table.size() <= 2 ? 2 : table.size() <= 16 ? 16 : 256;
    table.resize(entries, GifColorType{0, 0, 0});

    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, &Append, &error);
    if (gif == nullptr) throw std::runtime_error("giflib: cannot open an encoder");
    ColorMapObject* map = GifMakeMapObject(entries, table.data());
    const int bits = entries == 2 ? 1 : entries == 16 ? 4 : 8;
    bool ok = map != nullptr && EGifPutScreenDesc(gif, width, height, bits, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < height; ++y)
        ok = EGifPutLine(gif, &pixels[static_cast<size_t>(y) * width], width) == GIF_OK;
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    if (!ok) throw std::runtime_error("giflib: encoding failed");
    return out;
}

}  // namespace render
