// Catches what the driver hands to the host's trace function. On Linux this
// program defines melbax_trace itself; on Windows it loads a stand-in
// MELBAX.dll that passes every call on to it.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace kavi::testing {

struct TraceRecord {
  int32_t direction;
  std::vector<uint8_t> bytes;
  bool operator==(const TraceRecord&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TraceRecord& record) {
  out << (record.direction == 0 ? "request" : "reply") << " [";
  for (const uint8_t byte : record.bytes) out << ' ' << int{byte};
  return out << " ]";
}

// Makes the host's trace function reachable; false when it cannot be.
bool StartTraceCapture();
const std::vector<TraceRecord>& Traced();
void ClearTrace();

}  // namespace kavi::testing
