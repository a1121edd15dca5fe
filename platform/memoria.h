// Movable global memory blocks and system colours, as the bitmap needs them.
// On Windows these are GlobalAlloc/GlobalLock/GlobalUnlock/GlobalFree,
// LockResource and GetSysColor; elsewhere a thin heap equivalent.
#pragma once

#include <cstddef>
#include <cstdint>

typedef void* TMemoriaGlobal;

// A new movable block of the given size, zero-filled; null when there is no memory.
TMemoriaGlobal MemoriaGlobalReserva(size_t bytes);
// The block's address while it is locked; null for a null handle.
void* MemoriaGlobalBloquea(TMemoriaGlobal bloque);
void MemoriaGlobalDesbloquea(TMemoriaGlobal bloque);
void MemoriaGlobalLibera(TMemoriaGlobal bloque);
// Address of a loaded resource block.
void* MemoriaRecursoBloquea(TMemoriaGlobal recurso);

// System colours named by their Windows indices.
enum {
    kColorSistemaTextoMenu = 7,         // COLOR_MENUTEXT
    kColorSistemaResaltado = 13,        // COLOR_HIGHLIGHT
    kColorSistemaTextoResaltado = 14,   // COLOR_HIGHLIGHTTEXT
    kColorSistemaCaraBoton = 15,        // COLOR_BTNFACE
};
// 0x00BBGGRR.
uint32_t ColorSistema(int indice);
