#include "net/descarga_temporal.h"

#include <cerrno>

#include "base/fichero_zeb.h"
#include "net/internet_zeb.h"

bool DescargaATemporal(const char* url, const TDestinoTemporal& destino, unsigned long msPlazo, TProgreso* progreso,
                       TFicheroTemporal& temporal, CDString& error, TFalloRed& fallo) {
    fallo = TFalloRed();
    if (!temporal.Crea(destino.carpeta, destino.prefijo, destino.sufijo, destino.siguiente, destino.conRespaldo)) {
        fallo.tipo = TTipoFallo::kFicheroLocal;
        fallo.codigo = static_cast<unsigned long>(errno);
        MensajeFicheroLocal(temporal.Nombre().Texto(), error);
        return false;
    }
    TInternetZEB cliente("", "", nullptr);
    cliente.PonPlazo(msPlazo);
    if (!cliente.DescargaFichero(url, temporal.Nombre(), error, progreso)) {
        fallo = cliente.UltimoFallo();
        return false;
    }
    if (!EstadoCorrecto(cliente, error)) {
        fallo.tipo = TTipoFallo::kEstado;
        fallo.codigo = static_cast<unsigned long>(cliente.UltimoEstado());
        return false;
    }
    return true;
}
