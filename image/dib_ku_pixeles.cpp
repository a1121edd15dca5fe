// TDibKU's pixel access, colour lookup, stretching and copies, and the named
// colours: foundation the exports never reach (a zone's pixels travel as whole
// rows). For tools and code that draw into or read single pixels.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "image/dib_ku.h"

namespace Colores_pux {
TColorRGB White, Grey77, Grey99, Red, Blue, Green, DarkGreen, DarkRed, DarkBlue, Cyan, DarkCyan, Black, Brown,
    Yellow, DarkYellow, Magenta, SysFace, SysHighlight, SysHighlightText, SysMenuText;
TColorRGB ColourSlots[kNumeroSlots];

namespace {
std::atomic<int> gReferencias{0};
}

void Inicia() {
    if (gReferencias.fetch_add(1) != 0) return;
    White = TColorRGB(0xFFFFFFu);
    Grey77 = TColorRGB(0x777777u);
    Grey99 = TColorRGB(0x999999u);
    Red = TColorRGB(0x0000FFu);
    Blue = TColorRGB(0xFF0000u);
    Green = TColorRGB(0x00FF00u);
    DarkGreen = TColorRGB(0x007700u);
    DarkRed = TColorRGB(0x000077u);
    DarkBlue = TColorRGB(0x770000u);
    Cyan = TColorRGB(0xFFFF00u);
    DarkCyan = TColorRGB(0x777700u);
    Black = TColorRGB(0x000000u);
    Brown = TColorRGB(0x004080u);
    Yellow = TColorRGB(0x00FFFFu);
    DarkYellow = TColorRGB(0x007777u);
    Magenta = TColorRGB(0xFF00FFu);
    SysFace = TColorRGB(ColorSistema(kColorSistemaCaraBoton));
    SysHighlight = TColorRGB(ColorSistema(kColorSistemaResaltado));
    SysHighlightText = TColorRGB(ColorSistema(kColorSistemaTextoResaltado));
    SysMenuText = TColorRGB(ColorSistema(kColorSistemaTextoMenu));
    for (TColorRGB& c : ColourSlots) c = TColorRGB();
}

void Termina() {
    int v = gReferencias.load();
    while (v > 0 && !gReferencias.compare_exchange_weak(v, v - 1)) {
    }
}
}  // namespace Colores_pux

bool TDibKU::Dentro(int x, int y) const {
    return header != nullptr && x >= 0 && y >= 0 && x < Width() && y < std::llabs(Height());
}

unsigned char* TDibKU::Fila(int y) const { return bits + static_cast<int64_t>(y) * RowStride(); }

int TDibKU::GetIndex(int x, int y) const {
    if (!Dentro(x, y)) return 0;
    const unsigned char* fila = Fila(y);
    switch (BitCount()) {
        case 1: return (fila[x / 8] >> (7 - x % 8)) & 1;
        case 4: return (x % 2 == 0) ? (fila[x / 2] >> 4) : (fila[x / 2] & 0x0F);
        case 8: return fila[x];
        case 16: return fila[2 * x] | (fila[2 * x + 1] << 8);
        default: return 0;
    }
}

TColorRGB TDibKU::GetPixel(int x, int y) const {
    if (!Dentro(x, y)) return Colores_pux::Black;
    const unsigned char* fila = Fila(y);
    int bytes = BitCount() / 8;
    if (bytes == 3 || bytes == 4) {
        const unsigned char* p = fila + static_cast<int64_t>(x) * bytes;
        return TColorRGB(p[2], p[1], p[0]);
    }
    if (bytes == 2) {
        unsigned p = fila[2 * x] | (fila[2 * x + 1] << 8);
        return TColorRGB(static_cast<unsigned char>(((p & 0x7C00) >> 10) * 8),
                         static_cast<unsigned char>(((p & 0x03E0) >> 5) * 8),
                         static_cast<unsigned char>((p & 0x1F) * 8));
    }
    uint32_t e = Entrada(GetIndex(x, y));
    return TColorRGB((e >> 16) & 0xFF, (e >> 8) & 0xFF, e & 0xFF);
}

TColorRGB TDibKU::GetColor(int x, int y) const { return GetPixel(x, y); }

void TDibKU::SetIndex(int x, int y, int v) {
    if (!Dentro(x, y)) return;
    unsigned char* fila = Fila(y);
    switch (BitCount()) {
        case 1: {
            unsigned char bit = static_cast<unsigned char>(0x80 >> (x % 8));
            if (v != 0) fila[x / 8] |= bit;
            else fila[x / 8] &= static_cast<unsigned char>(~bit);
            break;
        }
        case 4:
            if (x % 2 == 0) fila[x / 2] = static_cast<unsigned char>((fila[x / 2] & 0x0F) | ((v & 0x0F) << 4));
            else fila[x / 2] = static_cast<unsigned char>((fila[x / 2] & 0xF0) | (v & 0x0F));
            break;
        case 8: fila[x] = static_cast<unsigned char>(v); break;
        case 16:
            fila[2 * x] = static_cast<unsigned char>(v & 0xFF);
            fila[2 * x + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
            break;
        default: break;
    }
}

void TDibKU::SetPixel(int x, int y, TColorRGB c) {
    if (!Dentro(x, y)) return;
    int bytes = BitCount() / 8;
    if (bytes == 3 || bytes == 4) {
        unsigned char* p = Fila(y) + static_cast<int64_t>(x) * bytes;
        p[0] = c.Azul();
        p[1] = c.Verde();
        p[2] = c.Rojo();
        return;
    }
    if (bytes == 2) return;
    SetIndex(x, y, PaletteIndex(c, true));
}

int TDibKU::PaletteIndex(TColorRGB c, bool nearest) const {
    if (header == nullptr || colours == nullptr) return 0;
    int n = static_cast<int>(header->biClrUsed);
    if (n > colourCount) n = colourCount;
    for (int i = 0; i < n; ++i) {
        const unsigned char* e = colours + 4 * i;
        if (e[2] == c.Rojo() && e[1] == c.Verde() && e[0] == c.Azul()) return i;
    }
    if (!nearest) return 0;
    int mejor = 0;
    long mejorDistancia = -1;
    for (int i = 0; i < n; ++i) {
        const unsigned char* e = colours + 4 * i;
        long db = e[0] - c.Azul(), dg = e[1] - c.Verde(), dr = e[2] - c.Rojo();
        long d = db * db + dg * dg + dr * dr;
        if (mejorDistancia < 0 || d < mejorDistancia) {
            mejor = i;
            mejorDistancia = d;
        }
    }
    return mejor;
}

bool TDibKU::StretchFrom(const TRectangulo& D, const TRectangulo& S, const TDibKU& fuente) {
    if (header == nullptr || fuente.header == nullptr) return false;
    int64_t dw = D.Ancho(), dh = std::llabs(D.Alto()), sw = S.Ancho(), sh = std::llabs(S.Alto());
    if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return false;
    double fx = static_cast<double>(sw) / static_cast<double>(dw);
    double fy = static_cast<double>(sh) / static_cast<double>(dh);

    int n = colourCount < fuente.colourCount ? colourCount : fuente.colourCount;
    if (n > 0 && colours != nullptr && fuente.colours != nullptr && colours != fuente.colours)
        std::memmove(colours, fuente.colours, 4 * static_cast<size_t>(n));

    int sb = fuente.BitCount();
    int k = sb / 8;
    int db = BitCount();
    int64_t strideFuente = ::RowStride(fuente.Width(), sb);
    int64_t strideEste = ::RowStride(Width(), sb);
    int64_t yEnd = D.top + dh < std::llabs(Height()) ? D.top + dh : std::llabs(Height());
    int64_t xEnd = D.left + dw < Width() ? D.left + dw : Width();
    // Pixels outside either bitmap are skipped: a rectangle reaching past an
    // edge (or starting before it) copies only what both bitmaps hold.
    for (int64_t y = D.top < 0 ? 0 : D.top; y < yEnd; ++y) {
        int64_t sy = S.top + static_cast<int64_t>(static_cast<double>(y - D.top) * fy);
        if (sy < 0 || sy >= std::llabs(fuente.Height())) continue;
        for (int64_t x = D.left < 0 ? 0 : D.left; x < xEnd; ++x) {
            int64_t sx = S.left + static_cast<int64_t>(static_cast<double>(x - D.left) * fx);
            if (sx < 0 || sx >= fuente.Width()) continue;
            int xi = static_cast<int>(x), yi = static_cast<int>(y);
            int sxi = static_cast<int>(sx), syi = static_cast<int>(sy);
            if (db == sb && k >= 1) {
                std::memmove(bits + y * strideEste + x * k, fuente.bits + sy * strideFuente + sx * k,
                             static_cast<size_t>(k));
            } else if (db == sb) {
                SetIndex(xi, yi, fuente.GetIndex(sxi, syi));
            } else {
                SetPixel(xi, yi, fuente.GetPixel(sxi, syi));
            }
        }
    }
    return true;
}

void TDibKU::VisitCopy(TVisitanteDib& visitante) {
    if (header == nullptr) return;
    int alto = static_cast<int>(std::llabs(Height()));
    TRectangulo r = {0, 0, Width(), alto};
    TDibKU copia;
    copia.Create(Width(), Height(), BitCount(), 0, nullptr);
    if (copia.StretchFrom(r, r, *this)) visitante.Visita(copia, *this);
}
