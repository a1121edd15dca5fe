// Commands that drive zones, place names and downloads, as the host would.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "bmp_writer.h"
#include "commands.h"

namespace {

bool ParseInt(const std::string& s, int32_t& v) {
    char* end = nullptr;
    long long x = std::strtoll(s.c_str(), &end, 10);
    if (end == s.c_str() || *end != 0 || x < INT32_MIN || x > INT32_MAX) return false;
    v = static_cast<int32_t>(x);
    return true;
}

bool ParseDouble(const std::string& s, double& v) {
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end != s.c_str() && *end == 0;
}

// The record the plug-in fills, with the host's own data after it.
struct ZoneRecord {
    TBitmapZona record;
    ZoneImage* image;
    int prepareCalls;
};

void PLIVORS_CDECL Prepare(TBitmapZona* r) {
    ZoneRecord* z = reinterpret_cast<ZoneRecord*>(r);
    ++z->prepareCalls;
    ZoneImage& img = *z->image;
    img.width = r->ancho;
    img.height = r->alto;
    img.bitsPerPixel = r->bitsPorPixel;
    img.palette.assign(r->colores, r->colores + (r->colores ? r->numColores : 0));
    int h = r->alto < 0 ? -r->alto : r->alto;
    img.pixels.assign(static_cast<size_t>(ZoneImage::RowStride(r->ancho, r->bitsPorPixel)) * h, 0);
    r->pixeles = img.pixels.empty() ? nullptr : img.pixels.data();
}

// Levels, for the report only: the finest level whose window holds the zone.
int LevelOf(double metresPerPixelX) {
    static const double levels[13] = {1.322918, 2.645836, 6.61459,  19.84377,  39.68754,  79.37508, 132.2918,
                                      396.8754, 793.7508, 1587.5016, 2645.836, 5291.672, 21166.688};
    int best = 0;
    for (int i = 0; i < 13; ++i)
        if (std::abs(levels[i] - metresPerPixelX) < std::abs(levels[best] - metresPerPixelX)) best = i;
    return best + 1;
}

int Zone(PluginLibrary& plugin, const std::vector<std::string>& args) {
    if (!RequireExport(plugin, 4) || !RequireExport(plugin, 5) || !RequireExport(plugin, 6)) return 1;
    std::string out;
    std::vector<std::string> pos;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size())
            out = args[++i];
        else
            pos.push_back(args[i]);
    }
    int32_t v[6];
    if (pos.size() != 7 || out.empty()) {
        std::fprintf(stderr, "usage: plivors-host zone FILE.plvr X0 X1 Y0 Y1 WIDTH HEIGHT -o zone.bmp\n");
        return 2;
    }
    for (int i = 0; i < 6; ++i)
        if (!ParseInt(pos[1 + i], v[i])) {
            std::fprintf(stderr, "plivors-host: '%s' is not a whole number\n", pos[1 + i].c_str());
            return 2;
        }
    CollectingCallback failure, cache;
    TInfoRaster raster{};
    raster.opcionesCache = &cache.record;
    if (!plugin.exports().abreRaster(pos[0].c_str(), &raster, &failure.record)) {
        std::fprintf(stderr, "plivors-host: cannot open %s: %s\n", pos[0].c_str(), failure.Joined().c_str());
        return 1;
    }
    ZoneImage image;
    ZoneRecord zr{};
    zr.record.tamano = sizeof(TBitmapZona);
    zr.record.prepara = &Prepare;
    zr.image = &image;
    int32_t width = v[4], height = v[5];
    TContextoDescarga context{};
    auto start = std::chrono::steady_clock::now();
    int32_t result = plugin.exports().abreZona(&raster, v[0], v[1], v[2], v[3], &width, &height, &zr.record,
                                               &failure.record, &context);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    plugin.exports().cierraRaster(&raster);
    if (result != 1) {
        std::fprintf(stderr, "plivors-host: zone failed: %s\n",
                     failure.texts.empty() ? "(no message)" : failure.Joined().c_str());
        return 1;
    }
    std::string error;
    if (!WriteBmp(out, image, error)) {
        std::fprintf(stderr, "plivors-host: %s\n", error.c_str());
        return 1;
    }
    double dx = std::abs(static_cast<double>(v[1]) - v[0]);
    int level = width > 0 ? LevelOf(dx / width) : 1;
    std::printf("level: %d\nsize: %d x %d\nbits per pixel: %d\ncolours: %zu\nstamp: %.2f\ntime: %.1f ms\nwritten: %s\n",
                level, width, height, image.bitsPerPixel, image.palette.size(), zr.record.sello, ms, out.c_str());
    return 0;
}
REGISTER_COMMAND(zone, "zone", "FILE.plvr X0 X1 Y0 Y1 WIDTH HEIGHT -o zone.bmp",
                 "render one zone to a BMP file", &Zone, nullptr);

int Locate(PluginLibrary& plugin, const std::vector<std::string>& args) {
    if (!RequireExport(plugin, 8)) return 1;
    double lon, lat;
    if (args.size() != 2 || !ParseDouble(args[0], lon) || !ParseDouble(args[1], lat)) {
        std::fprintf(stderr, "usage: plivors-host locate LON LAT\n");
        return 2;
    }
    char buffer[1024];
    std::memset(buffer, 0, sizeof buffer);
    bool ok = plugin.exports().getLocalizacion(0, lon, lat, 0, 0, buffer);
    if (!ok) {
        std::fprintf(stderr, "plivors-host: no place found (the plug-in answered '%s')\n", buffer);
        return 1;
    }
    std::printf("%s\n", Latin1ToUtf8(buffer).c_str());
    return 0;
}
REGISTER_COMMAND(locate, "locate", "LON LAT", "the place text of a position", &Locate, nullptr);

std::atomic<TProgreso*> gCancelTarget{nullptr};

#if defined(_WIN32)
BOOL WINAPI OnCtrl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (TProgreso* p = gCancelTarget.load()) p->cancelar = 1;
    return TRUE;
}
#else
void OnInterrupt(int) {
    if (TProgreso* p = gCancelTarget.load()) p->cancelar = 1;
}
#endif

void DrawProgress(int32_t have, int32_t total) {
    int filled = total > 0 ? static_cast<int>(30.0 * have / total) : 0;
    if (filled > 30) filled = 30;
    if (filled < 0) filled = 0;
    std::fprintf(stderr, "\r[%-30.*s] %d / %d bytes   ", filled, "##############################",
                 static_cast<int>(have), static_cast<int>(total));
}

int Download(PluginLibrary& plugin, const std::vector<std::string>& args) {
    if (!RequireExport(plugin, 3)) return 1;
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: plivors-host download NAME DIR\n");
        return 2;
    }
    TProgreso progress{};
    TContextoDescarga context{};
    context.progreso = &progress;
    CollectingCallback success, failure;
    gCancelTarget = &progress;
#if defined(_WIN32)
    SetConsoleCtrlHandler(&OnCtrl, TRUE);
#else
    std::signal(SIGINT, &OnInterrupt);
#endif
    std::atomic<bool> done{false};
    // The host watches the counters while the plug-in writes them; the text
    // itself may be reallocated meanwhile, so it is read only at the end.
    std::thread bar([&] {
        while (!done.load()) {
            DrawProgress(progress.bytesHechos, progress.bytesTotal);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    bool ok = plugin.exports().downloadMap(args[0].c_str(), 0, args[1].c_str(), &success.record, &failure.record,
                                           &context);
    done = true;
    bar.join();
    gCancelTarget = nullptr;
    // A small file arrives between two draws: the last line is drawn from the
    // final counters, or it would still show the state before the transfer.
    // Without an announced length, a complete transfer's total is what came.
    int32_t total = progress.bytesTotal;
    if (ok && total <= 0) total = progress.bytesHechos;
    DrawProgress(progress.bytesHechos, total);
    std::fputc('\n', stderr);
    // The plug-in allocated the text with the shared allocator.
    LiberaTextoProgreso(progress);
    if (!ok) {
        std::fprintf(stderr, "plivors-host: download failed: %s\n", failure.Joined().c_str());
        return 1;
    }
    std::printf("stored: %s\n", success.Joined().c_str());
    return 0;
}
REGISTER_COMMAND(download, "download", "NAME DIR", "download a descriptor file into a folder", &Download,
                 nullptr);

}  // namespace
