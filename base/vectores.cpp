#include "base/vectores.h"

#include <atomic>
#include <cstring>

#include "platform/depurador.h"

namespace {
// -1 until asked; two threads asking at once compute the same answer.
std::atomic<int> gDepurador{-1};
}  // namespace

bool DepuradorPresente() {
    int v = gDepurador.load(std::memory_order_relaxed);
    if (v < 0) {
        v = PlataformaDepuradorPresente() ? 1 : 0;
        gDepurador.store(v, std::memory_order_relaxed);
    }
    return v == 1;
}

void LanzaErrorVector(int codigo) {
    if (DepuradorPresente()) PlataformaRompeDepurador();
    throw TXErrorVectoresRW(codigo);
}

void PonACero(void* bloque, int n) {
    if (bloque != nullptr && n > 0) std::memset(bloque, 0, static_cast<size_t>(n));
}
