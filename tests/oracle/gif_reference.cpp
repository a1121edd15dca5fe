// gif-reference OUTDIR CORPUS: the giflib side of the decoder's differential
// test. Writes GIFs made with giflib's encoder into OUTDIR/generated and, for
// them and every file of CORPUS/valid, giflib's reading of the first frame
// into OUTDIR/<kind>-<name>.ref, listed in OUTDIR/index.tsv. Runs natively
// only (giflib is not built for Windows); the Windows tests read its output.
//
// .ref layout: one text line
//   "ok W H INTERLACED COLOURS TRANSPARENT\n"   (or "fail\n" when giflib refuses the file)
// then COLOURS x 3 bytes (red, green, blue) and W x H pixel indices, top row first.
#include <gif_lib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct Lcg {
    uint32_t s;
    uint32_t Next() {
        s = s * 1664525u + 1013904223u;
        return s >> 8;
    }
};

int TableBits(int colours) {
    int bits = 1;
    while ((1 << bits) < colours) ++bits;
    return bits;
}

ColorMapObject* MakeMap(int entries, Lcg& rng) {
    std::vector<GifColorType> c(entries);
    for (auto& e : c) {
        uint32_t v = rng.Next();
        e.Red = v & 0xFF;
        e.Green = (v >> 8) & 0xFF;
        e.Blue = (v >> 16) & 0xFF;
    }
    return GifMakeMapObject(entries, c.data());
}

// A map-like picture: horizontal bands of one colour, broken by short runs
// and single noisy pixels.
std::vector<GifPixelType> MakePicture(int w, int h, int colours, Lcg& rng) {
    std::vector<GifPixelType> p(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        int band = static_cast<int>((y / 3 + rng.Next() % 2) % colours);
        for (int x = 0; x < w; ++x) {
            int v = band;
            uint32_t r = rng.Next() % 100;
            if (r < 15) v = static_cast<int>(rng.Next() % colours);
            else if (r < 30) v = (x / 5) % colours;
            p[static_cast<size_t>(y) * w + x] = static_cast<GifPixelType>(v);
        }
    }
    return p;
}

bool Generate(const std::string& path, int w, int h, int colours, bool interlaced, bool transparent, bool local,
              uint32_t seed) {
    Lcg rng{seed};
    int err = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &err);
    if (!gif) return false;
    EGifSetGifVersion(gif, true);
    int bits = TableBits(colours);
    // With a local table the global one has another size, so that only the
    // local one can give the right bit count.
    ColorMapObject* global = MakeMap(local ? (bits >= 4 ? 2 : 256) : (1 << bits), rng);
    ColorMapObject* localMap = local ? MakeMap(1 << bits, rng) : nullptr;
    bool ok = EGifPutScreenDesc(gif, w, h, 8, 0, global) == GIF_OK;
    if (ok && transparent) {
        unsigned char gce[4] = {0x01, 0, 0, static_cast<unsigned char>(rng.Next() % colours)};
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, interlaced, localMap) == GIF_OK;
    std::vector<GifPixelType> picture = MakePicture(w, h, colours, rng);
    // The encoder writes rows as given: an interlaced file needs them in pass order.
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; ok && pass < (interlaced ? 4 : 1); ++pass) {
        for (int y = interlaced ? start[pass] : 0; ok && y < h; y += interlaced ? step[pass] : 1)
            ok = EGifPutLine(gif, picture.data() + static_cast<size_t>(y) * w, w) == GIF_OK;
    }
    if (EGifCloseFile(gif, &err) != GIF_OK) ok = false;
    GifFreeMapObject(global);
    if (localMap) GifFreeMapObject(localMap);
    return ok;
}

bool Dump(const std::string& gifPath, const std::string& refPath) {
    FILE* out = std::fopen(refPath.c_str(), "wb");
    if (!out) return false;
    int err = 0;
    GifFileType* gif = DGifOpenFileName(gifPath.c_str(), &err);
    if (!gif || DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
        std::fputs("fail\n", out);
        if (gif) DGifCloseFile(gif, &err);
        std::fclose(out);
        return true;
    }
    const SavedImage& im = gif->SavedImages[0];
    const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : gif->SColorMap;
    int colours = map ? map->ColorCount : 0;
    // The decoder's rule: the last Graphic Control Extension before the image
    // whose transparency flag is set names the transparent index.
    int transparent = -1;
    for (int i = 0; i < im.ExtensionBlockCount; ++i) {
        const ExtensionBlock& e = im.ExtensionBlocks[i];
        if (e.Function == GRAPHICS_EXT_FUNC_CODE && e.ByteCount == 4 && (e.Bytes[0] & 1)) transparent = e.Bytes[3];
    }
    int w = im.ImageDesc.Width, h = im.ImageDesc.Height;
    std::fprintf(out, "ok %d %d %d %d %d\n", w, h, im.ImageDesc.Interlace ? 1 : 0, colours, transparent);
    for (int i = 0; i < colours; ++i) {
        unsigned char rgb[3] = {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue};
        std::fwrite(rgb, 1, 3, out);
    }
    std::fwrite(im.RasterBits, 1, static_cast<size_t>(w) * h, out);
    DGifCloseFile(gif, &err);
    return std::fclose(out) == 0;
}

std::vector<std::string> GifsIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".gif") == 0) names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gif-reference OUTDIR CORPUS\n");
        return 2;
    }
    std::string out = argv[1], corpus = argv[2];
    mkdir(out.c_str(), 0777);
    mkdir((out + "/generated").c_str(), 0777);

    static const int colourCounts[] = {2, 4, 16, 32, 200, 256};
    static const int widths[] = {1, 3, 7, 9, 801};
    uint32_t seed = 1;
    for (int colours : colourCounts)
        for (int w : widths)
            for (int flags = 0; flags < 8; ++flags) {
                bool interlaced = flags & 1, transparent = flags & 2, local = flags & 4;
                int h = w == 801 ? 23 : 37;
                char name[96];
                std::snprintf(name, sizeof name, "gen-c%d-w%d%s%s%s.gif", colours, w, interlaced ? "-i" : "",
                              transparent ? "-t" : "", local ? "-l" : "");
                if (!Generate(out + "/generated/" + name, w, h, colours, interlaced, transparent, local, seed++)) {
                    std::fprintf(stderr, "gif-reference: could not write %s\n", name);
                    return 1;
                }
            }

    FILE* index = std::fopen((out + "/index.tsv").c_str(), "w");
    if (!index) return 1;
    struct Kind {
        const char* name;
        std::string dir;
    } kinds[] = {{"valid", corpus + "/valid"}, {"generated", out + "/generated"}};
    int count = 0;
    for (const Kind& k : kinds) {
        for (const std::string& n : GifsIn(k.dir)) {
            std::string ref = std::string(k.name) + "-" + n + ".ref";
            if (!Dump(k.dir + "/" + n, out + "/" + ref)) {
                std::fprintf(stderr, "gif-reference: could not dump %s\n", n.c_str());
                return 1;
            }
            std::fprintf(index, "%s\t%s\t%s\n", k.name, n.c_str(), ref.c_str());
            ++count;
        }
    }
    std::fclose(index);
    std::printf("gif-reference: %d references in %s\n", count, out.c_str());
    return count > 0 ? 0 : 1;
}
