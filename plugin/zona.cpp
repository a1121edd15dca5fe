#include "plugin/zona.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "base/fichero_zeb.h"
#include "image/dib_ku.h"
#include "image/lee_gif.h"
#include "net/descarga_temporal.h"
#include "net/direcciones.h"
#include "net/internet_zeb.h"
#include "plugin/descriptor.h"
#include "plugin/modulo.h"
#include "plugin/protegido.h"

const double EscalasNivel[13] = {
    1.3229180000489578, 2.6458359999815,   6.614590000011958, 19.843769999977667, 39.68754000001354,
    79.37508000002708,  132.29179999997723, 396.875400000019,  793.750800000038,   1587.501600000076,
    2645.835999999894,  5291.671999999788, 21166.68799999915,
};

namespace {

// A point lies inside a closed interval when the two differences do not
// have the same sign.
bool Dentro(double a, double b, double p) { return (a - p) * (b - p) <= 0.0; }

// Integer half of a sum, truncated toward zero, without overflowing 32 bits.
int Mitad(int32_t a, int32_t b) { return static_cast<int>((static_cast<int64_t>(a) + b) / 2); }

}  // namespace

bool CalculaPeticionZona(const TDatosPlivors& datos, int x0, int x1, int y0, int y1, int anchoHost, int altoHost,
                         TPeticionZona& peticion) {
    double cx, cy, ax, ay, bx, by;
    PixelAMercator(datos, Mitad(x0, x1), Mitad(y0, y1), cx, cy);
    PixelAMercator(datos, x0, y0, ax, ay);
    PixelAMercator(datos, x1, y1, bx, by);
    double dx = std::fabs(bx - ax);
    double dy = std::fabs(by - ay);
    if (anchoHost < 5 || altoHost < 5) return false;

    peticion.ancho = Minimo(anchoHost, kAnchoVentana);
    peticion.alto = Minimo(altoHost, kAltoVentana);
    peticion.nivel = 1;
    for (int i = 0; i < 13; ++i) {
        double s = EscalasNivel[i];
        double izq = cx - 400.0 * s, der = cx + 400.0 * s;
        double abajo = cy - 300.0 * s, arriba = cy + 300.0 * s;
        if (Dentro(izq, der, ax) && Dentro(abajo, arriba, ay) && Dentro(izq, der, bx) && Dentro(abajo, arriba, by)) {
            peticion.nivel = i + 1;
            peticion.ancho = static_cast<int>(dx / s);
            peticion.alto = static_cast<int>(dy / s);
            break;
        }
    }
    MercatorAGeo(cx, cy, peticion.longitud, peticion.latitud);
    return true;
}

void ComponeUrlZona(const char* base, const TPeticionZona& peticion, CDString& url) {
    url.Asigna(base);
    url.Anade("/plivors/client?cmd=map&img=1&width=");
    url.AnadeEntero(peticion.ancho);
    url.Anade("&height=");
    url.AnadeEntero(peticion.alto);
    url.Anade("&scale=");
    url.AnadeEntero(peticion.nivel);
    url.Anade("&mocs=gdd&mo=");
    url.PonDecimales(8);
    url.AnadeReal(peticion.latitud);
    url.AnadeCaracter(',');
    url.AnadeReal(peticion.longitud);
}

int32_t AbreZona(TInfoRaster* raster, int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t* ancho,
                 int32_t* alto, TBitmapZona* bitmap, TCallbackTexto* fallo, TContextoDescarga* contexto) {
    if (raster == nullptr || raster->datos == nullptr || ancho == nullptr || alto == nullptr || bitmap == nullptr)
        return 0;
    TPeticionZona peticion;
    if (!CalculaPeticionZona(*raster->datos, x0, x1, y0, y1, *ancho, *alto, peticion)) return 0;

    DString url;
    DString base = DireccionServidorMapas();
    ComponeUrlZona(base.Texto(), peticion, url);

    // Exclusive, so that another host process in this folder never writes
    // into our picture, and removed on every way out of this call. The
    // deadline: the host cannot cancel what its progress record does not show.
    const TDestinoTemporal destino = {"", "plivor_temp", ".gif", &SiguienteContadorZonas, true};
    TFicheroTemporal temporal;
    DString mensaje;
    TFalloRed falloRed;
    TProgreso* progreso = contexto != nullptr ? contexto->progreso : nullptr;
    if (!DescargaATemporal(url.Texto(), destino, MilisegundosDeEntorno("PLIVORS_REQUEST_TIMEOUT_MS", kMsPlazoPorDefecto),
                           progreso, temporal, mensaje, falloRed)) {
        EnviaTexto(fallo, mensaje.Texto());
        return 0;
    }

    TDibKU imagen;
    bool leida = LeeGif(temporal.Nombre().Texto(), imagen, mensaje);
    temporal.Borra();
    if (!leida) {
        EnviaTexto(fallo, mensaje.Texto());
        return 0;
    }

    int numColores = 0;
    std::unique_ptr<uint32_t[]> paleta(imagen.CopyPalette(numColores));
    *ancho = imagen.Width();
    *alto = imagen.Height();
    bitmap->ancho = imagen.Width();
    bitmap->alto = imagen.Height();
    bitmap->bitsPorPixel = imagen.BitCount();
    bitmap->colores = paleta.get();
    bitmap->numColores = paleta ? numColores : 0;
    bitmap->pixeles = nullptr;
    if (bitmap->prepara != nullptr) bitmap->prepara(bitmap);

    int bytes = imagen.ImageSize();
    bool copiada = true;
    if (bytes > 0) {
        if (bitmap->pixeles != nullptr && imagen.Bits() != nullptr)
            std::memcpy(bitmap->pixeles, imagen.Bits(), static_cast<size_t>(bytes));
        else
            copiada = false;
    }
    // The palette copy is ours: the host may not keep the pointer.
    bitmap->colores = nullptr;
    paleta.reset();
    if (!copiada) {
        // Without a buffer from the host there is nowhere to put the pixels.
        EnviaTexto(fallo, "El host no dio memoria para la imagen de la zona");
        return 0;
    }
    if (bitmap->tamano >= kTamanoConSello) bitmap->sello = static_cast<float>(SiguienteSelloZonas());
    return 1;
}
