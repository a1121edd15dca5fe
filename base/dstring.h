// DString: the module's text type. One pointer to zero-terminated 8-bit
// characters with a small header in front of them. The block layout is shared
// with the host (the progress record carries one), so it is fixed:
//
//   cadena - 12 .. -10  unused
//   cadena -  9         decimales (signed 8-bit, decimals written by AnadeReal)
//   cadena -  8         capacidad (32-bit; the character area holds capacidad + 2)
//   cadena -  4         reservado (32-bit, -1 at creation, carried over)
//   cadena +  0         characters and their terminating zero
//
// Blocks come from new[]/delete[] so that host and module can share them.
#pragma once

#include <cstdarg>

template <class T> class Vector;
class DString;

class CDString {
public:
    static const int kCabecera = 12;

    CDString() : cadena(nullptr) {}

    // Read without going through the module: the host side uses these too.
    const char* Texto() const { return cadena ? cadena : ""; }
    bool EsVacia() const { return cadena == nullptr || cadena[0] == 0; }
    // Frees the block (the destructor of DString, and a host that owns one).
    void Libera() {
        if (cadena) {
            delete[] (cadena - kCabecera);
            cadena = nullptr;
        }
    }

    // Storage
    void Reserva(int n);
    char* Espacio(int n);
    char* Celda(int i);
    int Capacidad() const;
    signed char Decimales() const;

    // Reading
    int Longitud() const;
    char Caracter(int i) const;
    long Entero() const;
    int Compara(const char* t) const;
    bool Igual(const char* t) const { return Compara(t) == 0; }
    bool Distinto(const char* t) const { return Compara(t) != 0; }

    // Replacing the text
    CDString& Asigna(const char* t);
    CDString& Asigna(const CDString& s);
    CDString& AsignaPrimeros(const char* t, int n);
    int Formatea(const char* formato, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    int FormateaV(const char* formato, va_list args);

    // Appending
    CDString& Anade(const char* t);
    CDString& Anade(const CDString& s);
    CDString& AnadeCaracter(char c);
    CDString& AnadeEntero(int v);
    CDString& AnadeSinSigno(unsigned v);
    void PonDecimales(signed char d);
    CDString& AnadeReal(double v);

    // Editing in place
    void Mayusculas();
    void Recorta();
    // Every search starts again at the beginning, so text that a replacement
    // forms with its neighbours is replaced too. Some pairs would go on for
    // ever that way ("ab" by "bbaa" in "aab"): the work is bounded to the
    // text's length plus one replacements (its square for pairs of equal
    // length), which no pair that shortens the text ever reaches.
    int Reemplaza(const char* buscado, const char* nuevo, bool palabra);
    // Cuts the text at position n (no effect when n is at or past the end).
    void Corta(int n);

    // Searching: a position, or -1
    int BuscaCaracter(char c) const;
    int BuscaUltimoCaracter(char c) const;
    int BuscaTexto(const char* t) const;
    int BuscaDesde(const char* t, int desde, bool palabra, bool sinMayusculas) const;
    int SiguienteDato(const char* separadores) const;

    // Splitting
    bool Divide(const char* separadores, Vector<DString>& partes, int maximo, bool conVacios) const;
    bool ClaveValor(CDString& clave, CDString& valor) const;

    static bool EsLetraDePalabra(char c);

protected:
    char* cadena;

private:
    bool Contiene(const char* p) const;
};

class DString : public CDString {
public:
    DString() {}
    DString(const char* t);
    DString(const DString& s);
    ~DString() { Libera(); }
    DString& operator=(const DString& s) {
        Asigna(s);
        return *this;
    }
    DString& operator=(const char* t) {
        Asigna(t);
        return *this;
    }
};
