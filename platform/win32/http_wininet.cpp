// The HTTP seam on WinINet: each function is the WinINet call of its name.
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <string>

#include "platform/http.h"

namespace {

// A session remembers its time-outs; a request carries the connection that
// InternetOpenUrlA would have made for it, closed with it.
struct Asa {
    bool esSesion;
    HINTERNET principal;  // the session, or the request
    HINTERNET conexion;   // requests only
    DWORD msConexion, msSinDatos;
    ULONGLONG plazo;      // tick count that ends the request, 0 for none
};

// A wait that ran into the time-out, or past the request's deadline, is
// reported as the time-out, whatever lower-level code the library left (a
// socket's WSAETIMEDOUT, an abort).
bool FallaPorTiempo(ULONGLONG desde, DWORD limite, ULONGLONG plazo = 0) {
    DWORD e = GetLastError();
    if (limite > 0 && (e == WSAETIMEDOUT || e == ERROR_INTERNET_CONNECTION_ABORTED ||
                       e == ERROR_INTERNET_CONNECTION_RESET || e == ERROR_INTERNET_TIMEOUT)) {
        ULONGLONG ahora = GetTickCount64();
        if (ahora - desde + 50 >= limite || (plazo != 0 && ahora + 50 >= plazo)) SetLastError(ERROR_INTERNET_TIMEOUT);
        else SetLastError(e);
    }
    return false;
}

void PonTiempos(HINTERNET h, DWORD conexion, DWORD datos) {
    InternetSetOptionA(h, INTERNET_OPTION_CONNECT_TIMEOUT, &conexion, sizeof conexion);
    InternetSetOptionA(h, INTERNET_OPTION_SEND_TIMEOUT, &datos, sizeof datos);
    InternetSetOptionA(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &datos, sizeof datos);
    InternetSetOptionA(h, INTERNET_OPTION_DATA_SEND_TIMEOUT, &datos, sizeof datos);
    InternetSetOptionA(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &datos, sizeof datos);
}

HINTERNET Peticion(HInternet h) { return h ? static_cast<Asa*>(h)->principal : nullptr; }

DWORD Menor(DWORD a, ULONGLONG b) { return a != 0 && a < b ? a : static_cast<DWORD>(b); }

// Before each blocking call of a request with a deadline: fails with the
// time-out once the deadline has passed, and otherwise cuts the library's
// waits to what is left, so that a server sending a byte now and then cannot
// hold the call beyond it.
bool DentroDePlazo(HINTERNET h, ULONGLONG plazo, DWORD msConexion, DWORD msSinDatos) {
    if (plazo == 0) return true;
    ULONGLONG ahora = GetTickCount64();
    if (ahora >= plazo) {
        SetLastError(ERROR_INTERNET_TIMEOUT);
        return false;
    }
    PonTiempos(h, Menor(msConexion, plazo - ahora), Menor(msSinDatos, plazo - ahora));
    return true;
}

bool DentroDePlazo(HInternet peticion) {
    Asa* a = static_cast<Asa*>(peticion);
    return a == nullptr || DentroDePlazo(a->principal, a->plazo, a->msConexion, a->msSinDatos);
}

}  // namespace

unsigned long HttpIntentaConexion() { return InternetAttemptConnect(0); }

HInternet HttpAbreSesion(const char* agente, unsigned long msConexion, unsigned long msSinDatos) {
    HINTERNET s = InternetOpenA(agente, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (s == nullptr) return nullptr;
    // Without these a server that stops sending holds the call for ever.
    PonTiempos(s, msConexion, msSinDatos);
    return new Asa{true, s, nullptr, msConexion, msSinDatos, 0};
}

// What InternetOpenUrlA does for an http or https address, step by step, so
// that the time-outs are on the request before it is sent (not every WinINet
// hands the session's time-outs down to the requests it opens itself).
HInternet HttpAbreUrl(HInternet sesion, const char* url, unsigned long flags, unsigned long msPlazo) {
    ULONGLONG plazo = msPlazo > 0 ? GetTickCount64() + msPlazo : 0;
    Asa* s = static_cast<Asa*>(sesion);
    URL_COMPONENTSA partes;
    ZeroMemory(&partes, sizeof partes);
    partes.dwStructSize = sizeof partes;
    partes.dwSchemeLength = partes.dwHostNameLength = partes.dwUserNameLength = partes.dwPasswordLength = 1;
    partes.dwUrlPathLength = partes.dwExtraInfoLength = 1;
    if (s == nullptr || url == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!InternetCrackUrlA(url, 0, 0, &partes)) return nullptr;
    if (partes.nScheme != INTERNET_SCHEME_HTTP && partes.nScheme != INTERNET_SCHEME_HTTPS) {
        // Other schemes keep the library's own handling.
        HINTERNET h = InternetOpenUrlA(s->principal, url, nullptr, 0, flags, 0);
        return h ? new Asa{false, h, nullptr, 0, 0, plazo} : nullptr;
    }
    std::string host(partes.lpszHostName, partes.dwHostNameLength);
    std::string user(partes.lpszUserName ? partes.lpszUserName : "", partes.dwUserNameLength);
    std::string password(partes.lpszPassword ? partes.lpszPassword : "", partes.dwPasswordLength);
    std::string path(partes.lpszUrlPath ? partes.lpszUrlPath : "", partes.dwUrlPathLength);
    path.append(partes.lpszExtraInfo ? partes.lpszExtraInfo : "", partes.dwExtraInfoLength);
    if (host.empty()) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return nullptr;
    }
    if (path.empty()) path = "/";
    if (partes.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    HINTERNET conexion = InternetConnectA(s->principal, host.c_str(), partes.nPort, user.empty() ? nullptr : user.c_str(),
                                          password.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
    if (conexion == nullptr) return nullptr;
    PonTiempos(conexion, s->msConexion, s->msSinDatos);
    HINTERNET peticion = HttpOpenRequestA(conexion, "GET", path.c_str(), nullptr, nullptr, nullptr, flags, 0);
    if (peticion == nullptr) {
        DWORD e = GetLastError();
        InternetCloseHandle(conexion);
        SetLastError(e);
        return nullptr;
    }
    PonTiempos(peticion, s->msConexion, s->msSinDatos);
    ULONGLONG desde = GetTickCount64();
    if (!DentroDePlazo(peticion, plazo, s->msConexion, s->msSinDatos) ||
        !HttpSendRequestA(peticion, nullptr, 0, nullptr, 0)) {
        FallaPorTiempo(desde, s->msSinDatos, plazo);
        DWORD e = GetLastError();
        InternetCloseHandle(peticion);
        InternetCloseHandle(conexion);
        SetLastError(e);
        return nullptr;
    }
    return new Asa{false, peticion, conexion, s->msConexion, s->msSinDatos, plazo};
}

unsigned long HttpUltimoError() { return GetLastError(); }

bool HttpConsultaEstado(HInternet peticion, unsigned long& estado) {
    DWORD valor = 0, tamano = sizeof valor;
    if (!HttpQueryInfoA(Peticion(peticion), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &valor,
                        &tamano, nullptr))
        return false;
    estado = valor;
    return true;
}

bool HttpConsultaLongitud(HInternet peticion, char* area, unsigned long& tamano) {
    DWORD t = tamano;
    if (!HttpQueryInfoA(Peticion(peticion), HTTP_QUERY_CONTENT_LENGTH, area, &t, nullptr)) return false;
    tamano = t;
    return true;
}

bool HttpPonOpcion(HInternet peticion, unsigned long opcion, const char* valor, unsigned long longitud) {
    return InternetSetOptionA(Peticion(peticion), opcion, const_cast<char*>(valor), longitud) != FALSE;
}

unsigned long HttpDialogoError(void* ventana, HInternet peticion, unsigned long error, unsigned long flags) {
    return InternetErrorDlg(static_cast<HWND>(ventana), Peticion(peticion), error, flags, nullptr);
}

bool HttpReenvia(HInternet peticion) {
    return HttpSendRequestA(Peticion(peticion), nullptr, 0, nullptr, 0) != FALSE;
}

bool HttpDatosDisponibles(HInternet peticion, unsigned long& disponibles) {
    DWORD n = 0;
    disponibles = 0;
    if (!DentroDePlazo(peticion)) return false;
    ULONGLONG desde = GetTickCount64();
    BOOL bien = InternetQueryDataAvailable(Peticion(peticion), &n, 0, 0);
    disponibles = n;
    Asa* a = static_cast<Asa*>(peticion);
    return bien != FALSE || FallaPorTiempo(desde, a->msSinDatos, a->plazo);
}

bool HttpLee(HInternet peticion, void* area, unsigned long n, unsigned long& leidos) {
    DWORD r = 0;
    leidos = 0;
    if (!DentroDePlazo(peticion)) return false;
    ULONGLONG desde = GetTickCount64();
    BOOL bien = InternetReadFile(Peticion(peticion), area, n, &r);
    leidos = r;
    Asa* a = static_cast<Asa*>(peticion);
    return bien != FALSE || FallaPorTiempo(desde, a->msSinDatos, a->plazo);
}

void HttpCierra(HInternet h) {
    Asa* a = static_cast<Asa*>(h);
    if (a == nullptr) return;
    InternetCloseHandle(a->principal);
    if (a->conexion) InternetCloseHandle(a->conexion);
    delete a;
}
