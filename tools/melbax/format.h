// How melbax writes values, line settings, status bytes and telegrams.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "melbax/instance.h"

namespace melbax::tool {

using Clock = std::chrono::system_clock;

// "4660 (0x1234)", "-123 (0xFF85)", "1" for a bit,
// "F0=4660 F1=22136 F2=-100 F3=17185" for a block (signed, as the
// controller's cycle values are).
std::string FormatValue(const Variable& variable);
std::string FormatValue(DataType type, int64_t value);

// "9600 baud, 8 data bits, even parity, 1 stop bit"
std::string FormatLine(const LineSettings& line);

// "0x88: request disabled / equipment not ready, service request"
std::string FormatStatus(uint16_t status);

// "68 06 06 68 01 89"
std::string HexBytes(const uint8_t* bytes, uint32_t count);

// "14:03:07.123456" (local time) and "2024-05-01T14:03:07.123" (local).
std::string TimeOfDay(Clock::time_point time);
std::string IsoTime(Clock::time_point time);

}  // namespace melbax::tool
