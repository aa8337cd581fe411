// How the host code reaches MELBAX.dll on Windows. The driver imports err
// from MELBAX.dll and looks melbax_trace up there; the host code, linked
// into the program, registers with melbax_bind where both go. Plain C ABI,
// so that MELBAX.dll needs no C++ runtime and any program can carry it; every
// function is cdecl, the compiler's default.
#pragma once

#include <cstdarg>
#include <cstdint>

extern "C" {

// The driver's message as it called err: level, format and its arguments.
typedef void (*MelbaxLogHandler)(int32_t level, const char* format,
                                 va_list args);
// A telegram, as melbax_trace received it.
typedef void (*MelbaxTraceHandler)(int32_t direction, const uint8_t* bytes,
                                   uint32_t count);
// Registers the handlers for the whole process; null ones unregister.
typedef void (*MelbaxBindFunction)(MelbaxLogHandler log,
                                   MelbaxTraceHandler trace);

}  // extern "C"

#define MELBAX_BIND_NAME "melbax_bind"
