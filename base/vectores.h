// The module's growable arrays: slots of pointers to separate heap elements,
// so elements never move when the array grows. Misuse raises
// TXErrorVectoresRW with a numeric code.
#pragma once

#include <new>

// Error codes of TXErrorVectoresRW.
enum {
    kErrorSinCrecimiento = 6,   // more slots needed but the growth step is 0
    kErrorPosicion = 7,         // position outside the used slots
    kErrorHuecoVacio = 8,       // the slot at the position is null
    kErrorAnadeBase = 12,       // Anade: position below the base
    kErrorAnadeNuevoBase = 13,  // AnadeNuevo: position below the base
    kErrorMemoria = 15,         // an allocation yielded no memory
    kErrorItemNulo = 16,        // Anade: null item
};

struct TXErrorVectoresRW {
    int codigo;
    explicit TXErrorVectoresRW(int c) : codigo(c) {}
};

// Breaks into an attached debugger (a developer aid), then throws.
[[noreturn]] void LanzaErrorVector(int codigo);
bool DepuradorPresente();

inline void CompruebaMemoria(const void* p) {
    if (p == nullptr) LanzaErrorVector(kErrorMemoria);
}

inline int Minimo(int a, int b) { return a < b ? a : b; }
inline double Maximo(double a, double b) { return a > b ? a : b; }
void PonACero(void* bloque, int n);

template <class T>
class VectorI {
public:
    VectorI(int capacidadInicial, int incremento_, bool propietario_)
        : propietario(propietario_), numero(0), capacidad(capacidadInicial < 0 ? 0 : capacidadInicial),
          // A negative step would size the grown array below the count: it
          // forbids growth, as 0 does.
          incremento(incremento_ < 0 ? 0 : incremento_), base(0), elementos(nullptr) {
        if (capacidad != 0) {
            elementos = new (std::nothrow) T*[capacidad];
            CompruebaMemoria(elementos);
            for (int i = 0; i < capacidad; ++i) elementos[i] = nullptr;
        }
    }
    virtual ~VectorI() {
        if (propietario) {
            for (int i = 0; i < numero; ++i) {
                delete elementos[i];
                elementos[i] = nullptr;
            }
        }
        numero = 0;
        delete[] elementos;
    }
    VectorI(const VectorI&) = delete;
    VectorI& operator=(const VectorI&) = delete;

    void Limpia() { Limpia(propietario); }
    void Limpia(bool borrar) {
        for (int i = 0; i < numero; ++i) {
            if (elementos[i] != nullptr) {
                if (borrar) delete elementos[i];
                elementos[i] = nullptr;
            }
        }
        numero = 0;
    }
    int Numero() const { return Minimo(numero, capacidad); }
    int Base() const { return base; }
    int Capacidad() const { return capacidad; }
    bool Existe(int pos) const {
        int i = pos - base;
        return i >= 0 && i < numero && elementos[i] != nullptr;
    }
    T& Elemento(int pos) const {
        int i = pos - base;
        if (i < 0 || i >= numero) LanzaErrorVector(kErrorPosicion);
        if (elementos[i] == nullptr) LanzaErrorVector(kErrorHuecoVacio);
        return *elementos[i];
    }

    // Adds n used slots at the end. On failure the count is left as it was,
    // so the container never counts a slot it does not have.
    void Crece(int n) {
        int viejo = numero;
        numero += n;
        if (numero <= capacidad) return;
        if (incremento == 0) {
            numero = viejo;
            LanzaErrorVector(kErrorSinCrecimiento);
        }
        int nueva = numero + incremento + 2;
        T** nuevos = new (std::nothrow) T*[nueva];
        if (nuevos == nullptr) {
            numero = viejo;
            LanzaErrorVector(kErrorMemoria);
        }
        for (int i = 0; i < nueva; ++i) nuevos[i] = nullptr;
        for (int i = 0; i < viejo; ++i) nuevos[i] = elementos[i];
        delete[] elementos;
        elementos = nuevos;
        capacidad = nueva;
    }

protected:
    // Shared by Anade and AnadeNuevo: makes room at pos and returns the index.
    int AbreHueco(int pos, int codigoBase) {
        int viejo = numero;
        Crece(1);
        int i;
        if (pos < 0) {
            i = viejo;
        } else {
            i = pos - base;
            if (i < 0) {
                numero = viejo;
                LanzaErrorVector(codigoBase);
            }
            // A position past the end has no slot: it appends.
            if (i > viejo) i = viejo;
        }
        for (int k = viejo - 1; k >= i; --k) elementos[k + 1] = elementos[k];
        elementos[i] = nullptr;
        return i;
    }
    // Undoes AbreHueco when the element cannot be made.
    void CierraHueco(int i) {
        for (int k = i; k + 1 < numero; ++k) elementos[k] = elementos[k + 1];
        --numero;
        elementos[numero] = nullptr;
    }

    bool propietario;
    int numero;
    int capacidad;
    int incremento;
    int base;
    T** elementos;
};

template <class T>
class Vector : public VectorI<T> {
public:
    Vector(int capacidadInicial, int incremento) : VectorI<T>(capacidadInicial, incremento, true) {}
    virtual ~Vector() {}

    // Inserts a heap copy of *item at pos (-1 appends); returns its index.
    virtual int Anade(const T* item, int pos = -1) {
        if (item == nullptr) LanzaErrorVector(kErrorItemNulo);
        int i = this->AbreHueco(pos, kErrorAnadeBase);
        T* copia = new (std::nothrow) T();
        if (copia == nullptr) {
            this->CierraHueco(i);
            LanzaErrorVector(kErrorMemoria);
        }
        try {
            *copia = *item;
        } catch (...) {
            delete copia;
            this->CierraHueco(i);
            throw;
        }
        this->elementos[i] = copia;
        return i;
    }
    T* AnadeNuevo(int pos = -1) {
        int i = this->AbreHueco(pos, kErrorAnadeNuevoBase);
        T* nuevo = new (std::nothrow) T();
        if (nuevo == nullptr) {
            this->CierraHueco(i);
            LanzaErrorVector(kErrorMemoria);
        }
        this->elementos[i] = nuevo;
        return nuevo;
    }
};

template <class T>
class VectorP : public VectorI<T> {
public:
    VectorP(int capacidadInicial, int incremento, bool propietario)
        : VectorI<T>(capacidadInicial, incremento, propietario) {}
    virtual ~VectorP() {}
};
