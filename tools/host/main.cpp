// plivors-host: a small stand-in for the mapping application. It loads the
// plug-in by file name, resolves the exports by name and drives them with the
// host records.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "commands.h"

std::vector<Command>& CommandRegistry() {
    static std::vector<Command> registry;
    return registry;
}

bool RequireExport(const PluginLibrary& plugin, int index) {
    if (plugin.Has(index)) return true;
    std::fprintf(stderr, "plivors-host: the plug-in %s has no export %s\n", plugin.path().c_str(),
                 PluginLibrary::kExportNames[index]);
    return false;
}

std::string Latin1ToUtf8(const char* s) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
        if (*p < 0x80) {
            out += static_cast<char>(*p);
        } else {
            out += static_cast<char>(0xC0 | (*p >> 6));
            out += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

namespace {
int PLIVORS_CDECL Collect(TCallbackTexto* record, const char* text) {
    CollectingCallback::From(record)->texts.push_back(text ? text : "");
    return 0;
}
}  // namespace

CollectingCallback::CollectingCallback() { record.funcion = &Collect; }

std::string CollectingCallback::Joined() const {
    std::string all;
    for (const std::string& t : texts) all += t;
    return all;
}

static int Info(PluginLibrary& plugin, const std::vector<std::string>&) {
    std::printf("plug-in: %s\n", plugin.path().c_str());
    if (plugin.exports().version) std::printf("version: %d\n", static_cast<int>(plugin.exports().version()));
    if (plugin.exports().init) std::printf("init: %s\n", plugin.exports().init() ? "true" : "false");
    if (plugin.exports().getTipoArchivos) std::printf("file types: %s\n", plugin.exports().getTipoArchivos());
    int missing = 0;
    for (int i = 0; i < 9; ++i) {
        std::printf("export %-30s %s\n", PluginLibrary::kExportNames[i], plugin.Has(i) ? "present" : "missing");
        if (!plugin.Has(i)) ++missing;
    }
    std::printf("exports present: %d of 9\n", 9 - missing);
    return 0;
}
REGISTER_COMMAND(info, "info", "", "version, file types and which exports are present", &Info, nullptr);

static void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: plivors-host [--plugin PATH] COMMAND [ARGS]\n"
                 "       plivors-host --version\n"
                 "Loads the plug-in library (default: the one beside this program) and drives it.\n\n"
                 "commands:\n");
    for (const Command& c : CommandRegistry())
        std::fprintf(out, "  %-10s %-40s %s\n", c.name, c.usage, c.summary);
}

int main(int argc, char** argv) {
#if defined(_WIN32)
    // Place names go out as UTF-8 (Latin1ToUtf8); a console shows them right
    // only when told so.
    SetConsoleOutputCP(CP_UTF8);
#endif
    std::string pluginPath;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("plivors-host %s\n", PLIVORS_VERSION);
            return 0;
        } else if (a == "--plugin") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "plivors-host: --plugin needs a path\n");
                return 2;
            }
            pluginPath = argv[++i];
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) {
        Usage(stderr);
        return 2;
    }
    const Command* command = nullptr;
    for (const Command& c : CommandRegistry())
        if (rest[0] == c.name) command = &c;
    if (command == nullptr) {
        std::fprintf(stderr, "plivors-host: unknown command '%s' (see --help)\n", rest[0].c_str());
        return 2;
    }
    if (pluginPath.empty()) pluginPath = PluginLibrary::DefaultPath();
    PluginLibrary plugin;
    std::string error;
    if (!plugin.Load(pluginPath, error)) {
        std::fprintf(stderr, "plivors-host: %s\n", error.c_str());
        if (command->loadHint != nullptr) std::fprintf(stderr, "%s", command->loadHint(pluginPath).c_str());
        return 1;
    }
    std::vector<std::string> args(rest.begin() + 1, rest.end());
    return command->run(plugin, args);
}
