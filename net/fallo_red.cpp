#include "net/fallo_red.h"

#include <cstdlib>
#include <cstring>

#include "platform/http.h"

const char kTextoSinRed[] = "Error connecting to Internet ";
const char kTextoSinSesion[] = "Error 2 connecting to Internet ";
const char kTextoAbreUrl[] = "Error opening URL ";
const char kTextoLeeHttp[] = "Error reading HTTP ";
const char kTextoAutenticacion[] = "Error autentification ";
const char kTextoEstadoHttp[] = "Error HTTP ";
const char kTextoCancelado[] = "Operation Canceled";
const char kTextoAbreLocal[] = "Error opening the local file for HTTP download: ";
const char kTextoEscribeLocal[] = "Error writing the local file for HTTP download: ";

namespace {

struct TLectura {
    const char* texto;
    TTipoFallo tipo;
    bool conCodigo;
};

const TLectura kLecturas[] = {
    {kTextoSinRed, TTipoFallo::kSinRed, true},
    {kTextoSinSesion, TTipoFallo::kSinRed, false},
    {kTextoAbreUrl, TTipoFallo::kConexion, true},
    {kTextoLeeHttp, TTipoFallo::kConexion, true},
    {kTextoAutenticacion, TTipoFallo::kAutenticacion, true},
    {kTextoEstadoHttp, TTipoFallo::kEstado, true},
    {kTextoCancelado, TTipoFallo::kCancelado, false},
    {kTextoAbreLocal, TTipoFallo::kFicheroLocal, false},
    {kTextoEscribeLocal, TTipoFallo::kEscrituraLocal, false},
};

}  // namespace

TFalloRed LeeFalloRed(const char* mensaje) {
    TFalloRed fallo;
    if (mensaje == nullptr) return fallo;
    for (const TLectura& l : kLecturas) {
        size_t n = std::strlen(l.texto);
        if (std::strncmp(mensaje, l.texto, n) != 0) continue;
        fallo.tipo = l.tipo;
        if (l.conCodigo) fallo.codigo = std::strtoul(mensaje + n, nullptr, 10);
        // The client reports a time-out, deadline or stall, with the platform's code.
        if (l.tipo == TTipoFallo::kConexion && fallo.codigo == kErrorTiempoAgotado) fallo.tipo = TTipoFallo::kPlazo;
        return fallo;
    }
    return fallo;
}
