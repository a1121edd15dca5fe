#include "server/streets/update.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>

#include <boost/program_options.hpp>

#include "server/database/database.h"
#include "server/streets/command_line.h"
#include "server/streets/import.h"
#include "server/streets/latin_column.h"
#include "server/streets/named_streets.h"
#include "server/streets/tool_run.h"

namespace streets {
namespace {

using database::Execute;

struct UpdateJob {
    std::string file, url, style, transform, osmFile, server;
    int cache = 800;
    int processes = static_cast<int>(std::max(1u, std::min(4u, std::thread::hardware_concurrency())));
};

int Fail(const char* command, const std::string& why) {
    std::fprintf(stderr, "plivors-server %s: %s\n", command, why.c_str());
    return 1;
}

// A first look at the change file: its name says its packing, its first
// bytes agree. What lies further in is osm2pgsql's to judge.
std::string CheckChangeFile(const std::string& file) {
    const bool gz = EndsWith(file, ".osc.gz"), bz2 = EndsWith(file, ".osc.bz2"), xml = EndsWith(file, ".osc");
    if (!gz && !bz2 && !xml) return file + " is not an OpenStreetMap change file (.osc, .osc.gz or .osc.bz2)";
    std::string why;
    const std::string start = FileHead(file, 64, why);
    if (!why.empty()) return why;
    const bool ok = gz ? start.compare(0, 2, "\x1f\x8b") == 0
                       : bz2 ? start.compare(0, 3, "BZh") == 0
                             : start.find("<?xml") != std::string::npos || start.find("<osmChange") != std::string::npos;
    return ok ? "" : file + " is not a readable " + (gz ? "gzip" : bz2 ? "bzip2" : "OSM change XML") + " file";
}

// The command line; an exit status when there is nothing to do.
std::optional<int> ReadUpdateJob(const std::vector<std::string>& args, UpdateJob& job, bool init) {
    namespace po = boost::program_options;
    po::options_description options;
    options.add_options()("database", po::value(&job.url))("osm2pgsql-style", po::value(&job.style))(
        "tag-transform-script", po::value(&job.transform))("cache", po::value(&job.cache))(
        "processes", po::value(&job.processes))("osm-file", po::value(&job.osmFile))(
        "server", po::value(&job.server))("file", po::value(&job.file));
    const char* command = init ? "replication-init" : "update";
    if (std::optional<int> status = ReadCommandLine(args, options, init ? 0 : 1, command, UpdateUsage())) return status;
    const char* env = std::getenv("DATABASE");
    if (job.url.empty() && env != nullptr) job.url = env;
    if (init && job.osmFile.empty() == job.server.empty()) {
        std::fprintf(stderr, "plivors-server replication-init: give --osm-file FILE or --server URL\n\n%s", UpdateUsage());
        return 2;
    }
    if (!job.url.empty()) return std::nullopt;
    std::fprintf(stderr, "plivors-server %s: give --database URL\n\n%s", command, UpdateUsage());
    return 2;
}

// The imported data must be there, in osm2pgsql's slim form (its middle
// tables are what --append reads), and no import or other update runs.
// Makes the table of touched areas when it is missing.
void Prepare(PGconn* c) {
    const std::string ways = std::string(kLiveSchema) + ".planet_osm_ways";
    if (PQgetvalue(Execute(c, "SELECT to_regclass($1) IS NOT NULL", {ways}).get(), 0, 0)[0] != 't')
        throw std::runtime_error("the database holds no imported data to update (plivors-server import first)");
    const std::string lock = "SELECT pg_try_advisory_lock(" + std::to_string(kImportLock) + ")";
    if (std::strcmp(PQgetvalue(Execute(c, lock).get(), 0, 0), "t") != 0)
        throw std::runtime_error("an import or another update of this database is running");
    Execute(c, "SET client_min_messages = warning");
    Execute(c, std::string("CREATE TABLE IF NOT EXISTS ") + kExpiryTable +
                   " (seq bigint NOT NULL, at timestamptz NOT NULL DEFAULT now(), zoom int NOT NULL, "
                   "x int NOT NULL, y int NOT NULL)");
    Execute(c, std::string("CREATE INDEX IF NOT EXISTS plivors_expiry_seq_idx ON ") + kExpiryTable + " (seq)");
    Execute(c, "CREATE SEQUENCE IF NOT EXISTS public.plivors_expiry_numbers");
    // What changed where is no secret: every server's role reads it.
    Execute(c, std::string("GRANT SELECT ON ") + kExpiryTable + " TO PUBLIC");
}

// osm2pgsql's options for appending to the imported data: the import's
// style and schema, and the tiles it touched written to expireFile.
std::vector<std::string> AppendOptions(const UpdateJob& job, int zoom, const std::string& expireFile) {
    std::vector<std::string> o = {"--hstore", "--style", job.style,
                                  std::string("--output-pgsql-schema=") + kLiveSchema,
                                  std::string("--middle-schema=") + kLiveSchema, "--cache", std::to_string(job.cache),
                                  "--number-processes", std::to_string(job.processes),
                                  "--expire-tiles=" + std::to_string(zoom), "--expire-output=" + expireFile};
    if (!job.transform.empty()) o.insert(o.end(), {"--tag-transform-script", job.transform});
    return o;
}

// The change file by osm2pgsql, or what the replication source has new by
// osm2pgsql-replication (which runs osm2pgsql with the same options).
void Apply(const UpdateJob& job, int zoom, const std::string& expireFile) {
    std::string password;
    const std::string conninfo = Conninfo(job.url, password);
    std::vector<std::string> command;
    if (!job.file.empty()) {
        command = {"osm2pgsql", "--append", "--slim", "--database", conninfo};
    } else {
        command = {"osm2pgsql-replication", "update", "--database", conninfo, "--middle-schema", kLiveSchema, "--"};
    }
    const std::vector<std::string> options = AppendOptions(job, zoom, expireFile);
    command.insert(command.end(), options.begin(), options.end());
    if (!job.file.empty()) command.push_back(job.file);
    RunTool(command, password);
}

// The tiles osm2pgsql listed ("z/x/y" lines; it appends when it runs more
// than once), each once.
std::set<Tile> ReadTiles(const std::string& file) {
    std::set<Tile> tiles;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        int z, x, y;
        if (std::sscanf(line.c_str(), "%d/%d/%d", &z, &x, &y) == 3) tiles.emplace(z, x, y);
    }
    return tiles;
}

// In one transaction: the touched tiles under a new number, and that
// number sent to every listening server. Returns it.
std::string Record(PGconn* c, const std::set<Tile>& tiles) {
    std::string zs = "{", xs = "{", ys = "{";
    for (const Tile& t : tiles) {
        const char* comma = zs.size() > 1 ? "," : "";
        zs += comma + std::to_string(std::get<0>(t));
        xs += comma + std::to_string(std::get<1>(t));
        ys += comma + std::to_string(std::get<2>(t));
    }
    Execute(c, "BEGIN");
    const std::string seq = PQgetvalue(Execute(c, "SELECT nextval('public.plivors_expiry_numbers')").get(), 0, 0);
    Execute(c, std::string("INSERT INTO ") + kExpiryTable +
                   " (seq, zoom, x, y) SELECT $1, unnest($2::int[]), unnest($3::int[]), unnest($4::int[])",
            {seq, zs + "}", xs + "}", ys + "}"});
    Execute(c, "SELECT pg_notify($1, $2)", {kExpiryChannel, seq});
    Execute(c, "COMMIT");
    return seq;
}

// A temporary file's name, the file removed with it.
struct TemporaryFile {
    std::string name;
    TemporaryFile() {
        char pattern[] = "/tmp/plivors-expire-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) throw std::runtime_error(std::string("no temporary file: ") + std::strerror(errno));
        close(fd);
        name = pattern;
    }
    ~TemporaryFile() { std::remove(name.c_str()); }
};

// osm2pgsql has appended (or failed, when failure is set): the Latin names
// of the rows it wrote, then the record. A failed replication run still
// records what its earlier, successful runs applied.
int Finish(database::Connection& c, const UpdateJob& job, std::set<Tile> tiles, const std::string& failure,
           std::chrono::steady_clock::time_point start) {
    if (!failure.empty() && tiles.empty())
        return Fail("update", failure + "; nothing was recorded for the servers to draw again");
    const LatinColumnCount latin = UpdateLatinNames(c.get(), kLiveSchema);
    const size_t touched = tiles.size();
    const int zoom = touched > 0 ? std::get<0>(*tiles.begin()) : 0;
    for (const Tile& t : MergeTouchedStreets(c.get(), kLiveSchema, tiles, zoom)) tiles.insert(t);
    const std::string seq = tiles.empty() ? "none" : Record(c.get(), tiles);
    if (!failure.empty()) return Fail("update", failure + "; the areas of what was applied before are recorded");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Updated from %s: %zu areas touched and %zu more along the streets changed (update %s), "
                "%ld Latin names written; %.1f s\n",
                job.file.empty() ? "the replication source" : job.file.c_str(), touched, tiles.size() - touched,
                seq.c_str(), latin.written, seconds);
    return 0;
}

}  // namespace

const char* UpdateUsage() {
    return "usage: plivors-server update [FILE.osc|FILE.osc.gz|FILE.osc.bz2] --database URL\n"
           "                             [--osm2pgsql-style FILE] [--tag-transform-script FILE.lua]\n"
           "                             [--cache MB] [--processes N]\n"
           "       plivors-server replication-init --database URL (--osm-file FILE | --server URL)\n"
           "update applies an OpenStreetMap change file to the data imported by\n"
           "`plivors-server import` with osm2pgsql (the import's style and schema), or,\n"
           "without a file, what the replication source set up by replication-init has\n"
           "new (osm2pgsql-replication update). It then records the areas the changes\n"
           "touched and tells every running server, which draws them again and keeps\n"
           "serving the rest as it was. Nothing is recorded for changes not applied.\n"
           "replication-init sets the source up (osm2pgsql-replication init): from the\n"
           "replication headers of the extract imported (--osm-file), or from the date of\n"
           "the newest data imported (--server, the source's URL).\n";
}

int Update(const std::vector<std::string>& args, const std::string& defaultStyle, int expireZoom) {
    UpdateJob job;
    job.style = defaultStyle;
    if (std::optional<int> status = ReadUpdateJob(args, job, false)) return *status;
    const auto start = std::chrono::steady_clock::now();
    if (!job.file.empty()) {
        const std::string why = CheckChangeFile(job.file);
        if (!why.empty()) return Fail("update", why + "; nothing was applied");
    }
    SignalGuard signals;
    database::Connection c;
    try {
        database::ParseUrl(job.url);
        c = database::Connect(job.url, 10);
        Prepare(c.get());
    } catch (const std::exception& e) {
        return Fail("update", std::string(e.what()) + "; nothing was applied");
    }
    try {
        TemporaryFile expire;
        std::string failure;
        try {
            Apply(job, expireZoom, expire.name);
        } catch (const ToolFailed& e) {
            failure = std::string(job.file.empty() ? "osm2pgsql-replication" : "osm2pgsql") + " could not apply " +
                      (job.file.empty() ? "the replication source's changes" : job.file) + " (" + e.what() + ")";
        }
        return Finish(c, job, ReadTiles(expire.name), failure, start);
    } catch (const database::Unavailable& e) {
        return Fail("update", std::string("the connection to the database was lost: ") + e.what() +
                                  "; run the update again once it is back (the changes are applied anew)");
    } catch (const std::exception& e) {
        return Fail("update", e.what());
    }
}

int ReplicationInit(const std::vector<std::string>& args) {
    UpdateJob job;
    if (std::optional<int> status = ReadUpdateJob(args, job, true)) return *status;
    std::string password;
    try {
        std::vector<std::string> command = {"osm2pgsql-replication", "init", "--database", Conninfo(job.url, password),
                                            "--middle-schema", kLiveSchema};
        if (!job.osmFile.empty()) command.insert(command.end(), {"--osm-file", job.osmFile});
        else command.insert(command.end(), {"--server", job.server});
        RunTool(command, password);
    } catch (const std::exception& e) {
        return Fail("replication-init", e.what());
    }
    std::printf("Replication set up for %s: `plivors-server update --database URL` applies what is new\n",
                database::Printable(job.url).c_str());
    return 0;
}

}  // namespace streets
