// Descriptor download: one descriptor file by name from the download server
// into a folder the host chooses, with progress and cancel.
#pragma once

#include "base/dstring.h"
#include "plugin/registros_host.h"

// A name must stay inside the chosen folder and travel in a URL unchanged:
// no separators, drive colons, "..", blanks or control characters.
bool NombreDescriptorValido(const char* nombre);

void ComponeUrlDescarga(const char* base, const char* nombre, CDString& url);

bool DescargaDescriptor(const char* nombre, const char* carpeta, TCallbackTexto* exito, TCallbackTexto* fallo,
                        TContextoDescarga* contexto);
