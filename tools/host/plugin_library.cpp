#include "plugin_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

const char* const PluginLibrary::kExportNames[9] = {
    "_HalvoPlugIn_Version",     "_HalvoPlugIn_Init",          "_HalvoPlugIn_GetTipoArchivos",
    "_HalvoPlugIn_Download_Map", "_HalvoPlugIn_Abre_Raster",   "_HalvoPlugIn_Abre_Zona",
    "_HalvoPlugIn_Cierra_Raster", "_HalvoPlugIn_Lee_Calibracion", "_HalvoPlugIn_GetLocalizacion",
};

PluginLibrary::~PluginLibrary() { Unload(); }

std::string PluginLibrary::DefaultPath() {
#if defined(_WIN32)
    char buffer[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    std::string self(buffer, n);
    size_t slash = self.find_last_of("\\/");
    std::string dir = slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
    return dir + "HalvoPlugIn_Plivors.dll";
#else
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string self = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    size_t slash = self.find_last_of('/');
    std::string dir = slash == std::string::npos ? std::string("./") : self.substr(0, slash + 1);
    return dir + "HalvoPlugIn_Plivors.so";
#endif
}

bool PluginLibrary::Load(const std::string& path, std::string& error) {
    Unload();
#if defined(_WIN32)
    HMODULE h = LoadLibraryA(path.c_str());
    if (h == nullptr) {
        error = "cannot load " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    handle_ = reinterpret_cast<void*>(h);
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return false;
    }
#endif
    path_ = path;
    exports_.version = reinterpret_cast<FnVersion>(Resolve(kExportNames[0]));
    exports_.init = reinterpret_cast<FnInit>(Resolve(kExportNames[1]));
    exports_.getTipoArchivos = reinterpret_cast<FnGetTipoArchivos>(Resolve(kExportNames[2]));
    exports_.downloadMap = reinterpret_cast<FnDownloadMap>(Resolve(kExportNames[3]));
    exports_.abreRaster = reinterpret_cast<FnAbreRaster>(Resolve(kExportNames[4]));
    exports_.abreZona = reinterpret_cast<FnAbreZona>(Resolve(kExportNames[5]));
    exports_.cierraRaster = reinterpret_cast<FnCierraRaster>(Resolve(kExportNames[6]));
    exports_.leeCalibracion = reinterpret_cast<FnLeeCalibracion>(Resolve(kExportNames[7]));
    exports_.getLocalizacion = reinterpret_cast<FnGetLocalizacion>(Resolve(kExportNames[8]));
    return true;
}

void PluginLibrary::Unload() {
    if (handle_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
    exports_ = PluginExports();
}

void* PluginLibrary::Resolve(const char* name) {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

bool PluginLibrary::Has(int index) const {
    const void* const slots[9] = {
        reinterpret_cast<const void*>(exports_.version),        reinterpret_cast<const void*>(exports_.init),
        reinterpret_cast<const void*>(exports_.getTipoArchivos), reinterpret_cast<const void*>(exports_.downloadMap),
        reinterpret_cast<const void*>(exports_.abreRaster),     reinterpret_cast<const void*>(exports_.abreZona),
        reinterpret_cast<const void*>(exports_.cierraRaster),   reinterpret_cast<const void*>(exports_.leeCalibracion),
        reinterpret_cast<const void*>(exports_.getLocalizacion),
    };
    return index >= 0 && index < 9 && slots[index] != nullptr;
}
