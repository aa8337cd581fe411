// The reply receivers on any byte stream from the line, delivered in any
// chunks, with any reads failing, through the port test double. What they
// accept must be a valid reply; with the stream delivered whole they must
// answer as the rules have it; they must never take more bytes than the
// reply they wait for, nor write past the 16 bytes a reply may have.
//
// Input: byte 0 flags (bit 0: the short receiver), 1 station, 2 parameter
// index, 3 gate width (signed), 4 a mask of reads that fail, 5 a count of
// per-read limits (up to 8) and the limits; the rest is on the line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "kaviros/kaviros.h"
#include "log_capture.h"
#include "serial/testing/fake_port.h"
#include "telegram/receive.h"

namespace kavi::fuzz {
namespace {

using testing::Bytes;
using testing::FakePort;

constexpr uint8_t kCanary = 0xEE;
constexpr size_t kLongestReply = 16;

uint8_t Sum(const uint8_t* bytes, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum);
}

struct Verdict {
  int32_t result;
  size_t taken;  // bytes the receiver reads off the line
};

// What the long receiver answers when every read gets what is there.
Verdict LongRule(uint8_t station, uint8_t index, int32_t gateWidth,
                 const Bytes& s) {
  const bool cycle = index >= 0xF0 && index <= 0xF3;
  const bool extension = (index & 0xF0) != 0x30;
  const size_t width = gateWidth == 1   ? 1
                       : gateWidth == 2 ? 2
                       : gateWidth == 3 ? 4
                                        : 0;
  if (!cycle && width == 0) return {2, 0};
  const size_t l = cycle ? 9 : (extension ? 6 : 3) + width;
  if (s.empty()) return {1, 0};
  if (s[0] == 0x10) return {1, s.size() < 3 ? s.size() : 3};
  if (s[0] != 0x68) return {1, 1};
  if (s.size() < l + 6) return {1, s.size()};
  const Verdict bad{1, l + 6};
  if (s[3] != 0x68 || s[1] != l || s[2] != l || s[4] != station) return bad;
  if (s[5] & 0x08) return {2, l + 6};
  if (s[5] & 0x30) return bad;
  if (!cycle) {
    if (s[6] != index) return bad;
    if (extension && (s[7] != 0x01 || s[8] != 0x01 || s[9] != 0x00)) {
      return bad;
    }
  }
  if (Sum(&s[4], l) != s[4 + l] || s[5 + l] != 0x16) return bad;
  return {0, l + 6};
}

Verdict ShortRule(uint8_t station, uint8_t index, const Bytes& s) {
  if (s.size() < 5) return {1, s.size()};
  const Verdict bad{1, 5};
  if (s[0] != 0x10 || s[1] != station) return bad;
  if (index != 0xF5) {
    if (s[2] & 0x08) return {2, 5};
    if (s[2] & 0x30) return bad;
    if (s[2] & 0x80) return {2, 5};
  }
  if (Sum(&s[1], 2) != s[3] || s[4] != 0x16) return bad;
  return {0, 5};
}

}  // namespace
}  // namespace kavi::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavi::fuzz;
  FakePort& port = FakePort::Get();
  port.Reset();
  kavi::testing::ClearLog();

  Input in(data, size);
  const bool shortReply = (in.Byte() & 1) != 0;
  IoRequest request;
  std::memset(&request, 0, sizeof request);
  request.plcAddress = in.Byte();
  request.paramIndex = in.Byte();
  request.gateWidth = static_cast<int8_t>(in.Byte());
  request.bitNumber = -1;
  const uint8_t failures = in.Byte();
  const int limits = in.Byte() % 9;
  for (int i = 0; i < 8; ++i) {
    port.readFailures.push_back((failures >> i) & 1 ? kavi::kPortSystemFailed
                                                    : kavi::kPortOk);
  }
  for (int i = 0; i < limits; ++i) port.readLimits.push_back(in.Byte());
  const Bytes line = in.Rest();
  port.QueueInput(line);

  auto block = std::make_unique<InstanceBlock>();
  std::memset(block.get(), 0xA5, sizeof(InstanceBlock));
  block->portOpen = 1;
  block->portHandle = 0x100;
  std::memset(block->rxBuffer, kCanary, sizeof block->rxBuffer);

  const int32_t result =
      shortReply ? kavi::ReceiveShortSet(request, *block, block->rxBuffer)
                 : kavi::ReceiveLongSet(request, *block, block->rxBuffer);

  Check(result >= 0 && result <= 2, "receiver result 0, 1 or 2");
  for (size_t i = kLongestReply; i < sizeof block->rxBuffer; ++i) {
    Check(block->rxBuffer[i] == kCanary, "reply buffer written past 16 bytes");
  }
  for (const kavi::testing::LogLine& logged : kavi::testing::Logged()) {
    Check(logged.level == KAVI_LEVEL_EXCHANGE, "receivers log at level 8");
  }
  const size_t taken = line.size() - port.Input().size();
  const auto station = static_cast<uint8_t>(request.plcAddress);
  const auto index = static_cast<uint8_t>(request.paramIndex);

  const Verdict rule = shortReply
                           ? ShortRule(station, index, line)
                           : LongRule(station, index, request.gateWidth, line);
  const bool unimpeded = failures == 0 && limits == 0;
  if (unimpeded) {
    Check(result == rule.result, "receiver answers as the rules say");
    Check(taken == rule.taken, "receiver takes the bytes the rules say");
  }
  Check(taken <= rule.taken, "receiver never reads past its reply");
  if (result == 0) {
    // Whatever the chunks, an accepted reply is the valid one at the front.
    Check(rule.result == 0 && taken == rule.taken, "accepted a bad reply");
    Check(std::memcmp(block->rxBuffer, line.data(), taken) == 0,
          "accepted reply is what came");
    Check(kavi::testing::Logged().empty(), "nothing logged on success");
  } else {
    Check(!kavi::testing::Logged().empty(), "every failure is logged");
  }
  return 0;
}
