#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "image/dib_ku.h"

namespace {

uint32_t Entry(unsigned char b, unsigned char g, unsigned char r, unsigned char reserved = 0) {
    return b | (g << 8) | (r << 16) | (static_cast<uint32_t>(reserved) << 24);
}

std::unique_ptr<uint32_t[]> Palette(const TDibKU& d, int& n) { return std::unique_ptr<uint32_t[]>(d.CopyPalette(n)); }

}  // namespace

TEST(DibLayout, SizesColourTablesAndPaletteCopies) {
    TDibKU d;
    ASSERT_TRUE(d.Create(10, 5, 4, 0, nullptr));
    EXPECT_EQ(d.RowStride(), 8);
    EXPECT_EQ(d.ImageSize(), 40);
    EXPECT_EQ(d.ColourCount(), 16);
    // The pixel rows follow the 40-byte header and the 16-entry table in one block.
    int n = 0;
    auto p = Palette(d, n);
    EXPECT_EQ(n, 16);

    TDibKU mono;
    ASSERT_TRUE(mono.Create(3, 2, 1, 0, nullptr));
    EXPECT_EQ(mono.RowStride(), 4);
    EXPECT_EQ(mono.Entrada(0), 0u);
    EXPECT_EQ(mono.Entrada(1), 0xFFFFFFFFu);

    uint32_t big[256];
    for (int i = 0; i < 256; ++i) big[i] = Entry(static_cast<unsigned char>(i), 1, 2, 0xAB);
    TDibKU four;
    ASSERT_TRUE(four.Create(7, 3, 4, 256, big));
    p = Palette(four, n);
    ASSERT_EQ(n, 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], Entry(static_cast<unsigned char>(i), 1, 2, 0)) << i;

    TDibKU eight;
    ASSERT_TRUE(eight.Create(5, 5, 8, 0, nullptr));
    p = Palette(eight, n);
    EXPECT_EQ(n, 256);

    TDibKU rgb;
    ASSERT_TRUE(rgb.Create(5, 5, 24, 0, nullptr));
    EXPECT_EQ(rgb.CopyPalette(n), nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(rgb.RowStride(), 16);
}

TEST(DibLayout, EmptyBitmapAndRelease) {
    TDibKU d;
    int n = 5;
    EXPECT_EQ(d.Width(), 0);
    EXPECT_EQ(d.Height(), 0);
    EXPECT_EQ(d.BitCount(), 0);
    EXPECT_EQ(d.ImageSize(), 0);
    EXPECT_EQ(d.Bits(), nullptr);
    EXPECT_EQ(d.CopyPalette(n), nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(d.GetPixel(0, 0), Colores_pux::Black);
    d.SetIndex(0, 0, 1);  // nothing to write into

    ASSERT_TRUE(d.Create(4, 4, 8, 0, nullptr));
    d.Release();
    EXPECT_EQ(d.Width(), 0);
    EXPECT_EQ(d.Bits(), nullptr);
    d.Release();
}

TEST(DibLayout, RecreatingKeepsOrReplacesTheBlock) {
    uint32_t pal[2] = {Entry(1, 2, 3), Entry(4, 5, 6)};
    TDibKU d;
    ASSERT_TRUE(d.Create(9, 4, 8, 2, pal));
    d.SetIndex(8, 3, 77);
    uint32_t other[2] = {Entry(9, 9, 9), Entry(8, 8, 8)};
    ASSERT_TRUE(d.Create(9, 4, 8, 2, other));
    EXPECT_EQ(d.GetIndex(8, 3), 77);
    EXPECT_EQ(d.Entrada(0), pal[0]);

    // Another size gives a new, cleared block.
    ASSERT_TRUE(d.Create(9, 5, 8, 2, other));
    EXPECT_EQ(d.Entrada(0), other[0]);
    for (int i = 0; i < d.ImageSize(); ++i) ASSERT_EQ(d.Bits()[i], 0) << i;
    for (int i = 2; i < 256; ++i) ASSERT_EQ(d.Entrada(i), 0u) << i;
}

TEST(DibLayout, RefusesWhatItCannotHold) {
    TDibKU d;
    EXPECT_FALSE(d.Create(4, 4, 3, 0, nullptr));
    EXPECT_FALSE(d.Create(-4, 4, 8, 0, nullptr));
    EXPECT_EQ(d.Width(), 0);
    // 100000 x 100000 at 32 bits overflows any 32-bit size: the bitmap's
    // out-of-memory text, not a short block.
    try {
        d.Create(100000, 100000, 32, 0, nullptr);
        FAIL() << "no exception";
    } catch (const char* text) {
        EXPECT_STREQ(text, "TXOutOfMemory::Raise()");
    }
    EXPECT_EQ(d.Width(), 0);
    EXPECT_EQ(d.Bits(), nullptr);
}
