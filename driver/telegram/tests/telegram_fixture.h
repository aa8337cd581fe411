// An instance block on the fake port, and telegrams written out by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "kaviros/kaviros.h"
#include "log_capture.h"
#include "serial/testing/fake_port.h"
#include "trace_capture.h"

namespace kavi::testing {

inline IoRequest Variable(int32_t station, int32_t index, int32_t gateWidth) {
  IoRequest request;
  std::memset(&request, 0, sizeof request);
  request.plcAddress = station;
  request.paramIndex = index;
  request.gateWidth = gateWidth;
  request.bitNumber = -1;
  return request;
}

inline uint8_t Sum(const Bytes& bytes, size_t from, size_t to) {
  unsigned sum = 0;
  for (size_t i = from; i < to; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum);
}

// 68 L L 68 body cs 16, body being station, control or status, data.
inline Bytes Long(const Bytes& body) {
  const auto l = static_cast<uint8_t>(body.size());
  Bytes telegram{0x68, l, l, 0x68};
  telegram.insert(telegram.end(), body.begin(), body.end());
  telegram.push_back(Sum(body, 0, body.size()));
  telegram.push_back(0x16);
  return telegram;
}

// 10 station status cs 16.
inline Bytes Short(uint8_t station, uint8_t status) {
  return {0x10, station, status, static_cast<uint8_t>(station + status), 0x16};
}

inline Bytes With(Bytes bytes, size_t at, uint8_t value) {
  bytes.at(at) = value;
  return bytes;
}

inline Bytes Concat(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

inline std::vector<LogLine> Exchange(std::initializer_list<const char*> texts) {
  std::vector<LogLine> lines;
  for (const char* text : texts) lines.push_back({8, text});
  return lines;
}

// Table cases print as their names, in test output and in CTest's names.
template <typename Case>
requires requires(const Case& c) { std::string(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class TelegramTest : public ::testing::Test {
 protected:
  static constexpr PortHandle kHandle = 0x1234;

  void SetUp() override {
    FakePort::Get().Reset();
    ClearLog();
    ASSERT_TRUE(StartTraceCapture());
    ClearTrace();
    std::memset(&block, 0xA5, sizeof block);
    block.portOpen = 1;
    block.portHandle = kHandle;
  }

  FakePort& port() { return FakePort::Get(); }

  // Bytes that reads took off the line, in order.
  Bytes ReadOffLine() const {
    Bytes bytes;
    for (const PortEvent& event : FakePort::Get().events) {
      if (event.call == PortCall::Read) {
        bytes.insert(bytes.end(), event.bytes.begin(), event.bytes.end());
      }
    }
    return bytes;
  }

  InstanceBlock block;
};

}  // namespace kavi::testing
