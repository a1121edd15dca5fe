// libFuzzer target for what the network hands the plug-in: the status, the
// Content-Length text and the body of an answer, cut into chunks, with a
// failure or a host's cancel at any chunk. The platform's HTTP seam is a fake
// fed from the input (no sockets); everything above it is the real code: the
// client, then zone rendering (decoding included), location lookup or the
// descriptor download.
//
// Input: operation, flags, status (2 bytes), chunk seed, failing chunk,
// Content-Length text (length byte, then the text), then the body.
//
// Besides memory errors, the target stops on a broken promise: an error
// status delivered as a result, a failure without its message, a download
// stored with other bytes than were sent, or a temporary file left behind.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/fichero_zeb.h"
#include "platform/http.h"
#include "plugin/descarga.h"
#include "plugin/descriptor.h"
#include "plugin/localizacion.h"
#include "plugin/protegido.h"
#include "plugin/registros_host.h"
#include "plugin/zona.h"

namespace {

// The answer the fake seam gives, taken from one input.
struct Answer {
    bool openFails = false, statusFails = false, hasLength = false, retryOnce = false;
    bool readFails = false, cancels = false;
    unsigned long status = 200;
    std::string length;
    std::vector<uint8_t> bytes;
    const uint8_t* body = nullptr;
    size_t size = 0, offset = 0;
    uint8_t seed = 0;
    unsigned failAt = 0, chunk = 0;
    TProgreso* progress = nullptr;
} gAnswer;

unsigned long gLastError = 0;
int gRequest;  // the one request handle
int gSession;

void Fail(unsigned long code) { gLastError = code; }

// Size of the next chunk: mostly small, sometimes the rest.
size_t NextChunk() {
    size_t left = gAnswer.size - gAnswer.offset;
    unsigned pick = (gAnswer.seed + gAnswer.chunk * 37u) % 8u;
    size_t n = pick == 0 ? left : pick * 97u;
    return n < left ? n : left;
}

}  // namespace

unsigned long HttpIntentaConexion() { return 0; }
HInternet HttpAbreSesion(const char*, unsigned long, unsigned long) { return &gSession; }
HInternet HttpAbreUrl(HInternet sesion, const char* url, unsigned long, unsigned long) {
    if (sesion != &gSession || url == nullptr) std::abort();
    if (gAnswer.openFails) return Fail(12029), nullptr;
    return &gRequest;
}
unsigned long HttpUltimoError() { return gLastError; }
bool HttpConsultaEstado(HInternet, unsigned long& estado) {
    if (gAnswer.statusFails) return Fail(12150), false;
    estado = gAnswer.status;
    return true;
}
bool HttpConsultaLongitud(HInternet, char* area, unsigned long& tamano) {
    if (!gAnswer.hasLength) return Fail(12150), false;
    if (gAnswer.length.size() + 1 > tamano) {
        tamano = static_cast<unsigned long>(gAnswer.length.size() + 1);
        return Fail(122), false;
    }
    std::memcpy(area, gAnswer.length.c_str(), gAnswer.length.size() + 1);
    tamano = static_cast<unsigned long>(std::strlen(area));
    return true;
}
bool HttpPonOpcion(HInternet, unsigned long, const char*, unsigned long) { return true; }
unsigned long HttpDialogoError(void*, HInternet, unsigned long, unsigned long) {
    if (gAnswer.retryOnce) {
        gAnswer.retryOnce = false;
        return kErrorForzarReintento;
    }
    return 0;
}
bool HttpReenvia(HInternet) { return true; }
bool HttpDatosDisponibles(HInternet, unsigned long& disponibles) {
    disponibles = static_cast<unsigned long>(NextChunk());
    return true;
}
bool HttpLee(HInternet peticion, void* area, unsigned long n, unsigned long& leidos) {
    if (peticion != &gRequest) std::abort();
    leidos = 0;
    if (gAnswer.chunk++ == gAnswer.failAt) {
        if (gAnswer.readFails) return Fail(12030), false;
        if (gAnswer.cancels && gAnswer.progress != nullptr) gAnswer.progress->cancelar = 1;
    }
    size_t left = gAnswer.size - gAnswer.offset;
    size_t k = n < left ? n : left;
    if (k > 0) std::memcpy(area, gAnswer.body + gAnswer.offset, k);
    gAnswer.offset += k;
    leidos = static_cast<unsigned long>(k);
    return true;
}
void HttpCierra(HInternet h) {
    if (h != &gRequest && h != &gSession) std::abort();
}

namespace {

struct Texts {
    TCallbackTexto record;
    std::vector<std::string> texts;
};
int PLIVORS_CDECL Record(TCallbackTexto* r, const char* text) {
    reinterpret_cast<Texts*>(r)->texts.push_back(text ? text : "(null)");
    return 0;
}

struct Zone {
    TBitmapZona record;
    std::vector<uint8_t> pixels;
    int prepared = 0;
};
void PLIVORS_CDECL Prepare(TBitmapZona* r) {
    Zone* z = reinterpret_cast<Zone*>(r);
    ++z->prepared;
    long long h = r->alto < 0 ? -static_cast<long long>(r->alto) : r->alto;
    long long bytes = (((static_cast<long long>(r->ancho) * r->bitsPorPixel + 31) / 32) * 4) * h;
    // A host gives no buffer for a picture it cannot hold.
    if (bytes <= 0 || bytes > (1 << 20)) return;
    z->pixels.assign(static_cast<size_t>(bytes), 0);
    r->pixeles = z->pixels.data();
}

// Names in the working folder that only a leak would leave there.
bool Leftovers(const char* keep) {
    DIR* d = opendir(".");
    if (d == nullptr) return false;
    bool found = false;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.' || (keep != nullptr && std::strcmp(e->d_name, keep) == 0)) continue;
        if (std::strcmp(e->d_name, "map.plvr") == 0) continue;
        std::fprintf(stderr, "left behind: %s\n", e->d_name);
        found = true;
    }
    closedir(d);
    return found;
}

TInfoRaster gRaster;

// Pictures of any size are the GIF target's business; here they would only
// slow every run down. Keeps screen and first image within 255 by 255.
void ShrinkGif(std::vector<uint8_t>& b) {
    auto clamp16 = [&b](size_t at) {
        if (at + 1 < b.size()) b[at + 1] = 0;
    };
    if (b.size() < 13 || std::memcmp(b.data(), "GIF8", 4) != 0) return;
    clamp16(6);
    clamp16(8);
    size_t at = 13;
    if (b[10] & 0x80) at += 3u << ((b[10] & 7) + 1);
    while (at < b.size() && b[at] == '!') {
        at += 2;
        while (at < b.size() && b[at] != 0) at += b[at] + 1u;
        ++at;
    }
    if (at < b.size() && b[at] == ',')
        for (size_t f = at + 1; f < at + 9; f += 2) clamp16(f);
}

void RunZone() {
    Zone zone;
    std::memset(&zone.record, 0, sizeof zone.record);
    zone.record.tamano = sizeof zone.record;
    zone.record.prepara = &Prepare;
    Texts failure;
    failure.record.funcion = &Record;
    TProgreso progress;
    std::memset(&progress, 0, sizeof progress);
    gAnswer.progress = &progress;
    TContextoDescarga context = {0, &progress};
    int32_t w = 256, h = 256;
    int32_t r = Protegido(0, &failure.record,
                          [&] { return AbreZona(&gRaster, 0, 1000, 0, 1000, &w, &h, &zone.record, &failure.record, &context); });
    LiberaTextoProgreso(progress);
    if (r != 0 && r != 1) std::abort();
    if (r == 1 && (failure.texts.size() != 0 || zone.prepared != 1 || gAnswer.status >= 400)) std::abort();
    if (r == 0 && failure.texts.size() != 1) std::abort();
    if (gAnswer.status >= 400 && zone.prepared != 0) std::abort();
    if (Leftovers(nullptr)) std::abort();
}

void RunLocation() {
    char buffer[kMaximoLocalizacion + 1 + 16];
    std::memset(buffer, '@', sizeof buffer);
    bool ok = Protegido(false, nullptr, [&] { return GetLocalizacion(-3.7, 40.4, buffer); });
    if (std::memchr(buffer, 0, kMaximoLocalizacion + 1) == nullptr) std::abort();
    if (buffer[kMaximoLocalizacion + 1] != '@') std::abort();
    if (!ok && std::strcmp(buffer, "hola") != 0) std::abort();
    if (ok && (gAnswer.status >= 400 || gAnswer.openFails)) std::abort();
    if (Leftovers(nullptr)) std::abort();
}

void RunDownload() {
    Texts success, failure;
    success.record.funcion = failure.record.funcion = &Record;
    TProgreso progress;
    std::memset(&progress, 0, sizeof progress);
    gAnswer.progress = &progress;
    TContextoDescarga context = {0, &progress};
    bool ok = Protegido(false, &failure.record, [&] {
        return DescargaDescriptor("norte.plvr", "", &success.record, &failure.record, &context);
    });
    LiberaTextoProgreso(progress);
    if (success.texts.size() + failure.texts.size() != 1 || ok != (success.texts.size() == 1)) std::abort();
    if (ok) {
        // Stored: exactly the bytes the server sent, all of them.
        if (gAnswer.status >= 400 || gAnswer.offset != gAnswer.size) std::abort();
        std::FILE* f = std::fopen("norte.plvr", "rb");
        if (f == nullptr) std::abort();
        std::vector<uint8_t> stored(gAnswer.size + 1);
        size_t n = std::fread(stored.data(), 1, stored.size(), f);
        std::fclose(f);
        if (n != gAnswer.size || (n > 0 && std::memcmp(stored.data(), gAnswer.body, n) != 0)) std::abort();
    } else if (failure.texts[0].empty()) {
        std::abort();
    }
    if (Leftovers("norte.plvr")) std::abort();
    std::remove("norte.plvr");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A folder of our own, so that leftovers are ours alone (corpus folders
    // and the artifact prefix must then be absolute paths).
    const char* tmp = std::getenv("TMPDIR");
    static std::string dir;
    dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_red.XXXXXX";
    if (mkdtemp(&dir[0]) == nullptr || chdir(dir.c_str()) != 0) std::abort();
    std::FILE* f = std::fopen("map.plvr", "wb");
    std::fputs("VERSION=1\nIDMAPA=1001\n", f);
    std::fclose(f);
    TCallbackTexto none = {nullptr};
    std::memset(&gRaster, 0, sizeof gRaster);
    if (!AbreRaster("map.plvr", &gRaster, &none)) std::abort();
    std::atexit([] {
        CierraRaster(&gRaster);
        std::remove("map.plvr");
        if (chdir("/") == 0) rmdir(dir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) return 0;
    gAnswer = Answer();
    uint8_t operation = data[0] % 3, flags = data[1];
    gAnswer.openFails = (flags & 0x01) != 0;
    gAnswer.statusFails = (flags & 0x02) != 0;
    gAnswer.hasLength = (flags & 0x04) != 0;
    gAnswer.retryOnce = (flags & 0x08) != 0;
    gAnswer.readFails = (flags & 0x10) != 0;
    gAnswer.cancels = (flags & 0x20) != 0;
    gAnswer.status = ((static_cast<unsigned>(data[2]) << 8) | data[3]) % 700;
    if (gAnswer.statusFails) gAnswer.status = 0;
    gAnswer.seed = data[4];
    gAnswer.failAt = data[5] % 16;
    size_t at = 7, lengthSize = data[6] % 128;
    if (lengthSize > size - at) lengthSize = size - at;
    // The header's text as the library hands it: up to its first zero.
    gAnswer.length.assign(reinterpret_cast<const char*>(data + at), lengthSize);
    gAnswer.length = gAnswer.length.c_str();
    at += lengthSize;
    gAnswer.bytes.assign(data + at, data + size);
    if (operation == 0) ShrinkGif(gAnswer.bytes);
    gAnswer.body = gAnswer.bytes.data();
    gAnswer.size = gAnswer.bytes.size();
    if (operation == 0) RunZone();
    else if (operation == 1) RunLocation();
    else RunDownload();
    return 0;
}
