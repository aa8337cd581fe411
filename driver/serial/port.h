// The port operations: the only code that touches a serial port. Each is a
// thin synchronous layer over the platform; none logs, none keeps state.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

// The open port as kept in InstanceBlock.portHandle; 0 means no port.
using PortHandle = uint32_t;

enum PortResult : int32_t {
  kPortOk = 0,
  kPortOpenFailed = 1,    // ComOpenDevice: no device, or time-outs refused
  kPortPurgeFailed = 1,   // ComPurgeInput
  kPortShortWrite = 2,    // ComWrite: fewer bytes written than asked
  kPortStateFailed = 4,   // ComOpenDevice: state query failed, closed again
  kPortConfigFailed = 5,  // ComOpenDevice: configuration refused, closed again
  kPortSystemFailed = 7,  // ComClose, ComWrite, ComRead: the call failed
};

// Opens and configures the port named in the settings; 0 when that fails.
PortHandle ComOpen(const PortSettings& settings);

// Opens `name` and configures it from the line settings and lineFlags.
// Code 0 leaves an open handle in *handleOut; no other code leaves one open.
int32_t ComOpenDevice(const char* name, const LineSettings& line,
                      uint16_t lineFlags, PortHandle* handleOut);

int32_t ComClose(PortHandle handle);

// Makes `timeout` (milliseconds) the port's total read time-out; 0 and
// 0xFFFFFFFF change nothing. Returns the time-out in force before, or 0
// when the port's time-outs could not be read or written.
uint32_t ComSetReadTimeout(PortHandle handle, uint32_t timeout);

// Discards what the port has received and not yet been read.
int32_t ComPurgeInput(PortHandle handle);

// Writes count bytes; `written` (optional) receives the count written.
int32_t ComWrite(PortHandle handle, const uint8_t* buffer, uint32_t count,
                 uint32_t* written);

// Returns when count bytes have arrived or the total read time-out has
// passed since the call began, with what arrived in *received (optional).
// Only the low 16 bits of count are used.
int32_t ComRead(PortHandle handle, uint8_t* buffer, uint32_t count,
                uint32_t* received);

}  // namespace kavi
