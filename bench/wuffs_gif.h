// Wuffs' side of the benchmarks: the first image of a GIF held in memory,
// decoded into palette indices, as the plug-in decodes it. Wuffs is a peer
// compiled into the benchmarks only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class WuffsGif {
public:
    WuffsGif();
    ~WuffsGif();
    // Null when the first image is in Pixels(), else Wuffs' message.
    const char* DecodeFirstImage(std::string& bytes);
    const uint8_t* Pixels() const { return pixels_.get(); }

private:
    struct Decoder;
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<uint8_t[]> pixels_;
};
