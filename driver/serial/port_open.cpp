#include "serial/port.h"

namespace kavi {

PortHandle ComOpen(const PortSettings& settings) {
  PortHandle handle = 0;
  if (ComOpenDevice(settings.portName, settings.line, settings.lineFlags,
                    &handle) != kPortOk) {
    return 0;
  }
  return handle;
}

}  // namespace kavi
