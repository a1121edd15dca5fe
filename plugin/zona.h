// Zone rendering: one zone of an open raster becomes one map-server request,
// one temporary GIF and one decoded image in the host's bitmap record.
#pragma once

#include <cstdint>

#include "base/dstring.h"
#include "plugin/registros_host.h"

struct TDatosPlivors;

// Metres per image pixel of the map server's 13 levels, finest first.
extern const double EscalasNivel[13];

// The largest image one request yields; the cache settings announce the same.
const int kAnchoVentana = 800;
const int kAltoVentana = 600;

struct TPeticionZona {
    int nivel = 1;
    int ancho = 0;  // W, image pixels
    int alto = 0;   // H
    double longitud = 0.0;  // centre, degrees
    double latitud = 0.0;
};

// Level, image size and centre for a zone; false when the host's size is
// below 5 pixels either way (no request is made then).
bool CalculaPeticionZona(const TDatosPlivors& datos, int x0, int x1, int y0, int y1, int anchoHost, int altoHost,
                         TPeticionZona& peticion);

// The request text: base address, then the map request.
void ComponeUrlZona(const char* base, const TPeticionZona& peticion, CDString& url);

int32_t AbreZona(TInfoRaster* raster, int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t* ancho,
                 int32_t* alto, TBitmapZona* bitmap, TCallbackTexto* fallo, TContextoDescarga* contexto);
