#include "serial/port.h"

namespace kavi {
namespace {

// The commands always store the name with its terminator; a block whose
// name lost it is not opened, rather than read past its 12 bytes.
bool NameTerminated(const char (&name)[KAVI_PORT_NAME_SIZE]) {
  for (const char c : name) {
    if (c == '\0') return true;
  }
  return false;
}

}  // namespace

PortHandle ComOpen(const PortSettings& settings) {
  if (!NameTerminated(settings.portName)) return 0;
  PortHandle handle = 0;
  if (ComOpenDevice(settings.portName, settings.line, settings.lineFlags,
                    &handle) != kPortOk) {
    return 0;
  }
  return handle;
}

}  // namespace kavi
