// The host's commands. Each file of tools/host/ may register its own with
// REGISTER_COMMAND; main() looks them up by name.
#pragma once

#include <string>
#include <vector>

#include "plugin_library.h"

struct Command {
    const char* name;
    const char* usage;    // arguments, for --help
    const char* summary;  // one line, for --help
    // args: the command's own arguments (after the command name).
    int (*run)(PluginLibrary& plugin, const std::vector<std::string>& args);
    // Advice for a plug-in that does not load, or null.
    std::string (*loadHint)(const std::string& pluginPath);
};

std::vector<Command>& CommandRegistry();

struct CommandRegistrar {
    explicit CommandRegistrar(const Command& c) { CommandRegistry().push_back(c); }
};

#define REGISTER_COMMAND(id, ...) static CommandRegistrar registrar_##id(Command{__VA_ARGS__})

// Reports a missing export and returns false, so commands can stop cleanly.
bool RequireExport(const PluginLibrary& plugin, int index);

// Text callbacks that collect what the plug-in sends.
struct CollectingCallback {
    TCallbackTexto record;
    std::vector<std::string> texts;
    CollectingCallback();
    static CollectingCallback* From(TCallbackTexto* r) { return reinterpret_cast<CollectingCallback*>(r); }
    std::string Joined() const;
};

// The plug-in's texts are Latin-1; terminals want UTF-8.
std::string Latin1ToUtf8(const char* s);
