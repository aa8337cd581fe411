// How a port is configured, as rules both backends share: the DCB flag word
// that lineFlags select, the DCB fields the line settings become, and what
// a POSIX terminal can make of that flag word. Pure functions, so that they
// are checked as tables on every platform.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

// Bit fields of a DCB's 32-bit flag word (fBinary .. fAbortOnError).
inline constexpr uint32_t kDcbBinary = 0x0001;
inline constexpr uint32_t kDcbParity = 0x0002;
inline constexpr uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr uint32_t kDcbDtrControl = 0x0030;  // 0 disable
inline constexpr uint32_t kDcbDtrEnable = 0x0010;
inline constexpr uint32_t kDcbDtrHandshake = 0x0020;
inline constexpr uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr uint32_t kDcbErrorChar = 0x0400;
inline constexpr uint32_t kDcbRtsControl = 0x3000;  // 0 disable
inline constexpr uint32_t kDcbRtsEnable = 0x1000;
inline constexpr uint32_t kDcbRtsHandshake = 0x2000;
inline constexpr uint32_t kDcbRtsToggle = 0x3000;

// What every full open writes besides the line settings.
inline constexpr uint8_t kPortErrorChar =
    0xFC;  // replaces a byte with a parity error
inline constexpr uint32_t kOpenReadTimeout = 1000;  // ms, total per read
inline constexpr uint32_t kPortQueueSize = 1200;    // bytes, each way

// The lineFlags rules, in their order, on the flag word as the port reported
// it. Every bit no rule names stays as read.
constexpr uint32_t ApplyLineFlags(uint32_t flags, uint16_t lineFlags) {
  if ((lineFlags & 0x0101) != 0) {
    flags |= kDcbDtrEnable;
  } else if ((lineFlags & 0x8000) != 0) {
    flags |= kDcbDtrHandshake;
  }
  flags &= ~kDcbRtsHandshake;
  flags |= kDcbErrorChar;
  if ((lineFlags & 0x0202) != 0) {
    // Only the high bit: a port that had RTS enabled (or toggle) gets
    // toggle, which RS-485 adapters rely on; 0 or handshake gets handshake.
    flags |= kDcbRtsHandshake;
  } else if ((lineFlags & 0x3000) != 0) {
    flags |= kDcbRtsToggle;
  }
  if ((lineFlags & 0x0010) != 0) {
    flags |= kDcbOutxCtsFlow;
  } else if ((lineFlags & 0x0020) != 0) {
    flags |= kDcbOutxDsrFlow;
  } else if ((lineFlags & 0x4000) != 0) {
    flags |= kDcbDsrSensitivity;
  }
  return flags;
}

// The DCB members a full open writes, as plain values.
struct DcbLine {
  uint32_t baudRate;
  uint32_t flags;
  uint8_t byteSize;
  uint8_t parity;
  uint8_t stopBits;
  uint8_t errorChar;
  bool operator==(const DcbLine&) const = default;
};

// The flag word after the line settings and lineFlags: parity checking is
// switched on with any parity, never off.
constexpr uint32_t ConfiguredDcbFlags(uint32_t flags, const LineSettings& line,
                                      uint16_t lineFlags) {
  if ((line.parity & 0xFF) != 0) flags |= kDcbParity;
  return ApplyLineFlags(flags, lineFlags);
}

// `read` as the port reported it, changed as a full open changes it. The
// baud rate is sign-extended: a rate above 32767 reaches the port as a
// negative number, which the port refuses.
constexpr DcbLine ConfigureDcbLine(DcbLine read, const LineSettings& line,
                                   uint16_t lineFlags) {
  DcbLine result = read;
  result.baudRate = static_cast<uint32_t>(static_cast<int32_t>(line.baudRate));
  result.byteSize = static_cast<uint8_t>(line.byteSize & 0xFF);
  result.parity = static_cast<uint8_t>(line.parity & 0xFF);
  result.stopBits = static_cast<uint8_t>(line.stopBits & 0xFF);
  result.errorChar = kPortErrorChar;
  result.flags = ConfiguredDcbFlags(read.flags, line, lineFlags);
  return result;
}

// "NUL" exactly, compared over four bytes with case: the null device, which
// is opened but never configured. Stops at the first byte that differs, so
// it never reads past a shorter name's terminator.
constexpr bool IsNullDeviceName(const char* name) {
  return name[0] == 'N' && name[1] == 'U' && name[2] == 'L' && name[3] == '\0';
}

// Whether a time-out request replaces the total read time-out in force.
// 0 would make reads wait for ever and 0xFFFFFFFF means "keep" to the hosts,
// so neither is ever written.
constexpr bool ReadTimeoutChanges(uint32_t inForce, uint32_t timeout) {
  return timeout != 0 && timeout != 0xFFFFFFFFu && timeout != inForce;
}

// ---- What a POSIX terminal makes of the flag word ----------------------

// A modem output line after the open.
enum class ModemLine : uint8_t { kKeep, kRaise, kDrop };

struct TerminalControl {
  ModemLine dtr;
  ModemLine rts;
  bool hardwareFlow;  // CRTSCTS
  bool parityCheck;   // INPCK
  bool operator==(const TerminalControl&) const = default;
};

// A terminal has no per-line handshake modes: DTR and RTS handshake raise
// the line (a handshake keeps it up while the input has room, and a
// 1200-byte queue always has room for a telegram). Waiting for CTS before
// sending is CRTSCTS, which also drives RTS; RTS handshake alone does not
// turn it on, since a line without CTS wired would then block every write.
// RTS toggle (raised only while sending), DSR flow control and DSR
// sensitivity have no terminal equivalent and leave the lines as they are.
constexpr TerminalControl TerminalControlFromDcbFlags(uint32_t flags) {
  TerminalControl control{ModemLine::kKeep, ModemLine::kKeep, false, false};
  switch (flags & kDcbDtrControl) {
    case 0:
      control.dtr = ModemLine::kDrop;
      break;
    case kDcbDtrEnable:
    case kDcbDtrHandshake:
      control.dtr = ModemLine::kRaise;
      break;
    default:
      break;
  }
  switch (flags & kDcbRtsControl) {
    case 0:
      control.rts = ModemLine::kDrop;
      break;
    case kDcbRtsEnable:
    case kDcbRtsHandshake:
      control.rts = ModemLine::kRaise;
      break;
    default:
      break;
  }
  control.hardwareFlow = (flags & kDcbOutxCtsFlow) != 0;
  control.parityCheck = (flags & kDcbParity) != 0;
  return control;
}

// The flag word a terminal reports, from its settings and modem lines, as a
// DCB read from the port would hold it.
constexpr uint32_t DcbFlagsFromTerminal(bool hardwareFlow, bool parityCheck,
                                        bool dtrRaised, bool rtsRaised) {
  uint32_t flags = kDcbBinary;
  if (parityCheck) flags |= kDcbParity;
  if (dtrRaised) flags |= kDcbDtrEnable;
  if (hardwareFlow) {
    flags |= kDcbOutxCtsFlow | kDcbRtsHandshake;
  } else if (rtsRaised) {
    flags |= kDcbRtsEnable;
  }
  return flags;
}

}  // namespace kavi
