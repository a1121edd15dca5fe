// plivors-server's command line, read and checked without acting on it.
#pragma once

#include <string>
#include <vector>

#include "server/front/serving_options.h"

namespace options {

struct Settings {
    front::Serving serving;
    std::string style, data, database;  // "" for the defaults (no database)
    std::string labels = "both";        // street labels: both, latin or local
    int threads = 0;                    // render workers; 0: the cores
    int cacheMegabytes = 256;
    std::string blockStore;              // "": blocks in memory only
    int blockStoreMegabytes = 4096;
    int maxAge = 86400;
    // Of answers that show street data, which updates change: an hour, so
    // that a daily update reaches every cache within an hour of it.
    int streetMaxAge = 3600;
};

// What the command line asks for: serve with the settings, or exit with
// the status after printing the text (to stdout for 0, else stderr).
struct Outcome {
    bool serve = false;
    int status = 0;
    std::string text;
};

// args are the words after the program's name.
Outcome Parse(const std::vector<std::string>& args, Settings& settings);

const char* Usage();

}  // namespace options
