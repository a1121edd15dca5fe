// Module-wide state: built when the library loads, destroyed when it unloads.
// The host may call exports from several threads at once, so the counters and
// the stamp are atomic; everything else here is only read after load.
#pragma once

class TTablaMapas;

// The catalogue of known maps, built at load and only read afterwards.
const TTablaMapas& TablaMapas();

class TCurrentDir;
// The current directory as it was when the module loaded.
const TCurrentDir& DirectorioDelModulo();

// Zone requests: the next temporary-file number (1 for the first request).
int SiguienteContadorZonas();
// Zone stamp: adds 0.01 and returns the new value.
double SiguienteSelloZonas();
// Location lookups: the next temporary-file number, separate from the zones'.
int SiguienteContadorLocalizacion();
