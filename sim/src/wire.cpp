#include "r2600sim/wire.h"

namespace r2600sim {

uint8_t Checksum(std::span<const uint8_t> bytes) {
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  return static_cast<uint8_t>(sum & 0xFF);
}

Bytes ShortReply(uint8_t station, uint8_t status) {
  Bytes frame{kShortStart, station, status, 0, kEnd};
  frame[3] = Checksum(std::span(frame).subspan(1, 2));
  return frame;
}

Bytes LongReply(uint8_t station, uint8_t status,
                std::span<const uint8_t> data) {
  const auto length = static_cast<uint8_t>(2 + data.size());
  Bytes frame;
  frame.reserve(data.size() + 8);
  for (uint8_t b : {kLongStart, length, length, kLongStart, station, status}) {
    frame.push_back(b);
  }
  for (uint8_t b : data) frame.push_back(b);
  frame.push_back(Checksum(std::span(frame).subspan(4, length)));
  frame.push_back(kEnd);
  return frame;
}

size_t StationOffset(uint8_t start) { return start == kLongStart ? 4 : 1; }
size_t StatusOffset(uint8_t start) { return start == kLongStart ? 5 : 2; }

void FixChecksum(Bytes& frame) {
  if (frame.size() < kShortFrameSize) return;
  const size_t first = StationOffset(frame[0]);
  const size_t sum_at = frame.size() - 2;
  if (sum_at <= first) return;
  frame[sum_at] = Checksum(std::span(frame).subspan(first, sum_at - first));
}

std::string Hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (uint8_t b : bytes) {
    if (!text.empty()) text.push_back(' ');
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

}  // namespace r2600sim
