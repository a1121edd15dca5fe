#include "platform/memoria.h"

#include <windows.h>

TMemoriaGlobal MemoriaGlobalReserva(size_t bytes) {
    return static_cast<TMemoriaGlobal>(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes));
}

void* MemoriaGlobalBloquea(TMemoriaGlobal bloque) {
    return bloque ? GlobalLock(static_cast<HGLOBAL>(bloque)) : nullptr;
}

void MemoriaGlobalDesbloquea(TMemoriaGlobal bloque) {
    if (bloque) GlobalUnlock(static_cast<HGLOBAL>(bloque));
}

void MemoriaGlobalLibera(TMemoriaGlobal bloque) {
    if (bloque) GlobalFree(static_cast<HGLOBAL>(bloque));
}

void* MemoriaRecursoBloquea(TMemoriaGlobal recurso) {
    return recurso ? LockResource(static_cast<HGLOBAL>(recurso)) : nullptr;
}

uint32_t ColorSistema(int indice) { return static_cast<uint32_t>(GetSysColor(indice)); }
