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

// Gathers the n bytes of a sub-block into blockBuffer: 0, or the read error
// that cut it short.
int ReuneSubbloque(GifDecoderState& s, FILE* f, int n) {
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
    return 0;
}

// The next byte of the code stream, starting a new sub-block when needed.
inline int TomaByte(GifDecoderState& s, FILE* f) {
    if (s.blockBytesLeft <= 0) {
        int n = LeeByte(s, f);
        if (n < 0) return n;
        // Valid data ends with the end code before its terminator; a
        // terminator met first ends the data.
        if (n == 0) return kFinDatos;
        int error = ReuneSubbloque(s, f, n);
        if (error < 0) return error;
        s.blockPos = s.blockBuffer;
        s.blockBytesLeft = static_cast<int16_t>(n);
    }
    --s.blockBytesLeft;
    return *s.blockPos++;
}

inline int LeeCodigo(GifDecoderState& s, FILE* f) {
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

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the code reader takes 8 bytes of the stream as one little-endian number"
#endif

// Room after the line for a whole string (at most 4091 bytes) begun in its
// last column, and for the 7 bytes an 8-byte store may write past a string.
const int kHolguraLinea = kTamanoTabla + 8;

// The next sub-block of image data (n gets its length), or null when the
// data ends first: a zero-length sub-block, the end of the file, or a
// sub-block cut short (whose bytes are then not used).
const unsigned char* SiguienteSubbloque(GifDecoderState& s, FILE* f, int& n) {
    n = LeeByte(s, f);
    if (n <= 0) return nullptr;
    if (s.readCount - s.readPos >= n) {
        // Usually the whole sub-block is in the read buffer already.
        s.readPos += n;
        return s.readBuffer + s.readPos - n;
    }
    return ReuneSubbloque(s, f, n) < 0 ? nullptr : s.blockBuffer;
}

#define EN_LINEA inline __attribute__((always_inline))

// Codes of the image data, least significant bit first, out of a 64-bit
// reservoir filled 8 bytes at a time while the sub-block holds that many.
struct LectorCodigos {
    uint64_t bits = 0;
    int nbits = 0;
    const unsigned char* p = nullptr;
    const unsigned char* fin = nullptr;

    // The next code of tamano bits, or -1 when the data ends before it. While
    // the sub-block holds 8 more bytes the reservoir is topped up before every
    // code, which costs less than asking whether it needs to be.
    EN_LINEA int Codigo(GifDecoderState& s, FILE* f, int tamano) {
        if (fin - p >= 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            bits |= v << nbits;
            p += (63 - nbits) >> 3;
            nbits |= 56;
        } else {
            while (nbits < tamano) {
                while (p < fin && nbits <= 56) {
                    bits |= static_cast<uint64_t>(*p++) << nbits;
                    nbits += 8;
                }
                if (nbits >= tamano) break;
                int n;
                p = SiguienteSubbloque(s, f, n);
                if (p == nullptr) return -1;
                fin = p + n;
            }
        }
        int c = static_cast<int>(bits & ((uint64_t{1} << tamano) - 1));
        bits >>= tamano;
        nbits -= tamano;
        return c;
    }
};

// lengthMinus1 carries this flag when every byte of the string is the same:
// flat areas of a map are written with one fill instead of chunk by chunk.
const uint16_t kUniforme = 0x8000;

// Writes the string of code c at destino and returns its length: one fill
// for a string of one repeated byte, else 8 bytes at a time from its last
// chunk back to its first. Up to 7 bytes past the string's end are overwritten.
EN_LINEA int EscribeCadena(const GifDecoderState& s, int c, unsigned char* destino) {
    int v = s.lengthMinus1[c];
    int lm = v & ~kUniforme;
    if (v >= (kUniforme | 16)) {
        std::memset(destino, s.chunk[c][0], static_cast<size_t>(lm + 1));
        return lm + 1;
    }
    unsigned char* q = destino + (lm & ~7);
    std::memcpy(q, s.chunk[c], 8);
    while (q > destino) {
        q -= 8;
        c = s.chunkPrefix[c];
        std::memcpy(q, s.chunk[c], 8);
    }
    return lm + 1;
}

// Table slot nuevo = the string of viejo followed by b, in both forms.
EN_LINEA void AnadeEntrada(GifDecoderState& s, int nuevo, int viejo, unsigned char b) {
    int v = s.lengthMinus1[viejo];
    int lm = (v & ~kUniforme) + 1;
    // Every byte of a one-byte string's chunk is that byte.
    int igual = b == s.chunk[viejo][0];
    s.lengthMinus1[nuevo] = static_cast<uint16_t>(lm | (v & kUniforme & -igual));
    // The new byte extends viejo's last chunk, or opens a chunk of its own
    // after viejo's full one (the copied bytes then lie past the string's end).
    std::memcpy(s.chunk[nuevo], s.chunk[viejo], 8);
    int propio = ((lm & 7) != 0) - 1;  // -1 when the byte opens a chunk
    s.chunkPrefix[nuevo] = static_cast<uint16_t>((s.chunkPrefix[viejo] & ~propio) | (viejo & propio));
    s.chunk[nuevo][lm & 7] = b;
    s.suffixTable[nuevo] = b;
    s.prefixTable[nuevo] = static_cast<int16_t>(viejo);
}

// First byte of the string of code c: the first byte of its first chunk.
int PrimerByte(const GifDecoderState& s, int c) {
    while ((s.lengthMinus1[c] & ~kUniforme) >= 8) c = s.chunkPrefix[c];
    return s.chunk[c][0];
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

// Packs a line of palette indices in place at 1 or 4 bits per pixel (leftmost
// pixel in the high bits) and returns its length in bytes. Eight columns go at
// a time: each step reads its 8 bytes before writing the 4 or 1 that land at or
// before them.
int EmpaquetaFila(unsigned char* linea, int ancho, int bpp) {
    int x = 0, j = 0;
    if (bpp == 4) {
        for (; x + 8 <= ancho; x += 8, j += 4) {
            uint64_t v;
            std::memcpy(&v, linea + x, 8);
            v &= 0x0F0F0F0F0F0F0F0FULL;
            // In each 16-bit lane: the left pixel shifted up beside the right one.
            v = ((v << 4) | (v >> 8)) & 0x00FF00FF00FF00FFULL;
            v = (v | (v >> 8)) & 0x0000FFFF0000FFFFULL;
            uint32_t cuatro = static_cast<uint32_t>(v | (v >> 16));
            std::memcpy(linea + j, &cuatro, 4);
        }
        for (; x < ancho; x += 2, ++j) {
            int alto4 = (linea[x] & 0x0F) << 4;
            int bajo4 = x + 1 < ancho ? (linea[x + 1] & 0x0F) : 0;
            linea[j] = static_cast<unsigned char>(alto4 | bajo4);
        }
        return j;
    }
    if (bpp == 1) {
        for (; x + 8 <= ancho; x += 8, ++j) {
            uint64_t v;
            std::memcpy(&v, linea + x, 8);
            // Bit 0 of byte i travels to bit 63 - i; the top byte is the packed one.
            linea[j] = static_cast<unsigned char>(((v & 0x0101010101010101ULL) * 0x8040201008040201ULL) >> 56);
        }
        if (x < ancho) {
            int v = 0;
            for (int bit = 7; x < ancho; --bit, ++x) v |= (linea[x] & 1) << bit;
            linea[j++] = static_cast<unsigned char>(v);
        }
        return j;
    }
    return ancho;
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

    bool guarda = true;
    if (s.interlaced) {
        // Valid data has no rows after the fourth pass.
        if (s.pass >= 4) return kSinFilas;
        guarda = s.rowPos >= 0 && s.rowPos < s.rowCount;
        if (guarda) it.SetStorageRow(s.rowCount - 1 - s.rowPos);
    } else if (!it.IsInside()) {
        return kSinFilas;
    }
    if (guarda) it.CopyRow(linea, EmpaquetaFila(linea, ancho, bpp));

    if (s.interlaced) {
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
    it.StepDown();
    return 0;
}

namespace {

// Hands every whole row of the line over and keeps what follows the last one
// at the line's start. Negative: DeliverRow's refusal.
EN_LINEA int EntregaFilas(GifDecoderState& s, CImageIterator& it, unsigned char* linea, int ancho, int& lleno) {
    int hecho = 0;
    do {
        int r = DeliverRow(s, it, linea + hecho, ancho);
        if (r < 0) return r;
        hecho += ancho;
    } while (lleno - hecho >= ancho);
    lleno -= hecho;
    if (lleno > 0) std::memmove(linea, linea + hecho, static_cast<size_t>(lleno));
    return 0;
}

}  // namespace

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

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[lineWidth + kHolguraLinea]());
    if (!buffer) return -10;
    unsigned char* const linea = buffer.get();
    const int ancho = lineWidth;
    const int clear = s.clearCode, fin = s.endCode, libre0 = s.firstFreeCode;
    for (int i = 0; i < clear; ++i) {
        s.lengthMinus1[i] = kUniforme;
        s.chunk[i][0] = static_cast<unsigned char>(i);
    }
    int tamano = minimo + 1, limite = 1 << tamano, libre = libre0;
    int lleno = 0;
    int viejo = 0, primero = 0;  // data that does not open with a clear code still decodes
    LectorCodigos lector;
    int c, r;

    for (;;) {
        c = lector.Codigo(s, f, tamano);
        int n;
        unsigned char b;
        // Literals and table codes alike: a literal is a string of length 1.
        if (c >= libre || c < 0 || static_cast<unsigned>(c - clear) < 2u) {
            if (c == fin) goto terminado;
            if (c < 0) return 0;
            if (c == clear) goto limpia;
            // Past the next free slot a code's string stops being fixed when
            // the code is made: see below.
            if (c > libre) goto desdeAqui;
            // The code being made: the previous string and its own first byte.
            n = EscribeCadena(s, viejo, linea + lleno);
            b = linea[lleno];
            linea[lleno + n++] = b;
        } else {
            n = EscribeCadena(s, c, linea + lleno);
            b = linea[lleno];
        }
        // A full table takes no entry, and the previous code stays until the
        // next clear code. Otherwise the table is never full: the width grows
        // as soon as the last slot it can name is taken.
        if (libre < kTamanoTabla) {
            AnadeEntrada(s, libre, viejo, b);
            ++libre;
            viejo = c;
            if (libre == 1 << tamano && tamano < 12) ++tamano;
        }
        lleno += n;
        if (lleno >= ancho && (r = EntregaFilas(s, it, linea, ancho, lleno)) < 0) return static_cast<int16_t>(r);
        continue;

    limpia:
        tamano = minimo + 1;
        libre = libre0;
        do {
            c = lector.Codigo(s, f, tamano);
        } while (c == clear);
        if (c == fin) goto terminado;
        if (c < 0) return 0;
        if (c >= libre) c = 0;
        viejo = c;
        linea[lleno++] = static_cast<unsigned char>(c);
        if (lleno == ancho && (r = EntregaFilas(s, it, linea, ancho, lleno)) < 0) return static_cast<int16_t>(r);
    }

desdeAqui:
    // Only malformed data names a code above the next free slot. Its string
    // is taken as the previous one's, and it becomes the previous code while
    // naming no string yet; later strings built on it follow whatever its
    // slot holds when they are unwound, stale entries of earlier tables
    // included. So from here each string is unwound byte by byte through the
    // one-byte table as it stands at that moment.
    limite = 1 << tamano;
    primero = PrimerByte(s, viejo);
    for (;;) {
        int codigo = c;
        int sp = 0;
        unsigned char* pila = s.stringStack;
        if (codigo >= libre) {
            codigo = viejo;
            pila[sp++] = static_cast<unsigned char>(primero);
        }
        while (codigo >= libre0) {
            // A cycle through stale entries would unwind forever.
            if (sp >= kTamanoTabla - 1) return kCadenaDemasiadoLarga;
            pila[sp++] = s.suffixTable[codigo];
            codigo = s.prefixTable[codigo];
        }
        pila[sp++] = static_cast<unsigned char>(codigo & 0xFF);
        if (libre < limite) {
            s.suffixTable[libre] = static_cast<unsigned char>(codigo & 0xFF);
            primero = codigo;
            s.prefixTable[libre] = static_cast<int16_t>(viejo);
            ++libre;
            viejo = c;
        }
        if (libre >= limite && tamano < 12) {
            limite *= 2;
            ++tamano;
        }
        while (sp > 0) {
            int k = ancho - lleno;
            if (k > sp) k = sp;
            unsigned char* destino = linea + lleno;
            for (int i = 0; i < k; ++i) destino[i] = pila[--sp];
            lleno += k;
            if (lleno == ancho && (r = EntregaFilas(s, it, linea, ancho, lleno)) < 0) return static_cast<int16_t>(r);
        }
        for (;;) {
            c = lector.Codigo(s, f, tamano);
            if (c == fin) goto terminado;
            if (c < 0) return 0;
            if (c != clear) break;
            tamano = minimo + 1;
            libre = libre0;
            limite = 1 << tamano;
            do {
                c = lector.Codigo(s, f, tamano);
            } while (c == clear);
            if (c == fin) goto terminado;
            if (c < 0) return 0;
            if (c >= libre) c = 0;
            viejo = primero = c;
            linea[lleno++] = static_cast<unsigned char>(c);
            if (lleno == ancho && (r = EntregaFilas(s, it, linea, ancho, lleno)) < 0) return static_cast<int16_t>(r);
        }
    }

terminado:
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
