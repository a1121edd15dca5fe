#include "plugin/calibracion.h"

void ConstruyeCalibracion(const char* ruta, const TDatosPlivors& datos, CDString& texto) {
    texto.Asigna(
        "HalvoGPS MAP File\r\n<Header>\r\nVersion=2\r\nProjection=2,Mercator,\r\nCoordinates=1\r\n"
        "Datum=WGS84\r\nCopyright=1\r\n</Header>\r\n<Map>\r\n");
    texto.Anade("Bitmap=").Anade(ruta).Anade("\r\n");
    texto.Anade("BitmapWidth=").AnadeEntero(datos.ancho).Anade("\r\n");
    texto.Anade("BitmapHeight=").AnadeEntero(datos.alto).Anade("\r\n");
    texto.Anade("BitsPerPixel=0\r\n</Map>\r\n<Calibration>\r\n");
    texto.PonDecimales(8);
    // Row 0 is the northern edge here, unlike in zone requests.
    texto.Anade("P0=").AnadeEntero(0).Anade(",").AnadeEntero(0).Anade(",30T,");
    texto.AnadeReal(datos.lon0).Anade(",").AnadeReal(datos.lat1).Anade("\r\n");
    texto.Anade("P1=").AnadeEntero(datos.ancho).Anade(",").AnadeEntero(0).Anade(",30T,");
    texto.AnadeReal(datos.lon1).Anade(",").AnadeReal(datos.lat1).Anade("\r\n");
    texto.Anade("P2=").AnadeEntero(0).Anade(",").AnadeEntero(datos.alto).Anade(",30T,");
    texto.AnadeReal(datos.lon0).Anade(",").AnadeReal(datos.lat0).Anade("\r\n");
    texto.Anade("</Calibration>\r\n");
}

bool LeeCalibracion(const char* ruta, CDString& texto, CDString& mensaje) {
    TDatosPlivors datos;
    if (!LeeDescriptor(ruta, datos, mensaje) || !CompletaDatos(datos, mensaje)) return false;
    ConstruyeCalibracion(ruta, datos, texto);
    return true;
}
