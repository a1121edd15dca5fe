// The stand-in's writer: sends an answer as a misbehaving server would,
// late, in slow pieces, without a length, cut short or stalled midway.
#pragma once

#include <cstddef>
#include <memory>

#include "server/front/writer.h"

namespace stand_in {

struct Delivery {
    int delayMs = 0;       // before the status line
    size_t piece = 0;      // body in pieces of this size (0: whole)
    int pauseMs = 0;       // between pieces
    bool chunked = false;  // no Content-Length; chunked transfer coding
    long long drop = -1;   // close after this many body bytes
    int stallMs = 0;       // pause once in the middle of the body
    int lingerMs = 0;      // pause before the last chunk of a chunked body
};

std::shared_ptr<front::Writer> ShapedWriter(const Delivery& delivery);

}  // namespace stand_in
