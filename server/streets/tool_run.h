// Running osm2pgsql and its replication script for the import and update
// commands: their output passed on as it comes, their last line kept for
// the operator, a Ctrl-C or TERM passed on to them, and the database's
// password kept out of the process list.
#pragma once

#include <signal.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace streets {

// The signal that asked the command to stop, or 0.
extern volatile sig_atomic_t interrupted;

// Signals that end a command: it finishes its clean-up first.
class SignalGuard {
public:
    SignalGuard();
    ~SignalGuard();
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    struct sigaction old_[3];
};

// The tool ended with another exit status than 0; its last line.
struct ToolFailed : std::runtime_error {
    ToolFailed(int status, const std::string& lastLine)
        : std::runtime_error("exit status " + std::to_string(status) + (lastLine.empty() ? "" : ": " + lastLine)) {}
};
// A signal asked the command to stop.
struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};
void StopIfInterrupted();

// The first bytes of an OSM file the tools are given, for a first look at
// its format before the database is touched; the reason when it cannot be
// read in `why`.
bool EndsWith(const std::string& s, const std::string& tail);
std::string FileHead(const std::string& file, size_t bytes, std::string& why);

// Runs args (a program on the PATH and its arguments) with PGPASSWORD set
// to password when there is one; throws ToolFailed unless it succeeds.
void RunTool(const std::vector<std::string>& args, const std::string& password);

// The URL as libpq connection words without the password, which goes to
// password.
std::string Conninfo(const std::string& url, std::string& password);

}  // namespace streets
