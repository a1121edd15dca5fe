#include "platform/entorno.h"

#include <cstdlib>

bool PlataformaLeeEntorno(const char* nombre, std::string& valor) {
    const char* v = std::getenv(nombre);
    if (v == nullptr) return false;
    valor = v;
    return true;
}
