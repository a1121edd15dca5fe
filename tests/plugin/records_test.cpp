#include <gtest/gtest.h>

#include <cstddef>

#include "plugin/protegido.h"
#include "plugin/registros_host.h"

namespace {

TEST(HostRecords, FieldOrderAndPacking) {
    // The 32-bit offsets are enforced at compile time; here the native layout
    // keeps order, 1-byte packing and 4-byte unused slots.
    const size_t p = sizeof(void*);
    EXPECT_EQ(offsetof(TInfoRaster, datos), 4u);
    EXPECT_EQ(offsetof(TInfoRaster, ancho), 4 + p);
    EXPECT_EQ(offsetof(TInfoRaster, siempreCero), 12 + p);
    EXPECT_EQ(offsetof(TInfoRaster, siempreOcho), 17 + p);
    EXPECT_EQ(offsetof(TInfoRaster, opcionesCache), 21 + p);
    EXPECT_EQ(offsetof(TProgreso, cancelar), 12u);
    EXPECT_EQ(offsetof(TProgreso, texto), 13u);
    EXPECT_EQ(offsetof(TBitmapZona, prepara), 8u);
    EXPECT_EQ(offsetof(TBitmapZona, ancho), 8 + p);
    EXPECT_EQ(offsetof(TBitmapZona, sello), 24 + 3 * p);
    EXPECT_EQ(kTamanoConSello, static_cast<int32_t>(28 + 3 * p));
}

int PLIVORS_CDECL Keep(TCallbackTexto* r, const char* t);
struct Sink {
    TCallbackTexto record{&Keep};
    std::string text;
    int calls = 0;
};
int PLIVORS_CDECL Keep(TCallbackTexto* r, const char* t) {
    Sink* s = reinterpret_cast<Sink*>(r);
    s->text = t;
    ++s->calls;
    return 0;
}

TEST(ExceptionBarrier, EveryKindBecomesTheFailureResult) {
    Sink sink;
    EXPECT_EQ(Protegido(0, &sink.record, []() -> int { LanzaErrorVector(7); }), 0);
    EXPECT_EQ(sink.text, "Error interno de contenedor 7");
    EXPECT_FALSE(Protegido(false, &sink.record, []() -> bool { throw "Error en TFicheroZEB::Abre"; }));
    EXPECT_EQ(sink.text, "Error en TFicheroZEB::Abre");
    EXPECT_FALSE(Protegido(false, &sink.record, []() -> bool { throw std::bad_alloc(); }));
    EXPECT_EQ(sink.text, "Memoria insuficiente");
    EXPECT_FALSE(Protegido(false, &sink.record, []() -> bool { throw 42; }));
    EXPECT_EQ(sink.text, "Error interno");
    EXPECT_EQ(sink.calls, 4);
    EXPECT_TRUE(Protegido(false, nullptr, []() -> bool { return true; }));
    EXPECT_FALSE(Protegido(false, nullptr, []() -> bool { throw "no callback"; }));
    EXPECT_EQ(sink.calls, 4);
}

}  // namespace
