// The catalogue of the maps the server draws: for every known map id, its
// geographic bounds. Built into the module, never read from a file.
#pragma once

#include <cstdint>

#include "base/dstring.h"
#include "base/vectores.h"

// One row, copied by value into the catalogue.
struct TRegistroMapa {
    int32_t id;
    uint8_t marca;  // always 0; nothing reads it
    double latSur;
    double latNorte;
    double lonOeste;
    double lonEste;
    TRegistroMapa() : id(0), marca(0), latSur(0.0), latNorte(0.0), lonOeste(0.0), lonEste(0.0) {}
};

class TTablaMapas {
public:
    // Map ids are 1000 plus the row's position.
    static const int kPrimerId = 1000;

    TTablaMapas();
    TTablaMapas(const TTablaMapas&) = delete;
    TTablaMapas& operator=(const TTablaMapas&) = delete;

    // Looks the id up by position. On success the destinations receive the
    // south-west corner (lat0, lon0) and the north-east corner (lat1, lon1)
    // and the message is left alone; on failure only the message changes, to
    // "idmapa no correcto i=" and the position.
    bool BuscaMapa(int id, CDString& mensaje, double& lat0, double& lon0, double& lat1, double& lon1) const;

    int Numero() const { return mapas.Numero(); }
    const TRegistroMapa& Registro(int posicion) const { return mapas.Elemento(posicion); }

private:
    Vector<TRegistroMapa> mapas;
};
