// The telegram trace: every request and reply goes to the host's
// melbax_trace when the host has one. Absent, it costs one comparison on
// Linux and two loader look-ups on Windows; the driver never formats.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

#if !defined(_WIN32)
// Weak: a host process without it leaves the address null instead of failing
// to load the driver.
extern "C" void melbax_trace(int32_t direction, const uint8_t* bytes,
                             uint32_t count) __attribute__((weak));
#endif

namespace kavi {

inline constexpr int32_t kTraceRequest = KAVI_TRACE_REQUEST;
inline constexpr int32_t kTraceReply = KAVI_TRACE_REPLY;

#if defined(_WIN32)
// Looks the function up in MELBAX.dll; null when it is not there. Lives with
// the port backend, since it needs the system's loader.
KaviTraceFunction HostTraceFunction();
#else
inline KaviTraceFunction HostTraceFunction() { return &melbax_trace; }
#endif

inline void Trace(int32_t direction, const uint8_t* bytes, uint32_t count) {
  if (const KaviTraceFunction trace = HostTraceFunction()) {
    trace(direction, bytes, count);
  }
}

}  // namespace kavi
