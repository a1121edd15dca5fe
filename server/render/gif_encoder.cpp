#include "server/render/gif_encoder.h"

#include <gif_lib.h>
#include <libimagequant.h>

#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace render {
namespace {

struct Indexed {
    std::vector<GifColorType> palette;
    std::vector<GifByteType> pixels;
};

// Maps the picture onto its own colours when there are at most 256 of them.
bool ExactPalette(const uint8_t* rgba, size_t count, Indexed& out) {
    std::unordered_map<uint32_t, GifByteType> index;
    out.pixels.resize(count);
    uint32_t last = 0xFFFFFFFF;
    GifByteType lastIndex = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = rgba + 4 * i;
        uint32_t key = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        if (key != last) {
            auto it = index.find(key);
            if (it == index.end()) {
                if (index.size() == 256) return false;
                it = index.emplace(key, static_cast<GifByteType>(index.size())).first;
                out.palette.push_back(GifColorType{p[0], p[1], p[2]});
            }
            last = key;
            lastIndex = it->second;
        }
        out.pixels[i] = lastIndex;
    }
    return true;
}

void Quantise(const uint8_t* rgba, int width, int height, Indexed& out) {
    std::unique_ptr<liq_attr, void (*)(liq_attr*)> attr(liq_attr_create(), liq_attr_destroy);
    if (!attr) throw std::runtime_error("libimagequant: no attributes");
    liq_set_max_colors(attr.get(), 256);
    liq_set_speed(attr.get(), 10);  // maps are flat colours: the fastest search is plenty
    std::unique_ptr<liq_image, void (*)(liq_image*)> image(
        liq_image_create_rgba(attr.get(), rgba, width, height, 0), liq_image_destroy);
    if (!image) throw std::runtime_error("libimagequant: bad image");
    liq_result* raw = nullptr;
    if (liq_image_quantize(image.get(), attr.get(), &raw) != LIQ_OK)
        throw std::runtime_error("libimagequant: quantisation failed");
    std::unique_ptr<liq_result, void (*)(liq_result*)> result(raw, liq_result_destroy);
    liq_set_dithering_level(result.get(), 0.0f);  // dithering speckles flat land and sea
    out.pixels.resize(static_cast<size_t>(width) * height);
    if (liq_write_remapped_image(result.get(), image.get(), out.pixels.data(), out.pixels.size()) != LIQ_OK)
        throw std::runtime_error("libimagequant: remapping failed");
    const liq_palette* palette = liq_get_palette(result.get());
    for (unsigned i = 0; i < palette->count; ++i)
        out.palette.push_back(GifColorType{palette->entries[i].r, palette->entries[i].g, palette->entries[i].b});
}

int Append(GifFileType* gif, const GifByteType* data, int n) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), n);
    return n;
}

}  // namespace

std::string EncodeGif(const uint8_t* rgba, int width, int height) {
    Indexed picture;
    const size_t count = static_cast<size_t>(width) * height;
    if (!ExactPalette(rgba, count, picture)) {
        picture = Indexed();
        Quantise(rgba, width, height, picture);
    }
    const int entries = picture.palette.size() <= 2 ? 2 : picture.palette.size() <= 16 ? 16 : 256;
    picture.palette.resize(entries, GifColorType{0, 0, 0});

    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, &Append, &error);
    if (gif == nullptr) throw std::runtime_error("giflib: cannot open an encoder");
    ColorMapObject* map = GifMakeMapObject(entries, picture.palette.data());
    const int bits = entries == 2 ? 1 : entries == 16 ? 4 : 8;
    bool ok = map != nullptr && EGifPutScreenDesc(gif, width, height, bits, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < height; ++y)
        ok = EGifPutLine(gif, &picture.pixels[static_cast<size_t>(y) * width], width) == GIF_OK;
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    if (!ok) throw std::runtime_error("giflib: encoding failed");
    return out;
}

}  // namespace render
