// TProgreso: the host's progress record of a transfer, byte-packed like the
// other host records (plugin/registros_host.h). It lives here because the file
// and HTTP layers below the plug-in write it; those layers never include
// plugin/ (the build checks it: cmake/check-layers.cmake).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dstring.h"

#pragma pack(push, 1)

struct TProgreso {
    int32_t sinUso0;
    int32_t bytesHechos;
    int32_t bytesTotal;  // 0 when the server announces no length
    uint8_t cancelar;    // set by the host, read after every chunk
    // A DString, that is the pointer to its characters (null when empty):
    // "%d Kb / %d Kb transferred". Held as the bare pointer because the field
    // is unaligned; module code copies it into a CDString to work on it.
    char* texto;
};

// The progress text for reading ("" while the host's DString is empty).
inline const char* TextoProgreso(const TProgreso& p) { return p.texto ? p.texto : ""; }
// Frees the progress text's block; host and module share the allocator.
inline void LiberaTextoProgreso(TProgreso& p) {
    if (p.texto) {
        delete[] (p.texto - CDString::kCabecera);
        p.texto = nullptr;
    }
}

#pragma pack(pop)

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(TProgreso, bytesHechos) == 4 && offsetof(TProgreso, bytesTotal) == 8 &&
                  offsetof(TProgreso, cancelar) == 12 && offsetof(TProgreso, texto) == 13 && sizeof(TProgreso) == 17,
              "TProgreso offsets");
#else
static_assert(offsetof(TProgreso, texto) == 13, "TProgreso keeps its leading fields");
#endif
