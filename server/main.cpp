// plivors-server: the map server of the plug-in. It answers
//   /plivors/client?cmd=map&img=1&width=W&height=H&scale=L&mocs=gdd&mo=LAT,LON
//       a GIF of exactly W x H pixels (a 0 counts as 1) of the spherical
//       Mercator window centred on LAT,LON at level L, rendered by Mapnik;
//   /plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=LAT,LON
//       the proximity page naming the nearest populated place;
//   /download/plugins/NAME
//       the file NAME of the downloads folder, or an HTML 404 page;
//   /tiles/Z/X/Y.png, /, /status.json
//       XYZ tiles and the operator's page with its status.
// A malformed request gets a 400 page. With --stand-in, the test stand-in
// answers instead (server/stand_in/). Connections are served by the
// asynchronous front (server/front/). With --database, street maps and street
// names from OpenStreetMap data imported by `plivors-server import`
// (server/streets/) join the world map.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include "server/front/http_front.h"
#include "server/gazetteer/gazetteer.h"
#include "server/gazetteer/land_mask.h"
#include "server/http/answer_cache.h"
#include "server/http/map_service.h"
#include "server/http/requests.h"
#include "server/render/renderer.h"
#include "server/stand_in/stand_in.h"
#include "server/streets/import.h"
#include "server/streets/street_maps.h"
#include "server/streets/street_names.h"

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
    std::string database;
    streets::Labels labels = streets::Labels::Both;
    int threads = 0;
    int cacheMegabytes = 256;
    int maxAge = 86400;
    front::Limits limits;
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
    std::string streetStyle, importStyle;  // the street map's Mapnik style, osm2pgsql's style file
};

Places DefaultPlaces() {
    char exe[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string share = n > 0 ? Directory(Directory(std::string(exe, static_cast<size_t>(n)))) + "/share/plivors-server"
                              : std::string();
    if (!share.empty() && Exists(share + "/style/default.xml"))
        return {share + "/style/default.xml", share + "/data", share + "/maps", share + "/style/streets.xml",
                share + "/streets/plivors.style"};
    return {PLIVORS_SOURCE_DIR "/server/style/default.xml", PLIVORS_SOURCE_DIR "/data", PLIVORS_SOURCE_DIR "/maps",
            PLIVORS_STREET_STYLE, PLIVORS_SOURCE_DIR "/server/streets/plivors.style"};
}

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: plivors-server [--bind ADDRESS] [--port N] [--port-file F] [--log F]\n"
                 "                      [--style FILE.xml] [--data DIR] [--downloads DIR]\n"
                 "                      [--database URL] [--labels both|latin|local]\n"
                 "                      [--threads N] [--cache MB] [--max-age S]\n"
                 "                      [--idle-timeout S] [--request-timeout S] [--send-timeout S]\n"
                 "                      [--stand-in]\n"
                 "       plivors-server import FILE.osm.pbf --database URL   (import --help)\n"
                 "       plivors-server --version\n"
                 "Serves maps rendered by Mapnik, place names and descriptor downloads on\n"
                 "ADDRESS (127.0.0.1 by default) port N (8080 by default, 0 picks a free one,\n"
                 "written to --port-file). --style renders with any Mapnik style (relative\n"
                 "file names are taken from the style's folder); the default style draws the\n"
                 "map data of --data (prepared by `make data`), which also feeds the place\n"
                 "names. --database draws the streets, buildings, water and names of the\n"
                 "OpenStreetMap data imported into that PostGIS database (a libpq URL such as\n"
                 "postgresql://user@localhost/gis) over the world map at the fine levels, and\n"
                 "names places by their street; with --style, the style's PostGIS layers read\n"
                 "that database. While it is unreachable, maps and names answer 503.\n"
                 "--labels: street and place labels in the local name with its Latin form\n"
                 "beneath where the local one is in another script (both, the default), the\n"
                 "Latin form alone, or the local name alone.\n"
                 "--downloads is the folder of descriptor files (the sample maps by\n"
                 "default). Every request is logged with its time to --log F (else stdout).\n"
                 "--threads is the number of render workers (the cores by default), --cache\n"
                 "the memory for answers kept by request (256 MB by default), --max-age how\n"
                 "long other caches may keep maps, places and tiles (86400 s by default).\n"
                 "--idle-timeout closes idle connections (30 s), --request-timeout those whose\n"
                 "request has not arrived whole (10 s after its first byte), --send-timeout\n"
                 "clients that take nothing of their answer (30 s). SIGTERM stops the server\n"
                 "after the answers in flight.\n"
                 "Street map data \xC2\xA9 OpenStreetMap contributors, ODbL.\n\n");
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

// Binds, or says why not.
std::unique_ptr<front::Server> Bind(const Settings& settings) {
    try {
        return std::make_unique<front::Server>(settings.bind, settings.port, settings.limits);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "plivors-server: %s\n", e.what());
        return nullptr;
    }
}

// Serves until SIGTERM; bound already, everything loaded.
int Serve(front::Server& server, const Settings& settings, front::Handler handler, int threads) {
    if (!settings.portFile.empty() && !WritePort(settings.portFile, server.port())) {
        std::fprintf(stderr, "plivors-server: cannot write %s\n", settings.portFile.c_str());
        return 1;
    }
    std::printf("plivors-server%s listening on http://%s:%d%s\n", settings.standIn ? " (stand-in)" : "",
                settings.bind.c_str(), server.port(),
                settings.database.empty() ? "" : "; street maps \xC2\xA9 OpenStreetMap contributors, ODbL");
    std::fflush(stdout);
    server.Run(std::move(handler), threads);
    std::printf("plivors-server stopped\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "import")
        return streets::Import(std::vector<std::string>(argv + 2, argv + argc), DefaultPlaces().importStyle);
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
        else if (a == "--database") settings.database = next();
        else if (a == "--labels") {
            if (!streets::ReadLabels(next(), settings.labels)) {
                std::fprintf(stderr, "plivors-server: --labels is both, latin or local\n");
                return 2;
            }
        }
        else if (a == "--threads") settings.threads = ToInt(next(), -1);
        else if (a == "--cache") settings.cacheMegabytes = ToInt(next(), -1);
        else if (a == "--max-age") settings.maxAge = ToInt(next(), -1);
        else if (a == "--idle-timeout") settings.limits.idleSeconds = ToInt(next(), -1);
        else if (a == "--request-timeout") settings.limits.requestSeconds = ToInt(next(), -1);
        else if (a == "--send-timeout") settings.limits.sendSeconds = ToInt(next(), -1);
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
    if (settings.threads < 0 || settings.cacheMegabytes < 0 || settings.maxAge < 0) {
        std::fprintf(stderr, "plivors-server: --threads, --cache and --max-age take a number\n");
        return 2;
    }
    if (settings.limits.idleSeconds < 1 || settings.limits.requestSeconds < 1 || settings.limits.sendSeconds < 1) {
        std::fprintf(stderr, "plivors-server: --idle-timeout, --request-timeout and --send-timeout take seconds\n");
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
    // Idle connections cost a descriptor each and nothing more: allow as
    // many as the system lets this process have.
    front::RaiseDescriptorLimit();
    std::unique_ptr<front::Server> server = Bind(settings);
    if (!server) return 1;
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    if (settings.standIn) {
        stand_in::Options options{settings.pictures, settings.downloads};
        RequestLog requests(log);
        // Pictures are drawn off the front's threads; delays and trickles
        // are the front's timers, so any number of them overlap.
        boost::asio::thread_pool drawing(static_cast<size_t>(std::max(4, cores)));
        int status = Serve(*server, settings, [&](front::Request req, front::Reply reply) {
            requests.Line(req.target);  // on arrival: the tests read what reached the server
            boost::asio::post(drawing, [&options, req = std::move(req), reply = std::move(reply)] {
                reply(stand_in::Handle(options, req));
            });
        }, cores);
        drawing.join();
        return status;
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
    // The world map, and over it the street map of the database; a style
    // of the operator's own draws alone, its PostGIS layers reading the database.
    std::vector<render::StyleFile> styles = {{settings.style, ownStyle ? Directory(settings.style) : settings.data}};
    streets::StreetMaps street;
    if (!settings.database.empty()) {
        try {
            street = streets::SetUp(settings.database, ownStyle, defaults.streetStyle, settings.labels);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "plivors-server: %s\n", e.what());
            return 1;
        }
        styles.insert(styles.end(), street.styles.begin(), street.styles.end());
    }
    const int threads = settings.threads > 0 ? settings.threads : cores;
    try {
        render::SetUpMapnik();
        render::Renderer renderer(styles, street.postgis, threads, street.lazy);
        gazetteer::Gazetteer places(settings.data);
        // A boat on a lake is not at sea: the land and the lakes make the shore.
        gazetteer::LandMask land({settings.data + "/land", settings.data + "/lakes"});
        AnswerCache cache(static_cast<size_t>(settings.cacheMegabytes) << 20);
        RequestLog requests(log);
        Statistics statistics;
        MapService service{renderer,           places,         land,          cache,
                           requests,           statistics,     settings.downloads,
                           settings.maxAge,    PLIVORS_LEAFLET_DIR, settings.style, settings.data,
                           [&server] { return server->connections(); }, nullptr, nullptr, {}};
        // Street lookups wait on the database: on threads of their own, which
        // stop (and join) before the service they answer through.
        std::unique_ptr<streets::StreetNames> streetNames;
        std::optional<boost::asio::thread_pool> lookups;
        if (street.db != nullptr) {
            streetNames = std::make_unique<streets::StreetNames>(*street.db, places);
            lookups.emplace(static_cast<size_t>(std::max(4, cores)));
            service.streets = streetNames.get();
            service.streetDatabase = street.db.get();
            service.offFront = [&lookups](std::function<void()> job) { boost::asio::post(*lookups, std::move(job)); };
        }
        // The renderer outlives the front's run: renders still in flight
        // when it stops reply into a stopped front, which drops them.
        int status = Serve(*server, settings, [&](front::Request req, front::Reply reply) {
            service.Handle(std::move(req), std::move(reply));
        }, std::min(cores, 4));
        if (lookups) lookups->join();
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "plivors-server: %s\n", e.what());
        return 1;
    }
}
