// The command lines of the import and update commands, read alike.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

namespace streets {

// Reads args into options (with `positionals` bare words as "file"); an
// exit status when there is nothing more to do: 2 after a wrong command
// line, 0 after --help, each with its usage printed.
std::optional<int> ReadCommandLine(const std::vector<std::string>& args,
                                   const boost::program_options::options_description& options, int positionals,
                                   const char* command, const char* usage);

}  // namespace streets
