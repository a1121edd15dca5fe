// Every malformed corpus file decodes without a crash (the sanitizers watch
// the memory) and with the result the decoder's failure rules give for what
// the manifest says the file holds.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "gif_support.h"
#include "image/lee_gif.h"
#include "support/test_support.h"

using namespace gif_support;
using testing_support::EnvPath;
using testing_support::JoinPath;

TEST(GifMalformedCorpus, FailureRulesHold) {
    std::string corpus = EnvPath("PLIVORS_TEST_CORPUS");
    auto manifest = ReadManifest(corpus);
    int files = 0, signature = 0, noImage = 0, refused = 0, decoded = 0;
    for (auto& entry : manifest) {
        if (entry.first.compare(0, 10, "malformed/") != 0) continue;
        ++files;
        auto& row = entry.second;
        std::string path = JoinPath(JoinPath(corpus, "malformed"), entry.first.substr(10));
        std::string bytes = testing_support::ReadFile(path);
        SCOPED_TRACE(entry.first);
        TDibKU d;
        Decoded r = Decode(path, d);

        if (bytes.size() < 4 || bytes.compare(0, 4, "GIF8") != 0) {
            ++signature;
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.error, "Error 2 opening " + path);
            EXPECT_EQ(d.Width(), 0);
            continue;
        }
        if (row["width"] == "-") {
            // No image descriptor could be read: success with an empty bitmap.
            ++noImage;
            EXPECT_TRUE(r.ok) << r.error;
            EXPECT_EQ(r.error, "untouched");
            EXPECT_EQ(d.Width(), 0);
            EXPECT_EQ(d.BitCount(), 0);
            continue;
        }
        int w = std::atoi(row["width"].c_str()), h = std::atoi(row["height"].c_str());
        int ct = std::atoi(row["colour_table_size"].c_str());
        int s = std::atoi(row["lzw_min_code_size"].c_str());
        int bits = ct > 0 ? ExpectedBits(ct) : d.BitCount();
        if (w >= kAnchoMaximo || RowStride(w, bits) * h > kAreaMaxima) {
            ++refused;
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.error, (w >= kAnchoMaximo ? "Image too wide " : "Image too large ") + path);
            EXPECT_EQ(d.Bits(), nullptr);
            continue;
        }
        ++decoded;
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.error, "untouched");
        EXPECT_EQ(d.Width(), w);
        EXPECT_EQ(d.Height(), h);
        EXPECT_TRUE(d.BitCount() == 1 || d.BitCount() == 4 || d.BitCount() == 8) << d.BitCount();
        if (ct > 0) {
            EXPECT_EQ(d.BitCount(), bits);
        }
        if (row["lzw_min_code_size"] != "-" && (s < 2 || s > 9)) {
            for (int i = 0; i < d.ImageSize(); ++i) ASSERT_EQ(d.Bits()[i], 0) << "byte " << i;
        }
        // Whatever the data reached, the picture is the same on every run.
        TDibKU again;
        Decode(path, again);
        ASSERT_EQ(again.ImageSize(), d.ImageSize());
        if (d.ImageSize() > 0) {
            EXPECT_EQ(std::memcmp(again.Bits(), d.Bits(), static_cast<size_t>(d.ImageSize())), 0);
        }
    }
    EXPECT_GT(files, 80);
    EXPECT_GT(signature, 0);
    EXPECT_GT(noImage, 0);
    EXPECT_GT(refused, 0);
    EXPECT_GT(decoded, 0);
    std::printf("malformed corpus: %d files, %d bad signatures, %d without image, %d refused, %d decoded\n", files,
                signature, noImage, refused, decoded);
}
