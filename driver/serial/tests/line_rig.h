// Real serial lines for the backend tests: two ports the backend opens by
// name, each with a far end the test drives. On Linux both ends are
// pseudo-terminals in the test process; under Wine the ports are COM
// devices linked to pseudo-terminals whose far ends a Linux peer drives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/port.h"

namespace kavi::testing {

using Bytes = std::vector<uint8_t>;

class LineRig {
 public:
  virtual ~LineRig() = default;

  // The name ComOpenDevice takes for line 0 or 1.
  virtual std::string PortName(int line) = 0;
  // A name that opens nothing.
  virtual std::string MissingPortName() = 0;

  // The far end sends `bytes`: now, returning once they are on the line, or
  // `delayMs` later while the test goes on.
  virtual void Send(int line, const Bytes& bytes, int delayMs = 0) = 0;
  // What the port sent, as soon as `count` bytes are there or after
  // `waitMs` with what came.
  virtual Bytes Receive(int line, std::size_t count, int waitMs) = 0;
  // Back to a fresh line: nothing queued either way, the terminal raw with
  // 8 bits and no parity, no delayed send pending.
  virtual void ResetLine(int line) = 0;

  // Whether the system still knows `handle` as open.
  virtual bool HandleIsOpen(PortHandle handle) = 0;
  // How many handles the process holds (-1 when the system cannot say).
  virtual int OpenHandleCount() = 0;
};

// The platform's rig, set up on first use. Fails the calling test when the
// platform cannot provide one.
LineRig& Rig();

}  // namespace kavi::testing
