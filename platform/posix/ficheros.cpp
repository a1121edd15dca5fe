#include "platform/ficheros.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

const char kSeparadorRuta = '/';

bool PlataformaBorraFichero(const char* nombre) {
    struct stat s;
    // DeleteFileA removes files only.
    if (stat(nombre, &s) != 0 || S_ISDIR(s.st_mode)) return false;
    return unlink(nombre) == 0;
}

bool PlataformaCopiaFichero(const char* desde, const char* hasta) {
    std::FILE* origen = std::fopen(desde, "rb");
    if (origen == nullptr) return false;
    std::FILE* destino = std::fopen(hasta, "wb");
    if (destino == nullptr) {
        std::fclose(origen);
        return false;
    }
    std::vector<char> area(65536);
    bool bien = true;
    size_t n;
    while ((n = std::fread(area.data(), 1, area.size(), origen)) > 0) {
        if (std::fwrite(area.data(), 1, n, destino) != n) {
            bien = false;
            break;
        }
    }
    if (std::ferror(origen)) bien = false;
    std::fclose(origen);
    if (std::fclose(destino) != 0) bien = false;
    return bien;
}

bool PlataformaMueveFichero(const char* desde, const char* hasta) {
    struct stat s;
    if (lstat(hasta, &s) == 0) return false;
    return std::rename(desde, hasta) == 0;
}

bool PlataformaReemplazaFichero(const char* desde, const char* hasta) { return std::rename(desde, hasta) == 0; }

unsigned long PlataformaAtributosFichero(const char* nombre) {
    struct stat s;
    if (stat(nombre, &s) != 0) return kAtributosInvalidos;
    if (S_ISDIR(s.st_mode)) return kAtributoDirectorio;
    return access(nombre, W_OK) == 0 ? kAtributoNormal : kAtributoSoloLectura;
}

// There are no drive letters: every letter counts as present.
unsigned long PlataformaUnidadesLogicas() { return 0x3FFFFFFul; }

bool PlataformaEscribible(const char* nombre) { return access(nombre, W_OK) == 0; }

std::string PlataformaDirectorioActual() {
    std::vector<char> area(256);
    while (getcwd(area.data(), area.size()) == nullptr) {
        if (errno != ERANGE) return "/";
        area.resize(area.size() * 2);
    }
    return area.data();
}

TCreacionExclusiva PlataformaCreaExclusivo(const char* nombre) {
    int fd = open(nombre, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        close(fd);
        return kCreado;
    }
    return errno == EEXIST ? kYaExiste : kRechazado;
}

std::string PlataformaCarpetaTemporal() {
    const char* t = std::getenv("TMPDIR");
    std::string carpeta = t != nullptr && t[0] != 0 ? t : "/tmp";
    if (carpeta.back() != '/') carpeta += '/';
    return carpeta;
}
