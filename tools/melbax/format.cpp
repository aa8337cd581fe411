#include "format.h"

#include <cstdio>
#include <ctime>

namespace melbax::tool {
namespace {

std::string Printf(const char* format, auto... args) {
  char text[128];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

std::tm LocalTime(Clock::time_point time) {
  const std::time_t seconds = Clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

int64_t MicrosecondsOfSecond(Clock::time_point time) {
  const auto since = time.time_since_epoch();
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(since).count() %
      1000000;
  return micros < 0 ? micros + 1000000 : micros;
}

}  // namespace

std::string FormatValue(DataType type, int64_t value) {
  switch (type) {
    case DataType::kBit:
      return std::to_string(value);
    case DataType::kInt32:
      return Printf("%lld (0x%08llX)", static_cast<long long>(value),
                    static_cast<unsigned long long>(value) & 0xFFFFFFFFull);
    case DataType::kUint16:
    case DataType::kInt16:
      return Printf("%lld (0x%04llX)", static_cast<long long>(value),
                    static_cast<unsigned long long>(value) & 0xFFFFull);
    case DataType::kBlock:
      break;
  }
  return std::to_string(value);
}

std::string FormatValue(const Variable& variable) {
  if (variable.type() != DataType::kBlock) {
    return FormatValue(variable.type(), variable.value());
  }
  const auto words = variable.block();
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text += ' ';
    text += Printf("F%d=%d", i, static_cast<int16_t>(words[i]));
  }
  return text;
}

std::string FormatLine(const LineSettings& line) {
  static const char* const kParity[] = {"no", "odd", "even", "mark", "space"};
  static const char* const kStop[] = {"1 stop bit", "1.5 stop bits",
                                      "2 stop bits"};
  const unsigned parity = line.parity & 0xFF;
  const unsigned stop = line.stopBits & 0xFF;
  return Printf("%d baud, %u data bits, %s parity, %s", line.baudRate,
                line.byteSize & 0xFFu, parity < 5 ? kParity[parity] : "unknown",
                stop < 3 ? kStop[stop] : "unknown stop bits");
}

std::string FormatStatus(uint16_t status) {
  struct Bit {
    uint16_t mask;
    const char* meaning;
  };
  static const Bit kBits[] = {{0x08, "request disabled / equipment not ready"},
                              {0x10, "instruction acknowledgement"},
                              {0x20, "transmission error"},
                              {0x80, "service request"}};
  std::string text = Printf("0x%02X", status);
  std::string meanings;
  uint16_t rest = status;
  for (const Bit& bit : kBits) {
    if (status & bit.mask) {
      meanings += meanings.empty() ? "" : ", ";
      meanings += bit.meaning;
      rest = static_cast<uint16_t>(rest & ~bit.mask);
    }
  }
  if (rest != 0) {
    meanings += meanings.empty() ? "" : ", ";
    meanings += Printf("other bits 0x%02X", rest);
  }
  return text + ": " + (meanings.empty() ? "no bits set" : meanings);
}

std::string HexBytes(const uint8_t* bytes, uint32_t count) {
  std::string text;
  text.reserve(count * 3);
  for (uint32_t i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += Printf("%02X", bytes[i]);
  }
  return text;
}

std::string TimeOfDay(Clock::time_point time) {
  const std::tm local = LocalTime(time);
  return Printf("%02d:%02d:%02d.%06lld", local.tm_hour, local.tm_min,
                local.tm_sec,
                static_cast<long long>(MicrosecondsOfSecond(time)));
}

std::string IsoTime(Clock::time_point time) {
  const std::tm local = LocalTime(time);
  return Printf("%04d-%02d-%02dT%02d:%02d:%02d.%03lld", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec,
                static_cast<long long>(MicrosecondsOfSecond(time) / 1000));
}

}  // namespace melbax::tool
