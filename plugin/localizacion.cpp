#include "plugin/localizacion.h"

#include <cstdio>
#include <cstring>

#include "base/fichero_zeb.h"
#include "net/descarga_temporal.h"
#include "net/direcciones.h"
#include "net/internet_zeb.h"
#include "plugin/modulo.h"

namespace {

const char kMarcaInicio[] =
    "<small align=\"center\" class=\"textnormal\">Su veh&iacute;culo&nbsp;<b></b>&nbsp; se encuentra en&nbsp;";
const char kMarcaFin[] = "</small>";

struct TReemplazo {
    const char* buscado;
    const char* nuevo;
};

// Order matters: "&nbsp;" first, then line breaks and tabs go, so an entity
// that a line break split is recognised by the later steps.
const TReemplazo kReemplazos[50] = {
    {"&nbsp;", " "},       {"\r", ""},            {"\t", ""},            {"\n", ""},
    {"&ntilde;", "\xF1"},  {"&Ntilde;", "\xD1"},  {"&Agrave;", "\xC0"},  {"&Aacute;", "\xC1"},
    {"&Acirc;", "\xC2"},   {"&Auml;", "\xC4"},    {"&Egrave;", "\xC8"},  {"&Eacute;", "\xC9"},
    {"&Ecirc;", "\xCA"},   {"&Euml;", "\xCB"},    {"&Igrave;", "\xCC"},  {"&Iacute;", "\xCD"},
    {"&Icirc;", "\xCE"},   {"&Iuml;", "\xCF"},    {"&Ograve;", "\xD2"},  {"&Oacute;", "\xD3"},
    {"&Ocirc;", "\xD4"},   {"&Ouml;", "\xD6"},    {"&Ugrave;", "\xD9"},  {"&Uacute;", "\xDA"},
    {"&Ucirc;", "\xDB"},   {"&Uuml;", "\xDC"},    {"&Yacute;", "\xDD"},  {"&szlig;", "\xDF"},
    {"&agrave;", "\xE0"},  {"&aacute;", "\xE1"},  {"&acirc;", "\xE2"},   {"&auml;", "\xE4"},
    {"&egrave;", "\xE8"},  {"&eacute;", "\xE9"},  {"&ecirc;", "\xEA"},   {"&euml;", "\xEB"},
    {"&igrave;", "\xEC"},  {"&iacute;", "\xED"},  {"&icirc;", "\xEE"},   {"&iuml;", "\xEF"},
    {"&ograve;", "\xF2"},  {"&oacute;", "\xF3"},  {"&ocirc;", "\xF4"},   {"&ouml;", "\xF6"},
    {"&ugrave;", "\xF9"},  {"&uacute;", "\xFA"},  {"&ucirc;", "\xFB"},   {"&uuml;", "\xFC"},
    {"&yacute;", "\xFD"},  {"&yuml;", "\xFF"},
};

void CopiaResultado(char* resultado, const char* texto) {
    size_t n = std::strlen(texto);
    if (n > static_cast<size_t>(kMaximoLocalizacion)) n = kMaximoLocalizacion;
    std::memcpy(resultado, texto, n);
    resultado[n] = 0;
}

}  // namespace

void ComponeUrlLocalizacion(const char* base, double longitud, double latitud, CDString& url) {
    url.Asigna(base);
    url.Anade("/plivors/client?cmd=prox&RQGE=st");
    url.PonDecimales(8);
    url.Anade("&mocs=gdd");
    url.Anade("&mo=");
    url.AnadeReal(latitud);
    url.AnadeCaracter(',');
    url.AnadeReal(longitud);
}

void ReemplazaEntidades(CDString& frase) {
    for (const TReemplazo& r : kReemplazos) frase.Reemplaza(r.buscado, r.nuevo, false);
}

bool ExtraeLocalizacion(const CDString& pagina, CDString& frase) {
    int p = pagina.BuscaTexto(kMarcaInicio);
    if (p < 0) return false;
    int inicio = p + static_cast<int>(std::strlen(kMarcaInicio));
    int fin = pagina.BuscaDesde(kMarcaFin, inicio, false, false);
    if (fin < 0)
        frase.Asigna("");
    else
        frase.AsignaPrimeros(pagina.Texto() + inicio, fin - inicio);
    ReemplazaEntidades(frase);
    return true;
}

bool GetLocalizacion(double longitud, double latitud, char* resultado) {
    if (resultado == nullptr) return false;
    CopiaResultado(resultado, "hola");

    DString url;
    DString base = DireccionServidorMapas();
    ComponeUrlLocalizacion(base.Texto(), longitud, latitud, url);

    // No failure callback reaches this export: a failure leaves "hola".
    // Nothing can cancel this request but its own deadline.
    const TDestinoTemporal destino = {"", "plivor_temp", ".zip", &SiguienteContadorLocalizacion, true};
    TFicheroTemporal temporal;
    DString mensaje;
    TFalloRed falloRed;
    if (!DescargaATemporal(url.Texto(), destino, MilisegundosDeEntorno("PLIVORS_REQUEST_TIMEOUT_MS", kMsPlazoPorDefecto),
                           nullptr, temporal, mensaje, falloRed))
        return false;

    DString pagina;
    std::FILE* f = std::fopen(temporal.Nombre().Texto(), "rb");
    if (f == nullptr) return false;
    char linea[1024];
    while (std::fgets(linea, sizeof linea, f) != nullptr) pagina.Anade(linea);
    std::fclose(f);
    temporal.Borra();

    DString frase;
    if (!ExtraeLocalizacion(pagina, frase)) return false;
    CopiaResultado(resultado, frase.Texto());
    return true;
}
