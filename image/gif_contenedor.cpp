// The GIF container: signature, logical screen, colour tables, extensions
// and the first image's descriptor, read with small direct reads. The image
// data itself goes to the LZW stage (gif_lzw.cpp).
#include <cstring>
#include <memory>

#include "image/lee_gif.h"

namespace {

struct CierraFichero {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

size_t Lee(void* destino, size_t n, FILE* f) { return std::fread(destino, 1, n, f); }

bool LeeUno(FILE* f, unsigned char& b) { return Lee(&b, 1, f) == 1; }

void SaltaSubbloques(FILE* f) {
    unsigned char n;
    while (LeeUno(f, n) && n != 0) {
        if (std::fseek(f, n, SEEK_CUR) != 0) return;
    }
}

// The bitmap's palette from the colour table, with the transparency rules of
// the map server's images: with a transparent index the palette has 256
// entries, white past the table, and entry 255 white when nothing else is.
int ComponePaleta(const GifDecoderState& s, const unsigned char* tabla, int entradas, uint32_t* paleta) {
    unsigned char r[256], g[256], b[256];
    bool blanco = false;
    for (int i = 0; i < entradas; ++i) {
        r[i] = tabla[3 * i];
        g[i] = tabla[3 * i + 1];
        b[i] = tabla[3 * i + 2];
        if (r[i] == 255 && g[i] == 255 && b[i] == 255) blanco = true;
    }
    if (s.transparentIndex != -1) {
        for (int i = entradas; i < 256; ++i) r[i] = g[i] = b[i] = 255;
        if (entradas < 256) blanco = true;
        if (!blanco) r[255] = g[255] = b[255] = 255;
    }
    int numero = s.transparentIndex != -1 ? 256 : entradas;
    for (int i = 0; i < numero; ++i)
        paleta[i] = b[i] + (static_cast<uint32_t>(g[i]) << 8) + (static_cast<uint32_t>(r[i]) << 16);
    return numero;
}

// One image: descriptor, local table, palette, bitmap, pixel data.
void LeeImagen(GifDecoderState& s, FILE* f, unsigned char* tabla, int entradas, bool hayTabla) {
    unsigned char d[9];
    if (Lee(d, 9, f) != 9) return;
    int ancho = d[4] | (d[5] << 8);
    int alto = d[6] | (d[7] << 8);
    int flags = d[8];
    if (flags & 0x80) {
        entradas = 1 << ((flags & 7) + 1);
        std::memset(tabla, 0, 768);
        Lee(tabla, static_cast<size_t>(entradas) * 3, f);
        hayTabla = true;
    }
    int bpp = entradas <= 2 ? 1 : entradas <= 16 ? 4 : 8;

    if (ancho >= kAnchoMaximo) {
        s.rechazo = kGifDemasiadoAncho;
        return;
    }
    if (RowStride(ancho, bpp) * alto > kAreaMaxima) {
        s.rechazo = kGifDemasiadoGrande;
        return;
    }

    uint32_t paleta[256];
    int numeroPaleta = hayTabla ? ComponePaleta(s, tabla, entradas, paleta) : 0;
    s.bitmap->Create(ancho, alto, bpp, numeroPaleta, numeroPaleta ? paleta : nullptr);
    s.rowStride = static_cast<int32_t>(RowStride(ancho, bpp));

    CImageIterator iterador(&s);
    iterador.ToTopRow();
    s.readPos = kLecturaVacia;
    s.readCount = 0;
    s.interlaced = flags & 0x40;
    s.rowCount = alto;
    s.rowStep = 8;
    s.rowPos = 0;
    s.pass = 0;
    DecodeImageData(s, f, iterador, static_cast<int16_t>(ancho));
}

}  // namespace

GifDecoderState::GifDecoderState()
    : bitmap(nullptr), rowStride(0), transparentIndex(-1), readPos(kLecturaVacia), interlaced(0), rowPos(0),
      rowStep(8), rowCount(0), pass(0), codeSize(0), clearCode(0), endCode(0), firstFreeCode(0), codeLimit(0),
      nextFreeCode(0), readCount(0), rechazo(kGifAceptado) {
    std::memset(stringStack, 0, sizeof stringStack);
    std::memset(suffixTable, 0, sizeof suffixTable);
    std::memset(prefixTable, 0, sizeof prefixTable);
    std::memset(blockBuffer, 0, sizeof blockBuffer);
}

bool ParseGif(GifDecoderState& s, FILE* f) {
    unsigned char cabecera[13];
    std::memset(cabecera, 0, sizeof cabecera);
    size_t leidos = Lee(cabecera, 13, f);
    if (leidos < 4 || std::memcmp(cabecera, "GIF8", 4) != 0) return false;
    int flags = cabecera[10];
    int entradas = 1 << ((flags & 7) + 1);
    bool hayGlobal = (flags & 0x80) != 0;
    unsigned char tabla[768];
    std::memset(tabla, 0, sizeof tabla);
    if (hayGlobal) Lee(tabla, static_cast<size_t>(entradas) * 3, f);

    for (;;) {
        unsigned char bloque;
        if (!LeeUno(f, bloque)) break;
        if (bloque == 0x21) {
            unsigned char etiqueta;
            if (!LeeUno(f, etiqueta)) break;
            if (etiqueta == 0xF9) {
                unsigned char tamano, cuerpo[4];
                if (!LeeUno(f, tamano)) break;
                size_t n = Lee(cuerpo, 4, f);
                if (n != tamano) break;
                if (cuerpo[0] & 1) s.transparentIndex = cuerpo[3];
            }
            SaltaSubbloques(f);
            continue;
        }
        if (bloque == 0x2C) {
            LeeImagen(s, f, tabla, entradas, hayGlobal);
            break;
        }
        break;
    }
    return s.rechazo == kGifAceptado;
}

bool LeeGif(const char* ruta, TDibKU& bitmap, CDString& error) {
    std::unique_ptr<GifDecoderState> estado(new GifDecoderState());
    std::unique_ptr<FILE, CierraFichero> fichero(std::fopen(ruta ? ruta : "", "rb"));
    if (!fichero) {
        error.Asigna("Error opening ");
        error.Anade(ruta ? ruta : "");
        return false;
    }
    estado->bitmap = &bitmap;
    bool bien = ParseGif(*estado, fichero.get());
    fichero.reset();
    if (!bien) {
        switch (estado->rechazo) {
            case kGifDemasiadoAncho: error.Asigna("Image too wide "); break;
            case kGifDemasiadoGrande: error.Asigna("Image too large "); break;
            default: error.Asigna("Error 2 opening "); break;
        }
        error.Anade(ruta ? ruta : "");
    }
    return bien;
}
