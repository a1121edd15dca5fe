// A zone the plug-in delivered, with the arithmetic that places a point of
// the Mercator plane in its picture.
#pragma once

#include "support/map_geometry.h"
#include "support/plugin_fixture.h"

namespace testing_support {

struct Delivered {
    ZoneRecord zone;
    double centreX = 0, centreY = 0, s = 0;
    int width = 0, height = 0;

    Rgb At(int col, int row) const {
        const TBitmapZona& r = zone.record;
        const int stride = ZoneRecord::RowStride(r.ancho, r.bitsPorPixel);
        const uint8_t* line = zone.pixels.data() + static_cast<size_t>(r.alto - 1 - row) * stride;  // bottom-up
        int index = r.bitsPorPixel == 8   ? line[col]
                    : r.bitsPorPixel == 4 ? (line[col / 2] >> (col % 2 ? 0 : 4)) & 15
                                          : (line[col / 8] >> (7 - col % 8)) & 1;
        uint32_t c = zone.palette[index];
        return {static_cast<int>(c >> 16 & 255), static_cast<int>(c >> 8 & 255), static_cast<int>(c & 255)};
    }
    // Records what the plug-in delivered for the zone x0..x1, y0..y1 (raster
    // pixels, Mercator metres from the map's corner west, south) at w x h:
    // its centre, and the finest level whose 800 x 600 window holds the zone.
    void Placed(double west, double south, int x0, int x1, int y0, int y1, int w, int h) {
        width = w;
        height = h;
        centreX = west + (x0 + x1) / 2;
        centreY = south + (y0 + y1) / 2;
        for (double level : kLevels)
            if (400 * level >= (x1 - x0) / 2 && 300 * level >= (y1 - y0) / 2) {
                s = level;
                break;
            }
    }
    double Col(double lon) const { return (MercX(lon) - centreX) / s + width / 2.0; }
    double Row(double lat) const { return (centreY - MercY(lat)) / s + height / 2.0; }
    double Share(Rgb colour) const {
        int n = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) n += Near(At(x, y), colour) ? 1 : 0;
        return static_cast<double>(n) / (width * height);
    }
};

}  // namespace testing_support
