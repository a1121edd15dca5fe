// Differential test: every valid corpus GIF and every GIF that giflib's
// encoder wrote for this run must decode to what giflib reads from it, under
// the decoder's own palette and packing rules.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "gif_support.h"
#include "image/lee_gif.h"
#include "lzw_model.h"
#include "support/test_support.h"

using namespace gif_support;
using testing_support::EnvPath;
using testing_support::JoinPath;

namespace {

struct Case {
    std::string kind, name, ref;
};

std::vector<Case> ReferenceIndex(const std::string& dir) {
    std::vector<Case> cases;
    std::ifstream in(JoinPath(dir, "index.tsv"), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        Case c;
        if (std::getline(s, c.kind, '\t') && std::getline(s, c.name, '\t') && std::getline(s, c.ref)) cases.push_back(c);
    }
    return cases;
}

// Compares one decoded bitmap with giflib's first frame. minCodeSize is the
// file's LZW minimum code size, or 0 when it is in the usual range.
int ExpectSameAsGiflib(const std::string& label, const TDibKU& d, const Reference& ref, bool pixelsWritten,
                        const std::vector<int>* modelPixels) {
    SCOPED_TRACE(label);
    int compared = 0;
    EXPECT_EQ(d.Width(), ref.width);
    EXPECT_EQ(d.Height(), ref.height);
    if (d.Width() != ref.width || d.Height() != ref.height) return 0;
    // giflib reports the colour table in force (local, else global); the
    // decoder's bit count and palette follow from its size.
    int bits = ExpectedBits(ref.colours);
    EXPECT_EQ(d.BitCount(), bits);
    if (d.BitCount() != bits) return 0;
    std::vector<uint32_t> palette = ExpectedPalette(ref.rgb, ref.colours, ref.transparent);
    int n = 0;
    std::unique_ptr<uint32_t[]> got(d.CopyPalette(n));
    EXPECT_EQ(n, 1 << bits);
    if (n != 1 << bits) return 0;
    for (int i = 0; i < n; ++i) {
        // Table entries the GIF palette does not fill stay zero, except the
        // white the 1-bit layout puts in entry 1.
        uint32_t want = i < static_cast<int>(palette.size()) ? palette[i] : (bits == 1 && i == 1 ? 0xFFFFFFu : 0u);
        EXPECT_EQ(got[i] & 0xFFFFFFu, want) << "palette entry " << i;
        EXPECT_EQ(got[i] >> 24, bits == 1 && i == 1 && palette.size() < 2 ? 0xFFu : 0u) << "reserved byte " << i;
        if ((got[i] & 0xFFFFFFu) != want) return 0;
    }
    int mask = (1 << bits) - 1;
    for (int row = 0; row < ref.height; ++row)
        for (int x = 0; x < ref.width; ++x) {
            size_t i = static_cast<size_t>(row) * ref.width + x;
            if (pixelsWritten && modelPixels && (*modelPixels)[i] < 0) continue;  // not defined by the data
            int want = !pixelsWritten ? 0 : modelPixels ? (*modelPixels)[i] & mask : ref.pixels[i] & mask;
            EXPECT_EQ(ImagePixel(d, x, row), want) << "pixel " << x << "," << row;
            if (ImagePixel(d, x, row) != want) return 0;
            ++compared;
        }
    // Row padding is never written.
    for (int y = 0; y < ref.height; ++y)
        for (int b = (ref.width * bits + 7) / 8; b < d.RowStride(); ++b)
            EXPECT_EQ(d.Bits()[static_cast<size_t>(y) * d.RowStride() + b], 0) << "padding of row " << y;
    return compared;
}

}  // namespace

TEST(GifAgainstGiflib, CorpusAndGeneratedFiles) {
    std::string refDir = EnvPath("PLIVORS_TEST_REFERENCE");
    std::string corpus = EnvPath("PLIVORS_TEST_CORPUS");
    ASSERT_FALSE(refDir.empty()) << "run through tools/run-test.sh --gif-reference";
    std::vector<Case> cases = ReferenceIndex(refDir);
    auto manifest = ReadManifest(corpus);
    int corpusFiles = 0, generated = 0, compared = 0, withoutClear = 0;
    for (const Case& c : cases) {
        std::string gif = c.kind == "valid" ? JoinPath(JoinPath(corpus, "valid"), c.name)
                                            : JoinPath(JoinPath(refDir, "generated"), c.name);
        (c.kind == "valid" ? corpusFiles : generated)++;
        Reference ref;
        ASSERT_TRUE(ReadReference(JoinPath(refDir, c.ref), ref)) << c.ref;
        ASSERT_TRUE(ref.ok) << c.name << ": giflib could not read a file meant to be valid";
        TDibKU d;
        Decoded r = Decode(gif, d);
        if (ref.width >= kAnchoMaximo) {
            // The line width of the LZW stage is 16 bits: such images are refused.
            EXPECT_FALSE(r.ok) << c.name;
            EXPECT_EQ(r.error, "Image too wide " + gif);
            EXPECT_EQ(d.Bits(), nullptr);
            continue;
        }
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        EXPECT_EQ(r.error, "untouched");
        // giflib decodes LZW minimum code sizes outside 2..9 (e.g. 1); the
        // decoder of this module writes no pixel for them, so giflib is not the
        // oracle for the pixels there: they stay as created, zero.
        bool pixelsWritten = true;
        if (c.kind == "valid") {
            auto row = manifest.find("valid/" + c.name);
            ASSERT_NE(row, manifest.end()) << c.name << " missing from the manifest";
            int s = std::atoi(row->second["lzw_min_code_size"].c_str());
            pixelsWritten = s >= 2 && s <= 9;
        }
        // giflib adds no table entry for the first code of a stream that does
        // not open with a clear code; this decoder's rules add one (its
        // previous string starts as that of code 0), so later table codes mean
        // other strings. The rules' own model is the oracle for such files; it
        // must agree with giflib on every stream that opens with a clear code.
        lzw_model::Image model;
        ASSERT_TRUE(lzw_model::FirstImage(testing_support::ReadFile(gif), model)) << c.name;
        const std::vector<int>* modelPixels = nullptr;
        if (pixelsWritten && !model.startsWithClear) {
            modelPixels = &model.pixels;
            ++withoutClear;
        } else if (pixelsWritten) {
            for (size_t i = 0; i < ref.pixels.size(); ++i)
                ASSERT_EQ(model.pixels[i], ref.pixels[i]) << c.name << ": the model disagrees with giflib at " << i;
        }
        int pixels = ExpectSameAsGiflib(c.kind + "/" + c.name, d, ref, pixelsWritten, modelPixels);
        if (HasFailure()) return;
        if (modelPixels) {
            // The model defines at least the first rows of such a file.
            EXPECT_GE(pixels, ref.width) << c.name;
        }
        ++compared;
    }
    // The whole valid corpus and the full generated set took part.
    size_t validInManifest = 0;
    for (const auto& row : manifest)
        if (row.first.compare(0, 6, "valid/") == 0 && testing_support::FileExists(JoinPath(corpus, row.first)))
            ++validInManifest;
    EXPECT_EQ(static_cast<size_t>(corpusFiles), validInManifest);
    EXPECT_EQ(generated, 6 * 5 * 8);
    EXPECT_EQ(compared + 1, static_cast<int>(cases.size()));  // all but the one too wide
    EXPECT_GT(withoutClear, 0);
}
