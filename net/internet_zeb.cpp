#include "net/internet_zeb.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/fichero_zeb.h"
#include "platform/entorno.h"
#include "base/progreso.h"
#include "net/fallo_red.h"

namespace {

std::atomic<long> gSesionesAbiertas{0};

const char* const kAgente = "HalvoGPS";

// The progress record is shared with a host that may watch it from another
// thread: the fields it reads are written whole, the flag read fresh.
void PonEntero(int32_t& campo, int32_t valor) { __atomic_store_n(&campo, valor, __ATOMIC_RELAXED); }
bool Cancelado(const TProgreso* progreso) { return __atomic_load_n(&progreso->cancelar, __ATOMIC_RELAXED) != 0; }

// The record counts in 32 bits: a body beyond 2 GiB stops the count at the
// top instead of wrapping it to a negative number.
int32_t Satura(long long v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace

unsigned long MilisegundosDeEntorno(const char* variable, unsigned long porDefecto) {
    std::string valor;
    if (!PlataformaLeeEntorno(variable, valor)) return porDefecto;
    char* fin = nullptr;
    long n = std::strtol(valor.c_str(), &fin, 10);
    if (fin == valor.c_str() || *fin != 0 || n <= 0) return porDefecto;
    return static_cast<unsigned long>(n);
}

int32_t SumaProgreso(int32_t hechos, unsigned long leidos) { return Satura(static_cast<long long>(hechos) + leidos); }

bool EstadoCorrecto(const TInternetZEB& cliente, CDString& error) {
    if (cliente.UltimoEstado() < 400) return true;
    error.Asigna(kTextoEstadoHttp);
    error.AnadeEntero(cliente.UltimoEstado());
    return false;
}

void MensajeFicheroLocal(const char* ruta, CDString& error) {
    error.Asigna(kTextoAbreLocal);
    error.AnadeCaracter('"');
    error.Anade(ruta);
    error.Anade("\"");
}

namespace {

void MensajeEscrituraLocal(const char* ruta, CDString& error) {
    error.Asigna(kTextoEscribeLocal);
    error.AnadeCaracter('"');
    error.Anade(ruta);
    error.Anade("\"");
}

}  // namespace

bool TInternetZEB::Falla(TTipoFallo tipo, unsigned long codigo) {
    // The platform names a time-out the same way for a deadline and a stall.
    if (tipo == TTipoFallo::kConexion && codigo == kErrorTiempoAgotado) tipo = TTipoFallo::kPlazo;
    fallo.tipo = tipo;
    fallo.codigo = codigo;
    return false;
}

TInternetZEB::TInternetZEB(const char* usuario_, const char* contrasena_, void* ventana_)
    : sesion(nullptr),
      ventana(ventana_),
      usuario(usuario_ ? usuario_ : ""),
      contrasena(contrasena_ ? contrasena_ : ""),
      ultimoEstado(0),
      msPlazo(0) {}

TInternetZEB::~TInternetZEB() {
    if (sesion != nullptr) {
        HttpCierra(sesion);
        sesion = nullptr;
    }
}

long TInternetZEB::SesionesAbiertas() { return gSesionesAbiertas.load(); }

bool TInternetZEB::Conecta(CDString& error) {
    if (sesion != nullptr) return true;
    unsigned long codigo = HttpIntentaConexion();
    if (codigo != 0) {
        error.Asigna(kTextoSinRed);
        error.AnadeEntero(static_cast<int>(codigo));
        return Falla(TTipoFallo::kSinRed, codigo);
    }
    sesion = HttpAbreSesion(kAgente, MilisegundosDeEntorno("PLIVORS_CONNECT_TIMEOUT_MS", kMsConexionPorDefecto),
                            MilisegundosDeEntorno("PLIVORS_STALL_TIMEOUT_MS", kMsSinDatosPorDefecto));
    if (sesion == nullptr) {
        error.Asigna(kTextoSinSesion);
        return Falla(TTipoFallo::kSinRed, HttpUltimoError());
    }
    ++gSesionesAbiertas;
    return true;
}

bool TInternetZEB::DescargaFichero(const char* url, const CDString& local, CDString& error, TProgreso* progreso) {
    DString cuerpo;
    return Descarga(url, true, cuerpo, local, error, progreso);
}

bool TInternetZEB::DescargaTexto(const char* url, CDString& cuerpo, CDString& error, TProgreso* progreso) {
    DString local;
    return Descarga(url, false, cuerpo, local, error, progreso);
}

bool TInternetZEB::Descarga(const char* url, bool aFichero, CDString& cuerpo, const CDString& local, CDString& error,
                            TProgreso* progreso) {
    fallo = TFalloRed();
    if (!Conecta(error)) return false;
    TFicheroZEB fichero;
    if (aFichero) {
        if (!fichero.Abre(TStringNomFitx(local.Texto()), F_ESCRITURA | F_BINARIO)) {
            MensajeFicheroLocal(local.Texto(), error);
            return Falla(TTipoFallo::kFicheroLocal, static_cast<unsigned long>(errno));
        }
    } else {
        cuerpo.Asigna("");
    }
    if (url == nullptr) url = "";

    unsigned long flags = kFlagReload;
    // Secure addresses keep certificate checking in full: the two flags that
    // would accept a wrong name or date are deliberately not set.
    if (std::strncmp(url, "https", 5) == 0)
        flags |= kFlagIgnoraRedireccionAHttps | kFlagIgnoraRedireccionAHttp | kFlagSeguro | kFlagSinAutenticacion |
                 kFlagSinInterfaz;

    HInternet peticion = HttpAbreUrl(sesion, url, flags, msPlazo);
    if (peticion == nullptr) {
        unsigned long codigo = HttpUltimoError();
        error.Asigna(kTextoAbreUrl);
        error.AnadeSinSigno(static_cast<unsigned>(codigo));
        return Falla(TTipoFallo::kConexion, codigo);
    }
    bool bien = Autentica(peticion, error) &&
                LeeRespuesta(peticion, aFichero, cuerpo, fichero, local, error, progreso);
    HttpCierra(peticion);
    return bien;
}

bool TInternetZEB::Autentica(HInternet peticion, CDString& error) {
    if (usuario[0] != 0) {
        int intentos = 0;
        for (;;) {
            unsigned long estado = 0;
            HttpConsultaEstado(peticion, estado);
            unsigned long opUsuario, opContrasena;
            if (estado == 401) {
                opUsuario = kOpcionUsuario;
                opContrasena = kOpcionContrasena;
            } else if (estado == 407) {
                opUsuario = kOpcionUsuarioProxy;
                opContrasena = kOpcionContrasenaProxy;
            } else {
                return true;
            }
            HttpPonOpcion(peticion, opUsuario, usuario, static_cast<unsigned long>(std::strlen(usuario) + 1));
            HttpPonOpcion(peticion, opContrasena, contrasena, static_cast<unsigned long>(std::strlen(contrasena) + 1));
            if (++intentos > 3) {
                error.Asigna(kTextoAutenticacion);
                error.AnadeSinSigno(static_cast<unsigned>(estado));
                return Falla(TTipoFallo::kAutenticacion, estado);
            }
            // The next status must answer the credentials just set, so the
            // request goes out again with them.
            HttpReenvia(peticion);
        }
    }
    for (;;) {
        unsigned long r = HttpDialogoError(ventana, peticion, 0,
                                           kDialogoFiltraErrores | kDialogoCambiaOpciones | kDialogoGeneraDatos);
        if (r != kErrorForzarReintento) return true;
        HttpReenvia(peticion);
    }
}

bool TInternetZEB::LeeRespuesta(HInternet peticion, bool aFichero, CDString& cuerpo, TFicheroZEB& fichero,
                                const CDString& local, CDString& error, TProgreso* progreso) {
    unsigned long estado = 0;
    ultimoEstado = HttpConsultaEstado(peticion, estado) ? static_cast<int>(estado) : 0;

    char texto[100];
    unsigned long tamano = sizeof texto;
    long long esperado = 0;
    if (HttpConsultaLongitud(peticion, texto, tamano) && tamano > 0) {
        texto[tamano < sizeof texto ? tamano : sizeof texto - 1] = 0;
        // atol's reading, in 64 bits: a length past 2 GiB is no overflow.
        esperado = std::strtoll(texto, nullptr, 10);
    }
    if (progreso != nullptr) {
        PonEntero(progreso->bytesHechos, 0);
        PonEntero(progreso->bytesTotal, Satura(esperado));
        ActualizaProgreso(progreso);
    }
    long long recibidos = 0;
    for (;;) {
        unsigned long disponibles = 0;
        // A failed query leaves 0: the one-byte read below then reports the error.
        if (!HttpDatosDisponibles(peticion, disponibles)) disponibles = 0;
        // Bounded so that a lying library cannot make one chunk huge.
        if (disponibles > 1u << 20) disponibles = 1u << 20;
        DString area;
        char* datos = area.Espacio(static_cast<int>(disponibles) + 1);
        unsigned long leidos = 0;
        if (!HttpLee(peticion, datos, disponibles + 1, leidos)) {
            unsigned long codigo = HttpUltimoError();
            error.Asigna(kTextoLeeHttp);
            error.AnadeSinSigno(static_cast<unsigned>(codigo));
            return Falla(TTipoFallo::kConexion, codigo);
        }
        if (leidos > disponibles + 1) leidos = disponibles + 1;
        datos[leidos] = 0;
        if (aFichero) {
            if (leidos > 0 && !fichero.Escribe(datos, static_cast<int>(leidos), nullptr, 0)) {
                MensajeEscrituraLocal(local.Texto(), error);
                return Falla(TTipoFallo::kEscrituraLocal, static_cast<unsigned long>(errno));
            }
        } else {
            cuerpo.Anade(datos);
        }
        if (progreso != nullptr) {
            PonEntero(progreso->bytesHechos, SumaProgreso(progreso->bytesHechos, leidos));
            ActualizaProgreso(progreso);
            if (Cancelado(progreso)) {
                error.Asigna(kTextoCancelado);
                return Falla(TTipoFallo::kCancelado, 0);
            }
        }
        if (leidos == 0) break;
        recibidos += static_cast<long long>(leidos);
    }
    // Some libraries take a connection closed early for the end of the body:
    // a body shorter than its announced length was cut off, not complete.
    if (esperado > 0 && recibidos < esperado) {
        error.Asigna(kTextoLeeHttp);
        error.AnadeSinSigno(static_cast<unsigned>(kErrorConexionAbortada));
        return Falla(TTipoFallo::kConexion, kErrorConexionAbortada);
    }
    // A stream whose buffered bytes cannot reach the disk (disk full) must
    // not count as stored.
    if (aFichero && std::fflush(fichero.fichero) != 0) {
        MensajeEscrituraLocal(local.Texto(), error);
        return Falla(TTipoFallo::kEscrituraLocal, static_cast<unsigned long>(errno));
    }
    return true;
}

void TInternetZEB::ActualizaProgreso(TProgreso* progreso) {
    if (progreso == nullptr) return;
    // The record is byte-packed: its text is worked on through an aligned copy
    // of the one pointer it holds.
    CDString texto;
    std::memcpy(static_cast<void*>(&texto), &progreso->texto, sizeof texto);
    texto.Formatea("%d Kb / %d Kb transferred", static_cast<int>(progreso->bytesHechos / 1000),
                   static_cast<int>(progreso->bytesTotal / 1000));
    std::memcpy(static_cast<void*>(&progreso->texto), &texto, sizeof texto);
}
