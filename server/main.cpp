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
// A malformed request gets a 400 page. Connections are served by the
// asynchronous front (server/front/). With --database, street maps and street
// names from OpenStreetMap data imported by `plivors-server import`
// (server/streets/) join the world map. This file only wires: the options
// are read in server/options/, the answers made in server/http/.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "server/blocks/block_maps.h"
#include "server/blocks/disk_store.h"
#include "server/blocks/expiry.h"
#include "server/blocks/generation.h"
#include "server/blocks/memory_store.h"
#include "server/front/serving.h"
#include "server/gazetteer/gazetteer.h"
#include "server/gazetteer/land_mask.h"
#include "server/geo.h"
#include "server/http/answer_cache.h"
#include "server/http/map_service.h"
#include "server/options/server_options.h"
#include "server/render/renderer.h"
#include "server/streets/expiry_listener.h"
#include "server/streets/import.h"
#include "server/streets/street_maps.h"
#include "server/streets/street_names.h"
#include "server/streets/update.h"

namespace {

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

// The defaults filled in, the map data and the style checked; false after
// saying what is missing.
bool Complete(options::Settings& s, const Places& defaults) {
    if (s.serving.downloads.empty()) s.serving.downloads = defaults.downloads;
    if (s.data.empty()) s.data = defaults.data;
    if (!Exists(s.data + "/places.tsv") || !Exists(s.data + "/land.shp")) {
        std::fprintf(stderr,
                     "plivors-server: no map data in %s (run `make data` in the source tree, or give --data DIR)\n",
                     s.data.c_str());
        return false;
    }
    if (!s.style.empty() && !Exists(s.style)) {
        std::fprintf(stderr, "plivors-server: no style file %s\n", s.style.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> StyleFiles(const std::vector<render::StyleFile>& styles) {
    std::vector<std::string> files;
    for (const render::StyleFile& s : styles) files.push_back(s.file);
    return files;
}

// What the blocks are drawn from, as the server starts: the style files and
// the data folders (the street import is polled apart).
std::string DrawnFrom(const std::vector<render::StyleFile>& styles, const std::string& data) {
    return blocks::Fingerprint(StyleFiles(styles), {data, styles.front().base});
}

// Where each level's palette is sampled: the largest places, and main
// streets spread over the street data when there is a database.
blocks::BlockMaps::Samples PaletteSamples(const gazetteer::Gazetteer& places, database::Database* db) {
    return [&places, db] {
        std::vector<std::pair<double, double>> points;
        for (const gazetteer::Place* p : places.Largest(3))
            points.emplace_back(geo::MercatorX(p->lon), geo::MercatorY(p->lat));
        try {
            if (db != nullptr)
                for (const auto& p : streets::StreetSamples(*db, 3)) points.push_back(p);
        } catch (const std::exception&) {  // no streets there: the samples' own draws tell
        }
        return points;
    };
}

// Street updates: what they touched is drawn again, the rest kept.
std::unique_ptr<streets::ExpiryListener> ListenForUpdates(const std::string& url, blocks::Expiries& expiries,
                                                          blocks::BlockMaps& maps, MapService& service) {
    return std::make_unique<streets::ExpiryListener>(
        url, [&expiries, &maps, &service](uint64_t update, const std::vector<streets::ExpiredTile>& tiles) {
            std::vector<blocks::Area> areas;
            for (const streets::ExpiredTile& t : tiles) areas.push_back(blocks::TileArea(t.zoom, t.column, t.row));
            expiries.Add(update, areas);
            maps.DropExpired();
            service.Expire(areas);
        });
}

// Loads everything and serves until SIGTERM; throws what cannot be loaded.
int Run(front::Server& server, const options::Settings& s, const Places& defaults) {
    const bool ownStyle = !s.style.empty();
    const std::string style = ownStyle ? s.style : defaults.style;
    // The world map, and over it the street map of the database; a style
    // of the operator's own draws alone, its PostGIS layers reading the database.
    std::vector<render::StyleFile> styles = {{style, ownStyle ? Directory(style) : s.data}};
    streets::StreetMaps street;
    if (!s.database.empty()) {
        streets::Labels labels = streets::Labels::Both;
        streets::ReadLabels(s.labels, labels);  // checked with the options
        street = streets::SetUp(s.database, ownStyle, defaults.streetStyle, labels);
        styles.insert(styles.end(), street.styles.begin(), street.styles.end());
    }
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    render::SetUpMapnik();
    auto renderer = std::make_unique<render::Renderer>(styles, street.postgis, s.threads > 0 ? s.threads : cores,
                                                       street.lazy);
    gazetteer::Gazetteer places(s.data);
    // A boat on a lake is not at sea: the land and the lakes make the shore.
    gazetteer::LandMask land({s.data + "/land", s.data + "/lakes"});
    // Blocks take three quarters of the memory: an answer is cut from them
    // again in milliseconds.
    const uint64_t memory = static_cast<uint64_t>(s.cacheMegabytes) << 20;
    AnswerCache cache(memory / 4);
    blocks::MemoryStore blockMemory(memory - memory / 4);
    std::unique_ptr<blocks::DiskStore> blockDisk;
    if (!s.blockStore.empty())
        blockDisk = std::make_unique<blocks::DiskStore>(s.blockStore, static_cast<uint64_t>(s.blockStoreMegabytes) << 20);
    database::Database* db = street.db.get();
    blocks::Generation generation(DrawnFrom(styles, s.data), db == nullptr ? std::function<std::string()>()
                                                                           : [db] { return streets::ImportName(*db); });
    blocks::Expiries expiries;
    blocks::BlockMaps maps(*renderer, blockMemory, blockDisk.get(), PaletteSamples(places, db),
                           blocks::StyleColours(StyleFiles(styles)), db != nullptr ? &expiries : nullptr);
    front::RequestLog requests(s.serving.logFile);
    Statistics statistics;
    std::optional<streets::StreetNames> streetNames;
    std::optional<MapService::StreetParts> streetParts;
    if (street.db != nullptr) streetParts.emplace(MapService::StreetParts{streetNames.emplace(*street.db, places), *street.db});
    MapService service({maps, generation, places, land, cache, requests, statistics,
                        [&server] { return server.connections(); }, db != nullptr ? &expiries : nullptr},
                       {s.serving.downloads, s.maxAge, s.streetMaxAge, PLIVORS_LEAFLET_DIR, style, s.data},
                       streetParts);
    std::unique_ptr<streets::ExpiryListener> updates =
        db != nullptr ? ListenForUpdates(s.database, expiries, maps, service) : nullptr;
    const int status = front::Serve(
        server, s.serving, "plivors-server",
        s.database.empty() ? "" : "; street maps \xC2\xA9 OpenStreetMap contributors, ODbL",
        [&](front::Request req, front::Reply reply) { service.Handle(std::move(req), std::move(reply)); },
        std::min(cores, 4));
    // Draws still queued finish now, and the zones cut from them, while the
    // blocks, the statistics and the log they report to are all still
    // there; their answers go to a stopped front, which drops them. The
    // updates' listener stops first: it drops blocks.
    updates.reset();
    renderer.reset();
    maps.Drain();
    return status;
}

int Serve(const std::vector<std::string>& args) {
    options::Settings settings;
    const options::Outcome outcome = options::Parse(args, settings);
    if (!outcome.serve) {
        std::fputs(outcome.text.c_str(), outcome.status == 0 ? stdout : stderr);
        return outcome.status;
    }
    const Places defaults = DefaultPlaces();
    if (!Complete(settings, defaults)) return 1;
    try {
        // Idle connections cost a descriptor each and nothing more: allow as
        // many as the system lets this process have.
        front::RaiseDescriptorLimit();
        std::unique_ptr<front::Server> server = front::Bind(settings.serving, "plivors-server");
        return server ? Run(*server, settings, defaults) : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "plivors-server: %s\n", e.what());
        return 1;
    }
}

int Import(const std::vector<std::string>& args) { return streets::Import(args, DefaultPlaces().importStyle); }
int Update(const std::vector<std::string>& args) {
    return streets::Update(args, DefaultPlaces().importStyle, blocks::ExpiryZoom());
}

// The commands named by the first word; without one, the server serves.
struct Subcommand {
    const char* name;
    int (*run)(const std::vector<std::string>& args);
};
const Subcommand kSubcommands[] = {
    {"import", &Import},
    {"update", &Update},
    {"replication-init", &streets::ReplicationInit},
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    for (const Subcommand& command : kSubcommands)
        if (!words.empty() && words[0] == command.name) return command.run({words.begin() + 1, words.end()});
    return Serve(words);
}
