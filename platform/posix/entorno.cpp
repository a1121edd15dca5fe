#include "platform/entorno.h"

#include <cstdlib>

bool PlataformaLeeEntorno(const char* nombre, CDString& valor) {
    const char* v = std::getenv(nombre);
    if (v == nullptr) return false;
    valor.Asigna(v);
    return true;
}
