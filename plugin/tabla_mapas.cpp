#include "plugin/tabla_mapas.h"

#include <cstdio>

namespace {

struct TFilaMapa {
    int32_t id;
    double latSur, latNorte, lonOeste, lonEste;
};

const TFilaMapa kFilas[] = {
    {1000, 27.5082486, 44.330421, -23.8797607, 6.2720658},
    {1001, 26.9674359, 56.5217513, -20.9912576, 24.5938529},
    {1002, 26.9674359, 32.8957462, -20.9912576, -8.483808},
    {1003, -88.0, 88.0, -178.0, 178.0},
};

}  // namespace

TTablaMapas::TTablaMapas() : mapas(10, 10) {
    mapas.Limpia();
    TRegistroMapa registro;
    for (const TFilaMapa& f : kFilas) {
        registro.id = f.id;
        registro.latSur = f.latSur;
        registro.latNorte = f.latNorte;
        registro.lonOeste = f.lonOeste;
        registro.lonEste = f.lonEste;
        mapas.Anade(&registro, -1);
    }
}

bool TTablaMapas::BuscaMapa(int id, CDString& mensaje, double& lat0, double& lon0, double& lat1,
                            double& lon1) const {
    // In 64 bits: an id read from a descriptor may be anywhere in the 32-bit
    // range, and id - 1000 must not wrap.
    long long posicion = static_cast<long long>(id) - kPrimerId;
    long long indice = posicion - mapas.Base();
    // The position is tested before the row is read, so the container never
    // sees a position it would refuse.
    if (indice < 0 || indice >= mapas.Numero() || !mapas.Existe(static_cast<int>(posicion))) {
        char numero[24];
        std::snprintf(numero, sizeof numero, "%lld", posicion);
        mensaje.Asigna("idmapa no correcto ");
        mensaje.Anade("i=");
        mensaje.Anade(numero);
        return false;
    }
    const TRegistroMapa& r = mapas.Elemento(static_cast<int>(posicion));
    lat0 = r.latSur;
    lon0 = r.lonOeste;
    lat1 = r.latNorte;
    lon1 = r.lonEste;
    return true;
}
