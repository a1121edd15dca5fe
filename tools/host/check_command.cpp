// plivors-host check: the first thing to run when no map appears. It drives
// the plug-in through the three things that need a server (a zone, a place
// name, a download) and, for each failure, shows the plug-in's own message
// and what it most likely means.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "net/direcciones.h"
#include "net/fallo_red.h"
#include "platform/http.h"

namespace fs = std::filesystem;

namespace {

// Fixed probes: a sample map, a position inside it, a descriptor every
// Plivors server offers.
const int kSampleMap = 1000;
const double kProbeLongitude = -3.7038, kProbeLatitude = 40.4168;
const char* const kSampleDescriptor = "norte-1000.plvr";

struct Address {
    std::string url;
    std::string variable;
    bool fromEnvironment = false;
    std::string scheme;
    std::string host;
    std::string port;
};

// The address as the plug-in will take it: the variable when set and not
// empty (without trailing "/"), else the built-in default.
Address Resolve(const char* variable, const char* fallback) {
    Address a;
    a.variable = variable;
    const char* value = std::getenv(variable);
    a.fromEnvironment = value != nullptr && *value != 0;
    a.url = a.fromEnvironment ? value : fallback;
    while (!a.url.empty() && a.url.back() == '/') a.url.pop_back();
    std::string rest = a.url;
    a.scheme = "http";
    size_t sep = rest.find("://");
    if (sep != std::string::npos) {
        a.scheme = rest.substr(0, sep);
        rest = rest.substr(sep + 3);
    }
    rest = rest.substr(0, rest.find('/'));
    rest = rest.substr(rest.find('@') == std::string::npos ? 0 : rest.find('@') + 1);
    size_t colon = rest.rfind(':');
    if (colon != std::string::npos && rest.find(']', colon) == std::string::npos) {
        a.host = rest.substr(0, colon);
        a.port = rest.substr(colon + 1);
    } else {
        a.host = rest;
        a.port = a.scheme == "https" ? "443" : "80";
    }
    return a;
}

std::string Where(const Address& a) { return a.host + ":" + a.port; }

const char* kProxyAdvice =
    "If this computer reaches the web through a proxy, exclude this address from it (Windows: Internet Options, "
    "Connections, LAN settings; Linux: no_proxy).";

// What a refused certificate or a failed TLS handshake means, or "" for any
// other code. The plug-in never talks past a certificate it refused: the
// server may be an impostor, so the advice is to mend the certificate or the
// address, never to look away.
std::string SecureHint(unsigned long code, const Address& a) {
    const std::string certificate = "The certificate of " + Where(a) + " ";
    const std::string untrusted =
        ", so the plug-in does not talk to that server: it could be an impostor. If it is your own server, give "
        "it a certificate from a public authority with its whole chain (certbot's fullchain.pem); if your "
        "organisation has its own authority, add that authority to this computer's trusted ones.";
    switch (code) {
        case kErrorCertificadoNoValido:
            return certificate + "is not from an authority this computer trusts (it is self-signed or from a "
                   "private authority)" + untrusted;
        case kErrorRevocacionFallida:
            return certificate + "cannot be traced to an authority this computer trusts, or that authority's "
                   "list of withdrawn certificates cannot be reached" + untrusted;
        case kErrorFechaCertificado:
            return certificate + "has expired or is not valid yet. Check that this computer's date and time are "
                   "right; if they are, the server's operator must renew the certificate (certbot renew).";
        case kErrorNombreCertificado:
            return certificate + "is made for another name than '" + a.host + "'. Write the address with the "
                   "name the certificate is made for in " + a.variable + " (an IP address or a nickname is not "
                   "covered); if the name is right, the operator must get a certificate that covers it.";
        case kErrorCertificadoInvalido:
            return certificate + "is not valid for a web server (damaged, revoked or made for another use): "
                   "the server's operator must replace it.";
        case kErrorCanalSeguro:
            return "No secure connection could be made with " + Where(a) + ": nothing there speaks https on that "
                   "port (if the server speaks plain http there, write http:// in " + a.variable + "), or it "
                   "offers only outdated versions of TLS.";
        default:
            return "";
    }
}

// Plain-language reading of a failure of the HTTP client, or "" when the
// message is not one of its connection failures.
std::string ConnectionHint(const std::string& message, const Address& a) {
    TFalloRed failure = LeeFalloRed(message.c_str());
    // An https server that receives plain http answers 400 and names the
    // mistake in a page the plug-in does not show.
    if (failure.tipo == TTipoFallo::kEstado && failure.codigo == 400 && a.scheme == "http")
        return "The server at " + Where(a) + " rejected the request as malformed (HTTP 400). That is how an "
               "https server answers plain http: if it is one, write https://" + Where(a) + " in " + a.variable +
               ".";
    switch (failure.tipo) {
        case TTipoFallo::kSinRed:
            return "The system reports no network connection. Check that this computer is connected.";
        case TTipoFallo::kFicheroLocal:
        case TTipoFallo::kEscrituraLocal:
            return "The plug-in cannot write its file here: the folder is missing, read-only or the disk is full.";
        case TTipoFallo::kPlazo:
            return Where(a) + " did not answer in time: a firewall may be dropping the connection, the server "
                   "may be overloaded, or a proxy is in the way. " + kProxyAdvice;
        case TTipoFallo::kConexion:
            break;
        default:
            return "";
    }
    switch (failure.codigo) {
        case kErrorNoConecta:
            return "Nothing accepts connections at " + Where(a) +
                   ". Is plivors-server running there? Is the port right (the server listens on 8080 unless "
                   "configured otherwise)? Set " + a.variable +
                   " to the server's address. A firewall may also refuse the connection.";
        case kErrorNombreNoResuelto:
            return "The name '" + a.host + "' cannot be resolved: check the spelling of " + a.variable +
                   ", or use the server's IP address. " + kProxyAdvice;
        case kErrorUrlNoValida:
        case kErrorEsquemaDesconocido:
            return "'" + a.url + "' is not a usable address: write it as http://HOST:PORT or https://HOST:PORT "
                   "in " + a.variable + ".";
        case kErrorConexionAbortada:
        case kErrorConexionReiniciada:
        case kErrorRespuestaNoValida:
            return "Something at " + Where(a) + " took the connection but did not answer as a web server: "
                   "a wrong port, an https server asked with http:// (write https:// in " + a.variable +
                   "), or not a Plivors server. " + kProxyAdvice;
        default: {
            std::string secure = SecureHint(failure.codigo, a);
            if (!secure.empty()) return secure;
            return "Unexpected failure. Compare with the server's own log, and check " + a.variable + ".";
        }
    }
}

struct Step {
    explicit Step(const char* n) : name(n) {}
    const char* name;
    bool ok = false;
    double ms = 0;
    std::string detail;   // what worked, or the plug-in's message
    std::string hint;     // failures only
};

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Words of text on lines of at most 80 columns, each after the indent.
std::string Wrapped(const std::string& text, const std::string& indent) {
    std::string out, line;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        if (!line.empty() && indent.size() + line.size() + 1 + word.size() > 80) {
            out += indent + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) out += indent + line + "\n";
    return out;
}

void PrintStep(const Step& s) {
    std::printf("%-11s %-6s %8.1f ms  %s\n", s.name, s.ok ? "ok" : "FAILED", s.ms, s.detail.c_str());
    if (!s.ok && !s.hint.empty()) std::fputs(Wrapped("hint: " + s.hint, std::string(12, ' ')).c_str(), stdout);
    std::fflush(stdout);
}

struct ZoneTarget {
    TBitmapZona record;
    std::vector<unsigned char> pixels;
    int prepared;
};

void PLIVORS_CDECL PrepareZone(TBitmapZona* r) {
    ZoneTarget* t = reinterpret_cast<ZoneTarget*>(r);
    ++t->prepared;
    long long stride = ((static_cast<long long>(r->ancho) * r->bitsPorPixel + 31) / 32) * 4;
    long long rows = r->alto < 0 ? -static_cast<long long>(r->alto) : r->alto;
    t->pixels.assign(stride > 0 && rows > 0 ? static_cast<size_t>(stride * rows) : 1, 0);
    r->pixeles = t->pixels.data();
}

bool WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out.flush());
}

std::string FailureOf(const CollectingCallback& failure) {
    return failure.texts.empty() ? "(the plug-in sent no message)" : failure.Joined();
}

Step CheckZone(PluginLibrary& plugin, const fs::path& folder, const Address& map) {
    Step s("zone");
    const PluginExports& e = plugin.exports();
    if (!e.abreRaster || !e.abreZona || !e.cierraRaster) {
        s.detail = "the plug-in lacks the raster exports";
        s.hint = "This is not a complete Plivors plug-in: install it again from the package.";
        return s;
    }
    fs::path descriptor = folder / "check.plvr";
    if (!WriteText(descriptor, "VERSION=1\nIDMAPA=" + std::to_string(kSampleMap) + "\n")) {
        s.detail = "cannot write " + descriptor.string();
        s.hint = "The temporary folder cannot be written: check TEMP (Windows) or TMPDIR.";
        return s;
    }
    CollectingCallback failure;
    TInfoRaster raster{};
    auto start = std::chrono::steady_clock::now();
    if (!e.abreRaster(descriptor.string().c_str(), &raster, &failure.record)) {
        s.ms = MillisecondsSince(start);
        s.detail = "map " + std::to_string(kSampleMap) + " does not open: " + FailureOf(failure);
        s.hint = "The plug-in rejects its own sample map: install it again from the package.";
        return s;
    }
    // The whole map, drawn small: one request at a coarse level.
    ZoneTarget target{};
    target.record.tamano = sizeof(TBitmapZona);
    target.record.prepara = &PrepareZone;
    int32_t width = 320, height = raster.ancho > 0 ? static_cast<int32_t>(320LL * raster.alto / raster.ancho) : 240;
    if (height < 1) height = 1;
    TContextoDescarga context{};
    int32_t result = e.abreZona(&raster, 0, raster.ancho, 0, raster.alto, &width, &height, &target.record,
                                &failure.record, &context);
    s.ms = MillisecondsSince(start);
    e.cierraRaster(&raster);
    if (result == 1 && target.prepared == 1 && target.record.ancho > 0) {
        s.ok = true;
        s.detail = "map " + std::to_string(kSampleMap) + ", " + std::to_string(target.record.ancho) + " x " +
                   std::to_string(target.record.alto < 0 ? -target.record.alto : target.record.alto) + " pixels, " +
                   std::to_string(target.record.bitsPorPixel) + " bits per pixel";
        return s;
    }
    s.detail = FailureOf(failure);
    s.hint = ConnectionHint(s.detail, map);
    if (s.hint.empty())
        s.hint = "The server at " + Where(map) + " answered, but not with a map picture: it is not a Plivors "
                 "map server (is the port right?), or a proxy answered in its place. " + kProxyAdvice;
    return s;
}

Step CheckPlaceName(PluginLibrary& plugin, const Address& map, const Step& zone) {
    Step s("place name");
    if (!plugin.exports().getLocalizacion) {
        s.detail = "the plug-in lacks the place-name export";
        s.hint = "This is not a complete Plivors plug-in: install it again from the package.";
        return s;
    }
    char buffer[1024];
    std::memset(buffer, 0, sizeof buffer);
    auto start = std::chrono::steady_clock::now();
    bool ok = plugin.exports().getLocalizacion(0, kProbeLongitude, kProbeLatitude, 0, 0, buffer);
    s.ms = MillisecondsSince(start);
    buffer[sizeof buffer - 1] = 0;
    char position[64];
    std::snprintf(position, sizeof position, "%.4f %.4f", kProbeLongitude, kProbeLatitude);
    if (ok && buffer[0] != 0) {
        s.ok = true;
        s.detail = std::string(position) + ": " + Latin1ToUtf8(buffer);
        return s;
    }
    // This export has no message channel: the zone, asked of the same server,
    // tells whether the server is there at all.
    s.detail = std::string(position) + ": no place name (this call of the plug-in reports no reason)";
    if (!zone.ok && !zone.hint.empty())
        s.hint = "The same server as the zone: see its hint.";
    else
        s.hint = "The server at " + Where(map) + " draws maps but gave no place-name page: it is not a Plivors "
                 "server, or a proxy answered in its place.";
    return s;
}

std::string Printable(const std::string& bytes) {
    std::string out;
    for (char c : bytes.substr(0, 40)) out += (c >= 32 && c < 127) ? c : ' ';
    return out;
}

std::string NotOffered(const Address& a) {
    return "The server at " + Where(a) + " does not offer " + kSampleDescriptor +
           ": it is not a Plivors server (is the port right? set " + a.variable +
           "), its download folder lacks the sample descriptors, or a proxy answered in its place.";
}

Step CheckDownload(PluginLibrary& plugin, const fs::path& folder, const Address& downloads) {
    Step s("download");
    const PluginExports& e = plugin.exports();
    if (!e.downloadMap || !e.abreRaster || !e.cierraRaster) {
        s.detail = "the plug-in lacks the download exports";
        s.hint = "This is not a complete Plivors plug-in: install it again from the package.";
        return s;
    }
    fs::path into = folder / "downloads";
    std::error_code ec;
    fs::create_directory(into, ec);
    TProgreso progress{};
    TContextoDescarga context{};
    context.progreso = &progress;
    CollectingCallback success, failure;
    std::string folderText = into.string();
    auto start = std::chrono::steady_clock::now();
    bool ok = e.downloadMap(kSampleDescriptor, 0, folderText.c_str(), &success.record, &failure.record, &context);
    s.ms = MillisecondsSince(start);
    int32_t received = progress.bytesHechos;
    LiberaTextoProgreso(progress);
    if (!ok) {
        s.detail = kSampleDescriptor + std::string(": ") + FailureOf(failure);
        s.hint = ConnectionHint(failure.Joined(), downloads);
        if (s.hint.empty()) s.hint = NotOffered(downloads);
        return s;
    }
    // The HTTP status is not judged: a server without the file answers with
    // a page, which is then stored under the descriptor's name. Only a file
    // the plug-in opens as a map counts.
    std::string stored = success.Joined();
    CollectingCallback openFailure;
    TInfoRaster raster{};
    if (e.abreRaster(stored.c_str(), &raster, &openFailure.record)) {
        e.cierraRaster(&raster);
        s.ok = true;
        s.detail = kSampleDescriptor + std::string(", ") + std::to_string(received) + " bytes, a map descriptor";
        return s;
    }
    std::ifstream in(stored, std::ios::binary);
    std::string head(64, '\0');
    in.read(&head[0], static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    s.detail = kSampleDescriptor + std::string(": ") + std::to_string(received) +
               " bytes arrived, but they are not a map descriptor (they begin \"" + Printable(head) + "\")";
    s.hint = NotOffered(downloads);
    return s;
}

// A fresh folder for the check's files; the plug-in's temporary files also
// land in the working folder, so the check works from inside it.
fs::path MakeFolder(std::string& error) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = fs::current_path();
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = base / ("plivors-check-" + std::to_string(stamp % 1000000007) + "-" + std::to_string(attempt));
        if (fs::create_directory(p, ec)) return p;
    }
    error = "cannot create a folder under " + base.string();
    return fs::path();
}

void DescribeAddress(const char* label, const Address& a) {
    std::printf("%-16s %s  (%s)\n", label, a.url.c_str(),
                a.fromEnvironment ? ("from " + a.variable).c_str() : ("built-in default; " + a.variable + " is not set").c_str());
}

int Check(PluginLibrary& plugin, const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "usage: plivors-host check\n");
        return 2;
    }
    const PluginExports& e = plugin.exports();
    std::printf("plivors-host %s\n", PLIVORS_VERSION);
    std::printf("plug-in          %s\n", plugin.path().c_str());
    std::printf("plug-in version  %d\n", e.version ? static_cast<int>(e.version()) : -1);
    int present = 0;
    for (int i = 0; i < 9; ++i) {
        std::printf("  %-30s %s\n", PluginLibrary::kExportNames[i], plugin.Has(i) ? "present" : "MISSING");
        if (plugin.Has(i)) ++present;
    }
    std::printf("exports          %d of 9\n", present);
    Address map = Resolve("PLIVORS_MAP_SERVER", kServidorMapasPorDefecto);
    Address downloads = Resolve("PLIVORS_DOWNLOAD_SERVER", kServidorDescargasPorDefecto);
    DescribeAddress("map server", map);
    DescribeAddress("download server", downloads);
    std::printf("\n");
    std::fflush(stdout);

    std::string error;
    fs::path folder = MakeFolder(error);
    if (folder.empty()) {
        std::printf("check stopped: %s\n", error.c_str());
        return 1;
    }
    std::error_code ec;
    fs::path previous = fs::current_path(ec);
    fs::current_path(folder, ec);

    Step zone = CheckZone(plugin, folder, map);
    PrintStep(zone);
    Step place = CheckPlaceName(plugin, map, zone);
    PrintStep(place);
    Step download = CheckDownload(plugin, folder, downloads);
    PrintStep(download);

    fs::current_path(previous, ec);
    fs::remove_all(folder, ec);
    int failed = !zone.ok + !place.ok + !download.ok;
    if (failed == 0)
        std::printf("\nall three work: the plug-in is ready\n");
    else
        std::printf("\n%d of 3 failed\n", failed);
    return failed == 0 ? 0 : 1;
}

std::string LoadHint(const std::string& path) {
    return "hint: the plug-in must be the file " + path +
           " (or name it with --plugin PATH). A copy from another package, or one that is damaged, does not "
           "load: install it again from the package.\n";
}

}  // namespace

REGISTER_COMMAND(check, "check", "",
                 "what works and what does not: the plug-in, both server addresses, a zone, a place name, a download",
                 &Check, &LoadHint);
