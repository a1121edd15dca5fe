#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "gif_builder.h"
#include "gif_support.h"
#include "image/lee_gif.h"
#include "lzw_model.h"
#include "support/test_support.h"

using namespace gif_builder;
using namespace gif_support;

namespace {

std::vector<int> Rows(int w, int h, int (*value)(int x, int y)) {
    std::vector<int> p;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.push_back(value(x, y));
    return p;
}

bool AllZero(const TDibKU& d) {
    for (int i = 0; i < d.ImageSize(); ++i)
        if (d.Bits()[i] != 0) return false;
    return true;
}

std::vector<uint32_t> PaletteOf(const TDibKU& d) {
    int n = 0;
    std::unique_ptr<uint32_t[]> p(d.CopyPalette(n));
    return std::vector<uint32_t>(p.get(), p.get() + n);
}

uint32_t Quad(const Colour& c) { return c.b | (c.g << 8) | (static_cast<uint32_t>(c.r) << 16); }

}  // namespace

TEST(GifFile, SignatureVersionsAndOpenFailures) {
    auto pic = [](const char* version) {
        return GifFile(version).Screen(Ramp(4)).Image(2, 1, false).Pixels({1, 3}, 2).Trailer().str();
    };
    for (const char* v : {"87a", "89a"}) {
        TDibKU d;
        Decoded r = Decode(WriteTemp(std::string("v") + v + ".gif", pic(v)), d);
        EXPECT_TRUE(r.ok) << v;
        EXPECT_EQ(r.error, "untouched");
        EXPECT_EQ(ImagePixel(d, 1, 0), 3);
    }
    std::string notGif = pic("89a");
    notGif[3] = '9';
    for (const std::string& content : {notGif, std::string("GIF"), std::string()}) {
        std::string path = WriteTemp("bad.gif", content);
        TDibKU d;
        Decoded r = Decode(path, d);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "Error 2 opening " + path);
        EXPECT_EQ(d.Width(), 0);
    }
    std::string missing = WriteTemp("x.gif", "") + ".absent";
    TDibKU d;
    Decoded r = Decode(missing, d);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Error opening " + missing);
}

TEST(GifFile, NoImageLeavesTheBitmapEmpty) {
    for (const std::string& content :
         {GifFile().Screen(Ramp(4)).Trailer().str(), GifFile().Screen(Ramp(4)).Comment("x").str(),
          GifFile().Screen(Ramp(4)).Raw({0x99}).Image(1, 1, false).Pixels({1}, 2).str(),
          // A Graphic Control Extension whose block size is not the 4 bytes read stops the reading.
          GifFile().Screen(Ramp(4)).Control(true, 1, 5).Image(1, 1, false).Pixels({1}, 2).str(),
          GifFile().Screen(Ramp(4)).Raw({0x21}).str(), GifFile().Screen(Ramp(4)).Raw({0x2C, 0, 0}).str()}) {
        TDibKU d;
        Decoded r = Decode(WriteTemp("empty.gif", content), d);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.error, "untouched");
        EXPECT_EQ(d.Width(), 0);
        EXPECT_EQ(d.BitCount(), 0);
    }
}

TEST(GifPalette, BitCountFollowsTheTableInForce) {
    struct {
        int entries;
        int bits;
    } cases[] = {{2, 1}, {4, 4}, {8, 4}, {16, 4}, {32, 8}, {128, 8}, {256, 8}};
    for (auto c : cases) {
        std::vector<Colour> table = Ramp(c.entries, 5);
        TDibKU d;
        ASSERT_TRUE(Decode(WriteTemp("t.gif", GifFile().Screen(table).Image(3, 2, false).Pixels({0, 1, 1, 0, 1, 0}, 2)
                                                  .Trailer().str()),
                           d)
                        .ok);
        EXPECT_EQ(d.BitCount(), c.bits) << c.entries;
        std::vector<uint32_t> p = PaletteOf(d);
        ASSERT_EQ(p.size(), static_cast<size_t>(1 << c.bits));
        for (int i = 0; i < c.entries; ++i) ASSERT_EQ(p[i], Quad(table[i])) << c.entries << " entry " << i;
    }
    // A local table replaces the global one, size included.
    std::vector<Colour> local = Ramp(2, 99);
    TDibKU d;
    ASSERT_TRUE(Decode(WriteTemp("l.gif", GifFile().Screen(Ramp(256)).Image(9, 1, false, local)
                                              .Pixels({1, 0, 1, 1, 0, 0, 0, 0, 1}, 2).Trailer().str()),
                       d)
                    .ok);
    EXPECT_EQ(d.BitCount(), 1);
    EXPECT_EQ(PaletteOf(d)[1], Quad(local[1]));
    EXPECT_EQ(d.Bits()[0], 0xB0);
    EXPECT_EQ(d.Bits()[1], 0x80);
    // No table at all: the size bits of the screen still choose the bit count, the palette stays empty.
    TDibKU bare;
    ASSERT_TRUE(Decode(WriteTemp("n.gif", GifFile().Screen({}, 4).Image(2, 1, false).Pixels({7, 30}, 5).Trailer().str()),
                       bare)
                    .ok);
    EXPECT_EQ(bare.BitCount(), 8);
    EXPECT_EQ(PaletteOf(bare)[7], 0u);
    EXPECT_EQ(ImagePixel(bare, 1, 0), 30);
}

TEST(GifPalette, TransparencyRules) {
    std::vector<Colour> t16 = Ramp(16);
    TDibKU a;
    ASSERT_TRUE(Decode(WriteTemp("a.gif", GifFile().Screen(t16).Control(true, 3).Image(1, 1, false).Pixels({3}, 4)
                                              .Trailer().str()),
                       a)
                    .ok);
    EXPECT_EQ(a.BitCount(), 4);
    std::vector<uint32_t> p = PaletteOf(a);
    ASSERT_EQ(p.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], Quad(t16[i])) << i;  // the transparent colour is kept
    EXPECT_EQ(ImagePixel(a, 0, 0), 3);

    // 256 entries without white: entry 255 becomes white; with white somewhere it is kept.
    std::vector<Colour> t256 = Ramp(256);
    TDibKU b;
    ASSERT_TRUE(Decode(WriteTemp("b.gif", GifFile().Screen(t256).Control(true, 0).Image(1, 1, false).Pixels({0}, 8)
                                              .Trailer().str()),
                       b)
                    .ok);
    EXPECT_EQ(PaletteOf(b)[255], 0xFFFFFFu);
    EXPECT_EQ(PaletteOf(b)[254], Quad(t256[254]));
    t256[10] = {255, 255, 255};
    TDibKU c;
    ASSERT_TRUE(Decode(WriteTemp("c.gif", GifFile().Screen(t256).Control(true, 0).Image(1, 1, false).Pixels({0}, 8)
                                              .Trailer().str()),
                       c)
                    .ok);
    EXPECT_EQ(PaletteOf(c)[255], Quad(t256[255]));

    // 32 entries with transparency: the rest of the 256 is white.
    TDibKU e;
    ASSERT_TRUE(Decode(WriteTemp("e.gif", GifFile().Screen(Ramp(32)).Control(true, 1).Image(1, 1, false)
                                              .Pixels({0}, 5).Trailer().str()),
                       e)
                    .ok);
    EXPECT_EQ(PaletteOf(e)[31], Quad(Ramp(32)[31]));
    EXPECT_EQ(PaletteOf(e)[32], 0xFFFFFFu);
    EXPECT_EQ(PaletteOf(e)[200], 0xFFFFFFu);

    // Without the flag (or a later extension without it) nothing changes: 200
    // colours keep their entries and the rest of the table is empty.
    std::vector<Colour> t200 = Ramp(200);
    for (const std::string& content :
         {GifFile().Screen(t200).Control(false, 5).Image(1, 1, false).Pixels({0}, 8).Trailer().str(),
          GifFile().Screen(t200).Image(1, 1, false).Pixels({0}, 8).Trailer().str()}) {
        TDibKU f;
        ASSERT_TRUE(Decode(WriteTemp("f.gif", content), f).ok);
        std::vector<uint32_t> q = PaletteOf(f);
        EXPECT_EQ(q[199], Quad(t200[199]));
        EXPECT_EQ(q[200], 0u);
        EXPECT_EQ(q[255], 0u);
    }
    TDibKU g;
    ASSERT_TRUE(Decode(WriteTemp("g.gif", GifFile().Screen(t200).Control(true, 2).Control(false, 0)
                                              .Image(1, 1, false).Pixels({0}, 8).Trailer().str()),
                       g)
                    .ok);
    EXPECT_EQ(PaletteOf(g)[255], 0xFFFFFFu);
}

TEST(GifRows, PlainAndInterlacedOrder) {
    // Each delivered row holds its delivery number, so the stored picture shows the order.
    auto deliveryNumbers = [](int h) {
        std::vector<int> p;
        for (int k = 0; k < h; ++k) p.push_back(k);
        return p;
    };
    struct {
        int height;
        std::vector<int> order;
    } cases[] = {{10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}}, {4, {0, 2, 1, 3}}, {2, {0, 1}}, {1, {0}},
                 {17, {0, 8, 16, 4, 12, 2, 6, 10, 14, 1, 3, 5, 7, 9, 11, 13, 15}}};
    for (const auto& c : cases) {
        TDibKU d;
        ASSERT_TRUE(Decode(WriteTemp("i.gif", GifFile().Screen(Ramp(256)).Image(1, c.height, true)
                                                  .Pixels(deliveryNumbers(c.height), 8).Trailer().str()),
                           d)
                        .ok);
        for (int k = 0; k < c.height; ++k) EXPECT_EQ(ImagePixel(d, 0, c.order[k]), k) << c.height << " row " << k;
    }
    TDibKU plain;
    ASSERT_TRUE(Decode(WriteTemp("p.gif", GifFile().Screen(Ramp(256)).Image(2, 3, false)
                                              .Pixels({10, 11, 20, 21, 30, 31}, 8).Trailer().str()),
                       plain)
                    .ok);
    // The first row of the file is the top row, stored last.
    EXPECT_EQ(plain.GetIndex(0, 2), 10);
    EXPECT_EQ(plain.GetIndex(1, 0), 31);
}

TEST(GifRows, PackingAndPadding) {
    TDibKU d;
    std::vector<int> px = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_TRUE(Decode(WriteTemp("w.gif", GifFile().Screen(Ramp(16)).Image(10, 1, false).Pixels(px, 4).Trailer().str()),
                       d)
                    .ok);
    EXPECT_EQ(d.RowStride(), 8);
    const unsigned char want[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0, 0, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(d.Bits()[i], want[i]) << i;
}

TEST(GifLzw, StreamsThatBendTheRules) {
    // Minimum code size 2: clear 4, end 5, first free 6; codes 3 bits wide until slot 7 is filled.
    auto decode = [](const CodeWriter& w, int count) {
        TDibKU d;
        std::string f = GifFile().Screen(Ramp(4)).Image(count, 1, false).MinCodeSize(2).Raw(SubBlocks(w.bytes())).Trailer().str();
        EXPECT_TRUE(Decode(WriteTemp("lzw.gif", f), d).ok);
        std::vector<int> out;
        for (int x = 0; x < count; ++x) out.push_back(ImagePixel(d, x, 0));
        return out;
    };
    {
        // No clear code first: the previous string starts as that of code 0,
        // so the first literal already adds slot 6 = "0" + first char.
        CodeWriter w;
        w.Put(1, 3);  // "1", adds 6 = 0,1
        w.Put(6, 3);  // "0 1", adds 7 = 1,0 -> width 4
        w.Put(5, 4);
        EXPECT_EQ(decode(w, 3), (std::vector<int>{1, 0, 1}));
    }
    {
        // Right after a clear code an undefined code reads as 0.
        CodeWriter w;
        w.Put(4, 3);
        w.Put(7, 3);
        w.Put(2, 3);
        w.Put(5, 3);
        EXPECT_EQ(decode(w, 2), (std::vector<int>{0, 2}));
    }
    {
        // A code equal to the next free one is the previous string plus its
        // own first character; one above it decodes the same way.
        CodeWriter w;
        w.Put(4, 3);
        w.Put(2, 3);  // "2"
        w.Put(6, 3);  // = next free: "2 2", adds 6
        w.Put(7, 3);  // = next free: "2 2 2", adds 7 -> width 4
        w.Put(10, 4);  // above next free (8): "2 2 2 2"
        w.Put(5, 4);
        EXPECT_EQ(decode(w, 10), (std::vector<int>{2, 2, 2, 2, 2, 2, 2, 2, 2, 2}));
    }
    {
        // Double clear codes, then normal codes.
        CodeWriter w;
        w.Put(4, 3);
        w.Put(4, 3);
        w.Put(3, 3);
        w.Put(1, 3);
        w.Put(6, 3);
        w.Put(5, 4);
        EXPECT_EQ(decode(w, 4), (std::vector<int>{3, 1, 3, 1}));
    }
}

TEST(GifLzw, CompressedStreamsDecodeExactly) {
    // Pictures that make long strings (flat areas, runs across row ends, one
    // colour throughout), the string-plus-its-own-first-byte code, and a full
    // table used on without a clear code; sub-blocks as short as one byte split
    // codes. Each decodes to its pixels and to what the rules' model says.
    uint32_t seed = 1;
    auto noise = [&seed](int colours) { return static_cast<int>(((seed = seed * 1664525u + 1013904223u) >> 8) % colours); };
    struct Case {
        int w, h, colours, minCodeSize, maxBlock;
        bool interlaced, clearWhenFull, leadingClear;
        char picture;  // m: map-like, r: runs across rows, u: one colour, n: noise
    } cases[] = {
        {800, 40, 256, 8, 255, false, true, true, 'm'},  {3, 300, 4, 2, 1, false, true, true, 'r'},
        {37, 50, 16, 4, 7, true, true, true, 'm'},       {13, 21, 2, 2, 2, true, true, true, 'r'},
        {200, 120, 1, 2, 255, false, true, true, 'u'},   {64, 400, 256, 8, 255, false, false, true, 'n'},
        {61, 90, 32, 9, 30, true, false, true, 'r'},     {45, 30, 16, 4, 255, false, true, false, 'm'},
        {1, 500, 2, 2, 3, false, true, true, 'r'},       {300, 200, 256, 8, 255, false, false, true, 'm'},
    };
    for (const Case& c : cases) {
        std::vector<int> px;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                int i = y * c.w + x;
                int v = c.picture == 'u' ? 0
                        : c.picture == 'n' ? noise(c.colours)
                        : c.picture == 'r' ? (i / 97) % c.colours
                        : (x + 2 * y) % 41 == 0 ? c.colours - 1 : (x / 23 + y / 17) % (c.colours > 2 ? 3 : 2);
                px.push_back(v);
            }
        // An interlaced stream holds the rows pass by pass.
        std::vector<int> stream;
        static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < (c.interlaced ? 4 : 1); ++pass)
            for (int y = c.interlaced ? start[pass] : 0; y < c.h; y += c.interlaced ? step[pass] : 1)
                stream.insert(stream.end(), px.begin() + y * c.w, px.begin() + (y + 1) * c.w);
        std::string file = GifFile().Screen(Ramp(c.colours < 2 ? 2 : c.colours)).Image(c.w, c.h, c.interlaced)
                               .MinCodeSize(c.minCodeSize)
                               .Raw(SubBlocks(LzwCodes(stream, c.minCodeSize, c.clearWhenFull, c.leadingClear), c.maxBlock))
                               .Trailer().str();
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.picture << " interlaced " << c.interlaced);
        lzw_model::Image model;
        ASSERT_TRUE(lzw_model::FirstImage(file, model));
        TDibKU d;
        ASSERT_TRUE(Decode(WriteTemp("lzw.gif", file), d).ok);
        int mask = (1 << d.BitCount()) - 1, defined = 0;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                size_t i = static_cast<size_t>(y) * c.w + x;
                if (c.leadingClear) {
                    ASSERT_EQ(model.pixels[i], px[i]) << x << "," << y;
                }
                if (model.pixels[i] < 0) continue;
                ++defined;
                ASSERT_EQ(ImagePixel(d, x, y), model.pixels[i] & mask) << x << "," << y;
            }
        EXPECT_GT(defined, c.w * c.h / 2);
    }
}

TEST(GifLzw, MinimumCodeSizeOutsideTheRangeWritesNoPixel) {
    for (int s : {0, 1, 10, 11, 255}) {
        TDibKU d;
        std::string f = GifFile().Screen(Ramp(4)).Image(5, 3, false).MinCodeSize(s).Raw({3, 0xFF, 0xFF, 0xFF, 0})
                            .Trailer().str();
        Decoded r = Decode(WriteTemp("s.gif", f), d);
        EXPECT_TRUE(r.ok) << s;
        EXPECT_EQ(d.Width(), 5);
        EXPECT_EQ(PaletteOf(d)[2], Quad(Ramp(4)[2]));
        EXPECT_TRUE(AllZero(d)) << s;
    }
}

TEST(GifSafety, TruncatedAndOverlongData) {
    std::vector<int> px = Rows(4, 6, [](int x, int y) { return 1 + (x + y) % 200; });
    Bytes codes = LiteralCodes(px, 8);
    // Cut the code stream after about half the rows: rows not reached stay zero.
    Bytes half(codes.begin(), codes.begin() + codes.size() / 2);
    for (bool terminated : {false, true}) {
        TDibKU d;
        std::string f = GifFile().Screen(Ramp(256)).Image(4, 6, false).MinCodeSize(8).Raw(SubBlocks(half, 255, terminated)).str();
        Decoded r = Decode(WriteTemp("cut.gif", f), d);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(ImagePixel(d, 0, 0), px[0]);
        EXPECT_EQ(ImagePixel(d, 3, 1), px[7]);
        for (int x = 0; x < 4; ++x) EXPECT_EQ(ImagePixel(d, x, 5), 0) << x;
    }
    // A short last row keeps its pixels and leaves the rest of the row at 0.
    {
        TDibKU d;
        std::string f = GifFile().Screen(Ramp(256)).Image(4, 2, false).Pixels({9, 9, 9, 9, 7, 7}, 8).Trailer().str();
        ASSERT_TRUE(Decode(WriteTemp("short.gif", f), d).ok);
        EXPECT_EQ(ImagePixel(d, 1, 1), 7);
        EXPECT_EQ(ImagePixel(d, 2, 1), 0);
        EXPECT_EQ(ImagePixel(d, 3, 1), 0);
    }
    // More pixels than the image holds, plain or interlaced: the extra rows are dropped.
    for (bool interlaced : {false, true}) {
        TDibKU d;
        std::vector<int> many = Rows(3, 40, [](int, int y) { return y + 1; });
        std::string f = GifFile().Screen(Ramp(256)).Image(3, 4, interlaced).Pixels(many, 8).Trailer().str();
        ASSERT_TRUE(Decode(WriteTemp("long.gif", f), d).ok);
        EXPECT_EQ(d.Height(), 4);
        EXPECT_EQ(ImagePixel(d, 0, 0), 1);
        EXPECT_EQ(ImagePixel(d, 2, 3), 4);
        EXPECT_EQ(ImagePixel(d, 1, interlaced ? 2 : 1), 2);
    }
    // A zero-length sub-block before the end code ends the data there.
    {
        Bytes first(codes.begin(), codes.begin() + 6);
        Bytes stream = {6};
        stream.insert(stream.end(), first.begin(), first.end());
        stream.push_back(0);
        stream.push_back(static_cast<unsigned char>(codes.size() - 6));
        stream.insert(stream.end(), codes.begin() + 6, codes.end());
        stream.push_back(0);
        TDibKU d;
        std::string f = GifFile().Screen(Ramp(256)).Image(4, 6, false).MinCodeSize(8).Raw(stream).Trailer().str();
        ASSERT_TRUE(Decode(WriteTemp("zero.gif", f), d).ok);
        EXPECT_EQ(ImagePixel(d, 0, 0), px[0]);
        for (int x = 0; x < 4; ++x) EXPECT_EQ(ImagePixel(d, x, 5), 0) << x;
    }
}

TEST(GifSafety, ZeroSizesAndHugeDeclarations) {
    for (auto wh : {std::pair<int, int>{0, 5}, {5, 0}, {0, 0}}) {
        for (bool interlaced : {false, true}) {
            TDibKU d;
            std::string f = GifFile().Screen(Ramp(4)).Image(wh.first, wh.second, interlaced)
                                .Pixels(std::vector<int>(300, 3), 2).Trailer().str();
            Decoded r = Decode(WriteTemp("z.gif", f), d);
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(d.Width(), wh.first);
            EXPECT_EQ(d.Height(), wh.second);
            EXPECT_EQ(d.ImageSize(), 0);
        }
    }
    // Too wide for the 16-bit line width, or more than the pixel area allows:
    // refused before anything is allocated.
    struct {
        int w, h, entries;
        const char* text;
    } refused[] = {{32768, 1, 4, "Image too wide "}, {65535, 65535, 256, "Image too wide "},
                   {32767, 65535, 256, "Image too large "}, {24000, 24000, 16, "Image too large "}};
    for (auto c : refused) {
        std::string path = WriteTemp("huge.gif", GifFile().Screen(Ramp(c.entries)).Image(c.w, c.h, false)
                                                     .Pixels({1, 1, 1}, 2).Trailer().str());
        TDibKU d;
        Decoded r = Decode(path, d);
        EXPECT_FALSE(r.ok) << c.w << "x" << c.h;
        EXPECT_EQ(r.error, c.text + path);
        EXPECT_EQ(d.Bits(), nullptr);
    }
    // Just inside the limits still decodes.
    TDibKU edge;
    ASSERT_TRUE(Decode(WriteTemp("edge.gif", GifFile().Screen(Ramp(2)).Image(32767, 2, false).Pixels({1, 0, 1}, 2)
                                                 .Trailer().str()),
                       edge)
                    .ok);
    EXPECT_EQ(edge.Width(), 32767);
    EXPECT_EQ(ImagePixel(edge, 2, 0), 1);
}

TEST(GifSafety, StringCycleEndsTheDecoding) {
    // 4(clear) 0 7 7 makes slot 7 its own prefix; the next 7 would unwind forever.
    CodeWriter w;
    w.Put(4, 3);
    w.Put(0, 3);
    w.Put(7, 3);
    w.Put(7, 3);
    for (int i = 0; i < 50; ++i) w.Put(7, 4);
    Bytes stream = {2};
    Bytes blocks = SubBlocks(w.bytes());
    stream.insert(stream.end(), blocks.begin(), blocks.end());
    std::string path = WriteTemp("cycle.bin", std::string(stream.begin(), stream.end()));

    TDibKU bitmap;
    ASSERT_TRUE(bitmap.Create(100, 100, 8, 0, nullptr));
    std::unique_ptr<GifDecoderState> s(new GifDecoderState());
    s->bitmap = &bitmap;
    s->rowStride = bitmap.RowStride();
    s->rowCount = 100;
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    CImageIterator it(s.get());
    it.ToTopRow();
    int16_t status = DecodeImageData(*s, f, it, 100);
    std::fclose(f);
    EXPECT_LT(status, 0);
    EXPECT_EQ(ImagePixel(bitmap, 0, 1), 0);

    TDibKU d;
    std::string gif = GifFile().Screen(Ramp(4)).Image(100, 100, false).MinCodeSize(2).Raw(blocks).Trailer().str();
    EXPECT_TRUE(Decode(WriteTemp("cycle.gif", gif), d).ok);
}

TEST(GifIterator, StaysInsideTheRows) {
    TDibKU bitmap;
    ASSERT_TRUE(bitmap.Create(5, 3, 8, 0, nullptr));
    GifDecoderState* s = new GifDecoderState();
    std::unique_ptr<GifDecoderState> owner(s);
    s->bitmap = &bitmap;
    s->rowStride = bitmap.RowStride();
    CImageIterator it(s);
    it.ToTopRow();
    EXPECT_EQ(it.Y(), 2);
    EXPECT_TRUE(it.IsInside());
    const unsigned char row[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    it.CopyRow(row, 100);  // cut to the stride
    EXPECT_EQ(bitmap.GetIndex(4, 2), 5);
    EXPECT_TRUE(it.StepDown());
    EXPECT_TRUE(it.StepDown());
    EXPECT_FALSE(it.StepDown());
    EXPECT_FALSE(it.IsInside());
    it.CopyRow(row, -1);  // no row any more: nothing is written
    EXPECT_EQ(bitmap.GetIndex(0, 0), 0);
    it.SetStorageRow(3);
    EXPECT_FALSE(it.IsInside());
    it.SetStorageRow(1);
    it.CopyRow(row, 2);
    EXPECT_EQ(bitmap.GetIndex(1, 1), 2);
    EXPECT_EQ(bitmap.GetIndex(2, 1), 0);
}
