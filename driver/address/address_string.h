// Address strings: two hex digits of station, two of parameter index and,
// for a single bit, two decimal digits of bit number.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

// The parser works on a copy of at most this many bytes, terminator included.
inline constexpr int kAddressBufferSize = 32;

inline constexpr char kDecimalDigits = 'D';
inline constexpr char kHexDigits = 'H';

// Converts count characters (already upper case): decimal for mode 'D', hex
// for any other mode. Returns the number, -1 for a character that is not a
// digit of the mode (the terminator included) or a number beyond int32_t,
// and 0 for a count of 0 or less.
int32_t ParseDigits(const char* text, int32_t count, char mode);

// Checks and decodes request.address into the outputs of the request.
// command 3 checks everything against the gate types; any other command
// (4, the block) stops after the parameter index. Returns 0, or 1 after
// logging why; the outputs stored before the failing step stay.
int32_t ParseAddress(const uint16_t (&gateTypes)[KAVI_GATE_COUNT],
                     ParseRequest& request, uint32_t command);

}  // namespace kavi
