// The test stand-in for the map and download servers (plivors-stand-in).
#pragma once

#include <string>

#include "server/front/answer.h"
#include "server/stand_in/map_picture.h"

namespace stand_in {

struct Options {
    PictureStyle style;
    std::string downloads;
};

// The answer to a request, with its shape; may take a while (a large
// picture), so it is called off the front's threads.
front::Answer Handle(const Options& options, const front::Request& req);
// What --help says about the stand-in's answers.
const char* Usage();

}  // namespace stand_in
