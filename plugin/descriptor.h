// Descriptor files (".plvr": lines of key "=" value naming a map by its id),
// the state of one open raster, and the spherical Mercator projection in which
// one raster pixel is one metre.
#pragma once

#include <cstdint>

#include "base/dstring.h"
#include "plugin/registros_host.h"

// The state of one open raster, owned through TInfoRaster::datos.
struct TDatosPlivors {
    int32_t idmapa;
    DString texto1, texto2;  // carried with the state; nothing reads them
    int32_t ancho, alto;     // raster size in pixels
    double x0, x1, y0, y1;   // Mercator edges: west, east, south, north
    double lat0, lon0;       // south-west corner, degrees
    double lat1, lon1;       // north-east corner, degrees
    TDatosPlivors();
    TDatosPlivors(const TDatosPlivors&) = delete;
    TDatosPlivors& operator=(const TDatosPlivors&) = delete;
};

// Radius of the sphere: the WGS84 equatorial radius, metres.
const double kRadioTierra = 6378137.0;

// The host's zone-cache settings, announced when a raster opens.
extern const char kTextoOpcionesCache[];

// Reads the descriptor at ruta. On success datos.idmapa holds the map id and
// the message is left alone; on failure the message says why.
bool LeeDescriptor(const char* ruta, TDatosPlivors& datos, CDString& mensaje);

// Degrees to Mercator metres. x is always written; fails (y unchanged) where
// the latitude cannot be projected (the south pole and beyond).
bool GeoAMercator(double latitud, double longitud, double& x, double& y);
// Mercator metres to degrees. Fails for |y| beyond 1000 radii: the latitude is
// then unchanged and the longitude holds radians.
bool MercatorAGeo(double x, double y, double& longitud, double& latitud);
// Pixel x counts eastwards from the western edge, pixel y northwards from the
// southern edge.
void PixelAMercator(const TDatosPlivors& datos, int px, int py, double& x, double& y);

// From datos.idmapa: corners from the catalogue, Mercator edges and size.
// False and the catalogue's message for an unknown id.
bool CompletaDatos(TDatosPlivors& datos, CDString& mensaje);

// The work of opening and closing a raster for the host. AbreRaster leaves
// raster->datos null on every failure, a thrown one included; the exports run
// both behind the exception barrier.
bool AbreRaster(const char* ruta, TInfoRaster* raster, TCallbackTexto* fallo);
void CierraRaster(TInfoRaster* raster);
