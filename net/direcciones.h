// Base addresses of the servers the plug-in talks to ("http://host[:port]",
// no trailing "/"). Built-in defaults, overridden at the moment of each call
// by PLIVORS_MAP_SERVER and PLIVORS_DOWNLOAD_SERVER.
#pragma once

#include "base/dstring.h"

// One server answers maps, place names and downloads on one port, so both
// defaults name the same one. Inline so that the reference host can report
// them without linking the plug-in's code.
inline constexpr const char* kServidorMapasPorDefecto = "http://localhost:8080";
inline constexpr const char* kServidorDescargasPorDefecto = kServidorMapasPorDefecto;

DString DireccionServidorMapas();
DString DireccionServidorDescargas();
