// The one way the plug-in fetches something: a URL into a new temporary file
// of its own, under a deadline, with the host's progress and cancel.
#pragma once

#include "base/dstring.h"
#include "net/fallo_red.h"

struct TProgreso;
class TFicheroTemporal;

// Where the answer goes: carpeta + prefijo + N + sufijo, created exclusively
// (TFicheroTemporal::Crea), N the next value of siguiente().
struct TDestinoTemporal {
    const char* carpeta;
    const char* prefijo;
    const char* sufijo;
    int (*siguiente)();
    bool conRespaldo;  // the system's temporary folder when carpeta refuses the file
};

// Fetches url into a file made as destino says, held by temporal (which
// removes it unless the caller keeps it). msPlazo bounds the whole request
// (0: no deadline); progreso may be null. An answer with an HTTP error status
// fails too: its body is the server's error page, not what was asked for.
// On failure error holds the client's message and fallo its kind and code.
bool DescargaATemporal(const char* url, const TDestinoTemporal& destino, unsigned long msPlazo, TProgreso* progreso,
                       TFicheroTemporal& temporal, CDString& error, TFalloRed& fallo);
