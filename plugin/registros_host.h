// Records exchanged with the host, byte-packed. On the 32-bit Windows build
// every offset is the host's (checked below); on a 64-bit build the fields keep
// their order and 1-byte packing, and pointers take native width.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dstring.h"
#include "base/progreso.h"

#if defined(_WIN32)
#define PLIVORS_CDECL __cdecl
#define PLIVORS_EXPORT extern "C" __declspec(dllexport)
#else
#define PLIVORS_CDECL
#define PLIVORS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

struct TDatosPlivors;

#pragma pack(push, 1)

// Hands a text to the host: funcion(this record, text). The host may keep its
// own data after the pointer.
struct TCallbackTexto {
    int(PLIVORS_CDECL* funcion)(TCallbackTexto* registro, const char* texto);
};

struct TInfoRaster {
    int32_t sinUso0;
    TDatosPlivors* datos;  // null when no raster is open
    int32_t ancho;
    int32_t alto;
    uint8_t siempreCero;  // always written 0
    int32_t sinUso17;
    int32_t siempreOcho;  // always written 8
    TCallbackTexto* opcionesCache;  // receives the cache settings, or null
};

struct TContextoDescarga {
    int32_t sinUso0;
    TProgreso* progreso;  // may be null: no progress, no cancel
};

struct TBitmapZona {
    int32_t tamano;  // size of the record; large enough records have sello
    int32_t sinUso4;
    void(PLIVORS_CDECL* prepara)(TBitmapZona* registro);
    int32_t ancho;
    int32_t alto;
    int32_t bitsPorPixel;
    int32_t numColores;
    uint32_t* colores;  // blue, green, red, 0 entries; module-owned during the call
    void* pixeles;      // set by the host inside prepara
    float sello;
};

#pragma pack(pop)

// A record has sello when tamano reaches past it (40 on the 32-bit build).
const int32_t kTamanoConSello = static_cast<int32_t>(offsetof(TBitmapZona, sello) + sizeof(float));

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(void*) == 4, "32-bit build");
static_assert(sizeof(CDString) == 4 && sizeof(char*) == 4, "a DString is one pointer");
static_assert(offsetof(TCallbackTexto, funcion) == 0, "TCallbackTexto");
static_assert(offsetof(TInfoRaster, datos) == 4 && offsetof(TInfoRaster, ancho) == 8 &&
                  offsetof(TInfoRaster, alto) == 12 && offsetof(TInfoRaster, siempreCero) == 16 &&
                  offsetof(TInfoRaster, sinUso17) == 17 && offsetof(TInfoRaster, siempreOcho) == 21 &&
                  offsetof(TInfoRaster, opcionesCache) == 25 && sizeof(TInfoRaster) == 29,
              "TInfoRaster offsets");
static_assert(offsetof(TContextoDescarga, progreso) == 4 && sizeof(TContextoDescarga) == 8, "TContextoDescarga");
static_assert(offsetof(TBitmapZona, prepara) == 8 && offsetof(TBitmapZona, ancho) == 12 &&
                  offsetof(TBitmapZona, alto) == 16 && offsetof(TBitmapZona, bitsPorPixel) == 20 &&
                  offsetof(TBitmapZona, numColores) == 24 && offsetof(TBitmapZona, colores) == 28 &&
                  offsetof(TBitmapZona, pixeles) == 32 && offsetof(TBitmapZona, sello) == 36 &&
                  sizeof(TBitmapZona) == 40,
              "TBitmapZona offsets");
static_assert(kTamanoConSello == 40, "sello threshold");
#else
static_assert(offsetof(TInfoRaster, datos) == 4 && offsetof(TInfoRaster, ancho) == 4 + sizeof(void*),
              "unused 4-byte slots stay 4 bytes");
#endif

// Exported signatures, shared by the module and every host.
extern "C" {
typedef int32_t(PLIVORS_CDECL* FnVersion)();
typedef bool(PLIVORS_CDECL* FnInit)();
typedef const char*(PLIVORS_CDECL* FnGetTipoArchivos)();
typedef bool(PLIVORS_CDECL* FnDownloadMap)(const char* nombre, int32_t sinUso, const char* carpeta,
                                          TCallbackTexto* exito, TCallbackTexto* fallo, TContextoDescarga* contexto);
typedef bool(PLIVORS_CDECL* FnAbreRaster)(const char* ruta, TInfoRaster* raster, TCallbackTexto* fallo);
typedef int32_t(PLIVORS_CDECL* FnAbreZona)(TInfoRaster* raster, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
                                           int32_t* ancho, int32_t* alto, TBitmapZona* bitmap, TCallbackTexto* fallo,
                                           TContextoDescarga* contexto);
typedef void(PLIVORS_CDECL* FnCierraRaster)(TInfoRaster* raster);
typedef bool(PLIVORS_CDECL* FnLeeCalibracion)(const char* ruta, TCallbackTexto* exito, TCallbackTexto* fallo);
typedef bool(PLIVORS_CDECL* FnGetLocalizacion)(int32_t sinUso, double longitud, double latitud, int32_t sinUso2,
                                               int32_t sinUso3, char* resultado);
}
