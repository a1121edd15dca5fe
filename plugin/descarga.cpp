#include "plugin/descarga.h"

#include <atomic>
#include <cstring>

#include "base/fichero_zeb.h"
#include "net/descarga_temporal.h"
#include "net/direcciones.h"
#include "net/internet_zeb.h"
#include "platform/ficheros.h"
#include "plugin/protegido.h"

namespace {

std::atomic<int> gContadorTemporales{0};
int SiguienteTemporalDescarga() { return gContadorTemporales.fetch_add(1) + 1; }

}  // namespace

bool NombreDescriptorValido(const char* nombre) {
    if (nombre == nullptr || nombre[0] == 0) return false;
    if (std::strstr(nombre, "..") != nullptr) return false;
    for (const char* p = nombre; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '/' || c == '\\' || c == ':' || c == ' ' || c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

void ComponeUrlDescarga(const char* base, const char* nombre, CDString& url) {
    url.Asigna(base);
    url.Anade("/download/plugins/");
    url.Anade(nombre);
}

bool DescargaDescriptor(const char* nombre, const char* carpeta, TCallbackTexto* exito, TCallbackTexto* fallo,
                        TContextoDescarga* contexto) {
    if (!NombreDescriptorValido(nombre)) {
        DString mensaje("Nombre de descriptor no valido: ");
        mensaje.Anade(nombre);
        EnviaTexto(fallo, mensaje.Texto());
        return false;
    }
    if (carpeta == nullptr) carpeta = "";
    TProgreso* progreso = contexto != nullptr ? contexto->progreso : nullptr;

    DString url;
    DString base = DireccionServidorDescargas();
    ComponeUrlDescarga(base.Texto(), nombre, url);

    TStringNomFitx local;
    local.Compone(carpeta, nombre);

    // The transfer goes to a temporary file beside the target, which only a
    // complete answer replaces: a failure or a cancel keeps what was there.
    // Only the host's folder will do (the file is moved within it), so there
    // is no fallback to the system's temporary folder.
    // The host's progress record is the only way to stop it: no deadline.
    DString prefijo(nombre);
    prefijo.AnadeCaracter('.');
    const TDestinoTemporal destino = {carpeta, prefijo.Texto(), ".part", &SiguienteTemporalDescarga, false};
    TFicheroTemporal temporal;
    DString error;
    TFalloRed falloRed;
    if (!DescargaATemporal(url.Texto(), destino, 0, progreso, temporal, error, falloRed)) {
        // A file that cannot be made is named by the descriptor's own path,
        // not the temporary one.
        if (falloRed.tipo == TTipoFallo::kFicheroLocal) MensajeFicheroLocal(local.nombre.Texto(), error);
        EnviaTexto(fallo, error.Texto());
        return false;
    }
    if (!PlataformaReemplazaFichero(temporal.Nombre().Texto(), local.nombre.Texto())) {
        error.Asigna("No se pudo guardar el archivo \"");
        error.Anade(local.nombre).AnadeCaracter('"');
        EnviaTexto(fallo, error.Texto());
        return false;
    }
    temporal.Suelta();
    EnviaTexto(exito, local.nombre.Texto());
    return true;
}
