#include "net/direcciones.h"

#include "platform/entorno.h"

namespace {

DString Direccion(const char* variable, const char* porDefecto) {
    std::string valor;
    if (!PlataformaLeeEntorno(variable, valor) || valor.empty()) return DString(porDefecto);
    // Paths are appended with their own "/": a trailing one would double it.
    while (!valor.empty() && valor.back() == '/') valor.pop_back();
    return DString(valor.c_str());
}

}  // namespace

DString DireccionServidorMapas() { return Direccion("PLIVORS_MAP_SERVER", kServidorMapasPorDefecto); }

DString DireccionServidorDescargas() { return Direccion("PLIVORS_DOWNLOAD_SERVER", kServidorDescargasPorDefecto); }
