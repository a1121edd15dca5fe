// Debugger aid of the containers: on Windows, break into an attached debugger
// before a container error is thrown. Elsewhere both calls do nothing.
#pragma once

// Asks the system once per call; the caller remembers the answer.
bool PlataformaDepuradorPresente();
void PlataformaRompeDepurador();
