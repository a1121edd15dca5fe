// The zones' GIF encoder writes, byte for byte, what giflib's encoder writes
// for the same indices and colours: the plug-in's decoder, caches and ETags
// see no difference, only the time it takes.
#include <gtest/gtest.h>
#include <gif_lib.h>

#include <random>
#include <string>
#include <vector>

#include "server/render/gif_encoder.h"

namespace {

int Append(GifFileType* gif, const GifByteType* data, int n) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), n);
    return n;
}

// giflib's answer: the colours the picture uses when at most 16 (in order of
// first use), else the whole table, padded to 2, 16 or 256 entries.
std::string GiflibGif(const std::vector<uint8_t>& rgb, const std::vector<uint8_t>& indices, int width, int height) {
    std::vector<int> compact(256, -1);
    std::vector<GifColorType> used;
    for (uint8_t i : indices)
        if (compact[i] < 0 && used.size() <= 16) {
            compact[i] = static_cast<int>(used.size());
            used.push_back({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
        }
    std::vector<GifByteType> pixels(indices.begin(), indices.end());
    std::vector<GifColorType> table = used;
    if (used.size() <= 16) {
        for (GifByteType& p : pixels) p = static_cast<GifByteType>(compact[p]);
    } else {
        table.clear();
        for (size_t i = 0; i < rgb.size() / 3; ++i) table.push_back({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
    }
    const int entries = table.size() <= 2 ? 2 : table.size() <= 16 ? 16 : 256, bits = entries == 2 ? 1 : entries == 16 ? 4 : 8;
    table.resize(entries, GifColorType{0, 0, 0});
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, &Append, &error);
    ColorMapObject* map = GifMakeMapObject(entries, table.data());
    EXPECT_EQ(EGifPutScreenDesc(gif, width, height, bits, 0, map), GIF_OK);
    EXPECT_EQ(EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr), GIF_OK);
    for (int y = 0; y < height; ++y) EGifPutLine(gif, &pixels[static_cast<size_t>(y) * width], width);
    GifFreeMapObject(map);
    EGifCloseFile(gif, &error);
    return out;
}

TEST(GifEncoder, WritesGiflibsBytesForEveryKindOfPicture) {
    std::mt19937 random(22);
    std::vector<uint8_t> rgb(3 * 256);
    for (uint8_t& c : rgb) c = static_cast<uint8_t>(random());
    struct Case {
        const char* what;
        int width, height, colours;
        bool runs;  // map-like: long runs of a colour, else noise
    };
    // Noise of 256 colours fills the LZW table many times over (clear codes);
    // runs make long strings; few colours take the 1- and 4-bit tables.
    const Case cases[] = {{"one pixel", 1, 1, 256, false}, {"two colours", 37, 5, 2, false},
                          {"three colours", 64, 64, 3, true}, {"sixteen", 101, 57, 16, false},
                          {"seventeen", 99, 61, 17, false}, {"noise", 800, 600, 256, false},
                          {"map-like runs", 800, 600, 256, true}, {"one colour", 800, 600, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> indices(static_cast<size_t>(c.width) * c.height);
        uint8_t colour = 0;
        for (uint8_t& i : indices) {
            if (!c.runs || random() % 23 == 0) colour = static_cast<uint8_t>(random() % c.colours);
            i = static_cast<uint8_t>(colour * (256 / c.colours) % 256);
        }
        const std::string ours = render::EncodeGif(rgb.data(), 256, indices.data(), c.width, c.height);
        const std::string theirs = GiflibGif(rgb, indices, c.width, c.height);
        ASSERT_EQ(ours.size(), theirs.size());
        EXPECT_TRUE(ours == theirs);
    }
}

}  // namespace
