// plivors-server: the map server of the plug-in. It answers
//   /plivors/client?cmd=map&img=1&width=W&height=H&scale=L&mocs=gdd&mo=LAT,LON
//       a GIF of exactly W x H pixels (a 0 counts as 1) of the spherical
//       Mercator window centred on LAT,LON at level L, rendered by Mapnik;
//   /plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=LAT,LON
//       the proximity page naming the nearest populated place;
//   /download/plugins/NAME
//       the file NAME of the downloads folder, or an HTML 404 page.
// A malformed request gets a 400 page. With --stand-in, the test stand-in
// answers instead (server/stand_in/).
#include <httplib.h>
#include <unistd.h>
#include <sys/socket.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "server/gazetteer/gazetteer.h"
#include "server/gazetteer/land_mask.h"
#include "server/http/answer_cache.h"
#include "server/http/map_service.h"
#include "server/http/requests.h"
#include "server/render/renderer.h"
#include "server/stand_in/stand_in.h"

namespace {

struct Settings {
    bool standIn = false;
    std::string bind = "127.0.0.1";
    int port = 8080;
    std::string portFile;
    std::string logFile;
    std::string downloads;
    std::string style;
    std::string data;
    int threads = 0;
    int cacheMegabytes = 256;
    PictureStyle pictures;
};

bool Exists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

std::string Directory(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Where style, data and downloads live: beside the installed program
// (<exe>/../share/plivors-server), else in the source tree it was built from.
struct Places {
    std::string style, data, downloads;
};

Places DefaultPlaces() {
    char exe[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string share = n > 0 ? Directory(Directory(std::string(exe, static_cast<size_t>(n)))) + "/share/plivors-server"
                              : std::string();
    if (!share.empty() && Exists(share + "/style/default.xml"))
        return {share + "/style/default.xml", share + "/data", share + "/maps"};
    return {PLIVORS_SOURCE_DIR "/server/style/default.xml", PLIVORS_SOURCE_DIR "/data", PLIVORS_SOURCE_DIR "/maps"};
}

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: plivors-server [--bind ADDRESS] [--port N] [--port-file F] [--log F]\n"
                 "                      [--style FILE.xml] [--data DIR] [--downloads DIR]\n"
                 "                      [--threads N] [--cache MB] [--stand-in]\n"
                 "       plivors-server --version\n"
                 "Serves maps rendered by Mapnik, place names and descriptor downloads on\n"
                 "ADDRESS (127.0.0.1 by default) port N (8080 by default, 0 picks a free one,\n"
                 "written to --port-file). --style renders with any Mapnik style (relative\n"
                 "file names are taken from the style's folder); the default style draws the\n"
                 "map data of --data (prepared by `make data`), which also feeds the place\n"
                 "names. --downloads is the folder of descriptor files (the sample maps by\n"
                 "default). Every request is logged with its time to --log F (else stdout).\n"
                 "--threads is the number of render workers (the cores by default), --cache\n"
                 "the memory for answers kept by request (256 MB by default).\n\n");
    std::fputs(stand_in::Usage(), out);
}

bool WritePort(const std::string& file, int port) {
    // Written whole and then renamed: a reader never sees half a number.
    std::string temporary = file + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    if (f == nullptr) return false;
    bool ok = std::fprintf(f, "%d\n", port) > 0;
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(temporary.c_str(), file.c_str()) == 0;
}

int Serve(httplib::Server& server, const Settings& settings) {
    // The library listens with a backlog of 5. A burst of simultaneous
    // connections (a host asking for a screenful of zones at once) overflows
    // it, and every dropped connection costs its client a one-second retry.
    // Listening again on the bound socket raises the backlog.
    int listening = -1;
    server.set_socket_options([&listening](int sock) {
        httplib::default_socket_options(sock);
        listening = sock;  // the last socket made is the one that was bound
    });
    int port = settings.port;
    if (port == 0) {
        port = server.bind_to_any_port(settings.bind);
        if (port < 0) {
            std::fprintf(stderr, "plivors-server: cannot bind %s\n", settings.bind.c_str());
            return 1;
        }
    } else if (!server.bind_to_port(settings.bind, port)) {
        std::fprintf(stderr, "plivors-server: cannot bind %s port %d\n", settings.bind.c_str(), port);
        return 1;
    }
    if (listening < 0 || ::listen(listening, SOMAXCONN) != 0) {
        std::fprintf(stderr, "plivors-server: cannot listen on %s port %d\n", settings.bind.c_str(), port);
        return 1;
    }
    if (!settings.portFile.empty() && !WritePort(settings.portFile, port)) {
        std::fprintf(stderr, "plivors-server: cannot write %s\n", settings.portFile.c_str());
        return 1;
    }
    std::printf("plivors-server%s listening on http://%s:%d\n", settings.standIn ? " (stand-in)" : "",
                settings.bind.c_str(), port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "plivors-server: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        using requests::ToInt;
        if (a == "--stand-in") settings.standIn = true;
        else if (a == "--bind") settings.bind = next();
        else if (a == "--port") settings.port = ToInt(next(), -1);
        else if (a == "--port-file") settings.portFile = next();
        else if (a == "--log") settings.logFile = next();
        else if (a == "--downloads") settings.downloads = next();
        else if (a == "--style") settings.style = next();
        else if (a == "--data") settings.data = next();
        else if (a == "--threads") settings.threads = ToInt(next(), -1);
        else if (a == "--cache") settings.cacheMegabytes = ToInt(next(), -1);
        else if (a == "--colors") settings.pictures.colors = ToInt(next(), 0);
        else if (a == "--interlace") settings.pictures.interlace = true;
        else if (a == "--transparent") settings.pictures.transparent = ToInt(next(), -1);
        else if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("plivors-server %s\n", PLIVORS_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "plivors-server: unknown option %s\n\n", a.c_str());
            Usage(stderr);
            return 2;
        }
    }
    if (settings.port < 0 || settings.port > 65535) {
        std::fprintf(stderr, "plivors-server: bad port\n");
        return 2;
    }
    if (settings.pictures.colors != 2 && settings.pictures.colors != 16 && settings.pictures.colors != 256) {
        std::fprintf(stderr, "plivors-server: --colors must be 2, 16 or 256\n");
        return 2;
    }
    if (settings.threads < 0 || settings.cacheMegabytes < 0) {
        std::fprintf(stderr, "plivors-server: --threads and --cache take a number\n");
        return 2;
    }
    const Places defaults = DefaultPlaces();
    if (settings.downloads.empty()) settings.downloads = defaults.downloads;

    std::FILE* log = stdout;
    if (!settings.logFile.empty()) {
        log = std::fopen(settings.logFile.c_str(), "w");
        if (log == nullptr) {
            std::perror(settings.logFile.c_str());
            return 1;
        }
    }
    httplib::Server server;
    server.set_keep_alive_timeout(30);

    if (settings.standIn) {
        stand_in::Options options{settings.pictures, settings.downloads};
        // Enough connection workers that many delayed requests overlap.
        server.new_task_queue = [] { return new httplib::ThreadPool(24); };
        RequestLog requests(log);
        server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
            requests.Line(req.target);  // on arrival: the tests read what reached the server
            stand_in::Handle(options, req, res);
        });
        return Serve(server, settings);
    }

    const bool ownStyle = !settings.style.empty();
    if (settings.data.empty()) settings.data = defaults.data;
    if (!ownStyle) settings.style = defaults.style;
    if (!Exists(settings.data + "/places.tsv") || !Exists(settings.data + "/land.shp")) {
        std::fprintf(stderr,
                     "plivors-server: no map data in %s (run `make data` in the source tree, or give --data DIR)\n",
                     settings.data.c_str());
        return 1;
    }
    if (!Exists(settings.style)) {
        std::fprintf(stderr, "plivors-server: no style file %s\n", settings.style.c_str());
        return 1;
    }
    const int threads = settings.threads > 0 ? settings.threads
                                             : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    try {
        render::SetUpMapnik();
        render::Renderer renderer(settings.style, ownStyle ? Directory(settings.style) : settings.data, threads);
        gazetteer::Gazetteer places(settings.data);
        // A boat on a lake is not at sea: the land and the lakes make the shore.
        gazetteer::LandMask land({settings.data + "/land", settings.data + "/lakes"});
        AnswerCache cache(static_cast<size_t>(settings.cacheMegabytes) << 20);
        RequestLog requests(log);
        MapService service{renderer, places, land, cache, requests, settings.downloads};
        // Connections wait on the render workers; keep enough of them that
        // idle keep-alive connections do not hold up new ones.
        server.new_task_queue = [threads] { return new httplib::ThreadPool(std::max(32, 4 * threads)); };
        // Headers and body leave in separate writes: without this, Nagle's
        // algorithm holds the body for the client's delayed acknowledgement
        // and a cached answer took 27 ms instead of one.
        server.set_tcp_nodelay(true);
        server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) { service.Handle(req, res); });
        return Serve(server, settings);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "plivors-server: %s\n", e.what());
        return 1;
    }
}
