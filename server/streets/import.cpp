#include "server/streets/import.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

#include <boost/program_options.hpp>

#include "server/database/database.h"
#include "server/streets/command_line.h"
#include "server/streets/import_record.h"
#include "server/streets/latin_column.h"
#include "server/streets/named_streets.h"
#include "server/streets/tool_run.h"

namespace streets {
namespace {

using database::Execute;
using database::StatementFailed;

// A first look at the file, so that a plainly wrong one is refused before
// the database is touched: its name says its format, its first bytes agree.
std::string CheckFile(const std::string& file) {
    const bool pbf = EndsWith(file, ".osm.pbf") || EndsWith(file, ".pbf");
    const bool bz2 = EndsWith(file, ".osm.bz2");
    const bool xml = EndsWith(file, ".osm");
    if (!pbf && !bz2 && !xml) return file + " is not an OpenStreetMap extract (.osm.pbf, .osm or .osm.bz2)";
    std::string why;
    const std::string start = FileHead(file, 32, why);
    if (!why.empty()) return why;
    bool ok;
    if (pbf) ok = start.size() >= 14 && start.compare(4, 1, "\x0a") == 0 && start.find("OSMHeader") != std::string::npos;
    else if (bz2) ok = start.compare(0, 3, "BZh") == 0;
    else ok = start.find("<?xml") != std::string::npos || start.find("<osm") != std::string::npos;
    if (!ok) return file + " is not a readable " + (pbf ? "OSM PBF" : bz2 ? "bzip2" : "OSM XML") + " file";
    return "";
}

std::string Identifier(PGconn* c, const std::string& name) {
    char* q = PQescapeIdentifier(c, name.c_str(), name.size());
    std::string s = q != nullptr ? q : name;
    PQfreemem(q);
    return s;
}

// The import cannot begin; nothing was changed.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What the command line asks for.
struct Job {
    std::string file, url, style, transform;
    int cache = 800;  // MB of osm2pgsql's node cache
    int processes = static_cast<int>(std::max(1u, std::min(4u, std::thread::hardware_concurrency())));
};

// The schemas' names quoted for SQL, on a connection.
struct Schemas {
    std::string fresh, live, replaced;
    explicit Schemas(PGconn* c)
        : fresh(Identifier(c, kImportSchema)),
          live(Identifier(c, kLiveSchema)),
          replaced(Identifier(c, std::string(kLiveSchema) + "_replaced")) {}
};

// Stage 1: the command line read and the input checked, before the
// database is touched; an exit status when there is nothing to import.
std::optional<int> ReadJob(const std::vector<std::string>& args, Job& job) {
    namespace po = boost::program_options;
    po::options_description options;
    options.add_options()("database", po::value(&job.url))("osm2pgsql-style", po::value(&job.style))(
        "tag-transform-script", po::value(&job.transform))("cache", po::value(&job.cache))(
        "processes", po::value(&job.processes))("file", po::value(&job.file));
    if (std::optional<int> status = ReadCommandLine(args, options, 1, "import", ImportUsage())) return status;
    job.processes = std::max(1, job.processes);
    const char* env = std::getenv("DATABASE");
    if (job.url.empty() && env != nullptr) job.url = env;
    if (!job.file.empty() && !job.url.empty()) return std::nullopt;
    std::fprintf(stderr, "plivors-server import: give a file and --database URL\n\n%s", ImportUsage());
    return 2;
}

// Stage 2: the database has what the import needs, no other import runs,
// and the fresh schema is empty. Throws Refused, or the database's failure.
void PrepareSchema(PGconn* c, const std::string& url) {
    database::Result have = Execute(c, "SELECT extname FROM pg_extension WHERE extname IN ('postgis', 'hstore')");
    bool postgis = false, hstore = false;
    for (int i = 0; i < PQntuples(have.get()); ++i) {
        postgis = postgis || std::strcmp(PQgetvalue(have.get(), i, 0), "postgis") == 0;
        hstore = hstore || std::strcmp(PQgetvalue(have.get(), i, 0), "hstore") == 0;
    }
    if (!postgis || !hstore)
        throw Refused(std::string("the database ") + database::Printable(url) + " lacks the extension" +
                      (!postgis && !hstore ? "s postgis and hstore" : !postgis ? " postgis" : " hstore") +
                      " (as its owner: CREATE EXTENSION postgis; CREATE EXTENSION hstore;); nothing was imported");
    const std::string lock = "SELECT pg_try_advisory_lock(" + std::to_string(kImportLock) + ")";
    if (std::strcmp(PQgetvalue(Execute(c, lock).get(), 0, 0), "t") != 0)
        throw Refused("another import into this database is running");
    const Schemas s(c);
    Execute(c, "SET client_min_messages = warning");
    Execute(c, "DROP SCHEMA IF EXISTS " + s.fresh + " CASCADE");
    Execute(c, "CREATE SCHEMA " + s.fresh);
}

// Stage 3: osm2pgsql fills the fresh schema. It gets the connection words
// without the password, which would show in the process list; the password
// travels in its environment.
void Load(const Job& job) {
    std::string password;
    const std::string conninfo = Conninfo(job.url, password);
    std::vector<std::string> command = {"osm2pgsql", "--create", "--slim", "--hstore", "--style", job.style,
                                        std::string("--output-pgsql-schema=") + kImportSchema,
                                        std::string("--middle-schema=") + kImportSchema, "--cache",
                                        std::to_string(job.cache), "--number-processes", std::to_string(job.processes),
                                        "--database", conninfo};
    if (!job.transform.empty()) command.insert(command.end(), {"--tag-transform-script", job.transform});
    command.push_back(job.file);
    RunTool(command, password);
}

// Stage 4: each name's Latin form, written once (name_latin); its seconds.
double WriteLatin(PGconn* c) {
    const auto start = std::chrono::steady_clock::now();
    const LatinColumnCount latin = WriteLatinNames(c, Schemas(c).fresh);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Latin names: %ld of %ld names looked at written, %.1f s\n", latin.written, latin.named, seconds);
    StopIfInterrupted();
    return seconds;
}

// Stage 5: each street's name over the whole street, merged once here
// rather than in every block (100 ms and more a block).
void MergeStreetNames(PGconn* c) {
    MakeNamedStreets(c, Schemas(c).fresh);
    StopIfInterrupted();
}

// Stage 6: what the place names and the style need beyond osm2pgsql's own
// indexes. A style of another schema may lack a column: that index is left out.
void Index(PGconn* c) {
    const char* statements[] = {
        "CREATE INDEX ON %s.planet_osm_line USING gist (way) WHERE highway IS NOT NULL AND name IS NOT NULL",
        "CREATE INDEX ON %s.planet_osm_point USING gist (way) WHERE \"addr:housenumber\" IS NOT NULL",
        "CREATE INDEX ON %s.planet_osm_point USING gist (way) WHERE place IS NOT NULL",
        "CREATE INDEX ON %s.planet_osm_polygon USING gist (way) WHERE place IS NOT NULL OR boundary = 'administrative'",
        "CREATE INDEX ON %s.planet_osm_polygon USING gist (way) WHERE building IS NOT NULL",
        // Levels 5 to 7 draw the main roads, railways and waterways of a
        // whole city: read without its many streets.
        "CREATE INDEX ON %s.planet_osm_line USING gist (way) WHERE highway IN ('motorway', 'motorway_link', 'trunk', "
        "'trunk_link', 'primary', 'primary_link', 'secondary', 'secondary_link', 'tertiary', 'tertiary_link')",
        "CREATE INDEX ON %s.planet_osm_line USING gist (way) WHERE railway IS NOT NULL OR waterway IS NOT NULL",
    };
    const std::string s = Schemas(c).fresh;
    for (const char* statement : statements) {
        char sql[512];
        std::snprintf(sql, sizeof sql, statement, s.c_str());
        try {
            Execute(c, sql);
        } catch (const StatementFailed& e) {
            std::fprintf(stderr, "plivors-server import: index left out (%s)\n", e.what());
        }
    }
    Execute(c, "ANALYZE " + s + ".planet_osm_line, " + s + ".planet_osm_point, " + s + ".planet_osm_polygon, " + s +
                   ".named_streets");
    StopIfInterrupted();
}

// Stage 7: styles written for the live schema name its tables without a
// schema (the database's search path finds them, where the owner may set
// it), and roles that read the old data (the service's) read the new.
void Grant(PGconn* c) {
    const Schemas s(c);
    try {
        Execute(c, "DO $$BEGIN EXECUTE format('ALTER DATABASE %I SET search_path TO " + s.live +
                       ", \"$user\", public', current_database()); END$$");
    } catch (const StatementFailed& e) {
        std::fprintf(stderr, "plivors-server import: search path not set (%s)\n", e.what());
    }
    database::Result readers = Execute(c,
        "SELECT quote_ident(rolname) FROM pg_roles WHERE rolname <> current_user AND NOT rolsuper AND "
        "rolname NOT LIKE 'pg\\_%' AND EXISTS (SELECT 1 FROM pg_namespace WHERE nspname = $1) AND "
        "has_schema_privilege(oid, $1, 'USAGE')", {kLiveSchema});
    for (int i = 0; i < PQntuples(readers.get()); ++i) {
        const std::string role = PQgetvalue(readers.get(), i, 0);
        Execute(c, "GRANT USAGE ON SCHEMA " + s.fresh + " TO " + role);
        Execute(c, "GRANT SELECT ON ALL TABLES IN SCHEMA " + s.fresh + " TO " + role);
    }
}

// Stage 8: the swap, renames and the old data's removal in one
// transaction, waiting for renders that still read the old tables.
void Swap(PGconn* c) {
    const Schemas s(c);
    Execute(c, "BEGIN");
    Execute(c, "DROP SCHEMA IF EXISTS " + s.replaced + " CASCADE");
    Execute(c, "DO $$BEGIN IF EXISTS (SELECT 1 FROM pg_namespace WHERE nspname = '" + std::string(kLiveSchema) +
                   "') THEN ALTER SCHEMA " + s.live + " RENAME TO " + s.replaced + "; END IF; END$$");
    Execute(c, "ALTER SCHEMA " + s.fresh + " RENAME TO " + s.live);
    Execute(c, "DROP SCHEMA IF EXISTS " + s.replaced + " CASCADE");
    Execute(c, "COMMIT");
}

// A figure of the import, "?" where another style's columns lack it (or
// the connection broke: the data is in already).
std::string Figure(PGconn* c, const std::string& sql, const std::vector<std::string>& parameters = {}) {
    try {
        return PQgetvalue(Execute(c, sql, parameters).get(), 0, 0);
    } catch (const database::Failure&) {
        return "?";
    }
}

// Stage 9: what is in, counted in the live schema and recorded there for
// the status (a record that cannot be written leaves the status without it).
void Report(PGconn* c, const Job& job, std::chrono::steady_clock::time_point start, double latinSeconds) {
    const std::string live = Schemas(c).live;
    auto count = [&](const char* table, const char* where) {
        return Figure(c, "SELECT count(*) FROM " + live + "." + table + " WHERE " + where);
    };
    const std::string roads = count("planet_osm_line", "highway IS NOT NULL"),
                      buildings = count("planet_osm_polygon", "building IS NOT NULL"),
                      places = count("planet_osm_point", "place IS NOT NULL"),
                      addresses = count("planet_osm_point", "\"addr:housenumber\" IS NOT NULL");
    const std::string size = Figure(c,
        "SELECT pg_size_pretty(sum(pg_total_relation_size(c.oid))) FROM pg_class c JOIN pg_namespace n "
        "ON n.oid = c.relnamespace WHERE n.nspname = $1 AND c.relkind = 'r'", {kLiveSchema});
    try {
        const std::string name = job.file.substr(job.file.rfind('/') + 1);
        WriteImportRecord(c, live, {name, "", 0, 0, 0, 0, roads, buildings, places, addresses});
    } catch (const database::Failure& e) {
        std::fprintf(stderr, "plivors-server import: no record of the import kept (%s)\n", e.what());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Imported %s: %s roads, %s buildings, %s places, %s addresses; %s in the database; %.1f s "
                "(%.1f s without the Latin names)\n",
                job.file.c_str(), roads.c_str(), buildings.c_str(), places.c_str(), addresses.c_str(), size.c_str(),
                seconds, seconds - latinSeconds);
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "plivors-server import: %s\n", why.c_str());
    return 1;
}

// After a failure past stage 2: the fresh schema goes; the live one was
// never touched.
int Abandon(database::Connection& c, const std::string& url, const std::string& why) {
    try {
        if (PQstatus(c.get()) != CONNECTION_OK) c = database::Connect(url, 5);
        if (PQtransactionStatus(c.get()) != PQTRANS_IDLE) Execute(c.get(), "ROLLBACK");
        Execute(c.get(), "DROP SCHEMA IF EXISTS " + Schemas(c.get()).fresh + " CASCADE");
    } catch (const database::Failure&) {
        // left for the next import, which drops it first
    }
    Fail(why + "; the data imported before is unchanged");
    return interrupted ? 128 + interrupted : 1;
}

// Stages 3 to 9, on the connection stage 2 prepared.
int Fill(database::Connection& c, const Job& job, std::chrono::steady_clock::time_point start) {
    try {
        Load(job);
        const double latinSeconds = WriteLatin(c.get());
        std::printf("Merging streets' names, indexing for place names\n");
        std::fflush(stdout);
        MergeStreetNames(c.get());
        Index(c.get());
        Grant(c.get());
        Swap(c.get());
        Report(c.get(), job, start, latinSeconds);
        return 0;
    } catch (const ToolFailed& e) {
        return Abandon(c, job.url, "osm2pgsql could not import " + job.file + " (" + e.what() + ")");
    } catch (const database::Unavailable& e) {
        return Abandon(c, job.url, std::string("the connection to the database was lost: ") + e.what());
    } catch (const std::exception& e) {  // a failed statement, an interruption, no process to run
        return Abandon(c, job.url, e.what());
    }
}

}  // namespace

const char* ImportUsage() {
    return "usage: plivors-server import FILE.osm.pbf|FILE.osm|FILE.osm.bz2 --database URL\n"
           "                             [--osm2pgsql-style FILE] [--tag-transform-script FILE.lua]\n"
           "                             [--cache MB] [--processes N]\n"
           "Loads an OpenStreetMap extract into the PostGIS database URL (for instance\n"
           "postgresql://user@localhost/gis; the database needs the postgis and hstore\n"
           "extensions) with osm2pgsql, into a fresh schema that replaces the schema\n"
           "\"osm\" in one transaction when everything is in: a failed or interrupted\n"
           "import leaves the data imported before as it was. --osm2pgsql-style and\n"
           "--tag-transform-script import for another map style (the default style file\n"
           "is the server's own); --cache is osm2pgsql's node cache (800 MB by default).\n"
           "Map data (c) OpenStreetMap contributors, ODbL.\n";
}

int Import(const std::vector<std::string>& args, const std::string& defaultStyle) {
    Job job;
    job.style = defaultStyle;
    if (std::optional<int> status = ReadJob(args, job)) return *status;
    const auto start = std::chrono::steady_clock::now();
    const std::string why = CheckFile(job.file);
    if (!why.empty()) return Fail(why + "; nothing was imported");
    SignalGuard signals;
    database::Connection c;
    try {
        database::ParseUrl(job.url);
        c = database::Connect(job.url, 10);
        PrepareSchema(c.get(), job.url);
    } catch (const std::invalid_argument& e) {
        return Fail(e.what());
    } catch (const Refused& e) {
        return Fail(e.what());
    } catch (const std::exception& e) {
        return Fail(std::string(e.what()) + "; nothing was imported");
    }
    std::printf("Importing %s into %s (schema %s, then swapped in)\n", job.file.c_str(),
                database::Printable(job.url).c_str(), kImportSchema);
    std::fflush(stdout);
    return Fill(c, job, start);
}

}  // namespace streets
