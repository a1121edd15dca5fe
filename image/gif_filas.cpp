// The rows of a GIF image: a line of palette indices packed at the bitmap's
// 1, 4 or 8 bits and stored bottom-up, in interlace order where the image
// asks for it.
#include <cstring>

#include "image/lee_gif.h"

namespace {

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

// The next row of GIF's interlace order: passes from rows 0, 4, 2 and 1,
// with steps 8, 8, 4 and 2; a pass whose first row lies past the image ends
// at once.
void SiguienteFilaEntrelazada(GifDecoderState& s) {
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
}

}  // namespace

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

TEstadoGif DeliverRow(GifDecoderState& s, CImageIterator& it, unsigned char* linea, int longitud) {
    const int ancho = s.bitmap->Width();
    const int bpp = s.bitmap->BitCount();
    // Columns that a short last row does not reach read as index 0, like the
    // rest of a picture whose data ended early.
    if (longitud < ancho) std::memset(linea + longitud, 0, static_cast<size_t>(ancho - longitud));

    if (s.interlaced) {
        // Valid data has no rows after the fourth pass.
        if (s.pass >= 4) return kGifSinFilas;
        if (s.rowPos >= 0 && s.rowPos < s.rowCount) {
            it.SetStorageRow(s.rowCount - 1 - s.rowPos);
            it.CopyRow(linea, EmpaquetaFila(linea, ancho, bpp));
        }
        SiguienteFilaEntrelazada(s);
        return kGifBien;
    }
    if (!it.IsInside()) return kGifSinFilas;
    it.CopyRow(linea, EmpaquetaFila(linea, ancho, bpp));
    it.StepDown();
    return kGifBien;
}
