#include "trace_capture.h"

#include "kaviros/kaviros.h"

#if defined(_WIN32)
#include <windows.h>

#include <string>
#endif

namespace kavi::testing {
namespace {

std::vector<TraceRecord>& Records() {
  static std::vector<TraceRecord> records;
  return records;
}

void KAVI_TRACE_API Capture(int32_t direction, const uint8_t* bytes,
                            uint32_t count) {
  Records().push_back({direction, std::vector<uint8_t>(bytes, bytes + count)});
}

}  // namespace

const std::vector<TraceRecord>& Traced() { return Records(); }
void ClearTrace() { Records().clear(); }

#if defined(_WIN32)
bool StartTraceCapture() {
  // The stand-in lives in trace_host/ beside this program.
  char self[MAX_PATH];
  const DWORD size = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (size == 0 || size == MAX_PATH) return false;
  std::string path(self, size);
  path =
      path.substr(0, path.find_last_of("\\/") + 1) + "trace_host\\MELBAX.dll";
  const HMODULE host = LoadLibraryA(path.c_str());
  if (host == nullptr) return false;
  using SetSink = void(__cdecl*)(KaviTraceFunction);
  const auto setSink = reinterpret_cast<SetSink>(reinterpret_cast<void (*)()>(
      GetProcAddress(host, "trace_host_set_sink")));
  if (setSink == nullptr) return false;
  setSink(&Capture);
  return true;
}
#else
bool StartTraceCapture() { return true; }
#endif

}  // namespace kavi::testing

#if !defined(_WIN32)
extern "C" void melbax_trace(int32_t direction, const uint8_t* bytes,
                             uint32_t count) {
  kavi::testing::Capture(direction, bytes, count);
}
#endif
