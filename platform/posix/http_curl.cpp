// The HTTP seam on libcurl. WinINet's pull model is kept: opening a URL
// drives the transfer until the answer's headers are in, and every read
// drives it until some body bytes are buffered (or the body ends). A transfer
// whose buffer is full is paused until the reader takes the bytes. Failures
// are reported with the WinINet code Windows would give in the same case.
#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/http.h"

namespace {

typedef std::chrono::steady_clock Reloj;

thread_local unsigned long tUltimoError = 0;

// Bytes buffered before the transfer is paused.
const size_t kMaximoEnEspera = 1u << 20;

unsigned long Falla(unsigned long codigo) {
    tUltimoError = codigo;
    return codigo;
}

// What was wrong with a refused certificate, as Windows names it: its dates,
// its name (the chain was sound, so the host check refused it), or anything
// else, which there means an authority the system does not trust.
unsigned long CodigoDeCertificado(CURL* e) {
    long resultado = -1;
    if (e == nullptr || curl_easy_getinfo(e, CURLINFO_SSL_VERIFYRESULT, &resultado) != CURLE_OK) resultado = -1;
    switch (resultado) {
        case 9:   // X509_V_ERR_CERT_NOT_YET_VALID
        case 10:  // X509_V_ERR_CERT_HAS_EXPIRED
            return kErrorFechaCertificado;
        case 0:   // X509_V_OK
        case 1:   // what libcurl records when its own host check refuses
        case 62:  // X509_V_ERR_HOSTNAME_MISMATCH
            return kErrorNombreCertificado;
        default:
            return kErrorCertificadoNoValido;
    }
}

unsigned long CodigoDeCurl(CURLcode c, CURL* e = nullptr) {
    switch (c) {
        case CURLE_OK: return 0;
        case CURLE_UNSUPPORTED_PROTOCOL: return kErrorEsquemaDesconocido;
        case CURLE_URL_MALFORMAT: return kErrorUrlNoValida;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST: return kErrorNombreNoResuelto;
        case CURLE_COULDNT_CONNECT: return kErrorNoConecta;
        case CURLE_OPERATION_TIMEDOUT: return kErrorTiempoAgotado;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY: return kErrorRespuestaNoValida;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR: return kErrorConexionAbortada;
        case CURLE_SEND_ERROR: return kErrorConexionReiniciada;
        case CURLE_TOO_MANY_REDIRECTS: return kErrorRedireccionFallida;
        case CURLE_PEER_FAILED_VERIFICATION: return CodigoDeCertificado(e);
        case CURLE_SSL_CONNECT_ERROR: return kErrorCanalSeguro;
        case CURLE_ABORTED_BY_CALLBACK: return kErrorOperacionCancelada;
        case CURLE_OUT_OF_MEMORY: return 8;  // ERROR_NOT_ENOUGH_MEMORY
        default: return kErrorErrorInterno;
    }
}

void IniciaCurl() {
    static const CURLcode resultado = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)resultado;
}

struct Asa {
    bool esSesion;
    explicit Asa(bool s) : esSesion(s) {}
    virtual ~Asa() {}
};

struct Sesion : Asa {
    std::string agente;
    long msConexion;
    long msSinDatos;
    CURLM* multi;  // keeps the connections alive between requests
    Sesion() : Asa(true), msConexion(0), msSinDatos(0), multi(nullptr) {}
    ~Sesion() override {
        if (multi) curl_multi_cleanup(multi);
    }
};

struct Peticion : Asa {
    Sesion* sesion = nullptr;
    CURL* easy = nullptr;
    curl_slist* cabecerasExtra = nullptr;
    bool enMulti = false;
    std::string url;
    unsigned long flags = 0;
    std::string usuario, contrasena, usuarioProxy, contrasenaProxy;

    // State of the current send.
    std::string datos;
    size_t inicio = 0;
    bool cabeceras = false;
    bool terminado = false;
    bool pausado = false;
    CURLcode resultado = CURLE_OK;
    bool hayLongitud = false;
    std::string longitud;
    Reloj::time_point ultimoDato;
    // Deadline of the whole request, when its caller set one.
    bool conPlazo = false;
    Reloj::time_point plazo;

    Peticion() : Asa(false) {}
    ~Peticion() override {
        if (easy) {
            if (enMulti) curl_multi_remove_handle(sesion->multi, easy);
            curl_easy_cleanup(easy);
        }
        curl_slist_free_all(cabecerasExtra);
    }
    size_t EnEspera() const { return datos.size() - inicio; }
};

bool EmpiezaSinMayusculas(const char* texto, size_t n, const char* prefijo) {
    size_t m = std::strlen(prefijo);
    return n >= m && curl_strnequal(texto, prefijo, m);
}

size_t AlRecibirCabecera(char* texto, size_t, size_t n, void* usuario) {
    Peticion& p = *static_cast<Peticion*>(usuario);
    p.ultimoDato = Reloj::now();
    if (EmpiezaSinMayusculas(texto, n, "HTTP/")) {
        // Each answer of a redirect chain has its own headers.
        p.hayLongitud = false;
        p.longitud.clear();
    } else if (EmpiezaSinMayusculas(texto, n, "content-length:")) {
        std::string v(texto + 15, n - 15);
        size_t a = v.find_first_not_of(" \t");
        size_t b = v.find_last_not_of(" \t\r\n");
        p.longitud = a == std::string::npos ? std::string() : v.substr(a, b - a + 1);
        p.hayLongitud = true;
    } else if ((n == 2 && texto[0] == '\r') || (n == 1 && texto[0] == '\n')) {
        long estado = 0;
        curl_easy_getinfo(p.easy, CURLINFO_RESPONSE_CODE, &estado);
        char* siguiente = nullptr;
        curl_easy_getinfo(p.easy, CURLINFO_REDIRECT_URL, &siguiente);
        bool sigue = estado >= 300 && estado < 400 && siguiente != nullptr;
        if (estado >= 200 && !sigue) p.cabeceras = true;
    }
    return n;
}

size_t AlRecibirDatos(char* datos, size_t, size_t n, void* usuario) {
    Peticion& p = *static_cast<Peticion*>(usuario);
    p.cabeceras = true;
    if (n == 0) return 0;
    if (p.EnEspera() >= kMaximoEnEspera) {
        p.pausado = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (p.inicio > 0 && p.inicio == p.datos.size()) {
        p.datos.clear();
        p.inicio = 0;
    }
    p.datos.append(datos, n);
    p.ultimoDato = Reloj::now();
    return n;
}

// Drives the transfer until listo() holds or it ends; false only when the
// wait for data exceeded the session's limit.
template <class F>
void Avanza(Peticion& p, F listo) {
    CURLM* multi = p.sesion->multi;
    // Past the deadline nothing more is fetched, even from a server that
    // keeps the buffer filled; what is buffered can still be read.
    if (p.conPlazo && !p.terminado && Reloj::now() >= p.plazo) {
        p.terminado = true;
        p.resultado = CURLE_OPERATION_TIMEDOUT;
    }
    while (!listo() && !p.terminado) {
        if (p.pausado && p.EnEspera() < kMaximoEnEspera) {
            p.pausado = false;
            curl_easy_pause(p.easy, CURLPAUSE_CONT);
            continue;
        }
        int activos = 0;
        CURLMcode mc = curl_multi_perform(multi, &activos);
        if (mc != CURLM_OK) {
            p.terminado = true;
            p.resultado = CURLE_OUT_OF_MEMORY;
            break;
        }
        CURLMsg* m;
        int quedan;
        while ((m = curl_multi_info_read(multi, &quedan)) != nullptr) {
            if (m->msg == CURLMSG_DONE && m->easy_handle == p.easy) {
                p.terminado = true;
                p.resultado = m->data.result;
            }
        }
        if (listo() || p.terminado) break;
        Reloj::time_point ahora = Reloj::now();
        long espera = p.sesion->msSinDatos -
                      static_cast<long>(
                          std::chrono::duration_cast<std::chrono::milliseconds>(ahora - p.ultimoDato).count());
        if (p.conPlazo) {
            // A server that sends a byte now and then never stalls: the
            // request's own deadline ends it.
            long resta =
                static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(p.plazo - ahora).count());
            if (resta < espera) espera = resta;
        }
        if (espera <= 0) {
            p.terminado = true;
            p.resultado = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(espera < 100 ? espera : 100), nullptr);
    }
    if (p.terminado && p.enMulti) {
        curl_multi_remove_handle(multi, p.easy);
        p.enMulti = false;
    }
}

void PonCadena(CURL* e, CURLoption o, const std::string& v) { curl_easy_setopt(e, o, v.empty() ? nullptr : v.c_str()); }

// Sends the request (again): everything of a previous answer is forgotten.
bool Envia(Peticion& p) {
    if (p.enMulti) {
        curl_multi_remove_handle(p.sesion->multi, p.easy);
        p.enMulti = false;
    }
    p.datos.clear();
    p.inicio = 0;
    p.cabeceras = p.terminado = p.pausado = p.hayLongitud = false;
    p.longitud.clear();
    p.resultado = CURLE_OK;
    PonCadena(p.easy, CURLOPT_USERNAME, p.usuario);
    PonCadena(p.easy, CURLOPT_PASSWORD, p.contrasena);
    PonCadena(p.easy, CURLOPT_PROXYUSERNAME, p.usuarioProxy);
    PonCadena(p.easy, CURLOPT_PROXYPASSWORD, p.contrasenaProxy);
    p.ultimoDato = Reloj::now();
    if (curl_multi_add_handle(p.sesion->multi, p.easy) != CURLM_OK) {
        Falla(kErrorErrorInterno);
        return false;
    }
    p.enMulti = true;
    Avanza(p, [&p] { return p.cabeceras; });
    if (!p.cabeceras && p.resultado != CURLE_OK) {
        Falla(CodigoDeCurl(p.resultado, p.easy));
        return false;
    }
    return true;
}

// WinINet judges the address before any traffic: an unknown scheme and a
// malformed address fail at once, with their own codes.
bool CompruebaUrl(const char* url) {
    const char* dosPuntos = std::strstr(url, "://");
    if (dosPuntos == nullptr || dosPuntos == url) return Falla(kErrorEsquemaDesconocido), false;
    std::string esquema(url, dosPuntos - url);
    if (!curl_strequal(esquema.c_str(), "http") && !curl_strequal(esquema.c_str(), "https"))
        return Falla(kErrorEsquemaDesconocido), false;
    // "http:///x" has no host, although libcurl would take x for one.
    const char* autoridad = dosPuntos + 3;
    if (*autoridad == 0 || *autoridad == '/' || *autoridad == '?' || *autoridad == '#')
        return Falla(kErrorUrlNoValida), false;
    CURLU* u = curl_url();
    if (u == nullptr) return Falla(8), false;
    CURLUcode r = curl_url_set(u, CURLUPART_URL, url, CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE);
    char* host = nullptr;
    bool bien = r == CURLUE_OK && curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && host[0];
    curl_free(host);
    curl_url_cleanup(u);
    if (!bien) return Falla(kErrorUrlNoValida), false;
    return true;
}

}  // namespace

unsigned long HttpIntentaConexion() { return 0; }

HInternet HttpAbreSesion(const char* agente, unsigned long msConexion, unsigned long msSinDatos) {
    IniciaCurl();
    Sesion* s = new Sesion;
    s->agente = agente ? agente : "";
    s->msConexion = static_cast<long>(msConexion);
    s->msSinDatos = static_cast<long>(msSinDatos);
    s->multi = curl_multi_init();
    if (s->multi == nullptr) {
        delete s;
        Falla(kErrorErrorInterno);
        return nullptr;
    }
    return static_cast<Asa*>(s);
}

HInternet HttpAbreUrl(HInternet sesion, const char* url, unsigned long flags, unsigned long msPlazo) {
    Asa* a = static_cast<Asa*>(sesion);
    if (a == nullptr || !a->esSesion) return Falla(6), nullptr;  // ERROR_INVALID_HANDLE
    if (url == nullptr || !CompruebaUrl(url)) return nullptr;
    Peticion* p = new Peticion;
    p->sesion = static_cast<Sesion*>(a);
    p->url = url;
    p->flags = flags;
    if (msPlazo > 0) {
        p->conPlazo = true;
        p->plazo = Reloj::now() + std::chrono::milliseconds(msPlazo);
    }
    p->easy = curl_easy_init();
    if (p->easy == nullptr) {
        delete p;
        Falla(kErrorErrorInterno);
        return nullptr;
    }
    CURL* e = p->easy;
    curl_easy_setopt(e, CURLOPT_URL, p->url.c_str());
    curl_easy_setopt(e, CURLOPT_USERAGENT, p->sesion->agente.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, p->sesion->msConexion);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &AlRecibirCabecera);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, p);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &AlRecibirDatos);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, p);
    // Certificates are verified in full unless the caller asked otherwise.
    if (flags & kFlagIgnoraNombreCertificado) curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    if (flags & kFlagReload) {
        // Never an answer from a cache on the way.
        // Owned by the request: the library may be unloaded between calls.
        p->cabecerasExtra = curl_slist_append(nullptr, "Cache-Control: no-cache");
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, p->cabecerasExtra);
    }
    if (!Envia(*p)) {
        delete p;
        return nullptr;
    }
    return static_cast<Asa*>(p);
}

unsigned long HttpUltimoError() { return tUltimoError; }

static Peticion* ComoPeticion(HInternet h) {
    Asa* a = static_cast<Asa*>(h);
    if (a == nullptr || a->esSesion) {
        Falla(6);
        return nullptr;
    }
    return static_cast<Peticion*>(a);
}

bool HttpConsultaEstado(HInternet peticion, unsigned long& estado) {
    Peticion* p = ComoPeticion(peticion);
    if (p == nullptr) return false;
    long codigo = 0;
    curl_easy_getinfo(p->easy, CURLINFO_RESPONSE_CODE, &codigo);
    if (codigo <= 0) return Falla(kErrorCabeceraNoEncontrada), false;
    estado = static_cast<unsigned long>(codigo);
    return true;
}

bool HttpConsultaLongitud(HInternet peticion, char* area, unsigned long& tamano) {
    Peticion* p = ComoPeticion(peticion);
    if (p == nullptr) return false;
    if (!p->hayLongitud) return Falla(kErrorCabeceraNoEncontrada), false;
    if (p->longitud.size() + 1 > tamano) {
        tamano = static_cast<unsigned long>(p->longitud.size() + 1);
        return Falla(122), false;  // ERROR_INSUFFICIENT_BUFFER
    }
    std::memcpy(area, p->longitud.c_str(), p->longitud.size() + 1);
    tamano = static_cast<unsigned long>(p->longitud.size());
    return true;
}

bool HttpPonOpcion(HInternet peticion, unsigned long opcion, const char* valor, unsigned long longitud) {
    Peticion* p = ComoPeticion(peticion);
    if (p == nullptr) return false;
    std::string v(valor ? valor : "", valor ? strnlen(valor, longitud) : 0);
    switch (opcion) {
        case kOpcionUsuario: p->usuario = v; return true;
        case kOpcionContrasena: p->contrasena = v; return true;
        case kOpcionUsuarioProxy: p->usuarioProxy = v; return true;
        case kOpcionContrasenaProxy: p->contrasenaProxy = v; return true;
        default: return Falla(12018), false;  // ERROR_INTERNET_INCORRECT_HANDLE_TYPE
    }
}

// No dialog exists here: nothing to ask, so the request is never retried.
unsigned long HttpDialogoError(void*, HInternet, unsigned long, unsigned long) { return 0; }

bool HttpReenvia(HInternet peticion) {
    Peticion* p = ComoPeticion(peticion);
    return p != nullptr && Envia(*p);
}

bool HttpDatosDisponibles(HInternet peticion, unsigned long& disponibles) {
    Peticion* p = ComoPeticion(peticion);
    if (p == nullptr) return false;
    Avanza(*p, [p] { return p->EnEspera() > 0; });
    if (p->EnEspera() == 0 && p->resultado != CURLE_OK) {
        disponibles = 0;
        return Falla(CodigoDeCurl(p->resultado)), false;
    }
    disponibles = static_cast<unsigned long>(p->EnEspera());
    return true;
}

bool HttpLee(HInternet peticion, void* area, unsigned long n, unsigned long& leidos) {
    leidos = 0;
    Peticion* p = ComoPeticion(peticion);
    if (p == nullptr) return false;
    if (n == 0) return true;
    Avanza(*p, [p] { return p->EnEspera() > 0; });
    size_t hay = p->EnEspera();
    if (hay == 0) {
        if (p->resultado != CURLE_OK) return Falla(CodigoDeCurl(p->resultado)), false;
        return true;
    }
    size_t cuantos = hay < n ? hay : n;
    std::memcpy(area, p->datos.data() + p->inicio, cuantos);
    p->inicio += cuantos;
    leidos = static_cast<unsigned long>(cuantos);
    return true;
}

void HttpCierra(HInternet h) { delete static_cast<Asa*>(h); }
