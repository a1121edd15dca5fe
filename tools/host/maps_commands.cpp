// Opening a descriptor as a raster, and its calibration text.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const int kAbreRaster = 4;
const int kCierraRaster = 6;
const int kLeeCalibracion = 7;

// Texts go out byte for byte: no CR is added before the LFs they carry.
void BinaryStdout() {
    std::fflush(stdout);
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

// Failure texts joined, or a note that the plug-in sent none.
std::string FailureText(const CollectingCallback& failure) {
    if (failure.texts.empty()) return "failed without a message";
    std::string all;
    for (size_t i = 0; i < failure.texts.size(); ++i) all += (i ? " | " : "") + failure.texts[i];
    return all;
}

int Open(PluginLibrary& plugin, const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "plivors-host: usage: open FILE.plvr\n");
        return 2;
    }
    if (!RequireExport(plugin, kAbreRaster) || !RequireExport(plugin, kCierraRaster)) return 1;
    const std::string& path = args[0];
    TInfoRaster raster{};
    CollectingCallback cache, failure;
    raster.opcionesCache = &cache.record;
    bool ok = plugin.exports().abreRaster(path.c_str(), &raster, &failure.record);
    if (!ok) {
        std::fprintf(stderr, "plivors-host: cannot open %s: %s\n", path.c_str(), FailureText(failure).c_str());
        if (raster.datos != nullptr) std::fprintf(stderr, "plivors-host: the failed open left a raster open\n");
        return 1;
    }
    int rc = 0;
    if (raster.datos == nullptr) {
        std::fprintf(stderr, "plivors-host: the plug-in reported success but left no raster open\n");
        rc = 1;
    }
    if (cache.texts.size() != 1) {
        std::fprintf(stderr, "plivors-host: expected one cache settings text, received %d\n",
                     static_cast<int>(cache.texts.size()));
        rc = 1;
    }
    BinaryStdout();
    std::printf("width: %d\nheight: %d\ncache settings:\n", static_cast<int>(raster.ancho),
                static_cast<int>(raster.alto));
    std::fputs(cache.Joined().c_str(), stdout);
    std::fflush(stdout);
    plugin.exports().cierraRaster(&raster);
    return rc;
}
REGISTER_COMMAND(open, "open", "FILE.plvr", "open a descriptor: raster width, height and cache settings", &Open,
                 nullptr);

int Calibrate(PluginLibrary& plugin, const std::vector<std::string>& args) {
    std::string path, output;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o") {
            if (i + 1 >= args.size() || !output.empty()) {
                std::fprintf(stderr, "plivors-host: usage: calibrate FILE.plvr [-o FILE.map]\n");
                return 2;
            }
            output = args[++i];
        } else if (path.empty()) {
            path = args[i];
        } else {
            std::fprintf(stderr, "plivors-host: usage: calibrate FILE.plvr [-o FILE.map]\n");
            return 2;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "plivors-host: usage: calibrate FILE.plvr [-o FILE.map]\n");
        return 2;
    }
    if (!RequireExport(plugin, kLeeCalibracion)) return 1;
    CollectingCallback success, failure;
    bool ok = plugin.exports().leeCalibracion(path.c_str(), &success.record, &failure.record);
    if (!ok) {
        std::fprintf(stderr, "plivors-host: cannot calibrate %s: %s\n", path.c_str(), FailureText(failure).c_str());
        return 1;
    }
    if (success.texts.size() != 1 || !failure.texts.empty()) {
        std::fprintf(stderr, "plivors-host: expected one calibration text and no failure, received %d and %d\n",
                     static_cast<int>(success.texts.size()), static_cast<int>(failure.texts.size()));
        return 1;
    }
    const std::string& text = success.texts[0];
    if (output.empty()) {
        BinaryStdout();
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return 0;
    }
    std::FILE* f = std::fopen(output.c_str(), "wb");
    bool written = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f != nullptr && std::fclose(f) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "plivors-host: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("calibration of %s written to %s (%d bytes)\n", path.c_str(), output.c_str(),
                static_cast<int>(text.size()));
    return 0;
}
REGISTER_COMMAND(calibrate, "calibrate", "FILE.plvr [-o FILE.map]", "the MAP calibration text of a descriptor",
                 &Calibrate, nullptr);

}  // namespace
