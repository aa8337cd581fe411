// Telegram bytes as the controller sees them: frame constants, the sum
// check and the reply builders. Written for the controller's side only.
#ifndef R2600SIM_WIRE_H
#define R2600SIM_WIRE_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace r2600sim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kShortStart = 0x10;
inline constexpr uint8_t kLongStart = 0x68;
inline constexpr uint8_t kEnd = 0x16;
inline constexpr size_t kShortFrameSize = 5;

// Station addresses: 0x00-0xFA are real controllers, 0xFF reaches all of
// them and is never answered.
inline constexpr uint8_t kHighestStation = 0xFA;
inline constexpr uint8_t kBroadcast = 0xFF;

// Control bytes of requests.
inline constexpr uint8_t kControlRead = 0x89;
inline constexpr uint8_t kControlWrite = 0x69;
inline constexpr uint8_t kControlReset = 0x09;
inline constexpr uint8_t kControlStatus = 0x29;

// Status bits of replies.
inline constexpr uint8_t kStatusNotReady = 0x08;
inline constexpr uint8_t kStatusAcknowledge = 0x10;
inline constexpr uint8_t kStatusTransmissionError = 0x20;
inline constexpr uint8_t kStatusServiceRequest = 0x80;

// Pseudo-indices that are no parameters.
inline constexpr uint8_t kIndexCycleFirst = 0xF0;
inline constexpr uint8_t kIndexCycleLast = 0xF3;
inline constexpr uint8_t kIndexReset = 0xF4;
inline constexpr uint8_t kIndexStatus = 0xF5;

// The extension bytes follow the index of every parameter outside 0x30-0x3F.
inline constexpr uint8_t kExtension[3] = {0x01, 0x01, 0x00};

// Longest request this controller understands: a 32-bit write with
// extension bytes (station, control, index, 3 extension, 4 data).
inline constexpr uint8_t kMaxRequestLength = 10;
// Shortest long request: station, control, index.
inline constexpr uint8_t kMinRequestLength = 3;

constexpr bool HasExtension(uint8_t index) { return (index & 0xF0) != 0x30; }
constexpr bool IsCycleIndex(uint8_t index) {
  return index >= kIndexCycleFirst && index <= kIndexCycleLast;
}

// 8-bit sum of the bytes.
uint8_t Checksum(std::span<const uint8_t> bytes);

// 10 st status cs 16.
Bytes ShortReply(uint8_t station, uint8_t status);

// 68 L L 68 st status data... cs 16.
Bytes LongReply(uint8_t station, uint8_t status, std::span<const uint8_t> data);

// Offsets of the station and status bytes in a frame starting with `start`.
size_t StationOffset(uint8_t start);
size_t StatusOffset(uint8_t start);

// Recomputes the sum of a complete short or long frame after a change.
void FixChecksum(Bytes& frame);

// "68 06 06 68 ..." for logs.
std::string Hex(std::span<const uint8_t> bytes);

}  // namespace r2600sim

#endif  // R2600SIM_WIRE_H
