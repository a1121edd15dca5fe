// The platform's internet library as the HTTP client sees it: one function
// for each operation the client uses, each doing what the WinINet call of the
// same role does (InternetAttemptConnect, InternetOpenA, InternetOpenUrlA,
// HttpQueryInfoA, InternetSetOptionA, InternetErrorDlg, HttpSendRequestA,
// InternetQueryDataAvailable, InternetReadFile, InternetCloseHandle).
// Windows: platform/win32/http_wininet.cpp; elsewhere platform/posix/http_curl.cpp.
// Failures leave a WinINet error code for HttpUltimoError on both builds.
#pragma once

typedef void* HInternet;

// WinINet values the client passes or compares.
const unsigned long kFlagReload = 0x80000000ul;                 // INTERNET_FLAG_RELOAD
const unsigned long kFlagIgnoraRedireccionAHttps = 0x4000ul;    // INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
const unsigned long kFlagIgnoraRedireccionAHttp = 0x8000ul;     // INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP
const unsigned long kFlagIgnoraNombreCertificado = 0x1000ul;    // INTERNET_FLAG_IGNORE_CERT_CN_INVALID
const unsigned long kFlagIgnoraFechaCertificado = 0x2000ul;     // INTERNET_FLAG_IGNORE_CERT_DATE_INVALID
const unsigned long kFlagSeguro = 0x800000ul;                   // INTERNET_FLAG_SECURE
const unsigned long kFlagSinAutenticacion = 0x40000ul;          // INTERNET_FLAG_NO_AUTH
const unsigned long kFlagSinInterfaz = 0x200ul;                 // INTERNET_FLAG_NO_UI

const unsigned long kOpcionUsuario = 28;        // INTERNET_OPTION_USERNAME
const unsigned long kOpcionContrasena = 29;     // INTERNET_OPTION_PASSWORD
const unsigned long kOpcionUsuarioProxy = 43;   // INTERNET_OPTION_PROXY_USERNAME
const unsigned long kOpcionContrasenaProxy = 44;  // INTERNET_OPTION_PROXY_PASSWORD

const unsigned long kDialogoFiltraErrores = 0x01;     // FLAGS_ERROR_UI_FILTER_FOR_ERRORS
const unsigned long kDialogoCambiaOpciones = 0x02;    // FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS
const unsigned long kDialogoGeneraDatos = 0x04;       // FLAGS_ERROR_UI_FLAGS_GENERATE_DATA

const unsigned long kErrorTiempoAgotado = 12002;      // ERROR_INTERNET_TIMEOUT
const unsigned long kErrorErrorInterno = 12004;       // ERROR_INTERNET_INTERNAL_ERROR
const unsigned long kErrorUrlNoValida = 12005;        // ERROR_INTERNET_INVALID_URL
const unsigned long kErrorEsquemaDesconocido = 12006; // ERROR_INTERNET_UNRECOGNIZED_SCHEME
const unsigned long kErrorNombreNoResuelto = 12007;   // ERROR_INTERNET_NAME_NOT_RESOLVED
const unsigned long kErrorOperacionCancelada = 12017; // ERROR_INTERNET_OPERATION_CANCELLED
const unsigned long kErrorNoConecta = 12029;          // ERROR_INTERNET_CANNOT_CONNECT
const unsigned long kErrorConexionAbortada = 12030;   // ERROR_INTERNET_CONNECTION_ABORTED
const unsigned long kErrorConexionReiniciada = 12031; // ERROR_INTERNET_CONNECTION_RESET
const unsigned long kErrorForzarReintento = 12032;    // ERROR_INTERNET_FORCE_RETRY
const unsigned long kErrorFechaCertificado = 12037;   // ERROR_INTERNET_SEC_CERT_DATE_INVALID
const unsigned long kErrorNombreCertificado = 12038;  // ERROR_INTERNET_SEC_CERT_CN_INVALID
// WinINet's answer, too, to a chain that ends before any authority it knows.
const unsigned long kErrorRevocacionFallida = 12057;  // ERROR_INTERNET_SEC_CERT_REV_FAILED
const unsigned long kErrorCertificadoNoValido = 12045;  // ERROR_INTERNET_INVALID_CA
const unsigned long kErrorCabeceraNoEncontrada = 12150; // ERROR_HTTP_HEADER_NOT_FOUND
const unsigned long kErrorRespuestaNoValida = 12152;    // ERROR_HTTP_INVALID_SERVER_RESPONSE
const unsigned long kErrorRedireccionFallida = 12156;   // ERROR_HTTP_REDIRECT_FAILED
const unsigned long kErrorCanalSeguro = 12157;          // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
const unsigned long kErrorCertificadoInvalido = 12169;  // ERROR_INTERNET_SEC_INVALID_CERT

// InternetAttemptConnect(0): 0 when the machine can go online.
unsigned long HttpIntentaConexion();
// InternetOpenA(agente, INTERNET_OPEN_TYPE_PRECONFIG, no proxy, no bypass, 0),
// with the connect time-out and the longest wait for data in milliseconds.
HInternet HttpAbreSesion(const char* agente, unsigned long msConexion, unsigned long msSinDatos);
// InternetOpenUrlA(sesion, url, no headers, flags, 0): the request once the
// answer's headers are in, or null. msPlazo > 0 bounds the whole request,
// from this call to the last read: past it every wait ends with
// ERROR_INTERNET_TIMEOUT, however steadily the server keeps sending.
HInternet HttpAbreUrl(HInternet sesion, const char* url, unsigned long flags, unsigned long msPlazo);
// GetLastError after a failed call of this seam.
unsigned long HttpUltimoError();
// HttpQueryInfoA(HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER).
bool HttpConsultaEstado(HInternet peticion, unsigned long& estado);
// HttpQueryInfoA(HTTP_QUERY_CONTENT_LENGTH) as text: tamano is the area's size
// on entry and the text's length on return.
bool HttpConsultaLongitud(HInternet peticion, char* area, unsigned long& tamano);
// InternetSetOptionA with one of the four credential options.
bool HttpPonOpcion(HInternet peticion, unsigned long opcion, const char* valor, unsigned long longitud);
// InternetErrorDlg(ventana, peticion, error, flags, no data).
unsigned long HttpDialogoError(void* ventana, HInternet peticion, unsigned long error, unsigned long flags);
// HttpSendRequestA(peticion, no headers, no data): the same request again.
bool HttpReenvia(HInternet peticion);
// InternetQueryDataAvailable(peticion, &disponibles, 0, 0).
bool HttpDatosDisponibles(HInternet peticion, unsigned long& disponibles);
// InternetReadFile: up to n bytes, blocking; 0 with success at the end.
bool HttpLee(HInternet peticion, void* area, unsigned long n, unsigned long& leidos);
// InternetCloseHandle of a request or a session.
void HttpCierra(HInternet h);
