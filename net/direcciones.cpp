#include "net/direcciones.h"

#include "platform/entorno.h"

namespace {

DString Direccion(const char* variable, const char* porDefecto) {
    DString valor;
    if (!PlataformaLeeEntorno(variable, valor) || valor.EsVacia()) return DString(porDefecto);
    // Paths are appended with their own "/": a trailing one would double it.
    int n = valor.Longitud();
    while (n > 0 && valor.Caracter(n - 1) == '/') --n;
    valor.Corta(n);
    return valor;
}

}  // namespace

DString DireccionServidorMapas() { return Direccion("PLIVORS_MAP_SERVER", kServidorMapasPorDefecto); }

DString DireccionServidorDescargas() { return Direccion("PLIVORS_DOWNLOAD_SERVER", kServidorDescargasPorDefecto); }
