#include "server/streets/command_line.h"

#include <cstdio>

namespace streets {

std::optional<int> ReadCommandLine(const std::vector<std::string>& args,
                                   const boost::program_options::options_description& options, int positionals,
                                   const char* command, const char* usage) {
    namespace po = boost::program_options;
    po::options_description all;
    all.add(options).add_options()("help,h", "");
    po::positional_options_description file;
    file.add("file", positionals);
    po::variables_map given;
    try {
        po::store(po::command_line_parser(args).options(all).positional(file).style(
                      po::command_line_style::unix_style ^ po::command_line_style::allow_guessing).run(),
                  given);
        po::notify(given);
    } catch (const po::error& e) {
        std::fprintf(stderr, "plivors-server %s: %s\n\n%s", command, e.what(), usage);
        return 2;
    }
    if (given.count("help")) {
        std::fputs(usage, stdout);
        return 0;
    }
    return std::nullopt;
}

}  // namespace streets
