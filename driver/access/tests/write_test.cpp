#include "access/write.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access_fixture.h"

namespace kavi::testing {
namespace {

constexpr const char* kNoSend = "KAVIR> SEND> Unable to send message.";
constexpr const char* kSendRetry =
    "KAVIR> WriteParameter() error sending request, retry ";
constexpr const char* kReplyRetry =
    "KAVIR> WriteParameter() error reading reply, retry ";
constexpr const char* kInternal = "KAVIR> WriteParameter() Internal error";
constexpr const char* kNo32Bit =
    "KAVIR> WriteParameter() Error: Writing to 32-bit gates is not supported";
constexpr const char* kOnly8Bit =
    "KAVIR> WriteParameter() Only 8 bit can be stored";
constexpr const char* kNotAble =
    "KAVIR> WriteParameter() device not able or ready to do this job";
constexpr const char* kNotKept =
    "KAVIR> WriteParameter() writing was not successful at the moment";
constexpr const char* kShortWrongLength =
    "KAVIR> ReceiveShortSet() wrong length reading";
constexpr const char* kShortChecking =
    "KAVIR> ReceiveShortSet() error checking telegram";
constexpr const char* kShortNotReady =
    "KAVIR> ReceiveShortSet() error bit set : request disable, equipment not "
    "ready ";
constexpr const char* kShortAcknowledge =
    "KAVIR> ReceiveShortSet() error bit set : instruction acknowledgement ";
constexpr const char* kShortTransmission =
    "KAVIR> ReceiveShortSet() error bit set : transmission error ";
constexpr const char* kShortTimeout = "KAVIR> ReceiveShortSet() timeout";
constexpr const char* kServiceRequest =
    "KAVIR> ReceiveShortSet() warning: error bit set : Sevice request ";
constexpr const char* kLongWrongLength =
    "KAVIR> ReceiveLongSet() wrong length reading";
constexpr const char* kLongNotReady =
    "KAVIR> ReceiveLongSet() error bit set : request disable, equipment not "
    "ready ";

std::vector<LogLine> WriteFailed(int32_t index) {
  return {
      Exchange("KAVIR> SingleWrite() error while writing PI=0x" + Hex(index))};
}
std::vector<LogLine> ReadFailed(int32_t index) {
  return {Exchange("KAVIR> SingleRead() error while reading PI=" + Hex(index))};
}
// Five attempts of a read that gets no reply.
std::vector<LogLine> SilentRead(int32_t index) {
  std::vector<LogLine> lines;
  for (int n = 1; n <= 5; ++n) {
    lines.push_back(Exchange(kLongWrongLength));
    lines.push_back(
        Exchange(Numbered("KAVIR> Read() error reading reply, retry ", n)));
  }
  lines.push_back(ReadFailed(index)[0]);
  return lines;
}

// ---- Value writes: the telegram
// --------------------------------------------------

struct TelegramCase {
  std::string name;
  Var var;
  uint16_t value;  // the word at offset 2 of the host's slot
  Bytes telegram;
};

class WriteTelegramTest : public AccessTest,
                          public ::testing::WithParamInterface<TelegramCase> {};

TEST_P(WriteTelegramTest, SendsOneTelegramAndTakesTheAcknowledgement) {
  const TelegramCase& c = GetParam();
  SetWord(c.value);
  port().QueueReply(Short(static_cast<uint8_t>(c.var.station), 0x00));
  IoRequest request = Request(c.var);

  ASSERT_EQ(Call(KAVI_SINGLE_WRITE, &request), 0)
      << ::testing::PrintToString(Logged());

  EXPECT_EQ(port().Written(), std::vector<Bytes>{c.telegram});
  EXPECT_EQ(Calls(port()),
            (std::vector<PortCall>{PortCall::Purge, PortCall::Write,
                                   PortCall::Read}));
  EXPECT_EQ(port().events.back().count, 5u);
  EXPECT_TRUE(Logged().empty());
  // The host's slot is only read.
  EXPECT_EQ(Word(), c.value);
  EXPECT_EQ(memory[0], kFill);
  EXPECT_TRUE(UntouchedFrom(4));
}

INSTANTIATE_TEST_SUITE_P(
    Values, WriteTelegramTest,
    ::testing::Values(TelegramCase{"Word16BitIndex12",
                                   {0x01, 0x12, KAVI_GATE_16BIT},
                                   0x1234,
                                   {0x68, 0x08, 0x08, 0x68, 0x01, 0x69, 0x12,
                                    0x01, 0x01, 0x00, 0x34, 0x12, 0xC4, 0x16}},
                      TelegramCase{"Word16BitIndex10",
                                   {0x01, 0x10, KAVI_GATE_16BIT},
                                   0x1234,
                                   {0x68, 0x08, 0x08, 0x68, 0x01, 0x69, 0x10,
                                    0x01, 0x01, 0x00, 0x34, 0x12, 0xC2, 0x16}},
                      TelegramCase{"Byte8BitWithoutExtension",
                                   {0x01, 0x35, KAVI_GATE_8BIT},
                                   0x007F,
                                   {0x68, 0x04, 0x04, 0x68, 0x01, 0x69, 0x35,
                                    0x7F, 0x1E, 0x16}},
                      TelegramCase{"Word16BitWithoutExtension",
                                   {0x01, 0x33, KAVI_GATE_16BIT},
                                   0xBEEF,
                                   WriteRequest(0x01, 0x33, {0xEF, 0xBE})},
                      TelegramCase{"Byte8BitWithExtension",
                                   {0x07, 0x16, KAVI_GATE_8BIT},
                                   0x00FF,
                                   WriteRequest(0x07, 0x16, {0xFF})},
                      TelegramCase{
                          "SignedByteSendsItsLowByte",
                          {0x01, 0x35, KAVI_GATE_8BIT, 16, KAVI_TYPE_INT16},
                          0xFFFE,
                          WriteRequest(0x01, 0x35, {0xFE})},
                      TelegramCase{"ChecksumWraps",
                                   {0xFA, 0xE0, KAVI_GATE_16BIT},
                                   0xFFFF,
                                   WriteRequest(0xFA, 0xE0, {0xFF, 0xFF})}),
    CaseName<TelegramCase>);

// ---- What an 8-bit parameter takes
// ---------------------------------------------------

struct RangeCase {
  std::string name;
  uint16_t value;
  bool accepted;
};

class EightBitRangeTest : public AccessTest,
                          public ::testing::WithParamInterface<RangeCase> {};

TEST_P(EightBitRangeTest, SendsTheLowByteOrRefuses) {
  const RangeCase& c = GetParam();
  SetWord(c.value);
  port().QueueReply(Short(0x01, 0x00));
  IoRequest request = Request({0x01, 0x35, KAVI_GATE_8BIT});

  const int32_t result = Call(KAVI_SINGLE_WRITE, &request);

  if (c.accepted) {
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Logged().empty());
    EXPECT_EQ(port().Written(),
              std::vector<Bytes>{WriteRequest(
                  0x01, 0x35, {static_cast<uint8_t>(c.value & 0xFF)})});
  } else {
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Logged(), Join({{Exchange(kOnly8Bit)}, WriteFailed(0x35)}));
    EXPECT_TRUE(port().events.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EightBitRangeTest,
                         ::testing::Values(RangeCase{"Zero", 0x0000, true},
                                           RangeCase{"Top", 0x00FF, true},
                                           RangeCase{"MinusOne", 0xFFFF, true},
                                           RangeCase{"Minus128", 0xFF80, true},
                                           RangeCase{"Minus129", 0xFF7F, false},
                                           RangeCase{"Minus256", 0xFF00, false},
                                           RangeCase{"Minus251", 0xFF05, false},
                                           RangeCase{"Minus512", 0xFE00, false},
                                           RangeCase{"Plus256", 0x0100, false},
                                           RangeCase{"Plus32768", 0x8000,
                                                     false}),
                         CaseName<RangeCase>);

// ---- Bit writes: read, merge, write
// ----------------------------------------------

struct MergeCase {
  std::string name;
  Var var;
  uint16_t value;  // the host's boolean
  Bytes present;   // value bytes of the current value's reply
  Bytes written;   // data bytes of the write telegram
};

class BitMergeTest : public AccessTest,
                     public ::testing::WithParamInterface<MergeCase> {};

TEST_P(BitMergeTest, ReadsTheParameterAndWritesItBack) {
  const MergeCase& c = GetParam();
  const auto index = static_cast<uint8_t>(c.var.index);
  SetWord(c.value);
  port().QueueReply(ParamReply(0x01, 0x00, index, c.present));
  port().QueueReply(Short(0x01, 0x00));
  IoRequest request = Request(c.var);

  ASSERT_EQ(Call(KAVI_SINGLE_WRITE, &request), 0)
      << ::testing::PrintToString(Logged());

  EXPECT_EQ(port().Written(),
            (std::vector<Bytes>{ReadRequest(0x01, index),
                                WriteRequest(0x01, index, c.written)}));
  EXPECT_TRUE(Logged().empty());
  EXPECT_EQ(Word(), c.value);
  EXPECT_EQ(memory[0], kFill);
  EXPECT_TRUE(UntouchedFrom(4));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BitMergeTest,
    ::testing::Values(MergeCase{"Set3Of8Bit",
                                Bit(0x01, 0x35, KAVI_GATE_8BIT, 3),
                                1,
                                {0xA0},
                                {0xA8}},
                      MergeCase{"Clear4Of16Bit",
                                Bit(0x01, 0x10, KAVI_GATE_16BIT, 4),
                                0,
                                {0x34, 0x12},
                                {0x24, 0x12}},
                      MergeCase{"Set15Of16Bit",
                                Bit(0x01, 0x10, KAVI_GATE_16BIT, 15),
                                1,
                                {0x00, 0x00},
                                {0x00, 0x80}},
                      MergeCase{"Clear7Of8Bit",
                                Bit(0x01, 0x0D, KAVI_GATE_8BIT, 7),
                                0,
                                {0xFF},
                                {0x7F}},
                      MergeCase{"SetBitAlreadySet",
                                Bit(0x01, 0x35, KAVI_GATE_8BIT, 0),
                                1,
                                {0x01},
                                {0x01}},
                      // Any nonzero word sets the bit, and only that bit.
                      MergeCase{"ValueTwoSetsOnlyTheBit",
                                Bit(0x01, 0x35, KAVI_GATE_8BIT, 0),
                                2,
                                {0x00},
                                {0x01}},
                      MergeCase{"HighByteOnlySetsTheBit",
                                Bit(0x01, 0x10, KAVI_GATE_16BIT, 14),
                                0x0100,
                                {0x00, 0x00},
                                {0x00, 0x40}},
                      MergeCase{"AllOnesSetsOnlyTheBit",
                                Bit(0x01, 0x10, KAVI_GATE_16BIT, 1),
                                0xFFFF,
                                {0x00, 0x00},
                                {0x02, 0x00}}),
    CaseName<MergeCase>);

// The current value is read whole and unsigned, whatever the host's type.
TEST_F(AccessTest, BitWriteReadsTheCurrentValueAsAnUnsignedWord) {
  SetWord(0);
  port().QueueReply(ParamReply(0x01, 0x00, 0x35, {0x85}));
  port().QueueReply(Short(0x01, 0x00));
  Var var = Bit(0x01, 0x35, KAVI_GATE_8BIT, 0);
  var.dataType = KAVI_TYPE_INT16;  // not what the parser gives; harmless
  IoRequest request = Request(var);
  ASSERT_EQ(Call(KAVI_SINGLE_WRITE, &request), 0);
  EXPECT_EQ(port().Written().back(), WriteRequest(0x01, 0x35, {0x84}));
}

// ---- Refused before anything is read or sent
// -------------------------------------

struct WriteRefusalCase {
  std::string name;
  Var var;
  std::vector<LogLine> log;
  bool portOpen = true;
  bool nullValue = false;
};

class WriteRefusalTest
    : public AccessTest,
      public ::testing::WithParamInterface<WriteRefusalCase> {};

TEST_P(WriteRefusalTest, TouchesNothing) {
  const WriteRefusalCase& c = GetParam();
  if (!c.portOpen) {
    ASSERT_EQ(ColdStartWithPort(false), 0);
  }
  IoRequest request = Request(c.var);
  if (c.nullValue) request.value = nullptr;

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), 1);

  EXPECT_EQ(Logged(), c.log);
  EXPECT_TRUE(port().events.empty());
  EXPECT_TRUE(Untouched());
}

std::vector<LogLine> Refused(const char* text, int32_t index) {
  return Join({{Exchange(text)}, WriteFailed(index)});
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteRefusalTest,
    ::testing::Values(
        WriteRefusalCase{"PortClosed",
                         {0x01, 0x10, KAVI_GATE_16BIT},
                         {Setup("KAVIR> SingleWrite() com-port is not open")},
                         false},
        WriteRefusalCase{
            "CycleValueF0",
            {0x01, 0xF0, KAVI_GATE_16BIT, 16, KAVI_TYPE_INT16},
            Refused("KAVIR> SingleWrite() Error:Try to write cycle data",
                    0xF0)},
        WriteRefusalCase{
            "CycleValueF3",
            {0x01, 0xF3, KAVI_GATE_16BIT, 16, KAVI_TYPE_INT16},
            Refused("KAVIR> SingleWrite() Error:Try to write cycle data",
                    0xF3)},
        WriteRefusalCase{"EquipmentStatus",
                         {0x01, 0xF5, KAVI_GATE_8BIT},
                         Refused("KAVIR> SingleWrite() Error:Try to write "
                                 "equipment ok",
                                 0xF5)},
        WriteRefusalCase{"Value32Bit",
                         {0x01, 0x21, KAVI_GATE_32BIT, 32, KAVI_TYPE_INT32},
                         Refused(kNo32Bit, 0x21)},
        WriteRefusalCase{"ValueBits8",
                         {0x01, 0x10, KAVI_GATE_16BIT, 8},
                         Refused(kInternal, 0x10)},
        WriteRefusalCase{"NoSlot",
                         {0x01, 0x10, KAVI_GATE_16BIT},
                         Refused(kInternal, 0x10),
                         true,
                         true},
        WriteRefusalCase{"ValueOf32BitGate",
                         {0x01, 0x21, KAVI_GATE_32BIT},
                         Refused(kNo32Bit, 0x21)},
        WriteRefusalCase{"ValueOfNoGate",
                         {0x01, 0x10, KAVI_GATE_NONE},
                         Refused(kInternal, 0x10)},
        WriteRefusalCase{"BitToStationFF", Bit(0xFF, 0x10, KAVI_GATE_16BIT, 0),
                         Refused("KAVIR> WriteParameter() Error: Writing "
                                 "special digital gates to PLC-Address 0xFF "
                                 "is not possible",
                                 0x10)},
        WriteRefusalCase{"BitOf32BitGate", Bit(0x01, 0x21, KAVI_GATE_32BIT, 0),
                         Refused(kNo32Bit, 0x21)},
        WriteRefusalCase{"BitOfNoGate", Bit(0x01, 0x10, KAVI_GATE_NONE, 0),
                         Refused(kInternal, 0x10)},
        WriteRefusalCase{"Bit8Of8Bit", Bit(0x01, 0x35, KAVI_GATE_8BIT, 8),
                         Refused(kInternal, 0x35)},
        WriteRefusalCase{"Bit16Of16Bit", Bit(0x01, 0x10, KAVI_GATE_16BIT, 16),
                         Refused(kInternal, 0x10)},
        WriteRefusalCase{"BitMinusOne", Bit(0x01, 0x10, KAVI_GATE_16BIT, -1),
                         Refused(kInternal, 0x10)}),
    CaseName<WriteRefusalCase>);

// ---- Station 0xFF: sent, never answered
// ---------------------------------------------

TEST_F(AccessTest, StationFFIsSentOnceWithoutReading) {
  SetWord(0x1234);
  IoRequest request = Request({0xFF, 0x10, KAVI_GATE_16BIT});
  ASSERT_EQ(Call(KAVI_SINGLE_WRITE, &request), 0);
  EXPECT_EQ(Calls(port()),
            (std::vector<PortCall>{PortCall::Purge, PortCall::Write}));
  EXPECT_EQ(port().Written(),
            std::vector<Bytes>{WriteRequest(0xFF, 0x10, {0x34, 0x12})});
  EXPECT_TRUE(Logged().empty());
}

TEST_F(AccessTest, StationFFIsSentFiveTimesWhenSendingFails) {
  SetWord(0x1234);
  port().writeFailures = {kPortSystemFailed, kPortSystemFailed,
                          kPortSystemFailed, kPortSystemFailed,
                          kPortSystemFailed};
  IoRequest request = Request({0xFF, 0x10, KAVI_GATE_16BIT});

  ASSERT_EQ(Call(KAVI_SINGLE_WRITE, &request), 2);

  std::vector<LogLine> expected;
  for (int n = 1; n <= 5; ++n) {
    expected.push_back(Exchange(kNoSend));
    expected.push_back(Exchange(Numbered(kSendRetry, n)));
  }
  expected.push_back(WriteFailed(0x10)[0]);
  EXPECT_EQ(Logged(), expected);
  EXPECT_EQ(port().Written(),
            std::vector<Bytes>(5, WriteRequest(0xFF, 0x10, {0x34, 0x12})));
  EXPECT_EQ(port().Count(PortCall::Read), 0);
  EXPECT_EQ(port().Count(PortCall::Purge), 5);
}

TEST_F(AccessTest, StationFFStopsAtTheFirstSendThatWorks) {
  port().writeFailures = {kPortSystemFailed};
  SetWord(0x0001);
  IoRequest request = Request({0xFF, 0x35, KAVI_GATE_8BIT});
  ASSERT_EQ(Call(KAVI_SINGLE_WRITE, &request), 0);
  EXPECT_EQ(port().Written().size(), 2u);
  EXPECT_EQ(port().Count(PortCall::Read), 0);
  EXPECT_EQ(Logged(),
            (std::vector<LogLine>{Exchange(kNoSend),
                                  Exchange(Numbered(kSendRetry, 1))}));
}

// ---- Attempts
// ----------------------------------------------------------------------

struct WriteAttemptsCase {
  std::string name;
  std::vector<Attempt> attempts;
  int32_t result;
  std::vector<LogLine> log;
};

std::vector<LogLine> SendFailed(int n) {
  return {Exchange(kNoSend), Exchange(Numbered(kSendRetry, n))};
}
std::vector<LogLine> Retry(const char* receiver, int n) {
  return {Exchange(receiver), Exchange(Numbered(kReplyRetry, n))};
}

class WriteAttemptsTest
    : public AccessTest,
      public ::testing::WithParamInterface<WriteAttemptsCase> {};

// 0x1234 to PI 0x12 of station 1.
TEST_P(WriteAttemptsTest, RetriesAsLongAsItMakesSense) {
  const WriteAttemptsCase& c = GetParam();
  Script(c.attempts, Short(0x01, 0x00), Short(0x01, 0x10), Short(0x01, 0x20),
         Short(0x01, 0x08));
  SetWord(0x1234);
  IoRequest request = Request({0x01, 0x12, KAVI_GATE_16BIT});

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), c.result);

  EXPECT_EQ(Logged(), c.log);
  // The same telegram every time, the input purged before each send.
  EXPECT_EQ(port().Written(),
            std::vector<Bytes>(c.attempts.size(),
                               WriteRequest(0x01, 0x12, {0x34, 0x12})));
  EXPECT_EQ(port().Count(PortCall::Purge), static_cast<int>(c.attempts.size()));
  EXPECT_EQ(Word(), 0x1234);
}

using A = Attempt;

INSTANTIATE_TEST_SUITE_P(
    Table, WriteAttemptsTest,
    ::testing::Values(
        WriteAttemptsCase{"FirstAttempt", {A::Good}, 0, {}},
        WriteAttemptsCase{
            "SendFailsThenGood", {A::SendFails, A::Good}, 0, SendFailed(1)},
        WriteAttemptsCase{"ReadCallFailsThenGood",
                          {A::ReadFails, A::Good},
                          0,
                          Retry(kShortTimeout, 1)},
        WriteAttemptsCase{
            "FourFailuresThenGood",
            {A::Silent, A::BadChecksum, A::Acknowledge, A::Transmission,
             A::Good},
            0,
            Join({Retry(kShortWrongLength, 1), Retry(kShortChecking, 2),
                  Retry(kShortAcknowledge, 3), Retry(kShortTransmission, 4)})},
        WriteAttemptsCase{
            "FiveTimeOuts",
            {A::Silent, A::Silent, A::Silent, A::Silent, A::Silent},
            2,
            Join({Retry(kShortWrongLength, 1), Retry(kShortWrongLength, 2),
                  Retry(kShortWrongLength, 3), Retry(kShortWrongLength, 4),
                  Retry(kShortWrongLength, 5), WriteFailed(0x12)})},
        WriteAttemptsCase{"MixedFailuresAllFive",
                          {A::SendFails, A::Silent, A::SendFails,
                           A::Acknowledge, A::SendFails},
                          2,
                          Join({SendFailed(1), Retry(kShortWrongLength, 2),
                                SendFailed(3), Retry(kShortAcknowledge, 4),
                                SendFailed(5), WriteFailed(0x12)})},
        WriteAttemptsCase{"NotReadyEndsAtOnce",
                          {A::NotReady},
                          1,
                          Join({{Exchange(kShortNotReady), Exchange(kNotAble)},
                                WriteFailed(0x12)})},
        WriteAttemptsCase{"NotReadyAfterRetries",
                          {A::Silent, A::SendFails, A::NotReady},
                          1,
                          Join({Retry(kShortWrongLength, 1),
                                SendFailed(2),
                                {Exchange(kShortNotReady), Exchange(kNotAble)},
                                WriteFailed(0x12)})}),
    CaseName<WriteAttemptsCase>);

// ---- Refusal by status
// -----------------------------------------------------------

class RefusalStatusTest : public AccessTest,
                          public ::testing::WithParamInterface<uint8_t> {};

// The controller refuses with 0x08, whatever else it sets: one attempt.
TEST_P(RefusalStatusTest, EndsTheWriteAfterOneAttempt) {
  port().QueueReply(Short(0x01, GetParam()));
  SetWord(0x0042);
  IoRequest request = Request({0x01, 0x12, KAVI_GATE_16BIT});

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), 1);

  EXPECT_EQ(Logged(), Join({{Exchange(kShortNotReady), Exchange(kNotAble)},
                            WriteFailed(0x12)}));
  EXPECT_EQ(port().Written().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, RefusalStatusTest,
                         ::testing::Values(0x08, 0x18, 0x28, 0x38, 0x88, 0xF8),
                         [](const auto& info) {
                           return "Status" + Hex(info.param);
                         });

// ---- The controller's service request: read back and compare
// -----------------------

struct ServiceCase {
  std::string name;
  Var var;
  uint16_t value;
  Bytes readBack;  // value bytes of the read-back reply
  int32_t result;
};

class ServiceRequestTest : public AccessTest,
                           public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(ServiceRequestTest, ReadsBackAndCompares) {
  const ServiceCase& c = GetParam();
  const auto index = static_cast<uint8_t>(c.var.index);
  SetWord(c.value);
  port().QueueReply(Short(0x01, 0x80));
  port().QueueReply(ParamReply(0x01, 0x00, index, c.readBack));
  IoRequest request = Request(c.var);

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), c.result);

  std::vector<LogLine> expected{Exchange(kServiceRequest)};
  if (c.result != 0) {
    expected.push_back(Exchange(kNotKept));
    expected.push_back(WriteFailed(c.var.index)[0]);
  }
  EXPECT_EQ(Logged(), expected);
  ASSERT_EQ(port().Written().size(), 2u);
  EXPECT_EQ(port().Written()[1], ReadRequest(0x01, index));
  // The read-back lands in the write's own slot, not the host's.
  EXPECT_EQ(Word(), c.value);
  EXPECT_EQ(memory[0], kFill);
  EXPECT_TRUE(UntouchedFrom(4));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ServiceRequestTest,
    ::testing::Values(
        ServiceCase{"Equal16Bit",
                    {0x01, 0x12, KAVI_GATE_16BIT},
                    0x1234,
                    {0x34, 0x12},
                    0},
        ServiceCase{"Different16Bit",
                    {0x01, 0x12, KAVI_GATE_16BIT},
                    0x1234,
                    {0x35, 0x12},
                    1},
        ServiceCase{"Equal8BitUnsigned",
                    {0x01, 0x35, KAVI_GATE_8BIT},
                    0x0085,
                    {0x85},
                    0},
        ServiceCase{"NegativeByteSigned",
                    {0x01, 0x35, KAVI_GATE_8BIT, 16, KAVI_TYPE_INT16},
                    0xFF80,
                    {0x80},
                    0},
        // Read back unsigned it is 0x0080: not what was asked for.
        ServiceCase{"NegativeByteUnsigned",
                    {0x01, 0x35, KAVI_GATE_8BIT},
                    0xFF80,
                    {0x80},
                    1},
        ServiceCase{"LargeByteSignedReadsBackNegative",
                    {0x01, 0x35, KAVI_GATE_8BIT, 16, KAVI_TYPE_INT16},
                    0x0085,
                    {0x85},
                    1}),
    CaseName<ServiceCase>);

// A bit write is verified against the bit, as the host's value normalised.
TEST_F(AccessTest, BitWriteIsVerifiedAgainstTheBit) {
  SetWord(2);
  port().QueueReply(ParamReply(0x01, 0x00, 0x35, {0xA0}));
  port().QueueReply(Short(0x01, 0x80));
  port().QueueReply(ParamReply(0x01, 0x00, 0x35, {0xA1}));
  IoRequest request = Request(Bit(0x01, 0x35, KAVI_GATE_8BIT, 0));

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), 0);

  EXPECT_EQ(Logged(), std::vector<LogLine>{Exchange(kServiceRequest)});
  EXPECT_EQ(port().Written(),
            (std::vector<Bytes>{ReadRequest(0x01, 0x35),
                                WriteRequest(0x01, 0x35, {0xA1}),
                                ReadRequest(0x01, 0x35)}));
}

TEST_F(AccessTest, BitWriteNotKeptIsReported) {
  SetWord(1);
  port().QueueReply(ParamReply(0x01, 0x00, 0x10, {0x00, 0x00}));
  port().QueueReply(Short(0x01, 0x80));
  port().QueueReply(ParamReply(0x01, 0x00, 0x10, {0xFF, 0xF7}));
  IoRequest request = Request(Bit(0x01, 0x10, KAVI_GATE_16BIT, 11));

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), 1);

  EXPECT_EQ(Logged(), Join({{Exchange(kServiceRequest), Exchange(kNotKept)},
                            WriteFailed(0x10)}));
  EXPECT_EQ(port().Written()[1], WriteRequest(0x01, 0x10, {0x00, 0x08}));
}

TEST_F(AccessTest, FailedReadBackIsReported) {
  SetWord(0x1234);
  port().QueueReply(Short(0x01, 0x80));
  IoRequest request = Request({0x01, 0x12, KAVI_GATE_16BIT});

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), 1);

  EXPECT_EQ(
      Logged(),
      Join({{Exchange(kServiceRequest)},
            SilentRead(0x12),
            {Exchange("KAVIR> WriteParameter() error while reading PI=12")},
            WriteFailed(0x12)}));
  EXPECT_EQ(port().Written().size(), 6u);  // the write, five reads
}

// ---- The read of the current value fails
// ---------------------------------------------

TEST_F(AccessTest, BitWriteWithoutCurrentValueSendsNothing) {
  SetWord(1);
  IoRequest request = Request(Bit(0x01, 0x10, KAVI_GATE_16BIT, 3));

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), 2);

  EXPECT_EQ(Logged(),
            Join({SilentRead(0x10),
                  {Exchange("KAVIR> WriteParameter() error SingleRead() for "
                            "spec. dig. gate, rc=2")},
                  WriteFailed(0x10)}));
  EXPECT_EQ(port().Written(), std::vector<Bytes>(5, ReadRequest(0x01, 0x10)));
}

TEST_F(AccessTest, BitWriteRefusedReadPassesItsResultOn) {
  SetWord(1);
  port().QueueReply(ParamReply(0x01, 0x08, 0x10, {0x00, 0x00}));
  IoRequest request = Request(Bit(0x01, 0x10, KAVI_GATE_16BIT, 3));

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), 1);

  EXPECT_EQ(Logged(),
            Join({{Exchange(kLongNotReady),
                   Exchange("KAVIR> Read() error reading reply")},
                  ReadFailed(0x10),
                  {Exchange("KAVIR> WriteParameter() error SingleRead() for "
                            "spec. dig. gate, rc=1")},
                  WriteFailed(0x10)}));
  EXPECT_EQ(port().Written().size(), 1u);
}

// ---- Reset
// ----------------------------------------------------------------------

struct ResetCase {
  std::string name;
  uint8_t station;
  Bytes telegram;
};

class ResetTest : public AccessTest,
                  public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetTest, SendsOneTelegramWithoutPurgeOrReply) {
  const ResetCase& c = GetParam();
  port().QueueReply(Short(c.station, 0x00));  // left on the line
  IoRequest request = Request({c.station, 0xF4, KAVI_GATE_8BIT});
  request.value = nullptr;  // a reset has no value

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), 0);

  EXPECT_EQ(Calls(port()), std::vector<PortCall>{PortCall::Write});
  EXPECT_EQ(port().Written(), std::vector<Bytes>{c.telegram});
  EXPECT_TRUE(Logged().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Stations, ResetTest,
    ::testing::Values(
        ResetCase{"Station01", 0x01, {0x10, 0x01, 0x09, 0x0A, 0x16}},
        ResetCase{"StationFF", 0xFF, {0x10, 0xFF, 0x09, 0x08, 0x16}}),
    CaseName<ResetCase>);

TEST_F(AccessTest, FailedResetIsNotRepeated) {
  port().writeFailures = {kPortSystemFailed, kPortSystemFailed};
  IoRequest request = Request({0x01, 0xF4, KAVI_GATE_8BIT});

  EXPECT_EQ(Call(KAVI_SINGLE_WRITE, &request), 2);

  EXPECT_EQ(Logged(),
            Join({{Exchange(kNoSend),
                   Exchange("KAVIR> ResetEquipment() error sending request")},
                  WriteFailed(0xF4)}));
  EXPECT_EQ(Calls(port()), std::vector<PortCall>{PortCall::Write});
}

}  // namespace
}  // namespace kavi::testing
