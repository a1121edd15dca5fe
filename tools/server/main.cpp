// plivors-server: a stand-in for the online map server and the download
// server, on 127.0.0.1 only. It answers
//   /plivors/client?cmd=map&img=1&width=W&height=H&scale=L&mocs=gdd&mo=LAT,LON
//       a GIF of exactly W x H pixels (a 0 counts as 1) at level L around LAT,LON;
//   /plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=LAT,LON
//       an HTML page naming the nearest place of a small gazetteer;
//   /download/plugins/NAME
//       the file NAME of --downloads DIR, or an HTML 404 page;
//   /_test/bytes/N
//       N bytes of lower-case letters, for transfer tests.
// Sizes: a width or height of 0 is drawn as 1 pixel; above 4096, or a level
// outside 1..13, or a malformed position, gets a 400 page.
// Any path may be preceded by /_opt/k=v;k=v;.../ to shape the answer (see Usage).
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "map_picture.h"

namespace {

struct Settings {
    int port = 8080;
    std::string portFile;
    std::string logFile;
    std::string downloads;
    PictureStyle style;
};

// How one answer is shaped.
struct Shape {
    int status = 0;
    int delayMs = 0;
    size_t trickle = 0;   // piece size of a slow body
    int trickleMs = 20;   // pause between pieces
    bool noLength = false;
    long long drop = -1;  // close after this many body bytes
    bool notGif = false;
    bool pixels = false;  // raw palette indices instead of a GIF
    int stallMs = 0;      // pause in the middle of the body
    int lingerMs = 0;     // pause before the end of a body without length
    std::string auth;     // user:password a Basic authorisation must carry
    int longPhrase = 0;   // a proximity phrase of this many letters instead of the place's
    bool noMarker = false;  // a proximity page without its start marker
    PictureStyle style;
};

std::mutex gLogMutex;
std::FILE* gLog = nullptr;

void Log(const std::string& target) {
    if (gLog == nullptr) return;
    std::lock_guard<std::mutex> lock(gLogMutex);
    std::fprintf(gLog, "%s\n", target.c_str());
    std::fflush(gLog);
}

int ToInt(const std::string& s, int fallback) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    return end != s.c_str() && *end == 0 ? static_cast<int>(v) : fallback;
}

bool ToNumber(const std::string& s, double& v) {
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end != s.c_str() && *end == 0 && std::isfinite(v);
}

// Splits "/_opt/k=v;k=v/rest" into the shape and "/rest".
std::string TakeShape(const std::string& path, Shape& shape) {
    const std::string prefix = "/_opt/";
    if (path.compare(0, prefix.size(), prefix) != 0) return path;
    size_t end = path.find('/', prefix.size());
    std::string options = path.substr(prefix.size(), end == std::string::npos ? std::string::npos : end - prefix.size());
    std::stringstream list(options);
    std::string item;
    while (std::getline(list, item, ';')) {
        size_t eq = item.find('=');
        std::string key = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
        if (key == "status") shape.status = ToInt(value, 0);
        else if (key == "delay") shape.delayMs = ToInt(value, 0);
        else if (key == "trickle") shape.trickle = static_cast<size_t>(std::max(1, ToInt(value, 1)));
        else if (key == "pause") shape.trickleMs = ToInt(value, 20);
        else if (key == "nolength") shape.noLength = true;
        else if (key == "drop") shape.drop = ToInt(value, 0);
        else if (key == "notgif") shape.notGif = true;
        else if (key == "pixels") shape.pixels = true;
        else if (key == "colors") shape.style.colors = ToInt(value, 256);
        else if (key == "interlace") shape.style.interlace = true;
        else if (key == "transparent") shape.style.transparent = ToInt(value, -1);
        else if (key == "stall") shape.stallMs = ToInt(value, 0);
        else if (key == "linger") shape.lingerMs = ToInt(value, 0);
        else if (key == "auth") shape.auth = value;
        else if (key == "longphrase") shape.longPhrase = ToInt(value, 0);
        else if (key == "nomarker") shape.noMarker = true;
    }
    return end == std::string::npos ? "/" : path.substr(end);
}

std::map<std::string, std::string> ParseQuery(const std::string& query) {
    std::map<std::string, std::string> fields;
    std::stringstream list(query);
    std::string item;
    while (std::getline(list, item, '&')) {
        size_t eq = item.find('=');
        fields[item.substr(0, eq)] = eq == std::string::npos ? "" : item.substr(eq + 1);
    }
    return fields;
}

std::string HtmlPage(int status, const std::string& title, const std::string& text) {
    return "<html><head><title>" + std::to_string(status) + " " + title + "</title></head><body><h1>" + title +
           "</h1><p>" + text + "</p></body></html>\n";
}

void Sleep(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Sends body as the shape asks: at once, slowly, without a length, cut short
// or with a pause in the middle.
void Send(httplib::Response& res, std::string body, const char* type, const Shape& shape) {
    if (shape.status > 0) res.status = shape.status;
    if (!shape.noLength && shape.trickle == 0 && shape.drop < 0 && shape.stallMs == 0) {
        res.set_content(body, type);
        return;
    }
    struct State {
        std::string body;
        Shape shape;
        bool stalled = false;
    };
    auto state = std::make_shared<State>();
    state->body = std::move(body);
    state->shape = shape;
    // Writes the next piece from offset; false ends the connection.
    auto piece = [state](size_t offset, httplib::DataSink& sink) -> bool {
        const Shape& s = state->shape;
        const size_t size = state->body.size();
        size_t stop = size;
        if (s.drop >= 0 && static_cast<size_t>(s.drop) < stop) stop = static_cast<size_t>(s.drop);
        if (offset >= stop) return false;  // only reached when dropping
        size_t n = stop - offset;
        if (s.trickle > 0 && n > s.trickle) n = s.trickle;
        const size_t middle = size / 2;
        if (s.stallMs > 0 && !state->stalled) {
            if (offset >= middle) {
                state->stalled = true;
                Sleep(s.stallMs);
            } else if (offset + n > middle) {
                n = middle - offset;
            }
        }
        if (n > 0 && !sink.write(state->body.data() + offset, n)) return false;
        if (s.trickle > 0 && offset + n < stop) Sleep(s.trickleMs);
        return true;
    };
    if (shape.noLength) {
        res.set_chunked_content_provider(type, [state, piece](size_t offset, httplib::DataSink& sink) {
            const size_t size = state->body.size();
            size_t stop = state->shape.drop >= 0 ? std::min(size, static_cast<size_t>(state->shape.drop)) : size;
            if (offset >= stop) {
                if (stop < size) return false;
                Sleep(state->shape.lingerMs);
                sink.done();
                return true;
            }
            return piece(offset, sink);
        });
    } else {
        res.set_content_provider(state->body.size(), type,
                                 [piece](size_t offset, size_t, httplib::DataSink& sink) { return piece(offset, sink); });
    }
}

std::string Base64(const std::string& in) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (i + 1 == in.size()) {
        unsigned v = (unsigned char)in[i] << 16;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

void BadRequest(httplib::Response& res, const std::string& why, const Shape& shape) {
    res.status = 400;
    Send(res, HtmlPage(400, "Bad Request", why), "text/html", shape);
}

void NotFound(httplib::Response& res, const std::string& what, const Shape& shape) {
    res.status = 404;
    Send(res, HtmlPage(404, "Not Found", "No such page: " + Escape(what)),
         "text/html", shape);
}

bool Position(const std::map<std::string, std::string>& q, double& lat, double& lon) {
    auto mo = q.find("mo");
    if (mo == q.end()) return false;
    size_t comma = mo->second.find(',');
    if (comma == std::string::npos) return false;
    return ToNumber(mo->second.substr(0, comma), lat) && ToNumber(mo->second.substr(comma + 1), lon) &&
           lat >= -90 && lat <= 90 && lon >= -360 && lon <= 360;
}

// Drawn pictures by request, as a map server keeps its tiles: repeated and
// concurrent requests for one zone cost one drawing, not one each.
std::string CachedMap(int width, int height, int level, double lat, double lon, const PictureStyle& style,
                      bool encoded) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const std::string>> cache;
    char key[160];
    std::snprintf(key, sizeof key, "%d %d %d %.8f %.8f %d %d %d %d", width, height, level, lat, lon, style.colors,
                  style.interlace ? 1 : 0, style.transparent, encoded ? 1 : 0);
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = cache.find(key);
        if (it != cache.end()) return *it->second;
    }
    auto picture = std::make_shared<const std::string>(DrawMap(width, height, level, lat, lon, style, encoded));
    std::lock_guard<std::mutex> lock(mutex);
    if (cache.size() >= 256) cache.clear();
    cache.emplace(key, picture);
    return *picture;
}

void Client(const std::map<std::string, std::string>& q, httplib::Response& res, Shape& shape) {
    auto cmd = q.find("cmd");
    double lat = 0, lon = 0;
    if (cmd != q.end() && cmd->second == "map") {
        int width = ToInt(q.count("width") ? q.at("width") : "", -1);
        int height = ToInt(q.count("height") ? q.at("height") : "", -1);
        int level = ToInt(q.count("scale") ? q.at("scale") : "", -1);
        if (width < 0 || height < 0 || width > 4096 || height > 4096)
            return BadRequest(res, "width and height must be 0 to 4096", shape);
        if (MetresPerPixel(level) == 0) return BadRequest(res, "scale must be 1 to 13", shape);
        if (!Position(q, lat, lon)) return BadRequest(res, "mo must be LAT,LON in degrees", shape);
        if (shape.notGif)
            return Send(res, HtmlPage(200, "Map", "This is a page, not a picture."), "image/gif", shape);
        if (shape.pixels)
            return Send(res, CachedMap(width, height, level, lat, lon, shape.style, false), "application/octet-stream",
                        shape);
        return Send(res, CachedMap(width, height, level, lat, lon, shape.style, true), "image/gif", shape);
    }
    if (cmd != q.end() && cmd->second == "prox") {
        if (!Position(q, lat, lon)) return BadRequest(res, "mo must be LAT,LON in degrees", shape);
        std::string page = ProximityPage(lat, lon);
        const std::string marker = "se encuentra en&nbsp;";
        size_t at = page.find(marker);
        if (shape.longPhrase > 0 && at != std::string::npos) {
            size_t from = at + marker.size();
            page.replace(from, page.find("</small>", from) - from, std::string(shape.longPhrase, 'x'));
        }
        if (shape.noMarker && at != std::string::npos) page.replace(at, marker.size(), "esta cerca de ");
        return Send(res, page, "text/html; charset=ISO-8859-1", shape);
    }
    BadRequest(res, "unknown cmd", shape);
}

void Download(const Settings& settings, const std::string& name, httplib::Response& res, const Shape& shape) {
    std::string file = httplib::detail::decode_url(name, false);
    bool safe = !file.empty() && file.find('/') == std::string::npos && file.find('\\') == std::string::npos &&
                file != "." && file != "..";
    std::ifstream in;
    if (safe && !settings.downloads.empty()) in.open(settings.downloads + "/" + file, std::ios::binary);
    if (!in.is_open()) return NotFound(res, "/download/plugins/" + name, shape);
    std::ostringstream content;
    content << in.rdbuf();
    Send(res, content.str(), "application/octet-stream", shape);
}

void Handle(const Settings& settings, const httplib::Request& req, httplib::Response& res) {
    Log(req.target);
    Shape shape;
    shape.style = settings.style;
    std::string target = TakeShape(req.target, shape);
    size_t question = target.find('?');
    std::string path = target.substr(0, question);
    std::string query = question == std::string::npos ? "" : target.substr(question + 1);
    Sleep(shape.delayMs);

    if (!shape.auth.empty() && req.get_header_value("Authorization") != "Basic " + Base64(shape.auth)) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"plivors\"");
        Shape plain;
        return Send(res, HtmlPage(401, "Unauthorized", "Credentials needed."), "text/html", plain);
    }
    if (path == "/plivors/client") {
        auto q = ParseQuery(query);
        return Client(q, res, shape);
    }
    const std::string downloads = "/download/plugins/";
    if (path.compare(0, downloads.size(), downloads) == 0)
        return Download(settings, path.substr(downloads.size()), res, shape);
    const std::string bytes = "/_test/bytes/";
    if (path.compare(0, bytes.size(), bytes) == 0) {
        int n = ToInt(path.substr(bytes.size()), -1);
        if (n < 0 || n > 64 * 1024 * 1024) return BadRequest(res, "byte count out of range", shape);
        std::string body(static_cast<size_t>(n), 'a');
        for (int i = 0; i < n; ++i) body[i] = static_cast<char>('a' + i % 26);
        return Send(res, body, "application/octet-stream", shape);
    }
    NotFound(res, path, shape);
}

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: plivors-server [--port N] [--port-file F] [--log F] [--downloads DIR]\n"
                 "                      [--colors 2|16|256] [--interlace] [--transparent N]\n"
                 "Listens on 127.0.0.1 (port 8080 by default, 0 picks a free one).\n"
                 "Per request, a path prefix /_opt/k=v;k=v/ shapes the answer:\n"
                 "  status=N  delay=MS  trickle=BYTES  pause=MS  nolength  drop=BYTES  notgif  pixels\n"
                 "  colors=N  interlace  transparent=N  stall=MS  linger=MS  auth=USER:PASSWORD\n"
                 "  longphrase=N (proximity phrase of N letters)  nomarker (proximity page without its start marker)\n");
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
        if (a == "--port") settings.port = ToInt(next(), -1);
        else if (a == "--port-file") settings.portFile = next();
        else if (a == "--log") settings.logFile = next();
        else if (a == "--downloads") settings.downloads = next();
        else if (a == "--colors") settings.style.colors = ToInt(next(), 0);
        else if (a == "--interlace") settings.style.interlace = true;
        else if (a == "--transparent") settings.style.transparent = ToInt(next(), -1);
        else if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else {
            Usage(stderr);
            return 2;
        }
    }
    if (settings.port < 0 || settings.port > 65535) {
        std::fprintf(stderr, "plivors-server: bad port\n");
        return 2;
    }
    if (settings.style.colors != 2 && settings.style.colors != 16 && settings.style.colors != 256) {
        std::fprintf(stderr, "plivors-server: --colors must be 2, 16 or 256\n");
        return 2;
    }
    if (!settings.logFile.empty()) {
        gLog = std::fopen(settings.logFile.c_str(), "w");
        if (gLog == nullptr) {
            std::perror(settings.logFile.c_str());
            return 1;
        }
    }
    httplib::Server server;
    // Enough workers that many delayed requests overlap.
    server.new_task_queue = [] { return new httplib::ThreadPool(24); };
    server.set_keep_alive_timeout(30);
    server.Get(".*", [&settings](const httplib::Request& req, httplib::Response& res) { Handle(settings, req, res); });

    int port = settings.port;
    if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
        if (port < 0) {
            std::fprintf(stderr, "plivors-server: cannot bind\n");
            return 1;
        }
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        std::fprintf(stderr, "plivors-server: cannot bind port %d\n", port);
        return 1;
    }
    if (!settings.portFile.empty()) {
        // Written whole and then renamed: a reader never sees half a number.
        std::string temporary = settings.portFile + ".tmp";
        std::FILE* f = std::fopen(temporary.c_str(), "w");
        if (f == nullptr || std::fprintf(f, "%d\n", port) < 0 || std::fclose(f) != 0 ||
            std::rename(temporary.c_str(), settings.portFile.c_str()) != 0) {
            std::fprintf(stderr, "plivors-server: cannot write %s\n", settings.portFile.c_str());
            return 1;
        }
    }
    std::printf("plivors-server listening on http://127.0.0.1:%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
