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

void PlataformaDirectorioActual(CDString& directorio) {
    std::vector<char> area(256);
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(area.size()), area.data());
    if (n >= area.size()) {
        area.resize(n + 1);
        n = GetCurrentDirectoryA(static_cast<DWORD>(area.size()), area.data());
    }
    if (n == 0 || n >= area.size()) {
        directorio.Asigna("C:\\");
        return;
    }
    directorio.Asigna(area.data());
}
