#include "base/fichero_zeb.h"

#include <cctype>
#include <cstring>
#include <string>

#include "platform/ficheros.h"
#include "base/progreso.h"

void Lanza(const char* mensaje) { throw mensaje; }

// ---- TStringNomFitx --------------------------------------------------------

bool TStringNomFitx::TieneUnidad() const {
    if (nombre.Longitud() < 2) return false;
    return nombre.Caracter(1) == ':' || nombre.Caracter(0) == '\\' || nombre.BuscaCaracter(':') >= 0;
}

bool TStringNomFitx::Existe() const {
    if (TieneUnidad()) {
        char d = static_cast<char>(std::toupper(static_cast<unsigned char>(nombre.Caracter(0))));
        // Only a letter can name a drive: a colon further on ("/tmp/d:x/f")
        // says nothing about drives, and the file system decides.
        if (d != 'C' && d >= 'A' && d <= 'Z' && (PlataformaUnidadesLogicas() & (1ul << (d - 'A'))) == 0)
            return false;
    }
    unsigned long a = PlataformaAtributosFichero(nombre.Texto());
    return a != kAtributosInvalidos && (a & kAtributoDirectorio) == 0;
}

bool TStringNomFitx::NoEscribible() const { return !PlataformaEscribible(nombre.Texto()); }

void TStringNomFitx::CambiaExtension(const char* ext) {
    int p = nombre.BuscaUltimoCaracter('.');
    int b = nombre.BuscaUltimoCaracter(kSeparadorRuta);
    if (p >= 0 && b < p) nombre.Corta(p);
    if (ext != nullptr && ext[0] != 0) {
        if (ext[0] != '.') nombre.AnadeCaracter('.');
        nombre.Anade(ext);
    }
}

void TStringNomFitx::Compone(const char* directorio, const char* fichero) {
    nombre.Asigna(directorio ? directorio : "");
    int n = nombre.Longitud();
    if (n > 0 && !EsSeparadorRuta(nombre.Caracter(n - 1))) nombre.AnadeCaracter(kSeparadorRuta);
    nombre.Anade(fichero ? fichero : "");
}

// ---- TCurrentDir -----------------------------------------------------------

TCurrentDir::TCurrentDir() { directorio.Asigna(PlataformaDirectorioActual().c_str()); }

// ---- TFicheroTemporal ------------------------------------------------------

bool TFicheroTemporal::Crea(const char* carpeta, const char* prefijo, const char* sufijo, int (*siguiente)(),
                            bool conRespaldo) {
    Borra();
    std::string respaldo;
    const char* aqui = carpeta != nullptr ? carpeta : "";
    bool enRespaldo = false;
    for (int intento = 0; intento < kIntentos; ++intento) {
        DString fichero(prefijo);
        fichero.AnadeEntero(siguiente());
        fichero.Anade(sufijo);
        for (;;) {
            nombre.Compone(aqui, fichero.Texto());
            TCreacionExclusiva r = PlataformaCreaExclusivo(nombre.Texto());
            if (r == kCreado) {
                creado = true;
                return true;
            }
            if (r == kYaExiste) break;
            // The folder refuses files: the same name in the system's one.
            if (enRespaldo || !conRespaldo) return false;
            respaldo = PlataformaCarpetaTemporal();
            aqui = respaldo.c_str();
            enRespaldo = true;
        }
    }
    return false;
}

void TFicheroTemporal::Borra() {
    if (!creado) return;
    PlataformaBorraFichero(nombre.Texto());
    creado = false;
}

// ---- TFicheroZEB -----------------------------------------------------------

TFicheroZEB::TFicheroZEB()
    : extraCaracter(' '),
      extraEntero(2),
      cabecera(0),
      modo(0),
      separadores(" \t\n"),
      linea(0),
      codificado(false),
      fichero(nullptr),
      ultimo(0),
      usaTemporal(false),
      nombreReal("") {}

TFicheroZEB::~TFicheroZEB() { Cierra(); }

bool TFicheroZEB::Abre(const TStringNomFitx& nombre, int modoPedido) {
    TStringNomFitx n(nombre);
    codificado = false;
    if (fichero != nullptr) Lanza("Error, fichero abierto ya en TFicheroZEB::Abre");
    modo = modoPedido;
    ultimo = 0;

    const int acceso = modo & (F_LECTURA | F_ESCRITURA | F_ANADIR);
    char tipo[4] = {0, 0, 0, 0};
    if (acceso == F_LECTURA)
        tipo[0] = 'r';
    else if (acceso == F_ESCRITURA)
        tipo[0] = 'w';
    else if (acceso == F_ANADIR)
        tipo[0] = 'a';
    else
        Lanza("Error en TFicheroZEB::Abre");
    int i = 1;
    if (modo & F_MAS) tipo[i++] = '+';
    tipo[i] = 'b';

    if ((modo & F_ESCRITURA) && (modo & F_COPIA)) CopiaSeguridad(n);
    if (modo & F_TEMPORAL) {
        if (n.Existe() && n.NoEscribible()) return false;
        usaTemporal = true;
        nombreReal = n;
        n.nombre.Anade(".$$$");
    }
    fichero = std::fopen(n.Texto(), tipo);
    linea = 0;
    if (fichero == nullptr) {
        // Nothing was written: a later Cierra has no temporary file to move.
        usaTemporal = false;
        return false;
    }
    if ((modo & F_LECTURA) && (modo & F_CABECERA)) LeeCabecera(&cabecera);
    return true;
}

void TFicheroZEB::Cierra() {
    if (fichero != nullptr) {
        std::fclose(fichero);
        fichero = nullptr;
    }
    if (!usaTemporal) return;
    TStringNomFitx t(nombreReal);
    t.nombre.Anade(".$$$");
    if (!t.Existe()) return;
    if (nombreReal.Existe()) {
        CopiaSeguridad(nombreReal);
        PlataformaBorraFichero(nombreReal.Texto());
    }
    PlataformaMueveFichero(t.Texto(), nombreReal.Texto());
    // Done with this write: a later Cierra (the destructor, or after a plain
    // reopen) must not move an unrelated ".$$$" over the target again.
    usaTemporal = false;
}

int TFicheroZEB::LeeCaracter() { return fichero ? std::fgetc(fichero) : -1; }

int TFicheroZEB::Posiciona(long pos) { return fichero ? std::fseek(fichero, pos, SEEK_SET) : -1; }

long TFicheroZEB::Posicion() { return fichero ? std::ftell(fichero) : -1; }

long TFicheroZEB::Tamano() {
    if (fichero == nullptr) return -1;
    long aqui = std::ftell(fichero);
    std::fseek(fichero, 0, SEEK_END);
    long tamano = std::ftell(fichero);
    std::fseek(fichero, aqui, SEEK_SET);
    return tamano;
}

bool TFicheroZEB::Fin() { return fichero == nullptr || std::feof(fichero) != 0; }

bool TFicheroZEB::Escribe(const void* datos, int n, TProgreso* progreso, int trozo) {
    if (fichero == nullptr || n < 0) return false;
    if (progreso == nullptr) return std::fwrite(datos, 1, static_cast<size_t>(n), fichero) == static_cast<size_t>(n);
    if (trozo < 1) trozo = kTrozoPorDefecto;
    progreso->bytesHechos = 0;
    progreso->bytesTotal = n;
    const char* p = static_cast<const char*>(datos);
    int quedan = n;
    while (quedan > 0) {
        int pieza = quedan < trozo ? quedan : trozo;
        if (!Escribe(p, pieza, nullptr, 0)) return false;
        p += pieza;
        quedan -= pieza;
        progreso->bytesHechos += pieza;
        if (progreso->cancelar != 0) return false;
    }
    return true;
}

bool TFicheroZEB::Lee(void* datos, int n, TProgreso* progreso, int trozo) {
    if (fichero == nullptr || n < 0) return false;
    if (progreso == nullptr) return std::fread(datos, 1, static_cast<size_t>(n), fichero) == static_cast<size_t>(n);
    // A piece below 1 would never finish; it gets the writer's default.
    if (trozo < 1) trozo = kTrozoPorDefecto;
    progreso->bytesHechos = 0;
    progreso->bytesTotal = n;
    char* p = static_cast<char*>(datos);
    int quedan = n;
    while (quedan > 0) {
        int pieza = quedan < trozo ? quedan : trozo;
        if (!Lee(p, pieza, nullptr, 0)) return false;
        p += pieza;
        quedan -= pieza;
        progreso->bytesHechos += pieza;
        if (progreso->cancelar != 0) return false;
    }
    return true;
}
