// The test stand-in: answers the plug-in's requests with synthetic pictures
// and a fixed gazetteer that the tests can predict pixel by pixel, and shapes
// any answer on request (statuses, delays, trickles, cuts, raw pixels) so that
// the tests can reproduce a misbehaving server.
#include "server/stand_in/stand_in.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "server/files/folder_file.h"
#include "server/markup.h"
#include "server/protocol/proximity_page.h"
#include "server/protocol/zone_request.h"
#include "server/stand_in/shaped_writer.h"

namespace stand_in {
namespace {

using markup::Escaped;
using markup::HtmlPage;
using protocol::ParseQuery;
using protocol::Position;
using protocol::Query;
using protocol::ToInt;

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

// Body as the shape asks: at once, slowly, without a length, cut short or
// with a pause in the middle.
void Send(front::Answer& res, std::string body, const char* type, const Shape& shape) {
    if (shape.status > 0) res.status = shape.status;
    res.body = std::make_shared<const std::string>(std::move(body));
    res.type = type;
    Delivery d;
    d.delayMs = shape.delayMs;
    d.piece = shape.trickle;
    d.pauseMs = shape.trickle > 0 ? shape.trickleMs : 0;
    d.chunked = shape.noLength;
    d.drop = shape.drop;
    d.stallMs = shape.stallMs;
    d.lingerMs = shape.noLength ? shape.lingerMs : 0;
    res.writer = ShapedWriter(d);
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

void BadRequest(front::Answer& res, const std::string& why, const Shape& shape) {
    res.status = 400;
    Send(res, HtmlPage(400, "Bad Request", why), "text/html", shape);
}

void NotFound(front::Answer& res, const std::string& what, const Shape& shape) {
    res.status = 404;
    Send(res, HtmlPage(404, "Not Found", "No such page: " + Escaped(what)),
         "text/html", shape);
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

void Client(const Query& q, front::Answer& res, const Shape& shape) {
    auto cmd = q.find("cmd");
    double lat = 0, lon = 0;
    if (cmd != q.end() && cmd->second == "map") {
        protocol::MapRequest map;
        std::string why = protocol::ReadMapRequest(q, map);
        if (!why.empty()) return BadRequest(res, why, shape);
        if (shape.notGif)
            return Send(res, HtmlPage(200, "Map", "This is a page, not a picture."), "image/gif", shape);
        return Send(res, CachedMap(map.width, map.height, map.level, map.lat, map.lon, shape.style, !shape.pixels),
                    shape.pixels ? "application/octet-stream" : "image/gif", shape);
    }
    if (cmd != q.end() && cmd->second == "prox") {
        if (!Position(q, lat, lon)) return BadRequest(res, "mo must be LAT,LON in degrees", shape);
        const std::string phrase =
            shape.longPhrase > 0 ? std::string(shape.longPhrase, 'x') : NearestPlace(lat, lon).phrase;
        std::string page = protocol::ProximityPage(phrase);
        // Without its start the phrase stands where the plug-in cannot find it.
        if (shape.noMarker) page.replace(page.find(protocol::kPhraseStart), std::strlen(protocol::kPhraseStart), "<small>");
        return Send(res, page, protocol::kProximityType, shape);
    }
    BadRequest(res, "unknown cmd", shape);
}

void Download(const Options& options, const std::string& name, front::Answer& res, const Shape& shape) {
    std::string content;
    if (!files::ReadDownload(options.downloads, name, content))
        return NotFound(res, "/download/plugins/" + name, shape);
    Send(res, content, "application/octet-stream", shape);
}

}  // namespace

front::Answer Handle(const Options& options, const front::Request& req) {
    front::Answer res;
    Shape shape;
    shape.style = options.style;
    std::string target = TakeShape(req.target, shape);
    size_t question = target.find('?');
    std::string path = target.substr(0, question);
    std::string query = question == std::string::npos ? "" : target.substr(question + 1);
    if (!shape.auth.empty() && req.Field("authorization") != "Basic " + Base64(shape.auth)) {
        res.status = 401;
        res.fields.emplace_back("WWW-Authenticate", "Basic realm=\"plivors\"");
        Shape plain;
        plain.delayMs = shape.delayMs;
        Send(res, HtmlPage(401, "Unauthorized", "Credentials needed."), "text/html", plain);
        return res;
    }
    const std::string downloads = "/download/plugins/", bytes = "/_test/bytes/";
    if (path == "/plivors/client") {
        Client(ParseQuery(query), res, shape);
    } else if (path.compare(0, downloads.size(), downloads) == 0) {
        Download(options, path.substr(downloads.size()), res, shape);
    } else if (path.compare(0, bytes.size(), bytes) == 0) {
        int n = ToInt(path.substr(bytes.size()), -1);
        if (n < 0 || n > 64 * 1024 * 1024) {
            BadRequest(res, "byte count out of range", shape);
        } else {
            std::string body(static_cast<size_t>(n), 'a');
            for (int i = 0; i < n; ++i) body[i] = static_cast<char>('a' + i % 26);
            Send(res, body, "application/octet-stream", shape);
        }
    } else {
        NotFound(res, path, shape);
    }
    return res;
}

const char* Usage() {
    return "Answers the plug-in's requests with synthetic pictures every pixel of which\n"
           "a test can predict and a fixed gazetteer; per request a path prefix\n"
           "/_opt/k=v;k=v/ shapes the answer:\n"
           "  status=N  delay=MS  trickle=BYTES  pause=MS  nolength  drop=BYTES  notgif  pixels\n"
           "  colors=N  interlace  transparent=N  stall=MS  linger=MS  auth=USER:PASSWORD\n"
           "  longphrase=N (proximity phrase of N letters)  nomarker (proximity page without its start marker)\n"
           "--colors, --interlace and --transparent set the pictures' defaults.\n";
}

}  // namespace stand_in
