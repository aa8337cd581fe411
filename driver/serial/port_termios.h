// The POSIX backend's mapping between the port's settings and terminal
// attributes. Pure functions on a termios record, checked as tables.
#pragma once

#include <termios.h>

#include <cstdint>

#include "kaviros/kaviros.h"
#include "serial/port_config.h"

namespace kavi {

// The speed constant for a baud rate as the port receives it (sign-extended
// from the 16-bit setting); false for a rate the terminal has no constant
// for, negative ones included.
bool TermiosSpeed(int32_t baudRate, speed_t* speed);

// Writes the line settings, raw mode, flow control and parity checking into
// `attributes` as read from the port, and the open's total read time-out.
// Returns false, leaving `attributes` unchanged, when the terminal has no
// equivalent for a setting; the open then fails as a refused configuration.
bool ConfigureTermios(const LineSettings& line, const TerminalControl& control,
                      termios* attributes);

// The flag word the port reports, for the lineFlags rules to work on.
uint32_t DcbFlagsFromTermios(const termios& attributes, bool dtrRaised,
                             bool rtsRaised);

// Whether `actual`, read back after writing `wanted`, is what was asked for
// but for the character framing, which some terminals do not model (a
// pseudo-terminal keeps 8 bits without parity whatever it is told).
bool AppliedApartFromFraming(const termios& wanted, const termios& actual);

// The port's total read time-out in milliseconds, kept in the attributes of
// the open port itself; see port_termios.cpp. A port this driver has not
// configured reads with the open's 1000 ms.
uint32_t StoredReadTimeout(const termios& attributes);
void StoreReadTimeout(termios* attributes, uint32_t milliseconds);
inline constexpr uint32_t kLongestStoredReadTimeout = 0xFFFFFF;

}  // namespace kavi
