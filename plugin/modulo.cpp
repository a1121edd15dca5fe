#include "plugin/modulo.h"

#include <atomic>

#include "base/fichero_zeb.h"
#include "image/dib_ku.h"
#include "plugin/tabla_mapas.h"

namespace {

std::atomic<int> gContadorZonas{0};
std::atomic<double> gSelloZonas{0.0};
std::atomic<int> gContadorLocalizacion{0};

// Start-up and unload of the module, in the order the pieces depend on each
// other; destruction runs in reverse.
struct TModulo {
    TCurrentDir directorioActual;
    TTablaMapas tablaMapas;
    TModulo() { Colores_pux::Inicia(); }
    ~TModulo() { Colores_pux::Termina(); }
};

TModulo gModulo;

}  // namespace

const TTablaMapas& TablaMapas() { return gModulo.tablaMapas; }
const TCurrentDir& DirectorioDelModulo() { return gModulo.directorioActual; }

int SiguienteContadorZonas() { return gContadorZonas.fetch_add(1) + 1; }

double SiguienteSelloZonas() {
    double viejo = gSelloZonas.load();
    double nuevo;
    do {
        nuevo = viejo + 0.01;
    } while (!gSelloZonas.compare_exchange_weak(viejo, nuevo));
    return nuevo;
}

int SiguienteContadorLocalizacion() { return gContadorLocalizacion.fetch_add(1) + 1; }
