// The calibration of a descriptor in the host's MAP format: Mercator on WGS84,
// three corner points of the whole raster.
#pragma once

#include "base/dstring.h"
#include "plugin/descriptor.h"

// The MAP text of a completed raster state; ruta goes into "Bitmap=" as given.
void ConstruyeCalibracion(const char* ruta, const TDatosPlivors& datos, CDString& texto);

// Reads the descriptor, completes a local state and builds its MAP text. On
// failure only the message changes.
bool LeeCalibracion(const char* ruta, CDString& texto, CDString& mensaje);
