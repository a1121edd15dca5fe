// The file-system calls the file classes need, one thin function each.
#pragma once

#include <string>

// Directory separator of file names on this platform: the backslash on
// Windows, the slash elsewhere.
extern const char kSeparadorRuta;
inline bool EsSeparadorRuta(char c) { return c == kSeparadorRuta; }

const unsigned long kAtributosInvalidos = 0xFFFFFFFFul;  // INVALID_FILE_ATTRIBUTES
const unsigned long kAtributoSoloLectura = 0x01;         // FILE_ATTRIBUTE_READONLY
const unsigned long kAtributoDirectorio = 0x10;          // FILE_ATTRIBUTE_DIRECTORY
const unsigned long kAtributoNormal = 0x80;              // FILE_ATTRIBUTE_NORMAL

// DeleteFileA.
bool PlataformaBorraFichero(const char* nombre);
// CopyFileA, replacing an existing target.
bool PlataformaCopiaFichero(const char* desde, const char* hasta);
// MoveFileA: fails when the target exists.
bool PlataformaMueveFichero(const char* desde, const char* hasta);
// MoveFileExA with MOVEFILE_REPLACE_EXISTING.
bool PlataformaReemplazaFichero(const char* desde, const char* hasta);
// GetFileAttributesA: kAtributosInvalidos when the name does not exist.
unsigned long PlataformaAtributosFichero(const char* nombre);
// GetLogicalDrives: bit n set when drive 'A' + n exists.
unsigned long PlataformaUnidadesLogicas();
// The C access(nombre, 2) test: the file exists and may be written.
bool PlataformaEscribible(const char* nombre);
// CreateFileA with CREATE_NEW (open with O_CREAT | O_EXCL elsewhere): an
// empty file of that name, made only when no file of that name exists, so
// that two processes can never be handed the same one.
enum TCreacionExclusiva { kCreado, kYaExiste, kRechazado };
TCreacionExclusiva PlataformaCreaExclusivo(const char* nombre);
// The system's folder for temporary files, ending in its separator
// (GetTempPathA; TMPDIR or /tmp elsewhere).
std::string PlataformaCarpetaTemporal();
// The current directory as a full path ("C:\maps\data", "C:\" at the root).
std::string PlataformaDirectorioActual();
