// Shared by the decoder tests: decoding a file, reading the corpus manifest
// and the reference dumps that giflib's side writes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/dstring.h"
#include "image/dib_ku.h"

namespace gif_support {

struct Decoded {
    bool ok = false;
    std::string error;
};

Decoded Decode(const std::string& path, TDibKU& bitmap);
// Writes content to a fresh file under the test's working folder; returns its path.
std::string WriteTemp(const std::string& name, const std::string& content);

// MANIFEST.tsv of the corpus: file (e.g. "valid/x.gif") -> column -> value.
std::map<std::string, std::map<std::string, std::string>> ReadManifest(const std::string& corpus);

struct Reference {
    bool ok = false;
    int width = 0, height = 0, interlaced = 0, colours = 0, transparent = -1;
    std::vector<unsigned char> rgb;     // colours x 3
    std::vector<unsigned char> pixels;  // width x height, top row first
};
bool ReadReference(const std::string& path, Reference& ref);

// The palette the decoder must build from a colour table (blue, green, red, 0 entries).
std::vector<uint32_t> ExpectedPalette(const std::vector<unsigned char>& rgb, int colours, int transparent);
int ExpectedBits(int colours);

// Index of image pixel (x, row) where row 0 is the top image row.
int ImagePixel(const TDibKU& bitmap, int x, int row);

}  // namespace gif_support
