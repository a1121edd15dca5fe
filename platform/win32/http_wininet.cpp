// The HTTP seam on WinINet: each function is the WinINet call of its name.
#include <windows.h>
#include <wininet.h>

#include "net/seam_http.h"

unsigned long HttpIntentaConexion() { return InternetAttemptConnect(0); }

HInternet HttpAbreSesion(const char* agente, unsigned long msConexion, unsigned long msSinDatos) {
    HINTERNET s = InternetOpenA(agente, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (s == nullptr) return nullptr;
    // Without these a server that stops sending holds the call for ever.
    DWORD conexion = msConexion, datos = msSinDatos;
    InternetSetOptionA(s, INTERNET_OPTION_CONNECT_TIMEOUT, &conexion, sizeof conexion);
    InternetSetOptionA(s, INTERNET_OPTION_SEND_TIMEOUT, &datos, sizeof datos);
    InternetSetOptionA(s, INTERNET_OPTION_RECEIVE_TIMEOUT, &datos, sizeof datos);
    InternetSetOptionA(s, INTERNET_OPTION_DATA_SEND_TIMEOUT, &datos, sizeof datos);
    InternetSetOptionA(s, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &datos, sizeof datos);
    return s;
}

HInternet HttpAbreUrl(HInternet sesion, const char* url, unsigned long flags) {
    return InternetOpenUrlA(static_cast<HINTERNET>(sesion), url, nullptr, 0, flags, 0);
}

unsigned long HttpUltimoError() { return GetLastError(); }

bool HttpConsultaEstado(HInternet peticion, unsigned long& estado) {
    DWORD valor = 0, tamano = sizeof valor;
    if (!HttpQueryInfoA(static_cast<HINTERNET>(peticion), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &valor,
                        &tamano, nullptr))
        return false;
    estado = valor;
    return true;
}

bool HttpConsultaLongitud(HInternet peticion, char* area, unsigned long& tamano) {
    DWORD t = tamano;
    if (!HttpQueryInfoA(static_cast<HINTERNET>(peticion), HTTP_QUERY_CONTENT_LENGTH, area, &t, nullptr)) return false;
    tamano = t;
    return true;
}

bool HttpPonOpcion(HInternet peticion, unsigned long opcion, const char* valor, unsigned long longitud) {
    return InternetSetOptionA(static_cast<HINTERNET>(peticion), opcion, const_cast<char*>(valor), longitud) != FALSE;
}

unsigned long HttpDialogoError(void* ventana, HInternet peticion, unsigned long error, unsigned long flags) {
    return InternetErrorDlg(static_cast<HWND>(ventana), static_cast<HINTERNET>(peticion), error, flags, nullptr);
}

bool HttpReenvia(HInternet peticion) {
    return HttpSendRequestA(static_cast<HINTERNET>(peticion), nullptr, 0, nullptr, 0) != FALSE;
}

bool HttpDatosDisponibles(HInternet peticion, unsigned long& disponibles) {
    DWORD n = 0;
    BOOL bien = InternetQueryDataAvailable(static_cast<HINTERNET>(peticion), &n, 0, 0);
    disponibles = n;
    return bien != FALSE;
}

bool HttpLee(HInternet peticion, void* area, unsigned long n, unsigned long& leidos) {
    DWORD r = 0;
    BOOL bien = InternetReadFile(static_cast<HINTERNET>(peticion), area, n, &r);
    leidos = r;
    return bien != FALSE;
}

void HttpCierra(HInternet h) { InternetCloseHandle(static_cast<HINTERNET>(h)); }
