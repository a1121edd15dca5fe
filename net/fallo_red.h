// What kind of failure ended a transfer, beside its text. Callers in the
// plug-in take the kind from the client (TInternetZEB::UltimoFallo); a host,
// which receives only the text through the exports, reads it back with
// LeeFalloRed. Both sides use the texts below, so they cannot drift apart.
#pragma once

enum class TTipoFallo {
    kNinguno,
    kSinRed,          // the system cannot go online, or no session
    kConexion,        // the request or its answer failed: codigo is the platform's
    kPlazo,           // the deadline or a stall time-out ran out
    kAutenticacion,   // the server kept asking for credentials: codigo is the status
    kEstado,          // the server answered with an HTTP error: codigo is the status
    kCancelado,       // the host's cancel flag
    kFicheroLocal,    // the local file could not be created or opened
    kEscrituraLocal,  // the local file could not be written (disk full)
};

struct TFalloRed {
    TTipoFallo tipo = TTipoFallo::kNinguno;
    unsigned long codigo = 0;  // the platform's error code or the HTTP status; 0 when none
};

// The beginnings of the client's messages, each followed by a code or a path.
extern const char kTextoSinRed[];           // "Error connecting to Internet " + code
extern const char kTextoSinSesion[];        // "Error 2 connecting to Internet "
extern const char kTextoAbreUrl[];          // "Error opening URL " + code
extern const char kTextoLeeHttp[];          // "Error reading HTTP " + code
extern const char kTextoAutenticacion[];    // "Error autentification " + status
extern const char kTextoEstadoHttp[];       // "Error HTTP " + status
extern const char kTextoCancelado[];        // "Operation Canceled"
extern const char kTextoAbreLocal[];        // "Error opening the local file for HTTP download: " + quoted path
extern const char kTextoEscribeLocal[];     // "Error writing the local file for HTTP download: " + quoted path

// The kind and code of one of the client's messages; kNinguno for any other text.
TFalloRed LeeFalloRed(const char* mensaje);
