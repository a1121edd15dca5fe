#include "plugin/descriptor.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "plugin/modulo.h"
#include "plugin/protegido.h"
#include "plugin/tabla_mapas.h"

namespace {

const double kPi = 3.141592653589793;
const double kCuartoPi = 0.7853981633974483;
const double kGradosPorRadian = 57.29577951308232;
const int kTrozo = 1023;

struct CierraFichero {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The whole file, byte for byte, or false when it cannot be opened or read.
bool LeeFichero(const char* ruta, std::string& contenido) {
    if (ruta == nullptr) return false;
    std::unique_ptr<std::FILE, CierraFichero> f(std::fopen(ruta, "rb"));
    if (!f) return false;
    char trozo[kTrozo];
    size_t n;
    while ((n = std::fread(trozo, 1, sizeof trozo, f.get())) > 0) contenido.append(trozo, n);
    // A read error (a directory opened as a file, say) is not an empty file.
    return std::ferror(f.get()) == 0;
}

int32_t Trunca(double v) { return static_cast<int32_t>(v); }

}  // namespace

const char kTextoOpcionesCache[] =
    "cache_it=1\r\n"
    "cache_dx=800\r\n"
    "cache_dy=600\r\n"
    "cache_quality=0.5\r\n"
    "cache_multithread=1\r\n";

TDatosPlivors::TDatosPlivors()
    : idmapa(0), ancho(0), alto(0), x0(0.0), x1(0.0), y0(0.0), y1(0.0), lat0(35.6566604), lon0(-12.4095978),
      lat1(44.593674), lon1(4.9270885) {}

bool LeeDescriptor(const char* ruta, TDatosPlivors& datos, CDString& mensaje) {
    std::string contenido;
    if (!LeeFichero(ruta, contenido)) {
        mensaje.Asigna("No se pudo leer el archivo");
        return false;
    }
    // The descriptor is a C text: a zero byte ends it.
    const char* texto = contenido.c_str();
    const size_t n = std::strlen(texto);

    datos.idmapa = 0;
    // Lines are cut at line feeds and checked one at a time, the first bad
    // one ending the reading. Empty lines are skipped, but a line feed that is
    // the very first byte does not cut: it sticks to the first key, which then
    // matches nothing. (Collecting every line first would cost time
    // quadratic in the number of lines.)
    DString linea, clave, valor;
    size_t inicio = 0;
    for (size_t i = 0; i <= n; ++i) {
        if (i < n && (texto[i] != '\n' || i == 0)) continue;
        if (i == inicio) {
            inicio = i + 1;
            continue;
        }
        // No text of the module holds a line this long.
        if (i - inicio > static_cast<size_t>(INT_MAX / 2)) throw std::bad_alloc();
        linea.AsignaPrimeros(texto + inicio, static_cast<int>(i - inicio));
        inicio = i + 1;
        linea.Recorta();
        if (!linea.ClaveValor(clave, valor)) {
            mensaje.Asigna("Error parseando respuesta plvr");
            return false;
        }
        clave.Mayusculas();
        if (clave.Igual("IDMAPA")) datos.idmapa = static_cast<int32_t>(valor.Entero());
        // "VERSION" and unknown keys are accepted and not used.
    }
    if (datos.idmapa == 0) {
        mensaje.Asigna("Error en idmapa de plvr");
        return false;
    }
    return true;
}

bool GeoAMercator(double latitud, double longitud, double& x, double& y) {
    double lambda = longitud * kPi * (1.0 / 180.0);
    double phi = latitud * kPi * (1.0 / 180.0);
    x = kRadioTierra * lambda;
    double t = std::tan(phi * 0.5 + kCuartoPi);
    if (!(t >= 1e-9)) return false;
    y = kRadioTierra * std::log(t);
    return true;
}

bool MercatorAGeo(double x, double y, double& longitud, double& latitud) {
    longitud = x / kRadioTierra;
    double v = y / kRadioTierra;
    if (std::fabs(v) > 1000.0) return false;
    double phi = (std::atan(std::exp(v)) - kCuartoPi) * 2.0;
    longitud *= kGradosPorRadian;
    latitud = phi * kGradosPorRadian;
    return true;
}

void PixelAMercator(const TDatosPlivors& datos, int px, int py, double& x, double& y) {
    x = px + datos.x0;
    y = py + datos.y0;
}

bool CompletaDatos(TDatosPlivors& datos, CDString& mensaje) {
    if (!TablaMapas().BuscaMapa(datos.idmapa, mensaje, datos.lat0, datos.lon0, datos.lat1, datos.lon1))
        return false;
    // Every catalogue corner lies between -88 and 88 degrees: both succeed.
    GeoAMercator(datos.lat0, datos.lon0, datos.x0, datos.y0);
    GeoAMercator(datos.lat1, datos.lon1, datos.x1, datos.y1);
    datos.ancho = Trunca(datos.x1 - datos.x0);
    datos.alto = Trunca(datos.y1 - datos.y0);
    return true;
}

bool AbreRaster(const char* ruta, TInfoRaster* raster, TCallbackTexto* fallo) {
    if (raster == nullptr) return false;
    // Closed until everything has succeeded, whatever happens in between.
    raster->datos = nullptr;
    std::unique_ptr<TDatosPlivors> datos(new TDatosPlivors());
    struct Cerrado {
        TInfoRaster* raster;
        bool abierto = false;
        ~Cerrado() {
            if (!abierto) raster->datos = nullptr;
        }
    } cerrado{raster};
    raster->datos = datos.get();

    DString mensaje;
    if (!LeeDescriptor(ruta, *datos, mensaje) || !CompletaDatos(*datos, mensaje)) {
        EnviaTexto(fallo, mensaje.Texto());
        return false;
    }
    raster->ancho = datos->ancho;
    raster->alto = datos->alto;
    raster->siempreCero = 0;
    raster->siempreOcho = 8;
    EnviaTexto(raster->opcionesCache, kTextoOpcionesCache);
    cerrado.abierto = true;
    datos.release();
    return true;
}

void CierraRaster(TInfoRaster* raster) {
    if (raster == nullptr) return;
    delete raster->datos;
    raster->datos = nullptr;
}
