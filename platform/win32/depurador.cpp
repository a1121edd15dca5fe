#include "platform/depurador.h"

#include <windows.h>

bool PlataformaDepuradorPresente() {
    // IsDebuggerPresent exists only on the NT line; it is looked up at run time.
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    if (!GetVersionExA(&info) || info.dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    if (kernel == nullptr) return false;
    typedef BOOL(WINAPI * Funcion)();
    Funcion f = reinterpret_cast<Funcion>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsDebuggerPresent")));
    bool presente = f != nullptr && f() != FALSE;
    FreeLibrary(kernel);
    return presente;
}

void PlataformaRompeDepurador() { DebugBreak(); }
