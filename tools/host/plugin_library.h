// Loads the plug-in by file name and resolves its exports by name, as the
// mapping application does.
#pragma once

#include <string>

#include "plugin/registros_host.h"

struct PluginExports {
    FnVersion version = nullptr;
    FnInit init = nullptr;
    FnGetTipoArchivos getTipoArchivos = nullptr;
    FnDownloadMap downloadMap = nullptr;
    FnAbreRaster abreRaster = nullptr;
    FnAbreZona abreZona = nullptr;
    FnCierraRaster cierraRaster = nullptr;
    FnLeeCalibracion leeCalibracion = nullptr;
    FnGetLocalizacion getLocalizacion = nullptr;
};

class PluginLibrary {
public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Loads the library; on failure returns false and fills error.
    bool Load(const std::string& path, std::string& error);
    void Unload();
    const PluginExports& exports() const { return exports_; }
    const std::string& path() const { return path_; }

    // Name of every export, in the host's order, with whether it was found.
    static const char* const kExportNames[9];
    bool Has(int index) const;

    // The library's file name beside the running program.
    static std::string DefaultPath();

private:
    void* Resolve(const char* name);
    void* handle_ = nullptr;
    std::string path_;
    PluginExports exports_;
};
