#include "server/options/server_options.h"

#include <boost/program_options.hpp>

namespace options {
namespace {

namespace po = boost::program_options;

// Options spelled out in full: an abbreviation would silently change meaning
// when a longer option is added.
const int kStyle = po::command_line_style::unix_style ^ po::command_line_style::allow_guessing;

Outcome Exit(int status, std::string text) { return {false, status, std::move(text)}; }

// Why the values cannot be served with, or "".
std::string Check(const Settings& s) {
    std::string why = front::Check(s.serving);
    if (why.empty() && (s.threads < 0 || s.cacheMegabytes < 0 || s.maxAge < 0 || s.blockStoreMegabytes < 0 ||
                          s.streetMaxAge < 0))
        why = "--threads, --cache, --block-store-mb, --max-age and --street-max-age take a number";
    if (why.empty() && s.labels != "both" && s.labels != "latin" && s.labels != "local")
        why = "--labels is both, latin or local";
    return why;
}

}  // namespace

Outcome Parse(const std::vector<std::string>& args, Settings& s) {
    po::options_description all = front::ServingOptions(s.serving);
    all.add_options()("style", po::value(&s.style))("data", po::value(&s.data))("database", po::value(&s.database))(
        "labels", po::value(&s.labels))("threads", po::value(&s.threads))("cache", po::value(&s.cacheMegabytes))(
        "max-age", po::value(&s.maxAge))("street-max-age", po::value(&s.streetMaxAge))("block-store", po::value(&s.blockStore))(
        "block-store-mb", po::value(&s.blockStoreMegabytes))("help,h", "")("version", "");
    po::variables_map given;
    try {
        // No positional words: a stray one is a mistake, not ignored.
        po::store(po::command_line_parser(args).options(all).positional({}).style(kStyle).run(), given);
        po::notify(given);
    } catch (const po::error& e) {
        return Exit(2, "plivors-server: " + std::string(e.what()) + "\n\n" + Usage());
    }
    if (given.count("help")) return Exit(0, Usage());
    if (given.count("version")) return Exit(0, "plivors-server " PLIVORS_VERSION "\n");
    const std::string why = Check(s);
    if (!why.empty()) return Exit(2, "plivors-server: " + why + "\n");
    return {true, 0, ""};
}

const char* Usage() {
    return "usage: plivors-server [--bind ADDRESS] [--port N] [--port-file F] [--log F]\n"
           "                      [--style FILE.xml] [--data DIR] [--downloads DIR]\n"
           "                      [--database URL] [--labels both|latin|local]\n"
           "                      [--threads N] [--cache MB] [--max-age S] [--street-max-age S]\n"
           "                      [--block-store DIR] [--block-store-mb MB]\n"
           "                      [--idle-timeout S] [--request-timeout S] [--send-timeout S]\n"
           "       plivors-server import FILE.osm.pbf --database URL   (import --help)\n"
           "       plivors-server update [FILE.osc.gz] --database URL  (update --help)\n"
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
           "--labels: street labels in the local name with its Latin form beneath\n"
           "where the local one is in another script (both, the default), the Latin\n"
           "form alone, or the local name alone.\n"
           "--downloads is the folder of descriptor files (the sample maps by\n"
           "default). Every request is logged with its time to --log F (else stdout).\n"
           "--threads is the number of render workers (the cores by default), --cache\n"
           "the memory for drawn blocks and answers (256 MB by default), --max-age how\n"
           "long other caches may keep maps, places and tiles (86400 s by default);\n"
           "with --database, those that show streets --street-max-age (3600 s), as\n"
           "`plivors-server update` changes them.\n"
           "Zones and tiles are cut from blocks drawn once; --block-store keeps them in\n"
           "DIR as well, for restarts and for other servers sharing DIR, up to\n"
           "--block-store-mb (4096 MB by default, the least recently used going first).\n"
           "--idle-timeout closes idle connections (30 s), --request-timeout those whose\n"
           "request has not arrived whole (10 s after its first byte), --send-timeout\n"
           "clients that take nothing of their answer (30 s). SIGTERM stops the server\n"
           "after the answers in flight.\n"
           "Street map data \xC2\xA9 OpenStreetMap contributors, ODbL.\n";
}

}  // namespace options
