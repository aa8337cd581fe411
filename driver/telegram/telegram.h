// Telegram layouts of the controller's protocol: the short frame
// (10 st ctl cs 16) and the long frame (68 L L 68 st ctl data... cs 16),
// the checksum, the request builders and the send step. Every layout that
// the read and write paths rely on is named here.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

// ---- Frames ---------------------------------------------------------------

inline constexpr uint8_t kShortStart = 0x10;
inline constexpr uint8_t kLongStart = 0x68;
inline constexpr uint8_t kEndByte = 0x16;

inline constexpr int32_t kShortLength = 5;
// 68 L L 68 in front, checksum and end byte behind the L counted bytes.
inline constexpr int32_t kLongFrameBytes = 6;
inline constexpr int32_t kLongHeadBytes = 4;

// ---- Control bytes of requests -------------------------------------------

inline constexpr uint8_t kControlRead = 0x89;
inline constexpr uint8_t kControlWrite = 0x69;
inline constexpr uint8_t kControlReset = 0x09;
inline constexpr uint8_t kControlStatus = 0x29;

// ---- Status bits of replies ----------------------------------------------

inline constexpr uint8_t kStatusNotReady = 0x08;
inline constexpr uint8_t kStatusAcknowledge = 0x10;
inline constexpr uint8_t kStatusTransmissionError = 0x20;
inline constexpr uint8_t kStatusServiceRequest = 0x80;

// ---- Parameter-index classes ---------------------------------------------

inline constexpr uint8_t kIndexF0 = 0xF0;
inline constexpr uint8_t kIndexF3 = 0xF3;
inline constexpr uint8_t kIndexReset = 0xF4;
inline constexpr uint8_t kIndexStatus = 0xF5;

// Follows the index byte of long telegrams outside 0x30-0x3F.
inline constexpr uint8_t kExtensionBytes[3] = {0x01, 0x01, 0x00};

// The telegrams carry the low byte of the descriptor's fields.
constexpr uint8_t StationByte(const IoRequest& request) {
  return static_cast<uint8_t>(request.plcAddress & 0xFF);
}
constexpr uint8_t IndexByte(const IoRequest& request) {
  return static_cast<uint8_t>(request.paramIndex & 0xFF);
}

constexpr bool HasExtensionBytes(uint8_t index) {
  return (index & 0xF0) != 0x30;
}
constexpr bool IsCycleValueIndex(uint8_t index) {
  return index >= kIndexF0 && index <= kIndexF3;
}

// Bytes of a value by gate width (1, 2, 4); 0 for a width that has none.
constexpr int32_t ValueWidth(int32_t gateWidth) {
  switch (gateWidth) {
    case KAVI_GATE_8BIT:
      return 1;
    case KAVI_GATE_16BIT:
      return 2;
    case KAVI_GATE_32BIT:
      return 4;
    default:
      return 0;
  }
}

// ---- Where values lie in replies (from byte 0) ----------------------------

// Byte 4 of a long telegram: station; byte 5: control or status; byte 6: the
// parameter index or, in the cycle-value reply, the first value.
inline constexpr int32_t kLongStationByte = 4;
inline constexpr int32_t kLongStatusByte = 5;
inline constexpr int32_t kLongIndexByte = 6;
inline constexpr int32_t kShortStationByte = 1;
inline constexpr int32_t kShortStatusByte = 2;

// First value byte of a parameter reply.
constexpr int32_t ParameterValueOffset(uint8_t index) {
  return HasExtensionBytes(index) ? 10 : 7;
}

// The cycle-value reply carries F0, F1 (16 bit), F2 (8 bit), F3 (16 bit).
inline constexpr int32_t kCycleValuesOffset = 6;
inline constexpr int32_t kCycleValuesBytes = 7;
inline constexpr int32_t kCycleValuesL = 9;
// First byte of one cycle value (F0 to F3) and its width; -1 / 0 otherwise.
constexpr int32_t CycleValueOffset(uint8_t index) {
  constexpr int32_t offsets[4] = {6, 8, 10, 11};
  return IsCycleValueIndex(index) ? offsets[index - kIndexF0] : -1;
}
constexpr int32_t CycleValueWidth(uint8_t index) {
  if (!IsCycleValueIndex(index)) return 0;
  return index == kIndexF0 + 2 ? 1 : 2;
}

// The equipment status F5 is the status byte of its short reply.
inline constexpr int32_t kStatusValueOffset = kShortStatusByte;

// ---- Buffers ----------------------------------------------------------------

// A write of a 16-bit value with extension bytes; reads are shorter.
inline constexpr int32_t kLongestRequest = 14;
// A 32-bit value with extension bytes.
inline constexpr int32_t kLongestReply = 16;
inline constexpr int32_t kLongestWriteValue = 2;

// Requests are built in, and sent from, a buffer the size of txBuffer;
// replies are read into one the size of rxBuffer. Taking these types (not
// bare pointers) lets the compiler hold every count below their size.
using RequestBuffer = uint8_t[KAVI_TX_BUFFER_SIZE];
using ReplyBuffer = uint8_t[KAVI_RX_BUFFER_SIZE];
static_assert(kLongestRequest <= KAVI_TX_BUFFER_SIZE);
static_assert(kLongestReply <= KAVI_RX_BUFFER_SIZE);

// ---- Operations -------------------------------------------------------------

// 8-bit sum of count bytes; 0 when count is 0 or less.
uint8_t TelegramChecksum(const uint8_t* bytes, int32_t count);

// Long parameter-read request (9 or 12 bytes). Always 0.
int32_t BuildRequestLongSet(const IoRequest& request, RequestBuffer& telegram,
                            int32_t& length);

// Short request of F0-F3 (cycle values), F4 (reset) or F5 (status), 5 bytes.
// 1, with length untouched, for any other index.
int32_t BuildRequestShortSet(const IoRequest& request, RequestBuffer& telegram,
                             int32_t& length);

// Long write request carrying count value bytes (1 or 2), low byte first.
// 1, with telegram and length untouched, for any other count.
int32_t BuildRequestWrite(const IoRequest& request, const uint8_t* data,
                          int32_t count, RequestBuffer& telegram,
                          int32_t& length);

// Writes the telegram to the instance's port in one attempt: 0 when every
// byte was written, 2 otherwise (also for a length outside the buffer).
int32_t Send(const InstanceBlock& block, const RequestBuffer& telegram,
             int32_t length);

}  // namespace kavi
