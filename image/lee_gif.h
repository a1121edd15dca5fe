// LeeGif: reads the first image of a GIF file (87a or 89a) into a TDibKU:
// palette from the colour table (with the transparency rules of the map
// server's images), palette indices packed at 1, 4 or 8 bits, rows bottom-up.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/dstring.h"
#include "image/dib_ku.h"

const int kTamanoLectura = 16384;
const int kLecturaVacia = 0x4001;  // readPos value meaning "read a new chunk"
const int kTamanoTabla = 4096;
// Widths from here on do not fit the 16-bit line width of the LZW stage.
const int kAnchoMaximo = 32768;
// Largest pixel area (bytes of rows) a GIF may ask for: far above any map
// tile, far below what would exhaust a 32-bit process.
const int64_t kAreaMaxima = 256 * 1024 * 1024;

// Why ParseGif gave up on an image it could not take.
enum TRechazoGif { kGifAceptado = 0, kGifDemasiadoAncho = 1, kGifDemasiadoGrande = 2 };

// How DecodeImageData and DeliverRow end. ParseGif takes every one of them
// alike: the rows delivered so far stay, whatever stopped the decoding.
enum TEstadoGif : int16_t {
    kGifBien = 0,                   // a row stored; the end code, or the data ran out before it
    kGifSinFilas = -1,              // a row past the last one of a non-interlaced image
    kGifSinDatos = -1,              // the file ended before the minimum code size
    kGifSinMemoria = -10,           // no line buffer
    kGifTamanoMinimoMalo = -20,     // a minimum code size outside 2..9
    kGifCadenaDemasiadoLarga = -30, // a string longer than the table (stale entries in a cycle)
};

// Working state of one LeeGif call; never shared. Its LZW tables take 64 KB
// in all; decoding allocates nothing but one line buffer per image.
struct GifDecoderState {
    TDibKU* bitmap;
    int32_t rowStride;
    int32_t transparentIndex;
    int32_t readPos;
    int32_t interlaced;
    int32_t rowPos;
    int32_t rowStep;
    int32_t rowCount;
    int32_t pass;
    unsigned char stringStack[kTamanoTabla];
    unsigned char suffixTable[kTamanoTabla];
    int16_t prefixTable[kTamanoTabla];
    // The same strings kept for writing them whole: each code's length - 1,
    // the last 1 to 8 bytes of its string, and the code holding all bytes
    // before those (a multiple of 8 of them), so that a string is written
    // 8 bytes at a time straight into the line.
    uint16_t lengthMinus1[kTamanoTabla];
    uint16_t chunkPrefix[kTamanoTabla];
    unsigned char chunk[kTamanoTabla][8];
    int16_t codeSize;
    int16_t clearCode;
    int16_t endCode;
    int16_t firstFreeCode;
    int16_t codeLimit;
    int16_t nextFreeCode;
    unsigned char readBuffer[kTamanoLectura];
    int32_t readCount;
    // A sub-block that straddles two chunks of readBuffer, gathered whole.
    unsigned char blockBuffer[255];
    TRechazoGif rechazo;

    GifDecoderState();
};

// Writes decoded rows into the bitmap of a GifDecoderState.
class CImageIterator {
public:
    explicit CImageIterator(GifDecoderState* estado);
    void ToTopRow();
    void SetStorageRow(int fila);
    bool IsInside() const;
    void CopyRow(const unsigned char* origen, int n);
    bool StepDown();
    int Y() const { return y; }
    // Column and row steps of the layout; always 0 here.
    int PasoColumna() const { return pasoColumna; }
    int PasoFila() const { return pasoFila; }

private:
    int32_t x;
    int32_t y;
    int32_t pasoColumna;
    int32_t pasoFila;
    unsigned char* row;
    GifDecoderState* image;
};

// False with error = "Error opening " + path or "Error 2 opening " + path (not a
// GIF), "Image too wide " + path or "Image too large " + path (refused before
// anything is allocated). Throws kTextoSinMemoria when the bitmap cannot be had.
bool LeeGif(const char* ruta, TDibKU& bitmap, CDString& error);

// The decoder's three parts, one file each:
// the container (gif_contenedor.cpp): signature, screen, colour tables,
// extensions, image descriptor and palette; false for a bad signature or an
// image refused for its size;
bool ParseGif(GifDecoderState& estado, FILE* fichero);
// the LZW decoding of one image's data (gif_lzw.cpp);
TEstadoGif DecodeImageData(GifDecoderState& estado, FILE* fichero, CImageIterator& iterador, int16_t lineWidth);
// the rows (gif_filas.cpp): one line of palette indices packed at the
// bitmap's 1, 4 or 8 bits and stored in the row the interlace order names.
TEstadoGif DeliverRow(GifDecoderState& estado, CImageIterator& iterador, unsigned char* linea, int longitud);
