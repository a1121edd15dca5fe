// The LZW decoding of one GIF image's data: codes read out of the sub-blocks,
// strings written straight into a line, whole lines handed to the rows
// (gif_filas.cpp). Valid data takes the fast path; data that names a code
// past the next free slot continues on the tolerant path, which decodes it as
// the stack-based decoder it replaces did, stale table entries included.
#include <cstring>
#include <memory>
#include <new>

#include "image/lee_gif.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the code reader takes 8 bytes of the stream as one little-endian number"
#endif

#define EN_LINEA inline __attribute__((always_inline))

namespace {

// Room after the line for a whole string (at most 4091 bytes) begun in its
// last column, and for the 7 bytes an 8-byte store may write past a string.
const int kHolguraLinea = kTamanoTabla + 8;

// lengthMinus1 carries this flag when every byte of the string is the same:
// flat areas of a map are written with one fill instead of chunk by chunk.
const uint16_t kUniforme = 0x8000;

// The next byte of the image data through readBuffer, -1 at the end of the file.
inline int LeeByte(GifDecoderState& s, FILE* f) {
    if (s.readPos >= kTamanoLectura) {
        s.readCount = static_cast<int32_t>(std::fread(s.readBuffer, 1, kTamanoLectura, f));
        s.readPos = 0;
    }
    if (s.readPos >= s.readCount) return -1;
    return s.readBuffer[s.readPos++];
}

// Gathers the n bytes of a sub-block that readBuffer does not hold whole into
// blockBuffer: false when the file ends first.
bool ReuneSubbloque(GifDecoderState& s, FILE* f, int n) {
    int leidos = 0;
    while (leidos < n) {
        if (s.readPos >= s.readCount) {
            int b = LeeByte(s, f);
            if (b < 0) return false;
            s.blockBuffer[leidos++] = static_cast<unsigned char>(b);
            continue;
        }
        int trozo = s.readCount - s.readPos;
        if (trozo > n - leidos) trozo = n - leidos;
        std::memcpy(s.blockBuffer + leidos, s.readBuffer + s.readPos, static_cast<size_t>(trozo));
        s.readPos += trozo;
        leidos += trozo;
    }
    return true;
}

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
    return ReuneSubbloque(s, f, n) ? s.blockBuffer : nullptr;
}

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

// How a stretch of the decoding ended, besides a status of its own (≤ 0) that
// ends the decoding as it stands.
const int kCodigoFin = 1;       // the end code: a partial last row still goes out
const int kFueraDeTabla = 2;    // a code past the next free slot: the tolerant path takes over
const int kSigue = 3;

// One image's decoding: the code reader, the table's size and width, the
// previous code and the line being filled. A local of DecodeImageData that
// both paths work on in turn; they are inlined into it, so that it is never
// in memory but in registers (passed out of line, it costs the fast path a
// tenth more instructions).
struct Lzw {
    GifDecoderState& s;
    FILE* f;
    CImageIterator& it;
    unsigned char* linea;
    int ancho;
    int minimo, clear, fin, libre0;
    int tamano, libre, viejo, lleno;
    int codigo;  // the code that sent the decoding to the tolerant path
    LectorCodigos lector;
};

// Hands every whole row of the line over and keeps what follows the last one
// at the line's start. Negative: DeliverRow's refusal.
EN_LINEA int EntregaFilas(Lzw& d) {
    int hecho = 0;
    do {
        int r = DeliverRow(d.s, d.it, d.linea + hecho, d.ancho);
        if (r < 0) return r;
        hecho += d.ancho;
    } while (d.lleno - hecho >= d.ancho);
    d.lleno -= hecho;
    if (d.lleno > 0) std::memmove(d.linea, d.linea + hecho, static_cast<size_t>(d.lleno));
    return 0;
}

// After a clear code, for both paths: the table back to its roots and the
// width to the minimum. The first code that follows (more clear codes aside)
// is a literal, taken as 0 while the table cannot name it yet; it becomes the
// previous code and goes into the line.
EN_LINEA int Limpia(Lzw& d) {
    d.tamano = d.minimo + 1;
    d.libre = d.libre0;
    int c;
    do {
        c = d.lector.Codigo(d.s, d.f, d.tamano);
    } while (c == d.clear);
    if (c == d.fin) return kCodigoFin;
    if (c < 0) return kGifBien;
    if (c >= d.libre) c = 0;
    d.viejo = c;
    d.linea[d.lleno++] = static_cast<unsigned char>(c);
    if (d.lleno == d.ancho) {
        int r = EntregaFilas(d);
        if (r < 0) return r;
    }
    return kSigue;
}

// Valid data: every string is written whole out of the chunk table, and a
// table slot holds its string from the moment it is made.
EN_LINEA int DecodificaRapido(Lzw& d) {
    GifDecoderState& s = d.s;
    const int clear = d.clear;
    for (;;) {
        int c = d.lector.Codigo(s, d.f, d.tamano);
        int n;
        unsigned char b;
        // Literals and table codes alike: a literal is a string of length 1.
        if (c >= d.libre || c < 0 || static_cast<unsigned>(c - clear) < 2u) {
            if (c == d.fin) return kCodigoFin;
            if (c < 0) return kGifBien;
            if (c == clear) {
                int r = Limpia(d);
                if (r != kSigue) return r;
                continue;
            }
            // Past the next free slot a code's string stops being fixed when
            // the code is made: see the tolerant path.
            if (c > d.libre) {
                d.codigo = c;
                return kFueraDeTabla;
            }
            // The code being made: the previous string and its own first byte.
            n = EscribeCadena(s, d.viejo, d.linea + d.lleno);
            b = d.linea[d.lleno];
            d.linea[d.lleno + n++] = b;
        } else {
            n = EscribeCadena(s, c, d.linea + d.lleno);
            b = d.linea[d.lleno];
        }
        // A full table takes no entry, and the previous code stays until the
        // next clear code. Otherwise the table is never full: the width grows
        // as soon as the last slot it can name is taken.
        if (d.libre < kTamanoTabla) {
            AnadeEntrada(s, d.libre, d.viejo, b);
            ++d.libre;
            d.viejo = c;
            if (d.libre == 1 << d.tamano && d.tamano < 12) ++d.tamano;
        }
        d.lleno += n;
        if (d.lleno >= d.ancho) {
            int r = EntregaFilas(d);
            if (r < 0) return r;
        }
    }
}

// Only malformed data names a code above the next free slot. Its string is
// taken as the previous one's, and it becomes the previous code while naming
// no string yet; later strings built on it follow whatever its slot holds
// when they are unwound, stale entries of earlier tables included. So from
// here each string is unwound byte by byte through the one-byte table as it
// stands at that moment.
EN_LINEA int DecodificaTolerante(Lzw& d) {
    GifDecoderState& s = d.s;
    int c = d.codigo;
    int limite = 1 << d.tamano;
    int primero = PrimerByte(s, d.viejo);
    for (;;) {
        int codigo = c;
        int sp = 0;
        unsigned char* pila = s.stringStack;
        if (codigo >= d.libre) {
            codigo = d.viejo;
            pila[sp++] = static_cast<unsigned char>(primero);
        }
        while (codigo >= d.libre0) {
            // A cycle through stale entries would unwind forever.
            if (sp >= kTamanoTabla - 1) return kGifCadenaDemasiadoLarga;
            pila[sp++] = s.suffixTable[codigo];
            codigo = s.prefixTable[codigo];
        }
        pila[sp++] = static_cast<unsigned char>(codigo & 0xFF);
        if (d.libre < limite) {
            s.suffixTable[d.libre] = static_cast<unsigned char>(codigo & 0xFF);
            primero = codigo;
            s.prefixTable[d.libre] = static_cast<int16_t>(d.viejo);
            ++d.libre;
            d.viejo = c;
        }
        if (d.libre >= limite && d.tamano < 12) {
            limite *= 2;
            ++d.tamano;
        }
        while (sp > 0) {
            int k = d.ancho - d.lleno;
            if (k > sp) k = sp;
            unsigned char* destino = d.linea + d.lleno;
            for (int i = 0; i < k; ++i) destino[i] = pila[--sp];
            d.lleno += k;
            if (d.lleno == d.ancho) {
                int r = EntregaFilas(d);
                if (r < 0) return r;
            }
        }
        for (;;) {
            c = d.lector.Codigo(s, d.f, d.tamano);
            if (c == d.fin) return kCodigoFin;
            if (c < 0) return kGifBien;
            if (c != d.clear) break;
            int r = Limpia(d);
            if (r != kSigue) return r;
            limite = 1 << d.tamano;
            primero = d.viejo;
        }
    }
}

}  // namespace

TEstadoGif DecodeImageData(GifDecoderState& s, FILE* f, CImageIterator& it, int16_t lineWidth) {
    int minimo = LeeByte(s, f);
    if (minimo < 0) return kGifSinDatos;
    if (minimo < 2 || minimo > 9) return kGifTamanoMinimoMalo;
    s.codeSize = static_cast<int16_t>(minimo + 1);
    s.codeLimit = static_cast<int16_t>(1 << s.codeSize);
    s.clearCode = static_cast<int16_t>(1 << minimo);
    s.endCode = static_cast<int16_t>(s.clearCode + 1);
    s.firstFreeCode = s.nextFreeCode = static_cast<int16_t>(s.clearCode + 2);
    std::memset(s.stringStack, 0, sizeof s.stringStack);
    std::memset(s.suffixTable, 0, sizeof s.suffixTable);
    std::memset(s.prefixTable, 0, sizeof s.prefixTable);
    // A zero-width image can hold no pixel: there is nothing to decode into.
    if (lineWidth <= 0) return kGifBien;

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[lineWidth + kHolguraLinea]());
    if (!buffer) return kGifSinMemoria;
    for (int i = 0; i < s.clearCode; ++i) {
        s.lengthMinus1[i] = kUniforme;
        s.chunk[i][0] = static_cast<unsigned char>(i);
    }
    // Data that does not open with a clear code still decodes, from code 0.
    Lzw d{s, f, it, buffer.get(), lineWidth, minimo, s.clearCode, s.endCode, s.firstFreeCode,
          minimo + 1, s.firstFreeCode, 0, 0, 0, LectorCodigos()};
    int r = DecodificaRapido(d);
    if (r == kFueraDeTabla) r = DecodificaTolerante(d);
    if (r == kCodigoFin) return d.lleno > 0 ? DeliverRow(s, it, d.linea, d.lleno) : kGifBien;
    return static_cast<TEstadoGif>(r);
}
