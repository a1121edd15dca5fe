// Helpers shared by the test binaries of both builds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/registros_host.h"

namespace testing_support {

// An environment variable, or "" when unset.
std::string Env(const char* name);
// A path handed over by the (Linux) test runner, usable by this process:
// under Wine, "/a/b" becomes "Z:\a\b".
std::string HostPath(const std::string& unixPath);
// Env(name) converted with HostPath.
std::string EnvPath(const char* name);
// Sets a variable for this process (and for the plug-in it loaded).
void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);
// A fresh, empty folder under the test's working directory.
std::string FreshDir(const std::string& name);
// Names in a folder (without "." and "..").
std::vector<std::string> ListDir(const std::string& dir);
// The process's current folder, and a change of it (false on failure).
std::string CurrentDir();
bool ChangeDir(const std::string& dir);
// Joins a folder and a name with this platform's separator.
std::string JoinPath(const std::string& dir, const std::string& name);

// Runs a command line, collects its standard output; returns the exit code.
int RunCommand(const std::string& commandLine, std::string& output);
// The reference host of this build, quoted, ready for RunCommand.
std::string HostCommand();
// plivors-host check of the plug-in under test: its exit status, a line
// end, then all it printed.
std::string RunHostCheck();
// Whether text is in out, runs of blanks and line ends counting as one
// blank (the host wraps its hints).
bool HasWords(const std::string& out, const std::string& text);

// Base address of the stand-in server, or "" when the test runs without one.
std::string Server();
// Skips the current test when there is no stand-in server.
#define NEED_SERVER()                                             \
    do {                                                          \
        if (::testing_support::Server().empty()) {                \
            GTEST_SKIP() << "no stand-in server";                 \
        }                                                         \
    } while (0)

// Lines of the stand-in server's request log.
std::vector<std::string> ServerLog();

// Text callback that records every text it receives.
struct RecordingCallback {
    TCallbackTexto record;
    std::vector<std::string> texts;
    RecordingCallback();
    TCallbackTexto* get() { return &record; }
};

}  // namespace testing_support
