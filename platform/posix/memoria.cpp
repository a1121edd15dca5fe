#include "platform/memoria.h"

#include <cstdlib>

// A heap block stands for the movable block: it never moves, so locking is
// just handing out its address.
TMemoriaGlobal MemoriaGlobalReserva(size_t bytes) { return std::calloc(bytes ? bytes : 1, 1); }

void* MemoriaGlobalBloquea(TMemoriaGlobal bloque) { return bloque; }

void MemoriaGlobalDesbloquea(TMemoriaGlobal) {}

void MemoriaGlobalLibera(TMemoriaGlobal bloque) { std::free(bloque); }

void* MemoriaRecursoBloquea(TMemoriaGlobal recurso) { return recurso; }

// The classic Windows defaults, so pictures look the same on both builds.
uint32_t ColorSistema(int indice) {
    switch (indice) {
        case kColorSistemaCaraBoton: return 0xC0C0C0;
        case kColorSistemaResaltado: return 0x800000;
        case kColorSistemaTextoResaltado: return 0xFFFFFF;
        case kColorSistemaTextoMenu: return 0x000000;
        default: return 0;
    }
}
