// MELBAX.dll: the functions the driver imports (err) and looks up
// (melbax_trace), handed on to the host code that bound itself with
// melbax_bind. Until one does, messages go to stderr and telegrams nowhere.
// The names are exported by melbax_win32.def, undecorated.
#include <windows.h>

#include <cstdio>

#include "host_binding_win32.h"
#include "kaviros/kaviros.h"

namespace {

// Set by one thread while the driver may log on others.
MelbaxLogHandler logHandler = nullptr;
MelbaxTraceHandler traceHandler = nullptr;

}  // namespace

extern "C" {

void __cdecl melbax_bind(MelbaxLogHandler log, MelbaxTraceHandler trace) {
  __atomic_store_n(&logHandler, log, __ATOMIC_RELEASE);
  __atomic_store_n(&traceHandler, trace, __ATOMIC_RELEASE);
}

int32_t __cdecl err(int32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (const MelbaxLogHandler log =
          __atomic_load_n(&logHandler, __ATOMIC_ACQUIRE)) {
    log(level, format, args);
  } else if (format != nullptr) {
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
  }
  va_end(args);
  return 0;
}

void __cdecl melbax_trace(int32_t direction, const uint8_t* bytes,
                          uint32_t count) {
  if (const MelbaxTraceHandler trace =
          __atomic_load_n(&traceHandler, __ATOMIC_ACQUIRE)) {
    trace(direction, bytes, count);
  }
}

}  // extern "C"
