// Not built yet: no port can be opened.
#include "serial/port.h"

namespace kavi {

int32_t ComOpenDevice(const char*, const LineSettings&, uint16_t,
                      PortHandle* handleOut) {
  *handleOut = 0;
  return kPortOpenFailed;
}
int32_t ComClose(PortHandle) { return kPortSystemFailed; }
uint32_t ComSetReadTimeout(PortHandle, uint32_t) { return 0; }
int32_t ComPurgeInput(PortHandle) { return kPortPurgeFailed; }
int32_t ComWrite(PortHandle, const uint8_t*, uint32_t, uint32_t*) {
  return kPortSystemFailed;
}
int32_t ComRead(PortHandle, uint8_t*, uint32_t, uint32_t* received) {
  if (received != nullptr) *received = 0;
  return kPortSystemFailed;
}

}  // namespace kavi
