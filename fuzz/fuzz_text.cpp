// libFuzzer target for the texts that come from outside: a descriptor file
// (read whole, cut into lines, key=value pairs) and a proximity page (the
// phrase between the markers and its 50 replacements). Any outcome is allowed
// but touching memory it does not own, hanging or an unexpected exception.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "base/vectores.h"
#include "plugin/descriptor.h"
#include "plugin/localizacion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                                    "/fuzz_text." + std::to_string(getpid()) + ".plvr";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    TDatosPlivors datos;
    DString mensaje;
    if (LeeDescriptor(path.c_str(), datos, mensaje) && datos.idmapa == 0) std::abort();
    if (CompletaDatos(datos, mensaje) && (datos.ancho <= 0 || datos.alto <= 0)) std::abort();

    // The same bytes as a page: texts end at their first zero byte.
    std::string text(reinterpret_cast<const char*>(data), size);
    DString pagina(text.c_str()), frase;
    if (ExtraeLocalizacion(pagina, frase) && frase.Longitud() > pagina.Longitud()) std::abort();
    Vector<DString> partes(10, 10);
    pagina.Divide("\n=", partes, -1, (size & 1) != 0);
    return 0;
}
