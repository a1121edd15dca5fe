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
#include <stdexcept>
#include <thread>

#include "server/database/database.h"
#include "server/streets/import_record.h"
#include "server/streets/latin_column.h"

namespace streets {
namespace {

using database::Execute;
using database::Unavailable;

volatile sig_atomic_t interrupted = 0;
void Interrupt(int signal) { interrupted = signal; }

// Signals that end an import: the import finishes its clean-up first.
struct SignalGuard {
    struct sigaction old[3];
    const int signals[3] = {SIGINT, SIGTERM, SIGHUP};
    SignalGuard() {
        struct sigaction a {};
        a.sa_handler = &Interrupt;
        sigemptyset(&a.sa_mask);
        for (int i = 0; i < 3; ++i) sigaction(signals[i], &a, &old[i]);
    }
    ~SignalGuard() {
        for (int i = 0; i < 3; ++i) sigaction(signals[i], &old[i], nullptr);
    }
};

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A first look at the file, so that a plainly wrong one is refused before
// the database is touched: its name says its format, its first bytes agree.
std::string CheckFile(const std::string& file) {
    const bool pbf = EndsWith(file, ".osm.pbf") || EndsWith(file, ".pbf");
    const bool bz2 = EndsWith(file, ".osm.bz2");
    const bool xml = EndsWith(file, ".osm");
    if (!pbf && !bz2 && !xml) return file + " is not an OpenStreetMap extract (.osm.pbf, .osm or .osm.bz2)";
    std::ifstream in(file, std::ios::binary);
    if (!in) return "cannot read " + file + ": " + std::strerror(errno);
    char head[32] = {};
    in.read(head, sizeof head);
    const std::string start(head, static_cast<size_t>(in.gcount()));
    bool ok;
    if (pbf) ok = start.size() >= 14 && start.compare(4, 1, "\x0a") == 0 && start.find("OSMHeader") != std::string::npos;
    else if (bz2) ok = start.compare(0, 3, "BZh") == 0;
    else ok = start.find("<?xml") != std::string::npos || start.find("<osm") != std::string::npos;
    if (!ok) return file + " is not a readable " + (pbf ? "OSM PBF" : bz2 ? "bzip2" : "OSM XML") + " file";
    return "";
}

std::string Quoted(const std::string& value) {  // a conninfo value
    std::string q = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\') q += '\\';
        q += c;
    }
    return q + "'";
}

std::string Identifier(PGconn* c, const std::string& name) {
    char* q = PQescapeIdentifier(c, name.c_str(), name.size());
    std::string s = q != nullptr ? q : name;
    PQfreemem(q);
    return s;
}

// Runs osm2pgsql, its output passed on as it comes (its progress), and
// returns its exit status (128 + signal when a signal ended it) and the
// last error line it wrote.
int RunOsm2pgsql(const std::vector<std::string>& args, const std::string& password, std::string& lastError) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    pid_t child = fork();
    if (child < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        close(out[1]);
        if (!password.empty()) setenv("PGPASSWORD", password.c_str(), 1);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "ERROR: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    bool signalled = false;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            if (interrupted && !signalled) {
                kill(child, SIGTERM);  // Ctrl-C reached it too; a TERM to us alone must
                signalled = true;
            }
            continue;
        }
        if (n <= 0) break;
        (void)!write(2, buffer, static_cast<size_t>(n));
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n' || buffer[i] == '\r') {
                if (line.find("ERROR") != std::string::npos) lastError = line;
                line.clear();
            } else if (line.size() < 1000) {
                line += buffer[i];
            }
        }
    }
    close(out[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        if (interrupted && !signalled) {
            kill(child, SIGTERM);
            signalled = true;
        }
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

// What the place names and the style need beyond osm2pgsql's own indexes.
// A style of another schema may lack a column: that index is left out.
void CreateIndexes(PGconn* c, const std::string& schema) {
    const char* statements[] = {
        "CREATE INDEX ON %s.planet_osm_line USING gist (way) WHERE highway IS NOT NULL AND name IS NOT NULL",
        "CREATE INDEX ON %s.planet_osm_point USING gist (way) WHERE \"addr:housenumber\" IS NOT NULL",
        "CREATE INDEX ON %s.planet_osm_point USING gist (way) WHERE place IS NOT NULL",
        "CREATE INDEX ON %s.planet_osm_polygon USING gist (way) WHERE place IS NOT NULL OR boundary = 'administrative'",
        "CREATE INDEX ON %s.planet_osm_polygon USING gist (way) WHERE building IS NOT NULL",
    };
    const std::string s = Identifier(c, schema);
    for (const char* statement : statements) {
        char sql[512];
        std::snprintf(sql, sizeof sql, statement, s.c_str());
        try {
            Execute(c, sql);
        } catch (const Unavailable& e) {
            if (PQstatus(c) == CONNECTION_BAD) throw;
            std::fprintf(stderr, "plivors-server import: index left out (%s)\n", e.what());
        }
    }
    Execute(c, "ANALYZE " + s + ".planet_osm_line, " + s + ".planet_osm_point, " + s + ".planet_osm_polygon");
}

std::string Count(PGconn* c, const std::string& sql) {
    try {
        return PQgetvalue(Execute(c, sql).get(), 0, 0);
    } catch (const Unavailable&) {
        return "?";
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
    std::string file, url, style = defaultStyle, transform, cache = "800";
    int processes = static_cast<int>(std::max(1u, std::min(4u, std::thread::hardware_concurrency())));
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
            return args[++i];
        };
        try {
            if (a == "--database") url = next();
            else if (a == "--osm2pgsql-style") style = next();
            else if (a == "--tag-transform-script") transform = next();
            else if (a == "--cache") cache = std::to_string(std::stoi(next()));
            else if (a == "--processes") processes = std::max(1, std::stoi(next()));
            else if (a == "--help" || a == "-h") {
                std::fputs(ImportUsage(), stdout);
                return 0;
            } else if (!a.empty() && a[0] == '-') throw std::invalid_argument("unknown option " + a);
            else if (file.empty()) file = a;
            else throw std::invalid_argument("one file at a time");
        } catch (const std::logic_error& e) {
            std::fprintf(stderr, "plivors-server import: %s\n\n%s", e.what(), ImportUsage());
            return 2;
        }
    }
    if (url.empty()) {
        const char* env = std::getenv("DATABASE");
        if (env != nullptr) url = env;
    }
    if (file.empty() || url.empty()) {
        std::fprintf(stderr, "plivors-server import: give a file and --database URL\n\n%s", ImportUsage());
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    auto fail = [](const std::string& why) {
        std::fprintf(stderr, "plivors-server import: %s\n", why.c_str());
        return 1;
    };
    std::string why = CheckFile(file);
    if (!why.empty()) return fail(why + "; nothing was imported");

    std::map<std::string, std::string> words;
    try {
        words = database::ParseUrl(url);
    } catch (const std::invalid_argument& e) {
        return fail(e.what());
    }
    SignalGuard signals;
    database::Connection c;
    try {
        c = database::Connect(url, 10);
        database::Result have = Execute(c.get(), "SELECT extname FROM pg_extension WHERE extname IN ('postgis', 'hstore')");
        bool postgis = false, hstore = false;
        for (int i = 0; i < PQntuples(have.get()); ++i) {
            postgis = postgis || std::strcmp(PQgetvalue(have.get(), i, 0), "postgis") == 0;
            hstore = hstore || std::strcmp(PQgetvalue(have.get(), i, 0), "hstore") == 0;
        }
        if (!postgis || !hstore)
            return fail(std::string("the database ") + database::Printable(url) + " lacks the extension" +
                        (!postgis && !hstore ? "s postgis and hstore" : !postgis ? " postgis" : " hstore") +
                        " (as its owner: CREATE EXTENSION postgis; CREATE EXTENSION hstore;); nothing was imported");
        // One import at a time: a second would drop the first one's schema.
        if (std::strcmp(PQgetvalue(Execute(c.get(), "SELECT pg_try_advisory_lock(7215001)").get(), 0, 0), "t") != 0)
            return fail("another import into this database is running");
        const std::string fresh = Identifier(c.get(), kImportSchema);
        Execute(c.get(), "SET client_min_messages = warning");
        Execute(c.get(), "DROP SCHEMA IF EXISTS " + fresh + " CASCADE");
        Execute(c.get(), "CREATE SCHEMA " + fresh);
    } catch (const Unavailable& e) {
        return fail(std::string(e.what()) + "; nothing was imported");
    }
    std::printf("Importing %s into %s (schema %s, then swapped in)\n", file.c_str(), database::Printable(url).c_str(),
                kImportSchema);
    std::fflush(stdout);

    // osm2pgsql gets the connection words without the password, which
    // would show in the process list; the password travels in its environment.
    std::string conninfo, password;
    for (const auto& w : words) {
        if (w.first == "password") password = w.second;
        else conninfo += (conninfo.empty() ? "" : " ") + w.first + "=" + Quoted(w.second);
    }
    std::vector<std::string> command = {"osm2pgsql", "--create", "--slim", "--hstore", "--style", style,
                                        std::string("--output-pgsql-schema=") + kImportSchema,
                                        std::string("--middle-schema=") + kImportSchema, "--cache", cache,
                                        "--number-processes", std::to_string(processes), "--database", conninfo};
    if (!transform.empty()) command.insert(command.end(), {"--tag-transform-script", transform});
    command.push_back(file);
    auto abandon = [&](const std::string& reason) {
        // The fresh schema goes; the live one was never touched.
        try {
            if (PQstatus(c.get()) != CONNECTION_OK) c = database::Connect(url, 5);
            if (PQtransactionStatus(c.get()) != PQTRANS_IDLE) Execute(c.get(), "ROLLBACK");
            Execute(c.get(), "DROP SCHEMA IF EXISTS " + Identifier(c.get(), kImportSchema) + " CASCADE");
        } catch (const Unavailable&) {
            // left for the next import, which drops it first
        }
        fail(reason + "; the data imported before is unchanged");
        return interrupted ? 128 + interrupted : 1;
    };
    std::string lastError;
    int status;
    try {
        status = RunOsm2pgsql(command, password, lastError);
    } catch (const std::exception& e) {
        return abandon(e.what());
    }
    if (interrupted) return abandon("interrupted");
    if (status != 0) {
        const size_t at = lastError.find("ERROR");
        std::string reason = at == std::string::npos ? "exit status " + std::to_string(status) : lastError.substr(at);
        return abandon("osm2pgsql could not import " + file + " (" + reason + ")");
    }
    try {
        const auto latinStart = std::chrono::steady_clock::now();
        const LatinColumnCount latin = WriteLatinNames(c.get(), Identifier(c.get(), kImportSchema));
        const double latinSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - latinStart).count();
        std::printf("Latin names: %ld of %ld names looked at written, %.1f s\n", latin.written, latin.named,
                    latinSeconds);
        if (interrupted) return abandon("interrupted");
        std::printf("Indexing for place names\n");
        std::fflush(stdout);
        CreateIndexes(c.get(), kImportSchema);
        if (interrupted) return abandon("interrupted");
        const std::string fresh = Identifier(c.get(), kImportSchema), live = Identifier(c.get(), kLiveSchema);
        const std::string counts =
            "SELECT (SELECT count(*) FROM " + fresh + ".planet_osm_line WHERE highway IS NOT NULL), (SELECT count(*) FROM " +
            fresh + ".planet_osm_polygon WHERE building IS NOT NULL), (SELECT count(*) FROM " + fresh +
            ".planet_osm_point WHERE place IS NOT NULL), (SELECT count(*) FROM " + fresh +
            ".planet_osm_point WHERE \"addr:housenumber\" IS NOT NULL)";
        std::string roads = "?", buildings = "?", places = "?", addresses = "?";
        try {
            database::Result r = Execute(c.get(), counts);
            roads = PQgetvalue(r.get(), 0, 0), buildings = PQgetvalue(r.get(), 0, 1);
            places = PQgetvalue(r.get(), 0, 2), addresses = PQgetvalue(r.get(), 0, 3);
        } catch (const Unavailable&) {
            if (PQstatus(c.get()) == CONNECTION_BAD) throw;  // else another style's columns
        }
        const std::string name = file.substr(file.rfind('/') + 1);
        WriteImportRecord(c.get(), fresh, {name, "", 0, 0, 0, 0, roads, buildings, places, addresses});
        // Styles written for this schema name its tables without a schema:
        // the database's search path finds them (where the owner may set it).
        try {
            Execute(c.get(), "DO $$BEGIN EXECUTE format('ALTER DATABASE %I SET search_path TO " + live +
                                 ", \"$user\", public', current_database()); END$$");
        } catch (const Unavailable& e) {
            if (PQstatus(c.get()) == CONNECTION_BAD) throw;
            std::fprintf(stderr, "plivors-server import: search path not set (%s)\n", e.what());
        }
        // Roles that read the old data (the service's) read the new.
        database::Result readers = Execute(c.get(),
            "SELECT quote_ident(rolname) FROM pg_roles WHERE rolname <> current_user AND NOT rolsuper AND "
            "rolname NOT LIKE 'pg\\_%' AND "
            "EXISTS (SELECT 1 FROM pg_namespace WHERE nspname = '" + std::string(kLiveSchema) + "') AND "
            "has_schema_privilege(oid, '" + std::string(kLiveSchema) + "', 'USAGE')");
        for (int i = 0; i < PQntuples(readers.get()); ++i) {
            const std::string role = PQgetvalue(readers.get(), i, 0);
            Execute(c.get(), "GRANT USAGE ON SCHEMA " + fresh + " TO " + role);
            Execute(c.get(), "GRANT SELECT ON ALL TABLES IN SCHEMA " + fresh + " TO " + role);
        }
        // The swap: renames and the old data's removal in one transaction,
        // waiting for renders that still read the old tables.
        const std::string old = Identifier(c.get(), std::string(kLiveSchema) + "_replaced");
        Execute(c.get(), "BEGIN");
        Execute(c.get(), "DROP SCHEMA IF EXISTS " + old + " CASCADE");
        Execute(c.get(), "DO $$BEGIN IF EXISTS (SELECT 1 FROM pg_namespace WHERE nspname = '" + std::string(kLiveSchema) +
                             "') THEN ALTER SCHEMA " + live + " RENAME TO " + old + "; END IF; END$$");
        Execute(c.get(), "ALTER SCHEMA " + fresh + " RENAME TO " + live);
        Execute(c.get(), "DROP SCHEMA IF EXISTS " + old + " CASCADE");
        Execute(c.get(), "COMMIT");
        const std::string size = Count(c.get(),
            "SELECT pg_size_pretty(sum(pg_total_relation_size(c.oid))) FROM pg_class c JOIN pg_namespace n "
            "ON n.oid = c.relnamespace WHERE n.nspname = '" + std::string(kLiveSchema) + "' AND c.relkind = 'r'");
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("Imported %s: %s roads, %s buildings, %s places, %s addresses; %s in the database; %.1f s "
                    "(%.1f s without the Latin names)\n",
                    file.c_str(), roads.c_str(), buildings.c_str(), places.c_str(), addresses.c_str(), size.c_str(),
                    seconds, seconds - latinSeconds);
        return 0;
    } catch (const Unavailable& e) {
        return abandon(e.what());
    }
}

}  // namespace streets
