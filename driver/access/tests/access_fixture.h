// A started driver instance on the fake port, a host value slot with guard
// bytes behind it, and the telegrams of the controller written out by hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "kaviros/kaviros.h"
#include "log_capture.h"
#include "serial/testing/fake_port.h"

namespace kavi::testing {

// What the host left in its memory before the call.
inline constexpr uint8_t kFill = 0xA5;

// A variable as the parser describes it.
struct Var {
  int32_t station;
  int32_t index;
  int32_t gateWidth;
  int32_t valueBits = 16;
  int32_t dataType = KAVI_TYPE_UINT16;
  int32_t bitNumber = -1;
};

inline Var Bit(int32_t station, int32_t index, int32_t gateWidth,
               int32_t bitNumber) {
  return {station, index, gateWidth, 1, KAVI_TYPE_BIT, bitNumber};
}

inline uint8_t Sum(const Bytes& bytes) {
  unsigned sum = 0;
  for (const uint8_t byte : bytes) sum += byte;
  return static_cast<uint8_t>(sum);
}

inline Bytes Concat(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// 68 L L 68 body cs 16; body = station, control or status, data.
inline Bytes Long(const Bytes& body) {
  const auto l = static_cast<uint8_t>(body.size());
  return Concat(Concat({0x68, l, l, 0x68}, body), {Sum(body), 0x16});
}

// 10 station control-or-status cs 16.
inline Bytes Short(uint8_t station, uint8_t control) {
  return {0x10, station, control, static_cast<uint8_t>(station + control),
          0x16};
}

inline bool Extended(uint8_t index) { return (index & 0xF0) != 0x30; }

// Station, control or status, index and, outside 0x30-0x3F, 01 01 00.
inline Bytes Head(uint8_t station, uint8_t control, uint8_t index) {
  Bytes head{station, control, index};
  if (Extended(index)) head = Concat(head, {0x01, 0x01, 0x00});
  return head;
}

inline Bytes ReadRequest(uint8_t station, uint8_t index) {
  return Long(Head(station, 0x89, index));
}
inline Bytes WriteRequest(uint8_t station, uint8_t index, const Bytes& data) {
  return Long(Concat(Head(station, 0x69, index), data));
}
inline Bytes ParamReply(uint8_t station, uint8_t status, uint8_t index,
                        const Bytes& value) {
  return Long(Concat(Head(station, status, index), value));
}
// F0, F1 (16 bit), F2 (8 bit), F3 (16 bit) as seven bytes.
inline Bytes CycleReply(uint8_t station, uint8_t status, const Bytes& values) {
  return Long(Concat({station, status}, values));
}

inline LogLine Exchange(const std::string& text) { return {8, text}; }
inline LogLine Setup(const std::string& text) { return {32, text}; }

inline std::vector<LogLine> Join(
    std::initializer_list<std::vector<LogLine>> parts) {
  std::vector<LogLine> all;
  for (const auto& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline std::string Numbered(const char* text, int number) {
  return text + std::to_string(number);
}

inline std::string Hex(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  return text;
}

// What an attempt meets on the line.
enum class Attempt {
  SendFails,     // the port takes no byte
  Silent,        // nothing comes back
  ReadFails,     // the port's read call fails (only as the first attempts)
  BadChecksum,   // a reply that fails its checks
  Acknowledge,   // status 0x10
  Transmission,  // status 0x20
  NotReady,      // status 0x08
  Good,
};

// The calls the port layer sees, in order.
inline std::vector<PortCall> Calls(const FakePort& port) {
  std::vector<PortCall> calls;
  for (const PortEvent& event : port.events) calls.push_back(event.call);
  return calls;
}

// Table cases print as their names.
template <typename Case>
requires requires(const Case& c) { std::string(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

class AccessTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    std::memset(memory, kFill, sizeof memory);
    ASSERT_EQ(ColdStartWithPort(), 0);
  }

  // The request the host hands in; its own fields hold garbage.
  IoRequest Request(const Var& var) {
    IoRequest request;
    std::memset(&request, 0x5A, sizeof request);
    request.address = "host's address string";
    request.plcAddress = var.station;
    request.gateWidth = var.gateWidth;
    request.paramIndex = var.index;
    request.bitNumber = var.bitNumber;
    request.valueBits = var.valueBits;
    request.dataType = var.dataType;
    request.value = memory;
    return request;
  }

  // Script the attempts: each one's send, and the reply to it.
  void Script(const std::vector<Attempt>& attempts, const Bytes& good,
              const Bytes& acknowledge, const Bytes& transmission,
              const Bytes& notReady) {
    for (const Attempt attempt : attempts) {
      if (attempt == Attempt::SendFails) {
        port().shortWrites.push_back(0);
        continue;
      }
      port().shortWrites.push_back(UINT32_MAX);
      switch (attempt) {
        case Attempt::Silent:
          port().QueueSilence();
          break;
        case Attempt::ReadFails:
          port().QueueReply(good);
          port().readFailures.push_back(kPortSystemFailed);
          break;
        case Attempt::BadChecksum: {
          Bytes broken = good;
          broken[broken.size() - 2] ^= 0xFF;
          port().QueueReply(broken);
          break;
        }
        case Attempt::Acknowledge:
          port().QueueReply(acknowledge);
          break;
        case Attempt::Transmission:
          port().QueueReply(transmission);
          break;
        case Attempt::NotReady:
          port().QueueReply(notReady);
          break;
        default:
          port().QueueReply(good);
          break;
      }
    }
  }

  uint16_t Word() const {
    uint16_t word;
    std::memcpy(&word, memory + 2, sizeof word);
    return word;
  }
  uint32_t Dword() const {
    uint32_t dword;
    std::memcpy(&dword, memory, sizeof dword);
    return dword;
  }
  uint16_t BlockWord(int i) const {
    uint16_t word;
    std::memcpy(&word, memory + 2 * i, sizeof word);
    return word;
  }
  void SetWord(uint16_t word) { std::memcpy(memory + 2, &word, sizeof word); }

  // True when the bytes of the slot from `from` on hold what the host left.
  bool UntouchedFrom(size_t from) const {
    return std::all_of(memory + from, std::end(memory),
                       [](uint8_t byte) { return byte == kFill; });
  }
  bool Untouched() const { return UntouchedFrom(0); }

  // A single slot is 4 bytes, a block 8; the rest stands guard.
  alignas(8) uint8_t memory[16];
};

}  // namespace kavi::testing
