// The command-line options both servers share: where to listen, how long to
// wait on clients, where to log, the downloads folder.
#pragma once

#include <string>

#include <boost/program_options/options_description.hpp>

#include "server/front/http_front.h"

namespace front {

struct Serving {
    std::string bind = "127.0.0.1";
    int port = 8080;  // 0 picks a free one
    std::string portFile, logFile, downloads;
    Limits limits;
};

// The options that fill serving, for a program's own description.
boost::program_options::options_description ServingOptions(Serving& serving);
// Why the values cannot be served with, or "".
std::string Check(const Serving& serving);

}  // namespace front
