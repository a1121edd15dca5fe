// A plain model of the decoder's LZW rules, written as a dictionary of whole
// strings: the expectation for streams where those rules knowingly differ
// from giflib's (data that does not open with a clear code).
#pragma once

#include <string>
#include <vector>

namespace lzw_model {

struct Image {
    int width = 0, height = 0;
    bool interlaced = false;
    int minCodeSize = 0;
    bool startsWithClear = false;
    std::vector<int> pixels;  // image order, top row first; -1 where the data gave none
};

// The first image of a GIF file's bytes; false when there is none.
bool FirstImage(const std::string& file, Image& image);

}  // namespace lzw_model
