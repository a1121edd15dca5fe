#include "server/stand_in/map_picture.h"

#include <gif_lib.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "server/geo.h"
#include "server/protocol/levels.h"

namespace {

using geo::kPi;
using geo::Lat;
using geo::Lon;
using geo::MercatorX;
using protocol::MetresPerPixel;

// The stand-in's pictures clamp to the plane's square.
double MercatorY(double lat) { return geo::MercatorY(std::max(-85.0511, std::min(85.0511, lat))); }

// Smooth "terrain" height: land above 0.
double Terrain(double lat, double lon) {
    return std::sin(lon * 0.61 + 0.4) + std::sin(lat * 0.83 + lon * 0.29) + 0.5 * std::sin(lon * 2.3 - lat * 1.7) +
           0.25 * std::sin(lon * 9.1 + lat * 7.3) + 0.12 * std::sin(lon * 61.0 - lat * 47.0) +
           0.06 * std::sin(lon * 613.0 + lat * 587.0) - 0.2;
}

// Graticule spacing in degrees: whole degrees in the middle levels, finer
// when zoomed in, coarser for the overview.
double GridStep(int level) {
    if (level <= 2) return 0.001;
    if (level <= 4) return 0.01;
    if (level <= 7) return 0.1;
    if (level <= 11) return 1.0;
    return 10.0;
}

enum Kind { kSea, kLand, kGrid, kMark };

struct Palette {
    std::vector<GifColorType> colors;
    int Index(Kind k, double shade, long long gx, long long gy) const;
    int count;
};

GifColorType Rgb(int r, int g, int b) {
    GifColorType c;
    c.Red = static_cast<GifByteType>(r);
    c.Green = static_cast<GifByteType>(g);
    c.Blue = static_cast<GifByteType>(b);
    return c;
}

Palette MakePalette(int count) {
    Palette p;
    p.count = count;
    p.colors.assign(count, Rgb(0, 0, 0));
    if (count == 256) {
        for (int i = 0; i < 64; ++i) p.colors[i] = Rgb(20, 40 + i, 120 + 2 * i);
        for (int i = 0; i < 128; ++i) p.colors[64 + i] = Rgb(60 + i, 140 + i / 2, 50 + i / 3);
        p.colors[192] = Rgb(70, 70, 70);
        p.colors[193] = Rgb(220, 20, 30);
        for (int i = 194; i < 256; ++i) p.colors[i] = Rgb(i, i, i);
    } else if (count == 16) {
        for (int i = 0; i < 4; ++i) p.colors[i] = Rgb(20, 50 + 20 * i, 130 + 30 * i);
        for (int i = 0; i < 8; ++i) p.colors[4 + i] = Rgb(70 + 20 * i, 150 + 10 * i, 60 + 5 * i);
        p.colors[12] = Rgb(70, 70, 70);
        p.colors[13] = Rgb(220, 20, 30);
        p.colors[14] = Rgb(255, 255, 255);
        p.colors[15] = Rgb(0, 0, 0);
    } else {
        p.colors[0] = Rgb(0, 0, 0);
        p.colors[1] = Rgb(255, 255, 255);
    }
    return p;
}

int Palette::Index(Kind k, double shade, long long gx, long long gy) const {
    shade = std::max(0.0, std::min(0.999, shade));
    if (count == 256) {
        switch (k) {
            case kSea: return static_cast<int>(shade * 64);
            case kLand: return 64 + static_cast<int>(shade * 128);
            case kGrid: return 192;
            default: return 193;
        }
    }
    if (count == 16) {
        switch (k) {
            case kSea: return static_cast<int>(shade * 4);
            case kLand: return 4 + static_cast<int>(shade * 8);
            case kGrid: return 12;
            default: return 13;
        }
    }
    // Two colours: white land, sea as a sparse dot pattern on the global lattice.
    switch (k) {
        case kSea: return ((gx + gy) % 4 == 0) ? 1 : 0;
        case kLand: return 1;
        default: return 0;
    }
}

int WriteToString(GifFileType* gif, const GifByteType* data, int n) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), n);
    return n;
}

std::string Encode(const std::vector<GifByteType>& pixels, int w, int h, const Palette& palette,
                   const PictureStyle& style) {
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, &WriteToString, &error);
    if (gif == nullptr) throw std::runtime_error("EGifOpen failed");
    EGifSetGifVersion(gif, style.transparent >= 0);
    ColorMapObject* map = GifMakeMapObject(palette.count, palette.colors.data());
    int bits = palette.count == 2 ? 1 : palette.count == 16 ? 4 : 8;
    bool ok = map != nullptr && EGifPutScreenDesc(gif, w, h, bits, 0, map) == GIF_OK;
    if (ok && style.transparent >= 0) {
        GraphicsControlBlock gcb;
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.UserInputFlag = false;
        gcb.DelayTime = 0;
        gcb.TransparentColor = style.transparent % palette.count;
        GifByteType ext[4];
        size_t len = EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, style.interlace, nullptr) == GIF_OK;
    if (ok) {
        std::vector<int> order;
        if (style.interlace) {
            const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = start[pass]; y < h; y += step[pass]) order.push_back(y);
        } else {
            for (int y = 0; y < h; ++y) order.push_back(y);
        }
        for (int y : order) {
            if (EGifPutLine(gif, const_cast<GifByteType*>(&pixels[static_cast<size_t>(y) * w]), w) != GIF_OK) {
                ok = false;
                break;
            }
        }
    }
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    if (!ok) throw std::runtime_error("GIF encoding failed");
    return out;
}

}  // namespace

const std::vector<Place>& Gazetteer() {
    // Some phrases carry line breaks and tabs, one an entity split by a break.
    static const std::vector<Place> places = {
        {40.4168, -3.7038, "Calle Mayor&nbsp;12, Madrid"},
        {42.5987, -5.5671, "Avenida de Ordo&ntilde;o II, Le&oacute;n"},
        {43.3623, -8.4115, "R&uacute;a Real&nbsp;5, A Coru&ntilde;a"},
        {41.6488, -0.8891, "Plaza del Pilar,\r\n\tZaragoza"},
        {36.7213, -4.4214, "Calle Marqu&eacute;s de Larios, M&aacute;laga"},
        {41.3874, 2.1686, "Carrer de Pelai, Barcelona"},
        {37.3891, -5.9845, "Avenida de la Constituci&oacute;n, Sevilla"},
        {39.4699, -0.3763, "Pla&ccedil;a de l'Ajuntament, Val&egrave;ncia"},
        {39.4753, -6.3724, "Plaza Mayor, C&aacute;ceres"},
        {37.7796, -3.7849, "Calle Maestra,\n  Ja&eacute;n"},
        {43.5453, -5.6619, "Calle Corrida, Gij&oac\r\nute;n"},
        {42.8782, -8.5448, "R&uacute;a do Franco, Santiago de Compostela"},
        {40.9701, -5.6635, "Plaza Mayor, Salamanca"},
        {39.5696, 2.6502, "Paseo Mar&iacute;timo, Palma"},
        {43.3183, -1.9812, "Kale Nagusia, Donostia&nbsp;&amp; Gipuzkoa"},
    };
    return places;
}

const Place& NearestPlace(double lat, double lon) {
    const std::vector<Place>& all = Gazetteer();
    const Place* best = &all.front();
    double bestDistance = 1e300;
    for (const Place& p : all) {
        double dx = (p.lon - lon) * std::cos((p.lat + lat) * kPi / 360.0);
        double dy = p.lat - lat;
        double d = dx * dx + dy * dy;
        if (d < bestDistance) {
            bestDistance = d;
            best = &p;
        }
    }
    return *best;
}

std::string DrawMap(int width, int height, int level, double lat, double lon, const PictureStyle& style,
                    bool encoded) {
    const double s = MetresPerPixel(level);
    // A zero-sized request still gets a valid picture: one pixel in that direction.
    const int w = width > 0 ? width : 1, h = height > 0 ? height : 1;
    const Palette palette = MakePalette(style.colors == 2 || style.colors == 16 ? style.colors : 256);
    // Column and row numbers on the global lattice of this level.
    const long long left = static_cast<long long>(std::floor(MercatorX(lon) / s - w / 2.0));
    const long long top = static_cast<long long>(std::floor(MercatorY(lat) / s + h / 2.0));
    const double step = GridStep(level);

    std::vector<double> colLon(w + 1), rowLat(h + 1);
    for (int i = 0; i <= w; ++i) colLon[i] = Lon((left + i) * s);
    for (int j = 0; j <= h; ++j) rowLat[j] = Lat((top - j) * s);

    std::vector<GifByteType> pixels(static_cast<size_t>(w) * h);
    for (int j = 0; j < h; ++j) {
        const bool gridRow = std::floor(rowLat[j] / step) != std::floor(rowLat[j + 1] / step);
        const double cLat = (rowLat[j] + rowLat[j + 1]) / 2;
        for (int i = 0; i < w; ++i) {
            const double cLon = (colLon[i] + colLon[i + 1]) / 2;
            const bool gridCol = std::floor(colLon[i] / step) != std::floor(colLon[i + 1] / step);
            const double t = Terrain(cLat, cLon);
            Kind kind = gridRow || gridCol ? kGrid : t > 0 ? kLand : kSea;
            double shade = t > 0 ? t / 2.5 : -t / 2.5;
            pixels[static_cast<size_t>(j) * w + i] =
                static_cast<GifByteType>(palette.Index(kind, shade, left + i, top - j));
        }
    }
    // Place marks: 7 by 7 pixel squares.
    for (const Place& p : Gazetteer()) {
        long long px = static_cast<long long>(std::floor(MercatorX(p.lon) / s)) - left;
        long long py = top - static_cast<long long>(std::floor(MercatorY(p.lat) / s));
        for (long long y = py - 3; y <= py + 3; ++y)
            for (long long x = px - 3; x <= px + 3; ++x)
                if (x >= 0 && x < w && y >= 0 && y < h)
                    pixels[static_cast<size_t>(y) * w + x] = static_cast<GifByteType>(palette.Index(kMark, 0, 0, 0));
    }
    if (!encoded) return std::string(pixels.begin(), pixels.end());
    return Encode(pixels, w, h, palette, style);
}
