// Windows side of the telegram trace: MELBAX.dll may export melbax_trace.
// Looked up at each use, so the driver keeps no state and follows the host
// if it is loaded or unloaded.
#include <windows.h>

#include "entry/host_trace.h"

namespace kavi {

KaviTraceFunction HostTraceFunction() {
  const HMODULE host = GetModuleHandleA("MELBAX.dll");
  if (host == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(host, KAVI_HOST_TRACE_NAME);
  if (found == nullptr) return nullptr;
  // Through the generic function pointer type: GetProcAddress gives every
  // export the same type.
  return reinterpret_cast<KaviTraceFunction>(
      reinterpret_cast<void (*)()>(found));
}

}  // namespace kavi
