#include "telegram/telegram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "telegram_fixture.h"

namespace kavi::testing {
namespace {

using ::kavi::testing::PrintTo;

// ---- TelegramChecksum -------------------------------------------------------

struct ChecksumCase {
  std::string name;
  Bytes bytes;
  int32_t count;
  uint8_t expected;
};

class ChecksumTest : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(ChecksumTest, SumsModulo256) {
  const ChecksumCase& c = GetParam();
  EXPECT_EQ(TelegramChecksum(c.bytes.data(), c.count), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChecksumTest,
    ::testing::Values(
        ChecksumCase{"NoBytes", {0x12}, 0, 0x00},
        ChecksumCase{"NegativeCount", {0x12}, -1, 0x00},
        ChecksumCase{"OneByte", {0x7F}, 1, 0x7F},
        ChecksumCase{"CountLimitsTheSum", {0x01, 0x02, 0x04}, 2, 0x03},
        ChecksumCase{"NoCarry", {0x01, 0x89, 0x10, 0x01, 0x01, 0x00}, 6, 0x9C},
        ChecksumCase{
            "WrapsOnce", {0xFA, 0x89, 0xE0, 0x01, 0x01, 0x00}, 6, 0x65},
        ChecksumCase{"WrapsToZero", {0x80, 0x80}, 2, 0x00},
        ChecksumCase{"WrapsManyTimes", Bytes(16, 0xFF), 16, 0xF0}),
    [](const auto& info) { return info.param.name; });

TEST(ChecksumNullTest, NullBytesSumToZero) {
  EXPECT_EQ(TelegramChecksum(nullptr, 4), 0);
}

// ---- Request builders: byte-exact telegrams --------------------------------

enum class Builder { LongSet, ShortSet, Write };

struct RequestCase {
  std::string name;
  Builder builder;
  int32_t station;
  int32_t index;
  Bytes data;  // write only
  Bytes expected;
};

class RequestTest : public TelegramTest,
                    public ::testing::WithParamInterface<RequestCase> {
 protected:
  int32_t Build(const RequestCase& c, int32_t& length) {
    const IoRequest request = Variable(c.station, c.index, KAVI_GATE_16BIT);
    switch (c.builder) {
      case Builder::LongSet:
        return BuildRequestLongSet(request, block.txBuffer, length);
      case Builder::ShortSet:
        return BuildRequestShortSet(request, block.txBuffer, length);
      case Builder::Write:
        return BuildRequestWrite(request, c.data.data(),
                                 static_cast<int32_t>(c.data.size()),
                                 block.txBuffer, length);
    }
    return -1;
  }
};

TEST_P(RequestTest, BuildsTheTelegramAndNothingBeyondIt) {
  const RequestCase& c = GetParam();
  std::fill(std::begin(block.txBuffer), std::end(block.txBuffer), 0xEE);
  int32_t length = -1;
  ASSERT_EQ(Build(c, length), 0);
  ASSERT_EQ(length, static_cast<int32_t>(c.expected.size()));
  const Bytes built(block.txBuffer, block.txBuffer + length);
  EXPECT_EQ(built, c.expected);
  EXPECT_TRUE(std::all_of(block.txBuffer + length, std::end(block.txBuffer),
                          [](uint8_t byte) { return byte == 0xEE; }));
  EXPECT_TRUE(Logged().empty());
}

TEST_P(RequestTest, IsAWellFormedFrame) {
  const RequestCase& c = GetParam();
  int32_t length = 0;
  ASSERT_EQ(Build(c, length), 0);
  const Bytes t(block.txBuffer, block.txBuffer + length);
  EXPECT_EQ(t.back(), 0x16);
  if (t[0] == 0x68) {
    EXPECT_EQ(t[1], t[2]);
    EXPECT_EQ(t[3], 0x68);
    EXPECT_EQ(t.size(), t[1] + 6u);
    EXPECT_EQ(t[t.size() - 2], Sum(t, 4, t.size() - 2));
  } else {
    EXPECT_EQ(t[0], 0x10);
    EXPECT_EQ(t.size(), 5u);
    EXPECT_EQ(t[3], Sum(t, 1, 3));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RequestTest,
    ::testing::Values(
        // Parameter reads: 12 bytes with extension bytes, 9 for 0x30-0x3F.
        RequestCase{"Read10Station01",
                    Builder::LongSet,
                    0x01,
                    0x10,
                    {},
                    {0x68, 0x06, 0x06, 0x68, 0x01, 0x89, 0x10, 0x01, 0x01, 0x00,
                     0x9C, 0x16}},
        RequestCase{"Read35Station01",
                    Builder::LongSet,
                    0x01,
                    0x35,
                    {},
                    {0x68, 0x03, 0x03, 0x68, 0x01, 0x89, 0x35, 0xBF, 0x16}},
        RequestCase{"Read00Station00",
                    Builder::LongSet,
                    0x00,
                    0x00,
                    {},
                    {0x68, 0x06, 0x06, 0x68, 0x00, 0x89, 0x00, 0x01, 0x01, 0x00,
                     0x8B, 0x16}},
        RequestCase{"Read2FJustBelowTheClass",
                    Builder::LongSet,
                    0x01,
                    0x2F,
                    {},
                    {0x68, 0x06, 0x06, 0x68, 0x01, 0x89, 0x2F, 0x01, 0x01, 0x00,
                     0xBB, 0x16}},
        RequestCase{"Read30FirstOfTheClass",
                    Builder::LongSet,
                    0x01,
                    0x30,
                    {},
                    {0x68, 0x03, 0x03, 0x68, 0x01, 0x89, 0x30, 0xBA, 0x16}},
        RequestCase{"Read3FLastOfTheClass",
                    Builder::LongSet,
                    0x01,
                    0x3F,
                    {},
                    {0x68, 0x03, 0x03, 0x68, 0x01, 0x89, 0x3F, 0xC9, 0x16}},
        RequestCase{"Read40JustAboveTheClass",
                    Builder::LongSet,
                    0x01,
                    0x40,
                    {},
                    {0x68, 0x06, 0x06, 0x68, 0x01, 0x89, 0x40, 0x01, 0x01, 0x00,
                     0xCC, 0x16}},
        RequestCase{"ReadF6",
                    Builder::LongSet,
                    0x01,
                    0xF6,
                    {},
                    {0x68, 0x06, 0x06, 0x68, 0x01, 0x89, 0xF6, 0x01, 0x01, 0x00,
                     0x82, 0x16}},
        RequestCase{"ReadFF",
                    Builder::LongSet,
                    0x01,
                    0xFF,
                    {},
                    {0x68, 0x06, 0x06, 0x68, 0x01, 0x89, 0xFF, 0x01, 0x01, 0x00,
                     0x8B, 0x16}},
        RequestCase{"ReadChecksumWraps",
                    Builder::LongSet,
                    0xFA,
                    0xE0,
                    {},
                    {0x68, 0x06, 0x06, 0x68, 0xFA, 0x89, 0xE0, 0x01, 0x01, 0x00,
                     0x65, 0x16}},
        RequestCase{"ReadTakesLowBytesOfTheFields",
                    Builder::LongSet,
                    0x101,
                    0x135,
                    {},
                    {0x68, 0x03, 0x03, 0x68, 0x01, 0x89, 0x35, 0xBF, 0x16}},
        // Short requests: one per index F0-F5.
        RequestCase{"CycleValueF0Station0A",
                    Builder::ShortSet,
                    0x0A,
                    0xF0,
                    {},
                    {0x10, 0x0A, 0x89, 0x93, 0x16}},
        RequestCase{"CycleValueF1Station0A",
                    Builder::ShortSet,
                    0x0A,
                    0xF1,
                    {},
                    {0x10, 0x0A, 0x89, 0x93, 0x16}},
        RequestCase{"CycleValueF2Station0A",
                    Builder::ShortSet,
                    0x0A,
                    0xF2,
                    {},
                    {0x10, 0x0A, 0x89, 0x93, 0x16}},
        RequestCase{"CycleValueF3Station0A",
                    Builder::ShortSet,
                    0x0A,
                    0xF3,
                    {},
                    {0x10, 0x0A, 0x89, 0x93, 0x16}},
        RequestCase{"ResetF4Station01",
                    Builder::ShortSet,
                    0x01,
                    0xF4,
                    {},
                    {0x10, 0x01, 0x09, 0x0A, 0x16}},
        RequestCase{"StatusF5Station05",
                    Builder::ShortSet,
                    0x05,
                    0xF5,
                    {},
                    {0x10, 0x05, 0x29, 0x2E, 0x16}},
        RequestCase{"ResetBroadcastChecksumWraps",
                    Builder::ShortSet,
                    0xFF,
                    0xF4,
                    {},
                    {0x10, 0xFF, 0x09, 0x08, 0x16}},
        // Writes: 14, 13, 11 and 10 bytes.
        RequestCase{"Write16Bit1234To10",
                    Builder::Write,
                    0x01,
                    0x10,
                    {0x34, 0x12},
                    {0x68, 0x08, 0x08, 0x68, 0x01, 0x69, 0x10, 0x01, 0x01, 0x00,
                     0x34, 0x12, 0xC2, 0x16}},
        RequestCase{
            "Write8Bit7FTo35",
            Builder::Write,
            0x01,
            0x35,
            {0x7F},
            {0x68, 0x04, 0x04, 0x68, 0x01, 0x69, 0x35, 0x7F, 0x1E, 0x16}},
        RequestCase{"Write8BitTo0D",
                    Builder::Write,
                    0x02,
                    0x0D,
                    {0x05},
                    {0x68, 0x07, 0x07, 0x68, 0x02, 0x69, 0x0D, 0x01, 0x01, 0x00,
                     0x05, 0x7F, 0x16}},
        RequestCase{
            "Write16BitTo33",
            Builder::Write,
            0x03,
            0x33,
            {0xCD, 0xAB},
            {0x68, 0x05, 0x05, 0x68, 0x03, 0x69, 0x33, 0xCD, 0xAB, 0x17, 0x16}},
        RequestCase{"WriteToBroadcastStation",
                    Builder::Write,
                    0xFF,
                    0x10,
                    {0xFF, 0xFF},
                    {0x68, 0x08, 0x08, 0x68, 0xFF, 0x69, 0x10, 0x01, 0x01, 0x00,
                     0xFF, 0xFF, 0x78, 0x16}}),
    [](const auto& info) { return info.param.name; });

// ---- Builders' refusals ----------------------------------------------------

class ShortSetRefusalTest : public TelegramTest,
                            public ::testing::WithParamInterface<int32_t> {};

TEST_P(ShortSetRefusalTest, LogsAndLeavesTheLengthAlone) {
  std::fill(std::begin(block.txBuffer), std::end(block.txBuffer), 0xEE);
  int32_t length = 77;
  EXPECT_EQ(BuildRequestShortSet(Variable(0x03, GetParam(), KAVI_GATE_16BIT),
                                 block.txBuffer, length),
            1);
  EXPECT_EQ(length, 77);
  EXPECT_EQ(Logged(),
            Exchange({"KAVIR> BuildRequestShortSet() Internal error"}));
  // Start byte and station are written before the index is looked at.
  EXPECT_EQ(block.txBuffer[0], 0x10);
  EXPECT_EQ(block.txBuffer[1], 0x03);
  EXPECT_TRUE(std::all_of(block.txBuffer + 2, std::end(block.txBuffer),
                          [](uint8_t byte) { return byte == 0xEE; }));
}

INSTANTIATE_TEST_SUITE_P(Indices, ShortSetRefusalTest,
                         ::testing::Values(0x00, 0x10, 0x35, 0xEF, 0xF6, 0xFF),
                         [](const auto& info) {
                           return "Index" + std::to_string(info.param);
                         });

struct WriteRefusalCase {
  std::string name;
  int32_t count;
  bool nullData;
};

class WriteRefusalTest
    : public TelegramTest,
      public ::testing::WithParamInterface<WriteRefusalCase> {};

TEST_P(WriteRefusalTest, LogsAndTouchesNothing) {
  const WriteRefusalCase& c = GetParam();
  std::fill(std::begin(block.txBuffer), std::end(block.txBuffer), 0xEE);
  const uint8_t data[4] = {1, 2, 3, 4};
  int32_t length = 77;
  EXPECT_EQ(BuildRequestWrite(Variable(0x01, 0x10, KAVI_GATE_16BIT),
                              c.nullData ? nullptr : data, c.count,
                              block.txBuffer, length),
            1);
  EXPECT_EQ(length, 77);
  EXPECT_EQ(Logged(), Exchange({"KAVIR> BuildRequestWrite() Internal error"}));
  EXPECT_TRUE(std::all_of(std::begin(block.txBuffer), std::end(block.txBuffer),
                          [](uint8_t byte) { return byte == 0xEE; }));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteRefusalTest,
    ::testing::Values(WriteRefusalCase{"NoValueBytes", 0, false},
                      WriteRefusalCase{"NegativeCount", -1, false},
                      WriteRefusalCase{"ThreeValueBytes", 3, false},
                      WriteRefusalCase{"ThirtyTwoBitValue", 4, false},
                      WriteRefusalCase{"NullData", 2, true}),
    [](const auto& info) { return info.param.name; });

// ---- Send ---------------------------------------------------------------

using SendTest = TelegramTest;

const Bytes kRead10{0x68, 0x06, 0x06, 0x68, 0x01, 0x89,
                    0x10, 0x01, 0x01, 0x00, 0x9C, 0x16};

TEST_F(SendTest, WritesTheWholeTelegramOnceToTheInstancePort) {
  int32_t length = 0;
  BuildRequestLongSet(Variable(0x01, 0x10, KAVI_GATE_16BIT), block.txBuffer,
                      length);
  EXPECT_EQ(Send(block, block.txBuffer, length), 0);
  ASSERT_EQ(port().events.size(), 1u);
  EXPECT_EQ(port().events[0].call, PortCall::Write);
  EXPECT_EQ(port().events[0].handle, kHandle);
  EXPECT_EQ(port().events[0].bytes, kRead10);
  EXPECT_TRUE(Logged().empty());
}

TEST_F(SendTest, SendsAFullBuffer) {
  std::fill(std::begin(block.txBuffer), std::end(block.txBuffer), 0x42);
  EXPECT_EQ(Send(block, block.txBuffer, KAVI_TX_BUFFER_SIZE), 0);
  ASSERT_EQ(port().Written().size(), 1u);
  EXPECT_EQ(port().Written()[0], Bytes(KAVI_TX_BUFFER_SIZE, 0x42));
}

struct SendFailureCase {
  std::string name;
  std::vector<int32_t> writeFailures;
  std::vector<uint32_t> shortWrites;
};

class SendFailureTest : public TelegramTest,
                        public ::testing::WithParamInterface<SendFailureCase> {
};

TEST_P(SendFailureTest, LogsAndReturns2AfterOneAttempt) {
  const SendFailureCase& c = GetParam();
  port().writeFailures.assign(c.writeFailures.begin(), c.writeFailures.end());
  port().shortWrites.assign(c.shortWrites.begin(), c.shortWrites.end());
  int32_t length = 0;
  BuildRequestLongSet(Variable(0x01, 0x10, KAVI_GATE_16BIT), block.txBuffer,
                      length);
  EXPECT_EQ(Send(block, block.txBuffer, length), 2);
  EXPECT_EQ(Logged(), Exchange({"KAVIR> SEND> Unable to send message."}));
  EXPECT_EQ(port().Count(PortCall::Write), 1);
}

INSTANTIATE_TEST_SUITE_P(Table, SendFailureTest,
                         ::testing::Values(
                             SendFailureCase{
                                 "WriteCallFails", {kPortSystemFailed}, {}},
                             SendFailureCase{"ShortWrite", {}, {5}},
                             SendFailureCase{"NothingTaken", {}, {0}},
                             SendFailureCase{"AllButOneByte", {}, {11}}),
                         [](const auto& info) { return info.param.name; });

class SendLengthTest : public TelegramTest,
                       public ::testing::WithParamInterface<int32_t> {};

TEST_P(SendLengthTest, RefusesALengthOutsideTheBufferWithoutWriting) {
  EXPECT_EQ(Send(block, block.txBuffer, GetParam()), 2);
  EXPECT_EQ(Logged(), Exchange({"KAVIR> SEND> Unable to send message."}));
  EXPECT_TRUE(port().events.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, SendLengthTest,
    ::testing::Values(0, -1, -2147483647 - 1, KAVI_TX_BUFFER_SIZE + 1, 0x10000),
    [](const auto& info) {
      const int32_t value = info.param;
      return value < 0 ? "Minus" + std::to_string(-static_cast<int64_t>(value))
                       : std::to_string(value);
    });

// ---- Value positions --------------------------------------------------------

TEST(ValuePositionTest, PointsIntoTheReplies) {
  // The reply to a 16-bit read of 0x10 carries 0x1234 from byte 10.
  const Bytes reply{0x68, 0x08, 0x08, 0x68, 0x01, 0x00, 0x10,
                    0x01, 0x01, 0x00, 0x34, 0x12, 0x59, 0x16};
  const int32_t at = ParameterValueOffset(0x10);
  EXPECT_EQ(at, 10);
  EXPECT_EQ(reply[static_cast<size_t>(at)], 0x34);
  EXPECT_EQ(ParameterValueOffset(0x35), 7);
  EXPECT_EQ(CycleValueOffset(0xF0), 6);
  EXPECT_EQ(CycleValueOffset(0xF1), 8);
  EXPECT_EQ(CycleValueOffset(0xF2), 10);
  EXPECT_EQ(CycleValueOffset(0xF3), 11);
  EXPECT_EQ(CycleValueOffset(0xF4), -1);
  EXPECT_EQ(CycleValueWidth(0xF0), 2);
  EXPECT_EQ(CycleValueWidth(0xF2), 1);
  EXPECT_EQ(CycleValueWidth(0xF3), 2);
  EXPECT_EQ(CycleValueWidth(0x10), 0);
  EXPECT_EQ(kCycleValuesOffset + kCycleValuesBytes, 13);
  EXPECT_EQ(kStatusValueOffset, 2);
  EXPECT_EQ(ValueWidth(KAVI_GATE_8BIT), 1);
  EXPECT_EQ(ValueWidth(KAVI_GATE_16BIT), 2);
  EXPECT_EQ(ValueWidth(KAVI_GATE_32BIT), 4);
  EXPECT_EQ(ValueWidth(KAVI_GATE_NONE), 0);
}

}  // namespace
}  // namespace kavi::testing
