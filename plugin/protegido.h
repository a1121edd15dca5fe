// No exception may leave an export: every export runs its body through
// Protegido, which turns anything thrown into the export's failure result and
// one line for the failure callback.
#pragma once

#include <exception>
#include <new>

#include "base/dstring.h"
#include "base/vectores.h"
#include "plugin/registros_host.h"

inline void EnviaTexto(TCallbackTexto* destino, const char* texto) {
    if (destino != nullptr && destino->funcion != nullptr) destino->funcion(destino, texto);
}

// Describes the exception being handled, for the failure callback.
inline void DescribeExcepcion(CDString& mensaje) {
    try {
        throw;
    } catch (const TXErrorVectoresRW& e) {
        mensaje.Asigna("Error interno de contenedor ");
        mensaje.AnadeEntero(e.codigo);
    } catch (const char* texto) {
        mensaje.Asigna(texto ? texto : "Error interno");
    } catch (const std::bad_alloc&) {
        mensaje.Asigna("Memoria insuficiente");
    } catch (const std::exception& e) {
        mensaje.Asigna("Error interno: ");
        mensaje.Anade(e.what());
    } catch (...) {
        mensaje.Asigna("Error interno");
    }
}

template <class R, class F>
R Protegido(R fallo, TCallbackTexto* destinoFallo, F&& cuerpo) noexcept {
    try {
        return cuerpo();
    } catch (...) {
        try {
            DString mensaje;
            DescribeExcepcion(mensaje);
            EnviaTexto(destinoFallo, mensaje.Texto());
        } catch (...) {
            // Even the message could not be built (no memory): the result says it.
        }
        return fallo;
    }
}
