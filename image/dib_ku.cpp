#include "image/dib_ku.h"

#include <cstdlib>
#include <cstring>

const char* const kTextoSinMemoria = "TXOutOfMemory::Raise()";
const char* const kTextoDibInvalido = "TXGdi::Raise(IDS_INVALIDDIBHANDLE)";

int64_t RowStride(int64_t ancho, int bits) { return ((ancho * bits + 31) / 32) * 4; }

namespace {

int ColoresPorBits(int b) {
    switch (b) {
        case 1: return 2;
        case 2: return 4;
        case 4: return 16;
        case 8: return 256;
        default: return 0;
    }
}

bool BitsAdmitidos(int b) { return b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32; }

// The largest block the bitmap asks for; anything above cannot be a real
// image on the 32-bit build and would overflow the header's fields.
const int64_t kBloqueMaximo = 0x7FFFFFFF;

int64_t Absoluto(int64_t v) { return v < 0 ? -v : v; }

}  // namespace

TDibKU::TDibKU()
    : children(10, 10, true), memHandle(nullptr), header(nullptr), masks(nullptr), colours(nullptr),
      colourCount(0), bits(nullptr), ownsHandle(false), fromResource(false) {}

TDibKU::~TDibKU() { Release(); }

int TDibKU::Width() const { return header ? header->biWidth : 0; }
int TDibKU::Height() const { return header ? header->biHeight : 0; }
int TDibKU::BitCount() const { return header ? header->biBitCount : 0; }

int TDibKU::RowStride() const { return static_cast<int>(::RowStride(Width(), BitCount())); }

int TDibKU::ImageSize() const {
    return static_cast<int>(::RowStride(Width(), BitCount()) * Absoluto(Height()));
}

void TDibKU::Release() {
    if (memHandle != nullptr && !fromResource) {
        MemoriaGlobalDesbloquea(memHandle);
        if (ownsHandle) MemoriaGlobalLibera(memHandle);
    }
    memHandle = nullptr;
    header = nullptr;
    masks = nullptr;
    colours = nullptr;
    colourCount = 0;
    bits = nullptr;
    ownsHandle = false;
}

bool TDibKU::Create(int w, int h, int b, int n, const uint32_t* paleta) {
    if (Width() == w && Height() == h && BitCount() == b) return true;
    // Only the layouts that the pixel operations understand are built.
    if (w < 0 || !BitsAdmitidos(b)) return false;
    Release();

    int64_t tamanoImagen = ::RowStride(w, b) * Absoluto(h);
    int usados = ColoresPorBits(b);
    int64_t tamano = 40 + 4 * static_cast<int64_t>(usados) + tamanoImagen;
    if (tamano > kBloqueMaximo) throw kTextoSinMemoria;

    TCabeceraDib cabecera;
    std::memset(&cabecera, 0, sizeof cabecera);
    cabecera.biSize = 40;
    cabecera.biWidth = w;
    cabecera.biHeight = h;
    cabecera.biPlanes = 1;
    cabecera.biBitCount = static_cast<uint16_t>(b);
    cabecera.biCompression = 0;
    cabecera.biSizeImage = static_cast<uint32_t>(tamanoImagen);
    cabecera.biClrUsed = static_cast<uint32_t>(usados);

    fromResource = false;
    memHandle = MemoriaGlobalReserva(static_cast<size_t>(tamano));
    if (memHandle == nullptr) throw kTextoSinMemoria;
    header = static_cast<TCabeceraDib*>(MemoriaGlobalBloquea(memHandle));
    if (header == nullptr) {
        MemoriaGlobalLibera(memHandle);
        memHandle = nullptr;
        throw kTextoSinMemoria;
    }
    // The block is zero-filled, so rows that no data reaches stay a stable black/index 0.
    std::memcpy(header, &cabecera, sizeof cabecera);
    ownsHandle = true;
    AdjuntaCabecera();

    if (b == 1) {
        static const unsigned char blanco[4] = {255, 255, 255, 255};
        std::memset(colours, 0, 4);
        std::memcpy(colours + 4, blanco, 4);
    }
    if (paleta != nullptr) {
        for (int i = 0; i < n && i < colourCount; ++i) {
            std::memcpy(colours + 4 * i, &paleta[i], 4);
            colours[4 * i + 3] = 0;
        }
    }
    return true;
}

void TDibKU::AdjuntaCabecera() {
    if (header == nullptr) {
        header = static_cast<TCabeceraDib*>(fromResource ? MemoriaRecursoBloquea(memHandle)
                                                         : MemoriaGlobalBloquea(memHandle));
    }
    if (header == nullptr || header->biSize != 40) {
        if (!fromResource) MemoriaGlobalDesbloquea(memHandle);
        header = nullptr;
        throw kTextoDibInvalido;
    }
    unsigned char* bloque = reinterpret_cast<unsigned char*>(header);
    if (header->biCompression == kCompresionBitfields) {
        masks = reinterpret_cast<uint32_t*>(bloque + 40);
        colours = bloque + 52;
    } else {
        masks = nullptr;
        colours = bloque + 40;
    }
    if (header->biClrUsed != 0) {
        colourCount = static_cast<int32_t>(header->biClrUsed);
    } else {
        colourCount = header->biBitCount <= 8 ? ColoresPorBits(header->biBitCount) : 0;
    }
    bits = colours + 4 * colourCount;
    if (colourCount == 0) colours = nullptr;
}

uint32_t* TDibKU::CopyPalette(int& count) const {
    count = 0;
    if (header == nullptr || BitCount() > 8) return nullptr;
    int n = static_cast<int>(header->biClrUsed);
    if (n > colourCount) n = colourCount;
    if (n <= 0 || colours == nullptr) return nullptr;
    uint32_t* copia = new uint32_t[n];
    std::memcpy(copia, colours, 4 * static_cast<size_t>(n));
    count = n;
    return copia;
}

uint32_t TDibKU::Entrada(int i) const {
    if (colours == nullptr || i < 0 || i >= colourCount) return 0;
    uint32_t e;
    std::memcpy(&e, colours + 4 * i, 4);
    return e;
}
