// Shared by the engine's sources only.
#ifndef COBCPY_ENGINE_INTERNAL_H
#define COBCPY_ENGINE_INTERNAL_H

#include "cobcpy.h"

// The engine's module name, carried by every exception it raises.
#define COBCPY_MODULE "cobcpy"

// Raises ExceptionClass with `message` from the current line of the engine.
#define RAISE(ExceptionClass, message) CGI_RAISE_FROM(ExceptionClass, message, COBCPY_MODULE)

#endif
