// Location lookup: a position becomes the place phrase of the map server's
// proximity page, with its HTML letters turned into Latin-1.
#pragma once

#include "base/dstring.h"

// The host's buffer has no declared size: at most this many bytes of the
// phrase go into it, then a terminating zero.
const int kMaximoLocalizacion = 255;

void ComponeUrlLocalizacion(const char* base, double longitud, double latitud, CDString& url);

// Takes the phrase between the page's markers and decodes it. False when the
// page has no start marker.
bool ExtraeLocalizacion(const CDString& pagina, CDString& frase);

// The 50 replacements, in order, on the phrase.
void ReemplazaEntidades(CDString& frase);

bool GetLocalizacion(double longitud, double latitud, char* resultado);
