#include "platform/depurador.h"

bool PlataformaDepuradorPresente() { return false; }

void PlataformaRompeDepurador() {}
