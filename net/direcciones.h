// Base addresses of the servers the plug-in talks to ("http://host[:port]",
// no trailing "/"). Built-in defaults, overridden at the moment of each call
// by PLIVORS_MAP_SERVER and PLIVORS_DOWNLOAD_SERVER.
#pragma once

#include "base/dstring.h"

extern const char* const kServidorMapasPorDefecto;       // "http://localhost:8080"
extern const char* const kServidorDescargasPorDefecto;  // "http://localhost"

DString DireccionServidorMapas();
DString DireccionServidorDescargas();
