// Environment settings, read at the moment of the call (tests change them
// while the library is loaded).
#pragma once

#include <string>

// The value of the variable, or false (and valor untouched) when it is unset.
bool PlataformaLeeEntorno(const char* nombre, std::string& valor);
