#include "platform/entorno.h"

#include <windows.h>

#include <vector>

bool PlataformaLeeEntorno(const char* nombre, std::string& valor) {
    std::vector<char> area(256);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        DWORD n = GetEnvironmentVariableA(nombre, area.data(), static_cast<DWORD>(area.size()));
        if (n == 0) {
            // An empty value is a set variable; only "not found" means unset.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            valor.clear();
            return true;
        }
        if (n < area.size()) {
            valor = area.data();
            return true;
        }
        area.resize(n + 1);
    }
}
