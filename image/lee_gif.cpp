#include "image/lee_gif.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

const int kFinDatos = -2;        // a zero-length sub-block: the data ends there
const int kCadenaDemasiadoLarga = -30;
const int kSinFilas = -1;

const uint16_t kMascaras[13] = {0, 1, 3, 7, 0xF, 0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};

struct CierraFichero {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

inline int LeeByte(GifDecoderState& s, FILE* f) {
    if (s.readPos >= kTamanoLectura) {
        s.readCount = static_cast<int32_t>(std::fread(s.readBuffer, 1, kTamanoLectura, f));
        s.readPos = 0;
    }
    if (s.readPos >= s.readCount) return -1;
    return s.readBuffer[s.readPos++];
}

// The next byte of the code stream, starting a new sub-block when needed.
inline int TomaByte(GifDecoderState& s, FILE* f) {
    if (s.blockBytesLeft <= 0) {
        int n = LeeByte(s, f);
        if (n < 0) return n;
        // Valid data ends with the end code before its terminator; a
        // terminator met first ends the data.
        if (n == 0) return kFinDatos;
        int leidos = 0;
        while (leidos < n) {
            if (s.readPos >= s.readCount) {
                int b = LeeByte(s, f);
                if (b < 0) return b;
                s.blockBuffer[leidos++] = static_cast<unsigned char>(b);
                continue;
            }
            int trozo = s.readCount - s.readPos;
            if (trozo > n - leidos) trozo = n - leidos;
            std::memcpy(s.blockBuffer + leidos, s.readBuffer + s.readPos, static_cast<size_t>(trozo));
            s.readPos += trozo;
            leidos += trozo;
        }
        s.blockPos = s.blockBuffer;
        s.blockBytesLeft = static_cast<int16_t>(n);
    }
    --s.blockBytesLeft;
    return *s.blockPos++;
}

inline int LeeCodigo(GifDecoderState& s, FILE* f) {
    // Common case: the sub-block holds every byte this code can need (at
    // most three), so they are taken without the block checks.
    if (s.blockBytesLeft >= 3) {
        unsigned char* p = s.blockPos;
        int quedan = s.bitsLeft;
        unsigned actual = s.currentByte;
        if (quedan == 0) {
            actual = *p++;
            quedan = 8;
        }
        unsigned resultado = actual >> (8 - quedan);
        while (s.codeSize > quedan) {
            actual = *p++;
            resultado |= actual << quedan;
            quedan += 8;
        }
        s.blockBytesLeft = static_cast<int16_t>(s.blockBytesLeft - (p - s.blockPos));
        s.blockPos = p;
        s.currentByte = static_cast<uint8_t>(actual);
        s.bitsLeft = static_cast<int16_t>(quedan - s.codeSize);
        return static_cast<int>(resultado & kMascaras[s.codeSize]);
    }
    if (s.bitsLeft == 0) {
        int b = TomaByte(s, f);
        if (b < 0) return b;
        s.currentByte = static_cast<uint8_t>(b);
        s.bitsLeft = 8;
    }
    int resultado = s.currentByte >> (8 - s.bitsLeft);
    while (s.codeSize > s.bitsLeft) {
        int b = TomaByte(s, f);
        if (b < 0) return b;
        s.currentByte = static_cast<uint8_t>(b);
        resultado |= b << s.bitsLeft;
        s.bitsLeft = static_cast<int16_t>(s.bitsLeft + 8);
    }
    s.bitsLeft = static_cast<int16_t>(s.bitsLeft - s.codeSize);
    return resultado & kMascaras[s.codeSize];
}

size_t Lee(void* destino, size_t n, FILE* f) { return std::fread(destino, 1, n, f); }

bool LeeUno(FILE* f, unsigned char& b) { return Lee(&b, 1, f) == 1; }

void SaltaSubbloques(FILE* f) {
    unsigned char n;
    while (LeeUno(f, n) && n != 0) {
        if (std::fseek(f, n, SEEK_CUR) != 0) return;
    }
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
    int numeroPaleta = 0;
    if (hayTabla) {
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
        numeroPaleta = s.transparentIndex != -1 ? 256 : entradas;
        for (int i = 0; i < numeroPaleta; ++i)
            paleta[i] = b[i] + (static_cast<uint32_t>(g[i]) << 8) + (static_cast<uint32_t>(r[i]) << 16);
    }
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
      nextFreeCode(0), readCount(0), blockBytesLeft(0), bitsLeft(0), currentByte(0), blockPos(blockBuffer),
      rechazo(kGifAceptado) {
    std::memset(stringStack, 0, sizeof stringStack);
    std::memset(suffixTable, 0, sizeof suffixTable);
    std::memset(prefixTable, 0, sizeof prefixTable);
    std::memset(blockBuffer, 0, sizeof blockBuffer);
}

CImageIterator::CImageIterator(GifDecoderState* estado)
    : x(0), y(0), pasoColumna(0), pasoFila(0), row(nullptr), image(estado) {
    if (image && image->bitmap && image->bitmap->ImageSize() > 0) row = image->bitmap->Bits();
}

void CImageIterator::ToTopRow() {
    x = 0;
    if (!image || !image->bitmap) return;
    int alto = image->bitmap->Height();
    y = alto - 1;
    // Without a pixel area there is no row to point at.
    row = (alto > 0 && image->bitmap->ImageSize() > 0)
              ? image->bitmap->Bits() + static_cast<int64_t>(alto - 1) * image->rowStride
              : nullptr;
}

void CImageIterator::SetStorageRow(int fila) {
    if (!image || !image->bitmap || fila < 0 || fila >= image->bitmap->Height()) return;
    y = fila;
    row = image->bitmap->ImageSize() > 0 ? image->bitmap->Bits() + static_cast<int64_t>(fila) * image->rowStride
                                         : nullptr;
}

bool CImageIterator::IsInside() const {
    return image && image->bitmap && x >= 0 && x < image->bitmap->Width() && y >= 0 &&
           y < image->bitmap->Height();
}

void CImageIterator::CopyRow(const unsigned char* origen, int n) {
    if (!image || !image->bitmap) return;
    if (n < 0 || n > image->rowStride) n = image->rowStride;
    // Only a row of the image is ever written.
    if (row == nullptr || n <= 0 || y < 0 || y >= image->bitmap->Height()) return;
    std::memcpy(row, origen, static_cast<size_t>(n));
}

bool CImageIterator::StepDown() {
    if (y - 1 < 0) {
        y = -1;
        return false;
    }
    --y;
    if (row) row -= image->rowStride;
    return true;
}

int NextByte(GifDecoderState& estado, FILE* fichero) { return LeeByte(estado, fichero); }

int16_t NextCode(GifDecoderState& estado, FILE* fichero) {
    return static_cast<int16_t>(LeeCodigo(estado, fichero));
}

int DeliverRow(GifDecoderState& s, CImageIterator& it, unsigned char* linea, int longitud) {
    const int ancho = s.bitmap->Width();
    const int bpp = s.bitmap->BitCount();
    // Columns that a short last row does not reach read as index 0, like the
    // rest of a picture whose data ended early.
    if (longitud < ancho) std::memset(linea + longitud, 0, static_cast<size_t>(ancho - longitud));
    int bytes = ancho;
    if (bpp == 4) {
        for (int xx = 0; xx < ancho; xx += 2) {
            int alto4 = (linea[xx] & 0x0F) << 4;
            int bajo4 = xx + 1 < ancho ? (linea[xx + 1] & 0x0F) : 0;
            linea[xx / 2] = static_cast<unsigned char>(alto4 | bajo4);
        }
        bytes = (ancho + 1) / 2;
    } else if (bpp == 1) {
        for (int j = 0, xx = 0; xx < ancho; ++j) {
            int v = 0;
            for (int bit = 7; bit >= 0 && xx < ancho; --bit, ++xx) v |= (linea[xx] & 1) << bit;
            linea[j] = static_cast<unsigned char>(v);
        }
        bytes = (ancho + 7) / 8;
    }

    if (s.interlaced) {
        // Valid data has no rows after the fourth pass.
        if (s.pass >= 4) return kSinFilas;
        if (s.rowPos >= 0 && s.rowPos < s.rowCount) {
            it.SetStorageRow(s.rowCount - 1 - s.rowPos);
            it.CopyRow(linea, bytes);
        }
        s.rowPos += s.rowStep;
        while (s.rowPos >= s.rowCount && s.pass < 4) {
            ++s.pass;
            if (s.pass == 1) {
                s.rowPos = 4;
                s.rowStep = 8;
            } else if (s.pass == 2) {
                s.rowPos = 2;
                s.rowStep = 4;
            } else if (s.pass == 3) {
                s.rowPos = 1;
                s.rowStep = 2;
            }
        }
        return 0;
    }
    if (!it.IsInside()) return kSinFilas;
    it.CopyRow(linea, bytes);
    it.StepDown();
    return 0;
}

int16_t DecodeImageData(GifDecoderState& s, FILE* f, CImageIterator& it, int16_t lineWidth) {
    int minimo = LeeByte(s, f);
    if (minimo < 0) return static_cast<int16_t>(minimo);
    if (minimo < 2 || minimo > 9) return -20;
    s.codeSize = static_cast<int16_t>(minimo + 1);
    s.codeLimit = static_cast<int16_t>(1 << s.codeSize);
    s.clearCode = static_cast<int16_t>(1 << minimo);
    s.endCode = static_cast<int16_t>(s.clearCode + 1);
    s.firstFreeCode = s.nextFreeCode = static_cast<int16_t>(s.clearCode + 2);
    s.bitsLeft = 0;
    s.blockBytesLeft = 0;
    std::memset(s.stringStack, 0, sizeof s.stringStack);
    std::memset(s.suffixTable, 0, sizeof s.suffixTable);
    std::memset(s.prefixTable, 0, sizeof s.prefixTable);
    // A zero-width image can hold no pixel: there is nothing to decode into.
    if (lineWidth <= 0) return 0;

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[lineWidth + 1]());
    if (!buffer) return -10;
    unsigned char* linea = buffer.get();
    const int ancho = lineWidth;
    int lleno = 0;
    int viejo = 0, primero = 0;

    const int clear = s.clearCode, fin = s.endCode, libre0 = s.firstFreeCode;
    for (;;) {
        int c = LeeCodigo(s, f);
        if (c == fin) break;
        if (c < 0) return 0;
        if (c == clear) {
            s.codeSize = static_cast<int16_t>(minimo + 1);
            s.nextFreeCode = s.firstFreeCode;
            s.codeLimit = static_cast<int16_t>(1 << s.codeSize);
            do {
                c = LeeCodigo(s, f);
            } while (c == clear);
            if (c == fin) break;
            if (c < 0) return 0;
            if (c >= s.nextFreeCode) c = 0;
            viejo = primero = c;
            linea[lleno++] = static_cast<unsigned char>(c & 0xFF);
            if (lleno == ancho) {
                int r = DeliverRow(s, it, linea, ancho);
                if (r < 0) return static_cast<int16_t>(r);
                lleno = 0;
            }
            continue;
        }
        int codigo = c;
        int sp = 0;
        unsigned char* pila = s.stringStack;
        if (codigo >= s.nextFreeCode) {
            codigo = viejo;
            pila[sp++] = static_cast<unsigned char>(primero);
        }
        while (codigo >= libre0) {
            // Only malformed data (a cycle through stale entries) gets here.
            if (sp >= kTamanoTabla - 1) return kCadenaDemasiadoLarga;
            pila[sp++] = s.suffixTable[codigo];
            codigo = s.prefixTable[codigo];
        }
        pila[sp++] = static_cast<unsigned char>(codigo & 0xFF);
        if (s.nextFreeCode < s.codeLimit) {
            s.suffixTable[s.nextFreeCode] = static_cast<unsigned char>(codigo & 0xFF);
            primero = codigo;
            s.prefixTable[s.nextFreeCode] = static_cast<int16_t>(viejo);
            ++s.nextFreeCode;
            viejo = c;
        }
        if (s.nextFreeCode >= s.codeLimit && s.codeSize < 12) {
            s.codeLimit = static_cast<int16_t>(s.codeLimit * 2);
            ++s.codeSize;
        }
        while (sp > 0) {
            int n = ancho - lleno;
            if (n > sp) n = sp;
            unsigned char* destino = linea + lleno;
            for (int i = 0; i < n; ++i) destino[i] = pila[--sp];
            lleno += n;
            if (lleno == ancho) {
                int r = DeliverRow(s, it, linea, ancho);
                if (r < 0) return static_cast<int16_t>(r);
                lleno = 0;
            }
        }
    }
    if (lleno > 0) return static_cast<int16_t>(DeliverRow(s, it, linea, lleno));
    return 0;
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
