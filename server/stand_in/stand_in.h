// The test stand-in for the map and download servers, chosen with --stand-in.
#pragma once

#include <string>

#include "server/stand_in/map_picture.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace stand_in {

struct Options {
    PictureStyle style;
    std::string downloads;
};

void Handle(const Options& options, const httplib::Request& req, httplib::Response& res);
// The stand-in's part of --help.
const char* Usage();

}  // namespace stand_in
