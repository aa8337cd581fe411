// Port settings values shared by the commands that store them.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

// The controller's line: 9600 baud, 8 data bits, one stop bit, even parity.
inline constexpr LineSettings kDefaultLineSettings = {9600, 8, 0, 2};

// DTR enabled and the high bit of the RTS mode (handshake, or toggle on a
// port that had RTS enabled); the only flags ever set (by ColdStart).
inline constexpr uint16_t kColdStartLineFlags = 0x0303;

inline constexpr PortSettings kUnnamedPortSettings = {
    {}, kDefaultLineSettings, kColdStartLineFlags};

// Copies a host's port name with its terminator. A name without a
// terminator within its 12 bytes is never opened truncated (it might name
// another device): it is stored empty, so the open fails. Returns false then.
inline bool CopyPortName(char (&target)[KAVI_PORT_NAME_SIZE],
                         const char (&source)[KAVI_PORT_NAME_SIZE]) {
  int length = 0;
  while (length < KAVI_PORT_NAME_SIZE && source[length] != '\0') ++length;
  const bool terminated = length < KAVI_PORT_NAME_SIZE;
  if (!terminated) length = 0;
  for (int i = 0; i < KAVI_PORT_NAME_SIZE; ++i) {
    target[i] = i < length ? source[i] : '\0';
  }
  return terminated;
}

}  // namespace kavi
