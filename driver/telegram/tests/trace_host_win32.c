/* A stand-in for the host's MELBAX.dll in the unit tests: the driver finds
 * melbax_trace here and each call goes on to the sink the test program set. */
#include <stddef.h>

#include "kaviros/kaviros.h"

static KaviTraceFunction sink = NULL;

__declspec(dllexport) void __cdecl trace_host_set_sink(KaviTraceFunction to) {
  sink = to;
}

__declspec(dllexport) void KAVI_TRACE_API
    melbax_trace(int32_t direction, const uint8_t* bytes, uint32_t count) {
  if (sink != NULL) sink(direction, bytes, count);
}
