// TInternetZEB: one HTTP GET at a time over the platform's internet library,
// the body into a local file or into a text, with the host's progress record
// kept up to date and its cancel flag honoured after every chunk.
#pragma once

#include <cstdint>

#include "base/dstring.h"
#include "net/fallo_red.h"
#include "platform/http.h"

struct TProgreso;
class TFicheroZEB;

// Longest wait for a connection, and for any data once connected, unless the
// environment shortens them (PLIVORS_CONNECT_TIMEOUT_MS, PLIVORS_STALL_TIMEOUT_MS).
const unsigned long kMsConexionPorDefecto = 15000;
const unsigned long kMsSinDatosPorDefecto = 30000;
// Longest time a whole request may take when its caller sets a deadline
// (PLIVORS_REQUEST_TIMEOUT_MS overrides it).
const unsigned long kMsPlazoPorDefecto = 60000;

class TInternetZEB {
public:
    // The texts are not copied: the caller keeps them alive. An empty usuario
    // selects the platform's interactive authentication.
    TInternetZEB(const char* usuario, const char* contrasena, void* ventana);
    ~TInternetZEB();
    TInternetZEB(const TInternetZEB&) = delete;
    TInternetZEB& operator=(const TInternetZEB&) = delete;

    bool DescargaFichero(const char* url, const CDString& local, CDString& error, TProgreso* progreso);
    bool DescargaTexto(const char* url, CDString& cuerpo, CDString& error, TProgreso* progreso);
    // HTTP status of the last answer read, 0 if none.
    int UltimoEstado() const { return ultimoEstado; }
    // Kind and code of the last request's failure, beside its text; kNinguno
    // after a success. Local files give the C runtime's errno.
    const TFalloRed& UltimoFallo() const { return fallo; }

    // Ends every later request after ms milliseconds in all, headers and body
    // ("Error opening URL 12002" or "Error reading HTTP 12002"), for callers
    // the host cannot cancel. 0, the default, sets no deadline.
    void PonPlazo(unsigned long ms) { msPlazo = ms; }

    bool TieneSesion() const { return sesion != nullptr; }
    // Sessions opened by every client of the process so far.
    static long SesionesAbiertas();

    bool Descarga(const char* url, bool aFichero, CDString& cuerpo, const CDString& local, CDString& error,
                  TProgreso* progreso);
    bool Conecta(CDString& error);
    bool LeeRespuesta(HInternet peticion, bool aFichero, CDString& cuerpo, TFicheroZEB& fichero, const CDString& local,
                      CDString& error, TProgreso* progreso);
    static void ActualizaProgreso(TProgreso* progreso);

private:
    bool Autentica(HInternet peticion, CDString& error);
    // Records the kind and code of a failure; false, for returning.
    bool Falla(TTipoFallo tipo, unsigned long codigo);

    HInternet sesion;
    void* ventana;
    const char* usuario;
    const char* contrasena;
    int ultimoEstado;
    unsigned long msPlazo;
    TFalloRed fallo;
};

// bytesHechos after another chunk: the host's record counts in 32 bits, so a
// transfer past 2 GiB stays at the top instead of turning negative.
int32_t SumaProgreso(int32_t hechos, unsigned long leidos);

// False, with "Error HTTP " and the status as the error, when the client's
// last answer was an HTTP error (400 or above): such a body is the server's
// error page, not what was asked for.
bool EstadoCorrecto(const TInternetZEB& cliente, CDString& error);

// The client's message for a local file it cannot write: the path in quotes.
void MensajeFicheroLocal(const char* ruta, CDString& error);

// A time-out setting in milliseconds from the environment, or the default
// when the variable is unset or not a positive number.
unsigned long MilisegundosDeEntorno(const char* variable, unsigned long porDefecto);
