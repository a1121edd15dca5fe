// Pixel access, colour lookup, stretching, copies and the named colours of
// TDibKU (image/dib_ku_pixeles.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "image/dib_ku.h"

namespace {

uint32_t Entry(unsigned char b, unsigned char g, unsigned char r, unsigned char reserved = 0) {
    return b | (g << 8) | (r << 16) | (static_cast<uint32_t>(reserved) << 24);
}

}  // namespace

TEST(DibPixels, IndexRoundTripLeavesNeighboursAlone) {
    for (int bits : {1, 4, 8, 16}) {
        TDibKU d;
        ASSERT_TRUE(d.Create(19, 3, bits, 0, nullptr));
        int maxValue = bits == 16 ? 0xFFFF : (1 << bits) - 1;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 19; ++x) d.SetIndex(x, y, (x * 5 + y * 3 + 1) & maxValue);
        d.SetIndex(7, 1, 0);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 19; ++x) {
                int want = (x == 7 && y == 1) ? 0 : (x * 5 + y * 3 + 1) & maxValue;
                ASSERT_EQ(d.GetIndex(x, y), want) << bits << " bits at " << x << "," << y;
            }
        EXPECT_EQ(d.GetIndex(-1, 0), 0);
        EXPECT_EQ(d.GetIndex(19, 0), 0);
        EXPECT_EQ(d.GetIndex(0, 3), 0);
        d.SetIndex(19, 0, 1);
        d.SetIndex(0, -1, 1);
        EXPECT_EQ(d.GetIndex(18, 0), (18 * 5 + 1) & maxValue);
    }
    // Packing order: leftmost pixel in the top bit or high nibble.
    TDibKU mono;
    ASSERT_TRUE(mono.Create(9, 1, 1, 0, nullptr));
    mono.SetIndex(0, 0, 1);
    mono.SetIndex(8, 0, 5);
    EXPECT_EQ(mono.Bits()[0], 0x80);
    EXPECT_EQ(mono.Bits()[1], 0x80);
    TDibKU nib;
    ASSERT_TRUE(nib.Create(3, 1, 4, 0, nullptr));
    nib.SetIndex(0, 0, 0xA);
    nib.SetIndex(1, 0, 0x3);
    nib.SetIndex(2, 0, 0x1F);
    EXPECT_EQ(nib.Bits()[0], 0xA3);
    EXPECT_EQ(nib.Bits()[1], 0xF0);
}

TEST(DibPixels, ColoursByBitCount) {
    TDibKU d16;
    ASSERT_TRUE(d16.Create(2, 1, 16, 0, nullptr));
    d16.SetIndex(1, 0, 0x7FFF);
    EXPECT_EQ(d16.GetPixel(1, 0).Valor(), 0xF8F8F8u);
    d16.SetIndex(0, 0, 0x7C00);  // red only
    EXPECT_EQ(d16.GetPixel(0, 0), TColorRGB(248, 0, 0));
    d16.SetPixel(0, 0, Colores_pux::White);  // 16-bit pixels are not written by colour
    EXPECT_EQ(d16.GetIndex(0, 0), 0x7C00);

    for (int bits : {24, 32}) {
        TDibKU d;
        ASSERT_TRUE(d.Create(3, 2, bits, 0, nullptr));
        d.SetPixel(2, 1, TColorRGB(10, 20, 30));
        EXPECT_EQ(d.GetPixel(2, 1), TColorRGB(10, 20, 30));
        const unsigned char* p = d.Bits() + d.RowStride() + 2 * (bits / 8);
        EXPECT_EQ(p[0], 30);  // blue first
        EXPECT_EQ(p[2], 10);
        EXPECT_EQ(d.GetPixel(-1, 0), Colores_pux::Black);
        EXPECT_EQ(d.GetPixel(3, 0), Colores_pux::Black);
    }

    uint32_t pal[4] = {Entry(0, 0, 0), Entry(0, 0, 200), Entry(0, 200, 0), Entry(200, 0, 0)};
    TDibKU d8;
    ASSERT_TRUE(d8.Create(4, 1, 8, 4, pal));
    d8.SetPixel(0, 0, TColorRGB(190, 10, 0));  // nearest is the red entry
    EXPECT_EQ(d8.GetIndex(0, 0), 1);
    EXPECT_EQ(d8.GetPixel(0, 0), TColorRGB(200, 0, 0));
    d8.SetPixel(1, 0, TColorRGB(0, 0, 200));  // exact blue
    EXPECT_EQ(d8.GetIndex(1, 0), 3);
    EXPECT_EQ(d8.GetColor(1, 0), TColorRGB(0, 0, 200));
}

TEST(DibPixels, PaletteIndexPrefersExactThenLowestNearest) {
    uint32_t pal[8];
    for (int i = 0; i < 8; ++i) pal[i] = Entry(0, 0, static_cast<unsigned char>(100 + i));
    pal[3] = Entry(0, 0, 40);
    pal[7] = Entry(0, 0, 60);
    TDibKU d;
    ASSERT_TRUE(d.Create(1, 1, 8, 8, pal));
    // 50 is 10 away from entries 3 and 7, nearer than anything else.
    EXPECT_EQ(d.PaletteIndex(TColorRGB(50, 0, 0), true), 3);
    EXPECT_EQ(d.PaletteIndex(TColorRGB(50, 0, 0), false), 0);
    EXPECT_EQ(d.PaletteIndex(TColorRGB(60, 0, 0), false), 7);
    EXPECT_EQ(d.PaletteIndex(TColorRGB(104, 0, 0), true), 4);
}

TEST(DibStretch, ScalesByNearestSampleAndClips) {
    TDibKU src;
    ASSERT_TRUE(src.Create(6, 2, 8, 0, nullptr));
    for (int x = 0; x < 6; ++x) {
        src.SetIndex(x, 0, 10 + x);
        src.SetIndex(x, 1, 20 + x);
    }
    TRectangulo all = {0, 0, 6, 2};

    TDibKU wide;
    ASSERT_TRUE(wide.Create(12, 2, 8, 0, nullptr));
    TRectangulo d2 = {0, 0, 12, 2};
    ASSERT_TRUE(wide.StretchFrom(d2, all, src));
    for (int x = 0; x < 12; ++x) EXPECT_EQ(wide.GetIndex(x, 1), 20 + x / 2) << x;

    TDibKU narrow;
    ASSERT_TRUE(narrow.Create(3, 2, 8, 0, nullptr));
    TRectangulo d3 = {0, 0, 3, 2};
    ASSERT_TRUE(narrow.StretchFrom(d3, all, src));
    for (int x = 0; x < 3; ++x) EXPECT_EQ(narrow.GetIndex(x, 0), 10 + 2 * x) << x;

    // Reaching past the right and bottom side: only the inside is filled.
    TDibKU part;
    ASSERT_TRUE(part.Create(4, 2, 8, 0, nullptr));
    TRectangulo past = {2, 1, 8, 3};
    ASSERT_TRUE(part.StretchFrom(past, all, src));
    EXPECT_EQ(part.GetIndex(2, 1), 10);
    EXPECT_EQ(part.GetIndex(3, 1), 11);
    EXPECT_EQ(part.GetIndex(1, 1), 0);
    EXPECT_EQ(part.GetIndex(2, 0), 0);

    // Rectangles starting before either bitmap copy only what both hold.
    TRectangulo before = {-3, -1, 3, 1};
    ASSERT_TRUE(part.StretchFrom(before, all, src));
    EXPECT_EQ(part.GetIndex(0, 0), 23);
    TRectangulo outside = {-2, 0, 6, 2};
    ASSERT_TRUE(part.StretchFrom(all, outside, src));
    EXPECT_EQ(part.GetIndex(2, 0), 10);

    // A rectangle across the whole 32-bit range: its sides must not wrap.
    TRectangulo huge = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    ASSERT_TRUE(part.StretchFrom(huge, all, src));
    EXPECT_EQ(part.GetIndex(0, 0), 23);
    EXPECT_EQ(part.GetIndex(3, 1), 23);

    TRectangulo empty = {0, 0, 0, 2};
    EXPECT_FALSE(part.StretchFrom(empty, all, src));
    TDibKU none;
    EXPECT_FALSE(none.StretchFrom(all, all, src));
    EXPECT_FALSE(part.StretchFrom(all, all, none));
}

TEST(DibStretch, PackedAndMixedBitCounts) {
    uint32_t pal[16];
    for (int i = 0; i < 16; ++i) pal[i] = Entry(static_cast<unsigned char>(i * 16), 0, 0);
    TDibKU src;
    ASSERT_TRUE(src.Create(5, 1, 4, 16, pal));
    for (int x = 0; x < 5; ++x) src.SetIndex(x, 0, 15 - x);
    TRectangulo r = {0, 0, 5, 1};

    TDibKU same;
    ASSERT_TRUE(same.Create(5, 1, 4, 0, nullptr));
    ASSERT_TRUE(same.StretchFrom(r, r, src));
    for (int x = 0; x < 5; ++x) EXPECT_EQ(same.GetIndex(x, 0), 15 - x);
    EXPECT_EQ(same.Entrada(3), pal[3]);  // the source's colour table came along

    TDibKU rgb;
    ASSERT_TRUE(rgb.Create(5, 1, 24, 0, nullptr));
    ASSERT_TRUE(rgb.StretchFrom(r, r, src));
    for (int x = 0; x < 5; ++x) EXPECT_EQ(rgb.GetPixel(x, 0), src.GetPixel(x, 0)) << x;
}

namespace {
struct Recorder : TVisitanteDib {
    int calls = 0;
    bool sameAsOriginal = false;
    const TDibKU* original = nullptr;
    void Visita(TDibKU& copy, TDibKU& from) override {
        ++calls;
        original = &from;
        sameAsOriginal = copy.Width() == from.Width() && copy.Height() == from.Height() &&
                         copy.BitCount() == from.BitCount() && &copy != &from &&
                         std::memcmp(copy.Bits(), from.Bits(), static_cast<size_t>(from.ImageSize())) == 0 &&
                         copy.Entrada(1) == from.Entrada(1);
    }
};
}  // namespace

TEST(DibStretch, VisitCopyHandsOverAFullCopy) {
    uint32_t pal[2] = {Entry(1, 1, 1), Entry(9, 8, 7)};
    TDibKU d;
    ASSERT_TRUE(d.Create(13, 3, 1, 2, pal));
    for (int x = 0; x < 13; x += 3) d.SetIndex(x, 1, 1);
    Recorder r;
    d.VisitCopy(r);
    EXPECT_EQ(r.calls, 1);
    EXPECT_TRUE(r.sameAsOriginal);
    EXPECT_EQ(r.original, &d);

    TDibKU empty;
    Recorder none;
    empty.VisitCopy(none);
    EXPECT_EQ(none.calls, 0);
}

TEST(NamedColours, SetOnceAtStartUp) {
    Colores_pux::Inicia();
    EXPECT_EQ(Colores_pux::White.Valor(), 0xFFFFFFu);
    EXPECT_EQ(Colores_pux::Red, TColorRGB(255, 0, 0));
    EXPECT_EQ(Colores_pux::Blue, TColorRGB(0, 0, 255));
    EXPECT_EQ(Colores_pux::Brown.Valor(), 0x004080u);
    EXPECT_EQ(Colores_pux::DarkYellow.Valor(), 0x007777u);
    EXPECT_EQ(Colores_pux::Magenta.Valor(), 0xFF00FFu);
    EXPECT_EQ(Colores_pux::Black.Valor(), 0u);
    EXPECT_EQ(Colores_pux::SysHighlightText.Valor() >> 24, 0u);
    // A second start-up must not reset what the module has changed since.
    Colores_pux::ColourSlots[5] = Colores_pux::Red;
    Colores_pux::Inicia();
    EXPECT_EQ(Colores_pux::ColourSlots[5], Colores_pux::Red);
    Colores_pux::ColourSlots[5] = TColorRGB();
    Colores_pux::Termina();
    Colores_pux::Termina();
    TColorRGB c(0x12, 0x34, 0x56);
    EXPECT_EQ(c.Valor(), 0x563412u);
    EXPECT_EQ(c.Rojo(), 0x12);
    EXPECT_EQ(c.Azul(), 0x56);
}
