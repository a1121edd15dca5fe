// The C functions the host looks up by name. Each one catches everything the
// module throws (Protegido) and reports it as its failure result.
#include "plugin/calibracion.h"
#include "plugin/descarga.h"
#include "plugin/descriptor.h"
#include "plugin/localizacion.h"
#include "plugin/modulo.h"
#include "plugin/protegido.h"
#include "plugin/registros_host.h"
#include "plugin/zona.h"

#if defined(_WIN32)
#include <windows.h>

// The module needs nothing from the loader: start-up and unload run as
// static construction and destruction.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif

namespace {
const char kTiposArchivo[] = "1|Raster Plivors|plvr|2|Plivors|plvr|";
}

PLIVORS_EXPORT int32_t PLIVORS_CDECL _HalvoPlugIn_Version() { return 4; }

PLIVORS_EXPORT bool PLIVORS_CDECL _HalvoPlugIn_Init() { return true; }

PLIVORS_EXPORT const char* PLIVORS_CDECL _HalvoPlugIn_GetTipoArchivos() { return kTiposArchivo; }

PLIVORS_EXPORT bool PLIVORS_CDECL _HalvoPlugIn_Abre_Raster(const char* ruta, TInfoRaster* raster,
                                                           TCallbackTexto* fallo) {
    return Protegido(false, fallo, [&] { return AbreRaster(ruta, raster, fallo); });
}

PLIVORS_EXPORT void PLIVORS_CDECL _HalvoPlugIn_Cierra_Raster(TInfoRaster* raster) {
    Protegido(0, nullptr, [&] {
        CierraRaster(raster);
        return 0;
    });
}

PLIVORS_EXPORT bool PLIVORS_CDECL _HalvoPlugIn_Lee_Calibracion(const char* ruta, TCallbackTexto* exito,
                                                               TCallbackTexto* fallo) {
    return Protegido(false, fallo, [&] {
        DString texto, mensaje;
        if (!LeeCalibracion(ruta, texto, mensaje)) {
            EnviaTexto(fallo, mensaje.Texto());
            return false;
        }
        EnviaTexto(exito, texto.Texto());
        return true;
    });
}

PLIVORS_EXPORT int32_t PLIVORS_CDECL _HalvoPlugIn_Abre_Zona(TInfoRaster* raster, int32_t x0, int32_t x1, int32_t y0,
                                                            int32_t y1, int32_t* ancho, int32_t* alto,
                                                            TBitmapZona* bitmap, TCallbackTexto* fallo,
                                                            TContextoDescarga* contexto) {
    return Protegido(0, fallo, [&] { return AbreZona(raster, x0, x1, y0, y1, ancho, alto, bitmap, fallo, contexto); });
}

PLIVORS_EXPORT bool PLIVORS_CDECL _HalvoPlugIn_GetLocalizacion(int32_t, double longitud, double latitud, int32_t,
                                                               int32_t, char* resultado) {
    // No failure callback: a thrown failure leaves "hola" in the buffer.
    return Protegido(false, nullptr, [&] { return GetLocalizacion(longitud, latitud, resultado); });
}

PLIVORS_EXPORT bool PLIVORS_CDECL _HalvoPlugIn_Download_Map(const char* nombre, int32_t, const char* carpeta,
                                                            TCallbackTexto* exito, TCallbackTexto* fallo,
                                                            TContextoDescarga* contexto) {
    return Protegido(false, fallo, [&] { return DescargaDescriptor(nombre, carpeta, exito, fallo, contexto); });
}
