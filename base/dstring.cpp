#include "base/dstring.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "base/vectores.h"

namespace {

const int kScratch = 10000;

// Each thread formats into its own scratch buffer: the host may call exports
// from several threads at once.
thread_local char tScratch[kScratch];

int32_t LeeEntero32(const char* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void EscribeEntero32(char* p, int32_t v) { std::memcpy(p, &v, 4); }

}  // namespace

// ---- Storage ---------------------------------------------------------------

int CDString::Capacidad() const { return cadena ? LeeEntero32(cadena - 8) : 0; }

signed char CDString::Decimales() const { return cadena ? static_cast<signed char>(cadena[-9]) : 1; }

void CDString::Reserva(int n) {
    if (n < 0) return;
    // Keep every size computation inside int, also on the 32-bit build.
    if (n > (INT_MAX - 64) / 14) throw std::bad_alloc();
    if (cadena == nullptr) {
        int cap = n + 13;
        char* bloque = new char[cap + 14];
        std::memset(bloque, 0, kCabecera);
        bloque[3] = 1;
        EscribeEntero32(bloque + 4, cap);
        EscribeEntero32(bloque + 8, -1);
        bloque[kCabecera] = 0;
        cadena = bloque + kCabecera;
        return;
    }
    int cap = Capacidad();
    if (n + 2 <= cap) return;
    int nueva = 13 * (n + 2) / 10 + 11;
    char* bloque = new char[nueva + 14];
    std::memcpy(bloque, cadena - kCabecera, kCabecera);
    EscribeEntero32(bloque + 4, nueva);
    std::memcpy(bloque + kCabecera, cadena, cap);
    bloque[kCabecera + cap] = 0;
    delete[] (cadena - kCabecera);
    cadena = bloque + kCabecera;
}

char* CDString::Espacio(int n) {
    Reserva(n + 10);
    return cadena;
}

char* CDString::Celda(int i) {
    Reserva(i + 2);
    return cadena + i;
}

bool CDString::Contiene(const char* p) const {
    if (cadena == nullptr || p == nullptr) return false;
    const char* inicio = cadena;
    const char* fin = cadena + Capacidad() + 2;
    return std::less_equal<const char*>()(inicio, p) && std::less<const char*>()(p, fin);
}

// ---- Reading ---------------------------------------------------------------

int CDString::Longitud() const { return cadena ? static_cast<int>(std::strlen(cadena)) : 0; }

char CDString::Caracter(int i) const {
    if (cadena == nullptr || i < 0 || i >= Longitud()) return 0;
    return cadena[i];
}

long CDString::Entero() const {
    if (EsVacia()) return 0;
    // atol, but with a defined result outside the 32-bit range: it saturates,
    // the same on both builds.
    long long v = std::strtoll(cadena, nullptr, 10);
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    return static_cast<long>(v);
}

int CDString::Compara(const char* t) const {
    if (t == nullptr) return EsVacia() ? 0 : 1;
    if (EsVacia()) return t[0] == 0 ? 0 : 1;
    return std::strcmp(cadena, t);
}

// ---- Replacing -------------------------------------------------------------

CDString& CDString::Asigna(const char* t) {
    if (t == nullptr) {
        if (cadena) cadena[0] = 0;
        return *this;
    }
    if (Contiene(t)) {
        std::string copia(t);
        return Asigna(copia.c_str());
    }
    int n = static_cast<int>(std::strlen(t));
    Reserva(n);
    std::memcpy(cadena, t, n + 1);
    return *this;
}

CDString& CDString::Asigna(const CDString& s) {
    if (&s == this) return *this;
    if (s.EsVacia()) {
        if (cadena) cadena[0] = 0;
        return *this;
    }
    return Asigna(s.Texto());
}

CDString& CDString::AsignaPrimeros(const char* t, int n) {
    if (n < 0) n = 0;
    if (Contiene(t)) {
        std::string copia(t ? t : "");
        return AsignaPrimeros(copia.c_str(), n);
    }
    Reserva(n);
    int i = 0;
    if (t != nullptr) {
        for (; i < n && t[i] != 0; ++i) cadena[i] = t[i];
    }
    cadena[i] = 0;
    return *this;
}

int CDString::FormateaV(const char* formato, va_list args) {
    int r = std::vsnprintf(tScratch, kScratch, formato, args);
    if (r < 0) {
        tScratch[0] = 0;
    } else if (r >= kScratch) {
        // Over-long output is kept as a truncated text.
        tScratch[kScratch - 1] = 0;
        r = kScratch - 1;
    }
    Asigna(tScratch);
    return r;
}

int CDString::Formatea(const char* formato, ...) {
    va_list args;
    va_start(args, formato);
    int r = FormateaV(formato, args);
    va_end(args);
    return r;
}

// ---- Appending -------------------------------------------------------------

CDString& CDString::Anade(const char* t) {
    if (t == nullptr) return *this;
    if (Contiene(t)) {
        std::string copia(t);
        return Anade(copia.c_str());
    }
    int l = Longitud();
    int n = static_cast<int>(std::strlen(t));
    if (n > INT_MAX - l - 64) throw std::bad_alloc();
    Reserva(l + n);
    std::memcpy(cadena + l, t, n + 1);
    return *this;
}

CDString& CDString::Anade(const CDString& s) {
    if (&s == this) {
        std::string copia(s.Texto());
        return Anade(copia.c_str());
    }
    return Anade(s.Texto());
}

CDString& CDString::AnadeCaracter(char c) {
    if (c == 0) return *this;
    int l = Longitud();
    Reserva(l + 1);
    cadena[l] = c;
    cadena[l + 1] = 0;
    return *this;
}

CDString& CDString::AnadeEntero(int v) {
    char b[16];
    std::snprintf(b, sizeof b, "%d", v);
    return Anade(b);
}

CDString& CDString::AnadeSinSigno(unsigned v) {
    char b[16];
    std::snprintf(b, sizeof b, "%u", v);
    return Anade(b);
}

void CDString::PonDecimales(signed char d) {
    Reserva(1);
    cadena[-9] = static_cast<char>(d);
}

CDString& CDString::AnadeReal(double v) {
    signed char d = Decimales();
    char formato[16];
    if (d < 0)
        std::snprintf(formato, sizeof formato, "%%lf");
    else
        std::snprintf(formato, sizeof formato, "%%.%dlf", static_cast<int>(d));
    // 127 decimals of the largest double fit well inside this buffer.
    char b[512];
    int r = std::snprintf(b, sizeof b, formato, v);
    if (r < 0) b[0] = 0;
    return Anade(b);
}

// ---- Editing ---------------------------------------------------------------

void CDString::Mayusculas() {
    if (cadena == nullptr) return;
    for (char* p = cadena; *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
}

void CDString::Recorta() {
    Reserva(0);
    int n = Longitud();
    int inicio = 0;
    while (inicio < n && cadena[inicio] == ' ') ++inicio;
    if (inicio == n) {
        cadena[0] = 0;
        return;
    }
    int fin = n;
    while (fin > inicio && cadena[fin - 1] == ' ') --fin;
    cadena[fin] = 0;
    if (inicio > 0) std::memmove(cadena, cadena + inicio, fin - inicio + 1);
}

void CDString::Corta(int n) {
    if (cadena == nullptr || n < 0) return;
    if (n < Longitud()) cadena[n] = 0;
}

int CDString::Reemplaza(const char* buscado, const char* nuevo, bool palabra) {
    if (buscado == nullptr || buscado[0] == 0 || cadena == nullptr) return 0;
    if (nuevo == nullptr) nuevo = "";
    // A replacement that contains what it replaces would be found again
    // forever; for such a pair the search continues after the new text.
    bool reanudar = std::strstr(nuevo, buscado) != nullptr;
    int lb = static_cast<int>(std::strlen(buscado));
    int ln = static_cast<int>(std::strlen(nuevo));
    int count = 0;
    long long longitud = Longitud();
    long long limite = lb == ln ? (longitud + 1) * (longitud + 1) : longitud + 1;
    int p = BuscaDesde(buscado, 0, palabra, false);
    while (p >= 0 && count < limite) {
        std::string resto(cadena + p + lb);
        Corta(p);
        Anade(nuevo);
        Anade(resto.c_str());
        ++count;
        int desde = reanudar ? p + ln : 0;
        p = desde <= Longitud() ? BuscaDesde(buscado, desde, palabra, false) : -1;
    }
    return count;
}

// ---- Searching -------------------------------------------------------------

int CDString::BuscaCaracter(char c) const {
    if (cadena == nullptr) return c == 0 ? 0 : -1;
    const char* p = std::strchr(cadena, c);
    return p ? static_cast<int>(p - cadena) : -1;
}

int CDString::BuscaUltimoCaracter(char c) const {
    if (cadena == nullptr) return c == 0 ? 0 : -1;
    const char* p = std::strrchr(cadena, c);
    return p ? static_cast<int>(p - cadena) : -1;
}

int CDString::BuscaTexto(const char* t) const {
    if (cadena == nullptr || t == nullptr) return -1;
    const char* p = std::strstr(cadena, t);
    return p ? static_cast<int>(p - cadena) : -1;
}

bool CDString::EsLetraDePalabra(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

int CDString::BuscaDesde(const char* t, int desde, bool palabra, bool sinMayusculas) const {
    if (cadena == nullptr || t == nullptr) return -1;
    int n = Longitud();
    if (desde < 0 || desde > n) return -1;
    if (!palabra && !sinMayusculas) {
        const char* p = std::strstr(cadena + desde, t);
        return p ? static_cast<int>(p - cadena) : -1;
    }
    int l = static_cast<int>(std::strlen(t));
    for (int p = desde; p < n - l + 1; ++p) {
        int k = 0;
        for (; k < l; ++k) {
            unsigned char a = static_cast<unsigned char>(cadena[p + k]);
            unsigned char b = static_cast<unsigned char>(t[k]);
            if (sinMayusculas) {
                a = static_cast<unsigned char>(std::toupper(a));
                b = static_cast<unsigned char>(std::toupper(b));
            }
            if (a != b) break;
        }
        if (k < l) continue;
        if (palabra) {
            if (p >= 1 && EsLetraDePalabra(cadena[p - 1])) continue;
            if (p + l < n && EsLetraDePalabra(cadena[p + l])) continue;
        }
        return p;
    }
    return -1;
}

int CDString::SiguienteDato(const char* separadores) const {
    if (cadena == nullptr || separadores == nullptr) return -1;
    int n = Longitud();
    bool comillas = false;
    int i = 0;
    for (; i < n; ++i) {
        char c = cadena[i];
        if (!comillas && std::strchr(separadores, c) != nullptr) break;
        if (c == '"') comillas = !comillas;
    }
    if (i >= n) return -1;
    while (i < n && std::strchr(separadores, cadena[i]) != nullptr) ++i;
    if (i >= n) return -1;
    return i;
}

// ---- Splitting -------------------------------------------------------------

bool CDString::Divide(const char* separadores, Vector<DString>& partes, int maximo, bool conVacios) const {
    partes.Limpia();
    int n = Longitud();
    int inicio = 0;
    for (int i = 0; i < n; ++i) {
        char c = cadena[i];
        bool parte = std::strchr(separadores, c) != nullptr && (i > 0 || conVacios) &&
                     (maximo < 0 || partes.Numero() < maximo);
        if (!parte) continue;
        if (inicio < i || conVacios) partes.AnadeNuevo()->AsignaPrimeros(cadena + inicio, i - inicio);
        inicio = i + 1;
    }
    if (inicio != n) {
        if (maximo < 0 || partes.Numero() < maximo) {
            partes.AnadeNuevo()->Asigna(cadena + inicio);
        } else if (partes.Numero() == maximo) {
            // The separator that closed the last field, then the rest.
            DString& ultimo = partes.Elemento(maximo - 1);
            ultimo.Anade(cadena + inicio - 1);
        }
    }
    return true;
}

bool CDString::ClaveValor(CDString& clave, CDString& valor) const {
    int p = BuscaCaracter('=');
    if (p < 1) return false;
    std::string texto(cadena);
    valor.Asigna(texto.c_str() + p + 1);
    clave.AsignaPrimeros(texto.c_str(), p);
    return true;
}

// ---- DString ---------------------------------------------------------------

DString::DString(const char* t) { Asigna(t); }

DString::DString(const DString& s) : CDString() {
    if (s.cadena != nullptr) {
        Reserva(s.Longitud());
        Asigna(s.Texto());
    }
}
