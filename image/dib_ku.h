// TDibKU: one image in the device-independent bitmap layout (40-byte header,
// optional colour masks, colour table, pixel rows bottom-up), kept in one
// movable global block so that header, palette and pixels travel together.
// TColorRGB and the named colours of Colores_pux live here too; pixel access,
// stretching and the colours are defined in dib_ku_pixeles.cpp.
#pragma once

#include <cstdint>

#include "base/vectores.h"
#include "platform/memoria.h"

// 0x00BBGGRR.
class TColorRGB {
public:
    constexpr TColorRGB() : valor(0) {}
    constexpr explicit TColorRGB(uint32_t v) : valor(v) {}
    constexpr TColorRGB(unsigned char r, unsigned char g, unsigned char b)
        : valor(r + (static_cast<uint32_t>(g) << 8) + (static_cast<uint32_t>(b) << 16)) {}
    constexpr unsigned char Rojo() const { return valor & 0xFF; }
    constexpr unsigned char Verde() const { return (valor >> 8) & 0xFF; }
    constexpr unsigned char Azul() const { return (valor >> 16) & 0xFF; }
    constexpr uint32_t Valor() const { return valor; }
    constexpr bool operator==(const TColorRGB& o) const { return valor == o.valor; }
    constexpr bool operator!=(const TColorRGB& o) const { return valor != o.valor; }

private:
    uint32_t valor;
};

namespace Colores_pux {
extern TColorRGB White, Grey77, Grey99, Red, Blue, Green, DarkGreen, DarkRed, DarkBlue, Cyan, DarkCyan, Black,
    Brown, Yellow, DarkYellow, Magenta, SysFace, SysHighlight, SysHighlightText, SysMenuText;
const int kNumeroSlots = 128;
extern TColorRGB ColourSlots[kNumeroSlots];
// Sets the constants; only the first of several calls does anything.
void Inicia();
// Undoes one Inicia.
void Termina();
}  // namespace Colores_pux

// The published 40-byte BITMAPINFOHEADER.
#pragma pack(push, 1)
struct TCabeceraDib {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(TCabeceraDib) == 40, "BITMAPINFOHEADER is 40 bytes");

const uint32_t kCompresionBitfields = 3;  // BI_BITFIELDS
// Texts thrown when the block cannot be had or is not a bitmap.
extern const char* const kTextoSinMemoria;
extern const char* const kTextoDibInvalido;

// Bytes per stored row, padded to 4; computed in 64 bits so that no width
// and bit count can overflow it.
int64_t RowStride(int64_t ancho, int bits);

class TDibKU;

// Receives the full copy that VisitCopy makes.
class TVisitanteDib {
public:
    virtual void Visita(TDibKU& copia, TDibKU& original) = 0;
    virtual ~TVisitanteDib() {}
};

struct TRectangulo {
    int32_t left, top, right, bottom;
    // In 64 bits: the sides of a rectangle across the whole 32-bit range
    // would wrap to a negative size.
    int64_t Ancho() const { return static_cast<int64_t>(right) - left; }
    int64_t Alto() const { return static_cast<int64_t>(bottom) - top; }
};

class TDibKU {
public:
    TDibKU();
    virtual ~TDibKU();
    TDibKU(const TDibKU&) = delete;
    TDibKU& operator=(const TDibKU&) = delete;

    virtual int Width() const;
    virtual int Height() const;
    virtual TColorRGB GetPixel(int x, int y) const;
    virtual TColorRGB GetColor(int x, int y) const;
    virtual void Release();
    virtual int Placeholder1() { return 0; }
    virtual int Placeholder2() { return 0; }
    virtual int BitCount() const;
    virtual void VisitCopy(TVisitanteDib& visitante);
    virtual void Placeholder3() {}

    // Gives the bitmap a new block (zero-filled). Throws kTextoSinMemoria when
    // the block cannot be had, also for sizes no block can hold.
    bool Create(int ancho, int alto, int bits, int numeroPaleta, const uint32_t* paleta);

    unsigned char* Bits() const { return bits; }
    int RowStride() const;
    int ImageSize() const;
    // A new[] copy of the colour table (RGBQUAD order); the caller delete[]s it.
    uint32_t* CopyPalette(int& count) const;
    int ColourCount() const { return colourCount; }
    // Colour table entry i as stored (blue, green, red, reserved); 0 outside the table.
    uint32_t Entrada(int i) const;

    int GetIndex(int x, int y) const;
    void SetIndex(int x, int y, int v);
    void SetPixel(int x, int y, TColorRGB c);
    int PaletteIndex(TColorRGB c, bool nearest) const;
    bool StretchFrom(const TRectangulo& destino, const TRectangulo& origen, const TDibKU& fuente);

private:
    bool Dentro(int x, int y) const;
    unsigned char* Fila(int y) const;
    void AdjuntaCabecera();

    VectorP<TDibKU> children;
    TMemoriaGlobal memHandle;
    TCabeceraDib* header;
    uint32_t* masks;
    unsigned char* colours;
    int32_t colourCount;
    unsigned char* bits;
    bool ownsHandle;
    bool fromResource;
};
