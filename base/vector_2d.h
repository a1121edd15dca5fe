// vector2D, a point of two 64-bit floats: foundation the exports never reach
// (they work in Mercator metres as plain doubles). For code that keeps points
// in the module's containers.
#pragma once

struct vector2D {
    double x;
    double y;
    vector2D(double px = 0.0, double py = 0.0) : x(px), y(py) {}
    virtual ~vector2D() {}
    virtual void Nada() {}
};
