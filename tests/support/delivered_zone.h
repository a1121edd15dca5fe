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
