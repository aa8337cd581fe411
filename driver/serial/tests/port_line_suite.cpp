// The port operations on real lines: what both backends do alike, run
// against the POSIX backend on pseudo-terminals and against the Win32
// backend under Wine on COM ports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line_rig.h"
#include "port_line_fixture.h"
#include "serial/port.h"

namespace kavi::testing {
namespace {

// ---- Opening --------------------------------------------------------------

enum class Name { kLine0, kNul, kMissing, kEmpty };

struct OpenCase {
  const char* name;
  Name port;
  LineSettings line;
  uint16_t lineFlags;
  int32_t result;
};

class OpenTest : public PortLineTest,
                 public ::testing::WithParamInterface<OpenCase> {
 protected:
  std::string NameOf(Name port) {
    switch (port) {
      case Name::kLine0:
        return rig().PortName(0);
      case Name::kNul:
        return "NUL";
      case Name::kMissing:
        return rig().MissingPortName();
      case Name::kEmpty:
        return "";
    }
    return "";
  }
};

TEST_P(OpenTest, ResultAndNoHandleLeftByAFailure) {
  const OpenCase& c = GetParam();
  const int handlesBefore = rig().OpenHandleCount();
  PortHandle handle = 0xDEAD;
  const std::string name = NameOf(c.port);
  EXPECT_EQ(ComOpenDevice(name.c_str(), c.line, c.lineFlags, &handle),
            c.result);
  if (c.result == kPortOk) {
    EXPECT_NE(handle, 0u);
    EXPECT_TRUE(rig().HandleIsOpen(handle));
    EXPECT_EQ(ComClose(handle), kPortOk);
  } else {
    EXPECT_EQ(handle, 0u);
  }
  EXPECT_EQ(rig().OpenHandleCount(), handlesBefore);
  // Whatever the failure, the port is free again at once.
  if (c.port == Name::kLine0) Close(Open(0));
}

constexpr LineSettings kNoParity = kPlainLine;

INSTANTIATE_TEST_SUITE_P(
    Ports, OpenTest,
    ::testing::Values(
        OpenCase{"Configured", Name::kLine0, kNoParity, 0x0303, kPortOk},
        OpenCase{"EvenParity", Name::kLine0, {9600, 8, 0, 2}, 0x0303, kPortOk},
        OpenCase{"OddParityTwoStopBits",
                 Name::kLine0,
                 {4800, 8, 2, 1},
                 0x0303,
                 kPortOk},
        OpenCase{"MarkParity", Name::kLine0, {9600, 8, 0, 3}, 0x0303, kPortOk},
        OpenCase{"SpaceParity", Name::kLine0, {9600, 8, 0, 4}, 0x0303, kPortOk},
        OpenCase{"CtsFlowControl", Name::kLine0, kNoParity, 0x0011, kPortOk},
        OpenCase{"LineFlagsZeroConfigureNothing",
                 Name::kLine0,
                 {0, 4, 9, 9},
                 0,
                 kPortOk},
        OpenCase{"FourDataBitsRefused",
                 Name::kLine0,
                 {9600, 4, 0, 0},
                 0x0303,
                 kPortConfigFailed},
        OpenCase{"UnknownParityRefused",
                 Name::kLine0,
                 {9600, 8, 0, 5},
                 0x0303,
                 kPortConfigFailed},
        OpenCase{"UnknownStopBitsRefused",
                 Name::kLine0,
                 {9600, 8, 3, 0},
                 0x0303,
                 kPortConfigFailed},
        OpenCase{"NullDevice", Name::kNul, {9600, 8, 0, 2}, 0x0303, kPortOk},
        OpenCase{"NullDeviceIgnoresSettings",
                 Name::kNul,
                 {0, 4, 9, 9},
                 0x0303,
                 kPortOk},
        OpenCase{"MissingDevice", Name::kMissing, kNoParity, 0x0303,
                 kPortOpenFailed},
        OpenCase{"EmptyName", Name::kEmpty, kNoParity, 0x0303,
                 kPortOpenFailed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortLineTest, ReopensAtOnceAfterAClose) {
  for (int round = 0; round < 3; ++round) Close(Open(0));
}

// ---- Read time-out ------------------------------------------------------

TEST_F(PortLineTest, ReadTimeoutIsPerPortInMilliseconds) {
  const PortHandle a = Open(0);
  const PortHandle b = Open(1);
  EXPECT_EQ(ComSetReadTimeout(a, 250), 1000u);  // as the open set it
  EXPECT_EQ(ComSetReadTimeout(a, 0), 250u);     // 0 keeps it
  EXPECT_EQ(ComSetReadTimeout(a, 0xFFFFFFFFu), 250u);
  EXPECT_EQ(ComSetReadTimeout(a, 250), 250u);
  EXPECT_EQ(ComSetReadTimeout(a, 70000), 250u);
  EXPECT_EQ(ComSetReadTimeout(a, 0), 70000u);
  EXPECT_EQ(ComSetReadTimeout(b, 0), 1000u);  // the other port untouched
}

TEST_F(PortLineTest, ReopenedPortReadsWithTheOpensTimeout) {
  const PortHandle first = Open(0);
  EXPECT_EQ(ComSetReadTimeout(first, 300), 1000u);
  Close(first);
  EXPECT_EQ(ComSetReadTimeout(Open(0), 0), 1000u);
}

// ---- Reading ------------------------------------------------------------

struct Chunk {
  Bytes bytes;
  int delayMs;  // after the read began
};

struct ReadCase {
  const char* name;
  std::vector<Chunk> arriving;
  uint32_t count;  // as ComRead is given it
  uint32_t timeout;
  Bytes expected;
  Bytes leftOver;  // what a second read of everything gets
};

Bytes Series(uint8_t first, std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<uint8_t>(first + i);
  }
  return bytes;
}

// A complete long reply of 14 bytes, as the controller sends it.
const Bytes kReply = {0x68, 0x08, 0x08, 0x68, 0x08, 0x01, 0x10,
                      0x01, 0x01, 0x00, 0x34, 0x12, 0x69, 0x16};

class ReadTest : public PortLineTest,
                 public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, EndsWithTheCountOrAtTheTimeout) {
  const ReadCase& c = GetParam();
  const PortHandle handle = Open(0);
  ComSetReadTimeout(handle, c.timeout);
  for (const Chunk& chunk : c.arriving) {
    rig().Send(0, chunk.bytes, chunk.delayMs);
  }
  Bytes buffer(0x200, 0xEE);
  uint32_t received = 0xDEAD;
  EXPECT_EQ(ComRead(handle, buffer.data(), c.count, &received), kPortOk);
  ASSERT_EQ(received, c.expected.size());
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + received), c.expected);
  EXPECT_EQ(buffer[received], 0xEE);  // nothing written past the count

  ComSetReadTimeout(handle, 100);
  received = 0xDEAD;
  ASSERT_EQ(ComRead(handle, buffer.data(), 0x80, &received), kPortOk);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + received), c.leftOver);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadTest,
    ::testing::Values(
        ReadCase{"WholeReplyWaiting", {{kReply, 0}}, 14, 5000, kReply, {}},
        ReadCase{"WholeReplyInChunks",
                 {{Bytes(kReply.begin(), kReply.begin() + 1), 0},
                  {Bytes(kReply.begin() + 1, kReply.begin() + 4), 20},
                  {Bytes(kReply.begin() + 4, kReply.end()), 60}},
                 14,
                 5000,
                 kReply,
                 {}},
        ReadCase{"PartialReplyAtTheTimeout",
                 {{Bytes(kReply.begin(), kReply.begin() + 5), 0}},
                 14,
                 150,
                 Bytes(kReply.begin(), kReply.begin() + 5),
                 {}},
        ReadCase{"SilenceAtTheTimeout", {}, 14, 150, {}, {}},
        ReadCase{"MoreThanAskedStaysQueued",
                 {{Series(1, 20), 0}},
                 14,
                 5000,
                 Series(1, 14),
                 Series(15, 6)},
        ReadCase{"OneByte",
                 {{Series(7, 3), 0}},
                 1,
                 5000,
                 Series(7, 1),
                 Series(8, 2)},
        ReadCase{"OnlyTheLow16BitsOfTheCount",
                 {{Series(1, 8), 0}},
                 0x10005,
                 5000,
                 Series(1, 5),
                 Series(6, 3)},
        ReadCase{"CountZeroReadsNothing",
                 {{Series(1, 3), 0}},
                 0x10000,
                 5000,
                 {},
                 Series(1, 3)},
        ReadCase{"LongerThanATerminalsMinimum",
                 {{Series(0, 200), 0}, {Series(200, 100), 40}},
                 300,
                 5000,
                 [] {
                   Bytes all = Series(0, 200);
                   const Bytes rest = Series(200, 100);
                   all.insert(all.end(), rest.begin(), rest.end());
                   return all;
                 }(),
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortLineTest, ReadWithoutPlaceForTheCount) {
  const PortHandle handle = Open(0);
  rig().Send(0, kReply);
  uint8_t buffer[14];
  EXPECT_EQ(ComRead(handle, buffer, sizeof buffer, nullptr), kPortOk);
  EXPECT_EQ(Bytes(buffer, buffer + sizeof buffer), kReply);
}

// ---- Purge, write ---------------------------------------------------------

TEST_F(PortLineTest, PurgeDiscardsWhatArrivedBeforeIt) {
  const PortHandle handle = Open(0);
  ComSetReadTimeout(handle, 2000);
  rig().Send(0, {0x10, 0x5B, 0x01, 0x5C, 0x16});  // a stale reply
  EXPECT_EQ(ComPurgeInput(handle), kPortOk);
  rig().Send(0, {0xE5});
  uint8_t buffer[8] = {};
  uint32_t received = 0;
  ASSERT_EQ(ComRead(handle, buffer, 1, &received), kPortOk);
  ASSERT_EQ(received, 1u);
  EXPECT_EQ(buffer[0], 0xE5);
}

TEST_F(PortLineTest, WriteReachesTheFarEndWhole) {
  const PortHandle handle = Open(0);
  const Bytes request = {0x68, 0x0B, 0x0B, 0x68, 0x89, 0x01, 0x10, 0x01,
                         0x01, 0x00, 0x00, 0x00, 0x00, 0x9C, 0x16};
  uint32_t written = 0xDEAD;
  EXPECT_EQ(ComWrite(handle, request.data(),
                     static_cast<uint32_t>(request.size()), &written),
            kPortOk);
  EXPECT_EQ(written, request.size());
  EXPECT_EQ(rig().Receive(0, request.size(), 5000), request);
  EXPECT_EQ(ComWrite(handle, request.data(), 3, nullptr), kPortOk);
  EXPECT_EQ(rig().Receive(0, 3, 5000),
            Bytes(request.begin(), request.begin() + 3));
}

TEST_F(PortLineTest, TwoPortsAreTwoLines) {
  const PortHandle a = Open(0);
  const PortHandle b = Open(1);
  ASSERT_EQ(ComWrite(b, kReply.data(), 4, nullptr), kPortOk);
  EXPECT_EQ(rig().Receive(1, 4, 5000),
            Bytes(kReply.begin(), kReply.begin() + 4));
  EXPECT_TRUE(rig().Receive(0, 1, 50).empty());
  rig().Send(0, {0x01, 0x02});
  uint8_t buffer[2];
  uint32_t received = 0;
  ComSetReadTimeout(b, 100);
  ASSERT_EQ(ComRead(b, buffer, 2, &received), kPortOk);
  EXPECT_EQ(received, 0u);
  ASSERT_EQ(ComRead(a, buffer, 2, &received), kPortOk);
  EXPECT_EQ(received, 2u);
}

// ---- The null device and closed handles ----------------------------------

TEST_F(PortLineTest, NullDeviceTakesWritesAndHasNothingToRead) {
  PortHandle handle = 0;
  ASSERT_EQ(ComOpenDevice("NUL", kNoParity, 0x0303, &handle), kPortOk);
  uint32_t written = 0;
  EXPECT_EQ(ComWrite(handle, kReply.data(), 14, &written), kPortOk);
  EXPECT_EQ(written, 14u);
  uint8_t buffer[14];
  uint32_t received = 0xDEAD;
  EXPECT_EQ(ComRead(handle, buffer, 14, &received), kPortOk);
  EXPECT_EQ(received, 0u);
  // It is no serial port: no time-outs to read, nothing to purge.
  EXPECT_EQ(ComSetReadTimeout(handle, 250), 0u);
  EXPECT_EQ(ComPurgeInput(handle), kPortPurgeFailed);
  EXPECT_EQ(ComClose(handle), kPortOk);
}

TEST_F(PortLineTest, NullDeviceOpensAnyNumberOfTimes) {
  PortHandle first = 0;
  PortHandle second = 0;
  ASSERT_EQ(ComOpenDevice("NUL", kNoParity, 0x0303, &first), kPortOk);
  ASSERT_EQ(ComOpenDevice("NUL", kNoParity, 0x0303, &second), kPortOk);
  EXPECT_NE(first, second);
  EXPECT_EQ(ComClose(first), kPortOk);
  EXPECT_EQ(ComClose(second), kPortOk);
}

TEST_F(PortLineTest, ClosedHandleFailsEveryOperation) {
  const PortHandle handle = Open(0);
  Close(handle);
  // Right after the close nothing has taken the handle's number again.
  EXPECT_FALSE(rig().HandleIsOpen(handle));
  uint8_t buffer[4] = {1, 2, 3, 4};
  uint32_t count = 0xDEAD;
  EXPECT_EQ(ComWrite(handle, buffer, 4, &count), kPortSystemFailed);
  EXPECT_EQ(count, 0xDEADu);  // left as the caller set it
  EXPECT_EQ(ComRead(handle, buffer, 4, &count), kPortSystemFailed);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(ComPurgeInput(handle), kPortPurgeFailed);
  EXPECT_EQ(ComSetReadTimeout(handle, 250), 0u);
  EXPECT_EQ(ComClose(handle), kPortSystemFailed);
}

}  // namespace
}  // namespace kavi::testing
