// The C functions the host looks up by name. Each one catches everything the
// module throws (Protegido) and reports it as its failure result.
#include "plugin/calibracion.h"
#include "plugin/descriptor.h"
#include "plugin/modulo.h"
#include "plugin/protegido.h"
#include "plugin/registros_host.h"

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
