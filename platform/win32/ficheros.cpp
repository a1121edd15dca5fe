#include "platform/ficheros.h"

#include <io.h>
#include <windows.h>

#include <vector>

const char kSeparadorRuta = '\\';

bool PlataformaBorraFichero(const char* nombre) { return DeleteFileA(nombre) != FALSE; }

bool PlataformaCopiaFichero(const char* desde, const char* hasta) { return CopyFileA(desde, hasta, FALSE) != FALSE; }

bool PlataformaMueveFichero(const char* desde, const char* hasta) { return MoveFileA(desde, hasta) != FALSE; }

bool PlataformaReemplazaFichero(const char* desde, const char* hasta) {
    return MoveFileExA(desde, hasta, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
}

unsigned long PlataformaAtributosFichero(const char* nombre) { return GetFileAttributesA(nombre); }

unsigned long PlataformaUnidadesLogicas() { return GetLogicalDrives(); }

bool PlataformaEscribible(const char* nombre) { return _access(nombre, 2) == 0; }

std::string PlataformaDirectorioActual() {
    std::vector<char> area(256);
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(area.size()), area.data());
    if (n >= area.size()) {
        area.resize(n + 1);
        n = GetCurrentDirectoryA(static_cast<DWORD>(area.size()), area.data());
    }
    if (n == 0 || n >= area.size()) return "C:\\";
    return area.data();
}

TCreacionExclusiva PlataformaCreaExclusivo(const char* nombre) {
    HANDLE h = CreateFileA(nombre, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return kCreado;
    }
    DWORD e = GetLastError();
    return e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ? kYaExiste : kRechazado;
}

std::string PlataformaCarpetaTemporal() {
    char area[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof area, area);
    if (n == 0 || n > MAX_PATH) return "C:\\";
    std::string carpeta(area, n);
    if (carpeta.back() != '\\') carpeta += '\\';
    return carpeta;
}
