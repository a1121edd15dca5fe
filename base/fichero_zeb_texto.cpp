// TFicheroZEB's text modes (items, lines, headers, encoded text) and its
// backup copies: foundation the exports never reach. For code that reads or
// rewrites the module's own text files; the plug-in's paths use binary files.
#include <string>

#include "base/fichero_zeb.h"
#include "platform/ficheros.h"

void TFicheroZEB::CopiaSeguridad(const TStringNomFitx& nombre) {
    TStringNomFitx copia(nombre);
    copia.CambiaExtension("BAK");
    PlataformaCopiaFichero(nombre.Texto(), copia.Texto());
}

void TFicheroZEB::LeeCabecera(int* destino) {
    if (modo & F_TEXTO) {
        DString dato;
        get_dato_texto(dato);
        *destino = static_cast<int>(dato.Entero());
    }
    if (modo & F_BINARIO) Lee(destino, 4, nullptr, -1);
}

char TFicheroZEB::SiguienteCaracter() {
    if (!pendiente.EsVacia()) {
        char c = pendiente.Caracter(0);
        DString resto(pendiente.Texto() + 1);
        pendiente.Asigna(resto);
        return c;
    }
    return static_cast<char>(LeeCaracter());
}

void TFicheroZEB::Devuelve(const char* t) {
    DString nuevo(t ? t : "");
    nuevo.Anade(pendiente);
    pendiente.Asigna(nuevo);
}

void TFicheroZEB::CuentaFinDeLinea(char c) {
    if (c == '\r' || (c == '\n' && ultimo != '\r')) ++linea;
}

char TFicheroZEB::LeeTexto() {
    char c = SiguienteCaracter();
    if (codificado && !Fin()) c = static_cast<char>(c ^ static_cast<char>(kMascaraCodificado));
    return c;
}

int TFicheroZEB::get_linea_texto(DString& texto) {
    if (!pendiente.EsVacia()) {
        texto.Asigna(pendiente);
        pendiente.Asigna("");
        ++linea;
        return linea;
    }
    const size_t kMaximo = 19999;
    // Collected aside, so that the item gets a block of its own size, not
    // one of the longest item allowed.
    std::string area;
    char c = ultimo;
    int r = linea;
    for (;;) {
        area.clear();
        do {
            ultimo = c;
            c = LeeTexto();
            CuentaFinDeLinea(c);
        } while ((c == ' ' || c == '\t' || c == '\n' || c == '\r') && !Fin());
        while (!Fin() && c != '\n' && c != ';' && c != 0 && c != '\r') {
            if (area.size() < kMaximo) area.push_back(c);
            ultimo = c;
            c = LeeTexto();
        }
        r = linea;
        CuentaFinDeLinea(c);
        if (c == ';') {
            do {
                ultimo = c;
                c = LeeTexto();
                CuentaFinDeLinea(c);
            } while (c != '\n' && c != '\r' && !Fin());
        }
        if (!area.empty() || Fin()) break;
    }
    ultimo = c;
    size_t n = area.size();
    while (n > 1 && (area[n - 1] == ' ' || area[n - 1] == '\t')) --n;
    texto.AsignaPrimeros(area.c_str(), static_cast<int>(n));
    if (texto.Igual("VOID")) texto.Asigna("");
    return r;
}

void TFicheroZEB::get_dato_texto(DString& dato) {
    if ((modo & F_TEXTO) == 0 || (modo & F_LECTURA) == 0) Lanza("Error en get_dato_texto");
    DString item;
    get_linea_texto(item);
    int p = item.SiguienteDato(separadores.Texto());
    dato.Asigna(item);
    if (p >= 0) {
        dato.Corta(p);
        Devuelve(item.Texto() + p);
        --linea;
    }
}
