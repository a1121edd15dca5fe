// Files and file names: TStringNomFitx (a name with the tests the module
// needs), TCurrentDir (the current directory) and TFicheroZEB (a file over a
// C stream with safe writes, chunked transfers with progress, and a reader
// for a line-oriented text format).
#pragma once

#include <cstdio>

#include "base/dstring.h"

struct TProgreso;

// Open-mode flags of TFicheroZEB::Abre.
const int F_LECTURA = 0x01;    // "r"
const int F_ESCRITURA = 0x02;  // "w": create or empty
const int F_ANADIR = 0x04;     // "a"
const int F_TEXTO = 0x08;      // text data: get_dato_texto allowed, text header
const int F_BINARIO = 0x10;    // raw data: 4-byte header
const int F_COPIA = 0x20;      // with F_ESCRITURA: keep the old file as .BAK
const int F_CABECERA = 0x40;   // with F_LECTURA: read the integer header at once
const int F_MAS = 0x80;        // update ("+")
const int F_TEMPORAL = 0x100;  // write name + ".$$$", moved over the name at Cierra

// Piece size of chunked transfers when the caller gives none.
const int kTrozoPorDefecto = 32000;

// Misuse of the file classes: throws the message pointer itself.
[[noreturn]] void Lanza(const char* mensaje);

class TStringNomFitx {
public:
    TStringNomFitx() {}
    TStringNomFitx(const char* t) : nombre(t) {}
    TStringNomFitx(const TStringNomFitx& otro) : nombre(otro.nombre) {}
    TStringNomFitx& operator=(const TStringNomFitx& otro) {
        nombre.Asigna(otro.nombre);
        return *this;
    }
    TStringNomFitx& operator=(const char* t) {
        nombre.Asigna(t);
        return *this;
    }

    const char* Texto() const { return nombre.Texto(); }

    // An existing file, not a directory.
    bool Existe() const;
    // A drive letter, a leading backslash or a colon anywhere.
    bool TieneUnidad() const;
    // Missing or not writable.
    bool NoEscribible() const;
    // Replaces (or adds) the extension of the last path element.
    void CambiaExtension(const char* ext);
    // directorio + separator (unless it ends in one or is empty) + nombre.
    void Compone(const char* directorio, const char* nombre);

    DString nombre;
};

class TCurrentDir {
public:
    TCurrentDir();
    const char* Texto() const { return directorio.Texto(); }

    DString directorio;
};

// A temporary file that belongs to one call: made exclusively under a name
// whose number comes from a counter, so that no other process or call can be
// handed the same file, and removed when the object goes, on every way out.
class TFicheroTemporal {
public:
    // Attempts before giving up when every name tried is taken.
    static const int kIntentos = 100;

    TFicheroTemporal() {}
    ~TFicheroTemporal() { Borra(); }
    TFicheroTemporal(const TFicheroTemporal&) = delete;
    TFicheroTemporal& operator=(const TFicheroTemporal&) = delete;

    // Creates carpeta + prefijo + N + sufijo ("" is the current folder), N
    // the next value of siguiente(); a name already taken takes the next
    // value. When the folder refuses the file and conRespaldo is set, the same
    // name goes to the system's temporary folder. False when no name could be
    // created; Nombre() is then the last one tried.
    bool Crea(const char* carpeta, const char* prefijo, const char* sufijo, int (*siguiente)(), bool conRespaldo);
    const CDString& Nombre() const { return nombre.nombre; }
    // Removes the file now (if this object made it).
    void Borra();
    // The file was moved away under another name: nothing left to remove.
    void Suelta() { creado = false; }

private:
    TStringNomFitx nombre;
    bool creado = false;
};

class TFicheroZEB {
public:
    TFicheroZEB();
    ~TFicheroZEB();
    TFicheroZEB(const TFicheroZEB&) = delete;
    TFicheroZEB& operator=(const TFicheroZEB&) = delete;

    bool Abre(const TStringNomFitx& nombre, int modo);
    void Cierra();

    void get_dato_texto(DString& dato);
    int get_linea_texto(DString& texto);
    void LeeCabecera(int* destino);
    char SiguienteCaracter();
    void Devuelve(const char* t);
    void CopiaSeguridad(const TStringNomFitx& nombre);

    virtual int LeeCaracter();
    virtual int Posiciona(long pos);
    virtual long Posicion();
    virtual long Tamano();
    virtual bool Fin();
    virtual bool Escribe(const void* datos, int n, TProgreso* progreso, int trozo);
    virtual bool Lee(void* datos, int n, TProgreso* progreso, int trozo);

    bool Abierto() const { return fichero != nullptr; }
    int Modo() const { return modo; }
    int Cabecera() const { return cabecera; }
    int Linea() const { return linea; }

    // The mask of encoded text files.
    static const unsigned char kMascaraCodificado = 0x5A;

    char extraCaracter;
    int extraEntero;
    int cabecera;
    int modo;
    DString separadores;
    DString pendiente;
    int linea;
    bool codificado;
    std::FILE* fichero;
    char ultimo;
    bool usaTemporal;
    TStringNomFitx nombreReal;

private:
    // Adds a line end to linea (a CR LF pair counts once).
    void CuentaFinDeLinea(char c);
    char LeeTexto();
};
