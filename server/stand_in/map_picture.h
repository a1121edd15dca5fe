// Pictures and pages of the test stand-in, independent of HTTP: a synthetic
// map whose every pixel the tests can predict, and a small fixed gazetteer.
#pragma once

#include <string>
#include <vector>

struct PictureStyle {
    int colors = 256;      // 2, 16 or 256
    bool interlace = false;
    int transparent = -1;  // palette index, or -1 for none
};

struct Place {
    double lat, lon;
    const char* phrase;  // HTML, with entities, as the proximity page carries it
};

// The built-in gazetteer (Spanish places).
const std::vector<Place>& Gazetteer();
const Place& NearestPlace(double lat, double lon);

// A GIF of exactly width x height pixels centred on lat/lon at the level.
// The picture depends only on position and level: neighbouring requests at
// the same level sample the same global pixel lattice.
// With encoded false the answer is the raw palette indices instead, row by
// row from the top (for tests that compare pictures without a decoder).
std::string DrawMap(int width, int height, int level, double lat, double lon, const PictureStyle& style,
                    bool encoded = true);
