#include "access/read.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access_fixture.h"

namespace kavi::testing {
namespace {

constexpr const char* kReadRetry = "KAVIR> Read() error reading reply, retry ";
constexpr const char* kSendRetry =
    "KAVIR> Read() error sending request, retry ";
constexpr const char* kReadFailed = "KAVIR> Read() error reading reply";
constexpr const char* kReadInternal = "KAVIR> Read() Internal error";
constexpr const char* kStoreInternal =
    "KAVIR> StoreSingleData() Internal error";
constexpr const char* kNoSend = "KAVIR> SEND> Unable to send message.";
constexpr const char* kLongWrongLength =
    "KAVIR> ReceiveLongSet() wrong length reading";
constexpr const char* kLongTimeout = "KAVIR> ReceiveLongSet() timeout";
constexpr const char* kLongChecking =
    "KAVIR> ReceiveLongSet() error checking telegram";
constexpr const char* kLongNotReady =
    "KAVIR> ReceiveLongSet() error bit set : request disable, equipment not "
    "ready ";
constexpr const char* kLongAcknowledge =
    "KAVIR> ReceiveLongSet() error bit set : instruction acknowledgement ";
constexpr const char* kLongTransmission =
    "KAVIR> ReceiveLongSet() error bit set : transmission error ";
constexpr const char* kShortWrongLength =
    "KAVIR> ReceiveShortSet() wrong length reading";
constexpr const char* kStation0xFF =
    "KAVIR> SingleRead() Error: trying to read although PLC-Address is 0xFF";

std::vector<LogLine> ReadFailed(int32_t index) {
  return {Exchange("KAVIR> SingleRead() error while reading PI=" + Hex(index))};
}

// ---- One read of every kind
// --------------------------------------------------

struct ReadCase {
  std::string name;
  Var var;
  Bytes request;  // what goes on the line
  Bytes reply;
  int32_t slotOffset;  // 2: the 16-bit word, 0: the 32-bit word
  uint32_t stored;
};

class ReadKindTest : public AccessTest,
                     public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadKindTest, SendsTheRequestAndStoresTheValue) {
  const ReadCase& c = GetParam();
  port().QueueReply(c.reply);
  IoRequest request = Request(c.var);

  ASSERT_EQ(Call(KAVI_SINGLE_READ, &request), 0)
      << ::testing::PrintToString(Logged());

  EXPECT_EQ(port().Written(), std::vector<Bytes>{c.request});
  EXPECT_TRUE(Logged().empty()) << ::testing::PrintToString(Logged());
  if (c.slotOffset == 2) {
    EXPECT_EQ(Word(), c.stored);
    EXPECT_EQ(memory[0], kFill);
    EXPECT_EQ(memory[1], kFill);
  } else {
    EXPECT_EQ(Dword(), c.stored);
  }
  EXPECT_TRUE(UntouchedFrom(4));
}

// F0 0x1234, F1 0x5678, F2 0x9C, F3 0x4321.
const Bytes kCycleValues = {0x34, 0x12, 0x78, 0x56, 0x9C, 0x21, 0x43};

INSTANTIATE_TEST_SUITE_P(
    Kinds, ReadKindTest,
    ::testing::Values(
        ReadCase{"Param16Bit",
                 {0x01, 0x10, KAVI_GATE_16BIT},
                 {0x68, 0x06, 0x06, 0x68, 0x01, 0x89, 0x10, 0x01, 0x01, 0x00,
                  0x9C, 0x16},
                 {0x68, 0x08, 0x08, 0x68, 0x01, 0x00, 0x10, 0x01, 0x01, 0x00,
                  0x34, 0x12, 0x59, 0x16},
                 2,
                 0x1234},
        ReadCase{"Param16BitSignedStaysAsItCame",
                 {0x01, 0x10, KAVI_GATE_16BIT, 16, KAVI_TYPE_INT16},
                 ReadRequest(0x01, 0x10),
                 ParamReply(0x01, 0x00, 0x10, {0x85, 0x80}),
                 2,
                 0x8085},
        ReadCase{"Param8BitZeroExtended",
                 {0x01, 0x35, KAVI_GATE_8BIT},
                 {0x68, 0x03, 0x03, 0x68, 0x01, 0x89, 0x35, 0xBF, 0x16},
                 ParamReply(0x01, 0x00, 0x35, {0x85}),
                 2,
                 0x0085},
        ReadCase{"Param8BitSignExtended",
                 {0x01, 0x35, KAVI_GATE_8BIT, 16, KAVI_TYPE_INT16},
                 ReadRequest(0x01, 0x35),
                 ParamReply(0x01, 0x00, 0x35, {0x85}),
                 2,
                 0xFF85},
        ReadCase{"Param8BitSignedPositive",
                 {0x01, 0x35, KAVI_GATE_8BIT, 16, KAVI_TYPE_INT16},
                 ReadRequest(0x01, 0x35),
                 ParamReply(0x01, 0x00, 0x35, {0x7F}),
                 2,
                 0x007F},
        ReadCase{"Param8BitWithExtensionFromByte10",
                 {0x02, 0x0D, KAVI_GATE_8BIT},
                 ReadRequest(0x02, 0x0D),
                 ParamReply(0x02, 0x00, 0x0D, {0xF0}),
                 2,
                 0x00F0},
        ReadCase{"Param16BitWithoutExtensionFromByte7",
                 {0x01, 0x33, KAVI_GATE_16BIT},
                 ReadRequest(0x01, 0x33),
                 ParamReply(0x01, 0x00, 0x33, {0xCD, 0xAB}),
                 2,
                 0xABCD},
        ReadCase{"Index45FromByte10",
                 {0x01, 0x45, KAVI_GATE_16BIT},
                 ReadRequest(0x01, 0x45),
                 ParamReply(0x01, 0x00, 0x45, {0x01, 0x02}),
                 2,
                 0x0201},
        ReadCase{"Index2FFromByte10",
                 {0x01, 0x2F, KAVI_GATE_16BIT},
                 ReadRequest(0x01, 0x2F),
                 ParamReply(0x01, 0x00, 0x2F, {0x03, 0x04}),
                 2,
                 0x0403},
        ReadCase{"Param32Bit",
                 {0x01, 0x21, KAVI_GATE_32BIT, 32, KAVI_TYPE_INT32},
                 ReadRequest(0x01, 0x21),
                 ParamReply(0x01, 0x00, 0x21, {0x40, 0xE2, 0x01, 0x00}),
                 0,
                 123456},
        ReadCase{"Param32BitWithoutExtension",
                 {0x01, 0x3A, KAVI_GATE_32BIT, 32, KAVI_TYPE_INT32},
                 ReadRequest(0x01, 0x3A),
                 ParamReply(0x01, 0x00, 0x3A, {0xFE, 0xFF, 0xFF, 0xFF}),
                 0,
                 0xFFFFFFFEu},
        ReadCase{"BitOf8BitSet", Bit(0x01, 0x35, KAVI_GATE_8BIT, 7),
                 ReadRequest(0x01, 0x35), ParamReply(0x01, 0x00, 0x35, {0x80}),
                 2, 1},
        ReadCase{"BitOf8BitClear", Bit(0x01, 0x35, KAVI_GATE_8BIT, 6),
                 ReadRequest(0x01, 0x35), ParamReply(0x01, 0x00, 0x35, {0xBF}),
                 2, 0},
        ReadCase{"BitOf16BitSet", Bit(0x01, 0x10, KAVI_GATE_16BIT, 9),
                 ReadRequest(0x01, 0x10),
                 ParamReply(0x01, 0x00, 0x10, {0x00, 0x02}), 2, 1},
        ReadCase{"BitOf16BitClear", Bit(0x01, 0x10, KAVI_GATE_16BIT, 8),
                 ReadRequest(0x01, 0x10),
                 ParamReply(0x01, 0x00, 0x10, {0x00, 0x02}), 2, 0},
        ReadCase{"BitOf32BitTop", Bit(0x01, 0x21, KAVI_GATE_32BIT, 31),
                 ReadRequest(0x01, 0x21),
                 ParamReply(0x01, 0x00, 0x21, {0x00, 0x00, 0x00, 0x80}), 0, 1},
        ReadCase{"BitOf32BitClear", Bit(0x01, 0x21, KAVI_GATE_32BIT, 0),
                 ReadRequest(0x01, 0x21),
                 ParamReply(0x01, 0x00, 0x21, {0xFE, 0xFF, 0xFF, 0xFF}), 0, 0},
        ReadCase{"CycleValueF0",
                 {0x0A, 0xF0, KAVI_GATE_16BIT, 16, KAVI_TYPE_INT16},
                 {0x10, 0x0A, 0x89, 0x93, 0x16},
                 CycleReply(0x0A, 0x00, kCycleValues),
                 2,
                 0x1234},
        ReadCase{"CycleValueF1",
                 {0x0A, 0xF1, KAVI_GATE_16BIT, 16, KAVI_TYPE_INT16},
                 Short(0x0A, 0x89),
                 CycleReply(0x0A, 0x00, kCycleValues),
                 2,
                 0x5678},
        ReadCase{"CycleValueF2OneByteSignExtended",
                 {0x0A, 0xF2, KAVI_GATE_8BIT, 16, KAVI_TYPE_INT16},
                 Short(0x0A, 0x89),
                 CycleReply(0x0A, 0x00, kCycleValues),
                 2,
                 0xFF9C},
        ReadCase{"CycleValueF3",
                 {0x0A, 0xF3, KAVI_GATE_16BIT, 16, KAVI_TYPE_INT16},
                 Short(0x0A, 0x89),
                 CycleReply(0x0A, 0x00, kCycleValues),
                 2,
                 0x4321},
        ReadCase{"StatusF5",
                 {0x05, 0xF5, KAVI_GATE_8BIT},
                 {0x10, 0x05, 0x29, 0x2E, 0x16},
                 Short(0x05, 0x00),
                 2,
                 0x0000},
        // The status byte is the value: its bits are not judged.
        ReadCase{"StatusF5NotReadyBitIsAValue",
                 {0x05, 0xF5, KAVI_GATE_8BIT},
                 Short(0x05, 0x29),
                 Short(0x05, 0x08),
                 2,
                 0x0008},
        ReadCase{"StatusF5AcknowledgeBitIsAValue",
                 {0x05, 0xF5, KAVI_GATE_8BIT},
                 Short(0x05, 0x29),
                 Short(0x05, 0x10),
                 2,
                 0x0010},
        ReadCase{"StatusF5TransmissionBitIsAValue",
                 {0x05, 0xF5, KAVI_GATE_8BIT},
                 Short(0x05, 0x29),
                 Short(0x05, 0x20),
                 2,
                 0x0020},
        ReadCase{"StatusF5ServiceRequestIsAValue",
                 {0x05, 0xF5, KAVI_GATE_8BIT},
                 Short(0x05, 0x29),
                 Short(0x05, 0x88),
                 2,
                 0x0088},
        ReadCase{"StatusF5Signed",
                 {0x05, 0xF5, KAVI_GATE_8BIT, 16, KAVI_TYPE_INT16},
                 Short(0x05, 0x29),
                 Short(0x05, 0x88),
                 2,
                 0xFF88},
        ReadCase{"StatusF5Bit", Bit(0x05, 0xF5, KAVI_GATE_8BIT, 3),
                 Short(0x05, 0x29), Short(0x05, 0x08), 2, 1}),
    CaseName<ReadCase>);

// ---- The block of cycle values
// -------------------------------------------------

struct BlockCase {
  std::string name;
  int32_t index;  // the same exchange for any of F0 to F3
  Bytes values;
  uint16_t stored[4];
};

class BlockReadTest : public AccessTest,
                      public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockReadTest, StoresFourWords) {
  const BlockCase& c = GetParam();
  port().QueueReply(CycleReply(0x01, 0x00, c.values));
  IoRequest request = Request({0x01, c.index, KAVI_GATE_16BIT});

  ASSERT_EQ(Call(KAVI_BLOCK_READ, &request), 0)
      << ::testing::PrintToString(Logged());

  EXPECT_EQ(port().Written(), std::vector<Bytes>{Short(0x01, 0x89)});
  EXPECT_TRUE(Logged().empty());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(BlockWord(i), c.stored[i]) << i;
  EXPECT_TRUE(UntouchedFrom(8));
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, BlockReadTest,
    ::testing::Values(BlockCase{"F2Negative",
                                0xF0,
                                kCycleValues,
                                {0x1234, 0x5678, 0xFF9C, 0x4321}},
                      BlockCase{"F2Positive",
                                0xF0,
                                {0xFF, 0xFF, 0x00, 0x80, 0x7F, 0x01, 0x00},
                                {0xFFFF, 0x8000, 0x007F, 0x0001}},
                      BlockCase{"BeginningAtF3",
                                0xF3,
                                kCycleValues,
                                {0x1234, 0x5678, 0xFF9C, 0x4321}}),
    CaseName<BlockCase>);

// The host's dataType has no say over F2 in a block.
TEST_F(AccessTest, BlockReadSignExtendsF2WhateverTheDataType) {
  port().QueueReply(CycleReply(0x01, 0x00, kCycleValues));
  IoRequest request = Request({0x01, 0xF0, KAVI_GATE_16BIT});
  request.dataType = KAVI_TYPE_UINT16;
  ASSERT_EQ(Call(KAVI_BLOCK_READ, &request), 0);
  EXPECT_EQ(BlockWord(2), 0xFF9C);
}

// ---- Refused before the line is touched
// ----------------------------------------

struct RefusalCase {
  std::string name;
  uint32_t command;
  Var var;
  std::vector<LogLine> log;
  int32_t result = 1;
  bool portOpen = true;
  bool nullValue = false;
};

class ReadRefusalTest : public AccessTest,
                        public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ReadRefusalTest, SendsNothingAndLeavesTheSlot) {
  const RefusalCase& c = GetParam();
  if (!c.portOpen) {
    ASSERT_EQ(ColdStartWithPort(false), 0);
  }
  IoRequest request = Request(c.var);
  if (c.nullValue) request.value = nullptr;

  EXPECT_EQ(Call(c.command, &request), c.result);

  EXPECT_EQ(Logged(), c.log);
  EXPECT_TRUE(port().events.empty());
  EXPECT_TRUE(Untouched());
}

const Var k10 = {0x01, 0x10, KAVI_GATE_16BIT};

INSTANTIATE_TEST_SUITE_P(
    Commands, ReadRefusalTest,
    ::testing::Values(
        RefusalCase{"SingleReadPortClosed",
                    KAVI_SINGLE_READ,
                    k10,
                    {Setup("KAVIR> SingleRead() com-port is not open")},
                    1,
                    false},
        RefusalCase{"BlockReadPortClosed",
                    KAVI_BLOCK_READ,
                    {0x01, 0xF0, KAVI_GATE_16BIT},
                    {Setup("KAVIR> BlockRead() com-port is not open")},
                    1,
                    false},
        RefusalCase{"SingleReadStationFF",
                    KAVI_SINGLE_READ,
                    {0xFF, 0x10, KAVI_GATE_16BIT},
                    {Setup(kStation0xFF)}},
        RefusalCase{"BlockReadStationFF",
                    KAVI_BLOCK_READ,
                    {0xFF, 0xF0, KAVI_GATE_16BIT},
                    {Setup(kStation0xFF)}},
        RefusalCase{
            "ResetIsNotRead",
            KAVI_SINGLE_READ,
            {0x01, 0xF4, KAVI_GATE_8BIT},
            {Exchange("KAVIR> Single Read() Warning:Try to read reset")},
            0},
        RefusalCase{"BlockOfReset",
                    KAVI_BLOCK_READ,
                    {0x01, 0xF4, KAVI_GATE_16BIT},
                    {Exchange("KAVIR> BlockRead() Internal error")}},
        RefusalCase{"BlockOfStatus",
                    KAVI_BLOCK_READ,
                    {0x01, 0xF5, KAVI_GATE_16BIT},
                    {Exchange("KAVIR> BlockRead() Internal error")}},
        RefusalCase{"BlockOfParameter",
                    KAVI_BLOCK_READ,
                    k10,
                    {Exchange("KAVIR> BlockRead() Internal error")}},
        RefusalCase{"BlockWithoutSlot",
                    KAVI_BLOCK_READ,
                    {0x01, 0xF0, KAVI_GATE_16BIT},
                    {Exchange(kReadInternal)},
                    1,
                    true,
                    true}),
    CaseName<RefusalCase>);

// What the parser never produces: refused, the read's summary after it.
INSTANTIATE_TEST_SUITE_P(
    HostInput, ReadRefusalTest,
    ::testing::Values(
        RefusalCase{"NoSlot",
                    KAVI_SINGLE_READ,
                    k10,
                    {Exchange(kReadInternal), ReadFailed(0x10)[0]},
                    1,
                    true,
                    true},
        RefusalCase{"Bit8Of8Bit",
                    KAVI_SINGLE_READ,
                    Bit(0x01, 0x35, KAVI_GATE_8BIT, 8),
                    {Exchange(kStoreInternal), ReadFailed(0x35)[0]}},
        RefusalCase{"Bit16Of16Bit",
                    KAVI_SINGLE_READ,
                    Bit(0x01, 0x10, KAVI_GATE_16BIT, 16),
                    {Exchange(kStoreInternal), ReadFailed(0x10)[0]}},
        RefusalCase{"Bit32Of32Bit",
                    KAVI_SINGLE_READ,
                    Bit(0x01, 0x21, KAVI_GATE_32BIT, 32),
                    {Exchange(kStoreInternal), ReadFailed(0x21)[0]}},
        RefusalCase{"BitMinusOne",
                    KAVI_SINGLE_READ,
                    Bit(0x01, 0x10, KAVI_GATE_16BIT, -1),
                    {Exchange(kStoreInternal), ReadFailed(0x10)[0]}},
        RefusalCase{"BitOfNoGate",
                    KAVI_SINGLE_READ,
                    Bit(0x01, 0x10, KAVI_GATE_NONE, 0),
                    {Exchange(kStoreInternal), ReadFailed(0x10)[0]}},
        RefusalCase{"ValueBits8",
                    KAVI_SINGLE_READ,
                    {0x01, 0x10, KAVI_GATE_16BIT, 8},
                    {Exchange(kStoreInternal), ReadFailed(0x10)[0]}},
        RefusalCase{"ValueBits0",
                    KAVI_SINGLE_READ,
                    {0x01, 0x10, KAVI_GATE_16BIT, 0},
                    {Exchange(kStoreInternal), ReadFailed(0x10)[0]}},
        RefusalCase{"GateWidth0",
                    KAVI_SINGLE_READ,
                    {0x01, 0x10, KAVI_GATE_NONE},
                    {Exchange(kStoreInternal), ReadFailed(0x10)[0]}},
        RefusalCase{"GateWidth4",
                    KAVI_SINGLE_READ,
                    {0x01, 0x10, 4},
                    {Exchange(kStoreInternal), ReadFailed(0x10)[0]}},
        RefusalCase{"Value16BitsOf32BitGate",
                    KAVI_SINGLE_READ,
                    {0x01, 0x21, KAVI_GATE_32BIT},
                    {Exchange(kStoreInternal), ReadFailed(0x21)[0]}},
        RefusalCase{"Value32BitsOf16BitGate",
                    KAVI_SINGLE_READ,
                    {0x01, 0x10, KAVI_GATE_16BIT, 32, KAVI_TYPE_INT32},
                    {Exchange(kStoreInternal), ReadFailed(0x10)[0]}},
        RefusalCase{"StatusAs16Bits",
                    KAVI_SINGLE_READ,
                    {0x05, 0xF5, KAVI_GATE_16BIT},
                    {Exchange(kReadInternal), ReadFailed(0xF5)[0]}},
        RefusalCase{"F2As16Bits",
                    KAVI_SINGLE_READ,
                    {0x01, 0xF2, KAVI_GATE_16BIT, 16, KAVI_TYPE_INT16},
                    {Exchange(kReadInternal), ReadFailed(0xF2)[0]}},
        RefusalCase{"F0As8Bits",
                    KAVI_SINGLE_READ,
                    {0x01, 0xF0, KAVI_GATE_8BIT, 16, KAVI_TYPE_INT16},
                    {Exchange(kReadInternal), ReadFailed(0xF0)[0]}}),
    CaseName<RefusalCase>);

// ---- Attempts
// ------------------------------------------------------------------

struct AttemptsCase {
  std::string name;
  std::vector<Attempt> attempts;
  int32_t result;
  std::vector<LogLine> log;
};

// The messages of the attempt numbered n, by what it met.
std::vector<LogLine> SendFailed(int n) {
  return {Exchange(kNoSend), Exchange(Numbered(kSendRetry, n))};
}
std::vector<LogLine> Retry(const char* receiver, int n) {
  return {Exchange(receiver), Exchange(Numbered(kReadRetry, n))};
}
std::vector<LogLine> NoReply(int n) { return Retry(kLongWrongLength, n); }

class ReadAttemptsTest : public AccessTest,
                         public ::testing::WithParamInterface<AttemptsCase> {};

// A 16-bit parameter: PI 0x12 of station 1, value 0x1234.
TEST_P(ReadAttemptsTest, RetriesAsLongAsItMakesSense) {
  const AttemptsCase& c = GetParam();
  const auto reply = [](uint8_t status) {
    return ParamReply(0x01, status, 0x12, {0x34, 0x12});
  };
  Script(c.attempts, reply(0x00), reply(0x10), reply(0x20), reply(0x08));
  IoRequest request = Request({0x01, 0x12, KAVI_GATE_16BIT});

  EXPECT_EQ(Call(KAVI_SINGLE_READ, &request), c.result);

  EXPECT_EQ(Logged(), c.log);
  // The same request in every attempt, the input purged before each send.
  const std::vector<Bytes> sent(c.attempts.size(), ReadRequest(0x01, 0x12));
  EXPECT_EQ(port().Written(), sent);
  std::vector<PortCall> purgeThenWrite;
  for (const PortCall call : Calls(port())) {
    if (call != PortCall::Read) purgeThenWrite.push_back(call);
  }
  std::vector<PortCall> expected;
  for (size_t i = 0; i < c.attempts.size(); ++i) {
    expected.insert(expected.end(), {PortCall::Purge, PortCall::Write});
  }
  EXPECT_EQ(purgeThenWrite, expected);
  if (c.result == 0) {
    EXPECT_EQ(Word(), 0x1234);
    EXPECT_EQ(memory[0], kFill);
    EXPECT_EQ(memory[1], kFill);
    EXPECT_TRUE(UntouchedFrom(4));
  } else {
    EXPECT_TRUE(Untouched());
  }
}

using A = Attempt;

INSTANTIATE_TEST_SUITE_P(
    Table, ReadAttemptsTest,
    ::testing::Values(
        AttemptsCase{"FirstAttempt", {A::Good}, 0, {}},
        AttemptsCase{
            "SendFailsThenGood", {A::SendFails, A::Good}, 0, SendFailed(1)},
        AttemptsCase{"ReadCallFailsThenGood",
                     {A::ReadFails, A::Good},
                     0,
                     Retry(kLongTimeout, 1)},
        AttemptsCase{
            "FourFailuresThenGood",
            {A::Silent, A::BadChecksum, A::Acknowledge, A::Transmission,
             A::Good},
            0,
            Join({NoReply(1), Retry(kLongChecking, 2),
                  Retry(kLongAcknowledge, 3), Retry(kLongTransmission, 4)})},
        AttemptsCase{"SilentController",
                     {A::Silent, A::Silent, A::Silent, A::Silent, A::Silent},
                     2,
                     Join({NoReply(1), NoReply(2), NoReply(3), NoReply(4),
                           NoReply(5), ReadFailed(0x12)})},
        AttemptsCase{"SendNeverWorks",
                     {A::SendFails, A::SendFails, A::SendFails, A::SendFails,
                      A::SendFails},
                     2,
                     Join({SendFailed(1), SendFailed(2), SendFailed(3),
                           SendFailed(4), SendFailed(5), ReadFailed(0x12)})},
        AttemptsCase{"MixedFailuresAllFive",
                     {A::SendFails, A::Silent, A::SendFails, A::BadChecksum,
                      A::Acknowledge},
                     2,
                     Join({SendFailed(1), NoReply(2), SendFailed(3),
                           Retry(kLongChecking, 4), Retry(kLongAcknowledge, 5),
                           ReadFailed(0x12)})},
        AttemptsCase{"NotReadyEndsAtOnce",
                     {A::NotReady},
                     1,
                     Join({{Exchange(kLongNotReady), Exchange(kReadFailed)},
                           ReadFailed(0x12)})},
        AttemptsCase{"NotReadyAfterRetries",
                     {A::Silent, A::SendFails, A::NotReady},
                     1,
                     Join({NoReply(1),
                           SendFailed(2),
                           {Exchange(kLongNotReady), Exchange(kReadFailed)},
                           ReadFailed(0x12)})},
        AttemptsCase{"GoodInTheLastAttempt",
                     {A::Silent, A::Silent, A::Silent, A::Silent, A::Good},
                     0,
                     Join({NoReply(1), NoReply(2), NoReply(3), NoReply(4)})}),
    CaseName<AttemptsCase>);

// Per attempt on the port layer: one purge, one write, two reads.
TEST_F(AccessTest, SixteenBitReadMakesOnePurgeOneWriteTwoReadsPerAttempt) {
  const Bytes good = ParamReply(0x01, 0x00, 0x10, {0x34, 0x12});
  Script({A::BadChecksum, A::Acknowledge, A::Good}, good,
         ParamReply(0x01, 0x10, 0x10, {0x34, 0x12}), good, good);
  IoRequest request = Request(k10);

  ASSERT_EQ(Call(KAVI_SINGLE_READ, &request), 0);

  std::vector<PortCall> expected;
  for (int i = 0; i < 3; ++i) {
    expected.insert(expected.end(), {PortCall::Purge, PortCall::Write,
                                     PortCall::Read, PortCall::Read});
  }
  EXPECT_EQ(Calls(port()), expected);
  for (const PortEvent& event : port().events) {
    EXPECT_EQ(event.handle, block.portHandle);
  }
}

// The status read uses the short receiver; a silent one still retries.
TEST_F(AccessTest, SilentStatusReadRetriesWithTheShortReceiver) {
  IoRequest request = Request({0x05, 0xF5, KAVI_GATE_8BIT});
  ASSERT_EQ(Call(KAVI_SINGLE_READ, &request), 2);
  std::vector<LogLine> expected;
  for (int n = 1; n <= 5; ++n) {
    const auto lines = Retry(kShortWrongLength, n);
    expected.insert(expected.end(), lines.begin(), lines.end());
  }
  expected.push_back(ReadFailed(0xF5)[0]);
  EXPECT_EQ(Logged(), expected);
  EXPECT_EQ(port().Written(), std::vector<Bytes>(5, Short(0x05, 0x29)));
  EXPECT_TRUE(Untouched());
}

// A cycle value refused by the controller: exactly one request.
TEST_F(AccessTest, CycleValueNotReadyEndsAfterOneRequest) {
  port().QueueReply(CycleReply(0x01, 0x08, kCycleValues));
  IoRequest request = Request({0x01, 0xF1, KAVI_GATE_16BIT, 16, 1});
  EXPECT_EQ(Call(KAVI_SINGLE_READ, &request), 1);
  EXPECT_EQ(Logged(), Join({{Exchange(kLongNotReady), Exchange(kReadFailed)},
                            ReadFailed(0xF1)}));
  EXPECT_EQ(port().Written().size(), 1u);
  EXPECT_TRUE(Untouched());
}

// BlockRead has no summary of its own.
TEST_F(AccessTest, SilentBlockReadLogsOnlyTheAttempts) {
  IoRequest request = Request({0x01, 0xF0, KAVI_GATE_16BIT});
  ASSERT_EQ(Call(KAVI_BLOCK_READ, &request), 2);
  EXPECT_EQ(Logged(),
            Join({NoReply(1), NoReply(2), NoReply(3), NoReply(4), NoReply(5)}));
  EXPECT_TRUE(Untouched());
}

// ---- The stores on their own
// ---------------------------------------------------

struct StoreRefusalCase {
  std::string name;
  Var var;
  int32_t position;
  bool nullValue = false;
};

class StoreRefusalTest
    : public AccessTest,
      public ::testing::WithParamInterface<StoreRefusalCase> {};

TEST_P(StoreRefusalTest, StoresNothing) {
  const StoreRefusalCase& c = GetParam();
  IoRequest request = Request(c.var);
  if (c.nullValue) request.value = nullptr;
  EXPECT_EQ(StoreSingleData(request, block.rxBuffer, c.position), 1);
  EXPECT_EQ(Logged(), std::vector<LogLine>{Exchange(kStoreInternal)});
  EXPECT_TRUE(Untouched());
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoreRefusalTest,
    ::testing::Values(
        StoreRefusalCase{"ValueBits2", {1, 0x10, KAVI_GATE_16BIT, 2}, 10},
        StoreRefusalCase{"BitOfGateWidth5", Bit(1, 0x10, 5, 0), 10},
        StoreRefusalCase{"BitBeyondWidth", Bit(1, 0x10, KAVI_GATE_8BIT, 8), 10},
        StoreRefusalCase{"NoSlot", {1, 0x10, KAVI_GATE_16BIT}, 10, true},
        StoreRefusalCase{"NegativePosition", {1, 0x10, KAVI_GATE_16BIT}, -1},
        StoreRefusalCase{"PastTheBuffer",
                         {1, 0x21, KAVI_GATE_32BIT, 32, KAVI_TYPE_INT32},
                         KAVI_RX_BUFFER_SIZE - 3}),
    CaseName<StoreRefusalCase>);

TEST_F(AccessTest, StoreSingleDataTakesTheLastBytesOfTheBuffer) {
  IoRequest request = Request({1, 0x21, KAVI_GATE_32BIT, 32, KAVI_TYPE_INT32});
  const uint8_t last[4] = {0x78, 0x56, 0x34, 0x12};
  std::memcpy(&block.rxBuffer[KAVI_RX_BUFFER_SIZE - 4], last, 4);
  EXPECT_EQ(StoreSingleData(request, block.rxBuffer, KAVI_RX_BUFFER_SIZE - 4),
            0);
  EXPECT_EQ(Dword(), 0x12345678u);
}

TEST_F(AccessTest, StoreBlockDataRefusesWhatDoesNotFit) {
  IoRequest request = Request({1, 0xF0, KAVI_GATE_16BIT});
  EXPECT_EQ(StoreBlockData(request, block.rxBuffer, KAVI_RX_BUFFER_SIZE - 6),
            1);
  request.value = nullptr;
  EXPECT_EQ(StoreBlockData(request, block.rxBuffer, 6), 1);
  EXPECT_EQ(Logged(),
            std::vector<LogLine>(
                2, Exchange("KAVIR> StoreBlockData() Internal error")));
  EXPECT_TRUE(Untouched());
}

// Read itself, for the combinations the commands never pass it.
TEST_F(AccessTest, ReadRefusesAKindItDoesNotKnow) {
  IoRequest request = Request(k10);
  CallBlock call{};
  call.instance = &block;
  call.params = &request;
  EXPECT_EQ(Read(&call, static_cast<ReadKind>(4)), 1);
  EXPECT_EQ(Read(&call, ReadKind::CycleValue), 1);  // PI 0x10 is no cycle value
  EXPECT_EQ(Logged(), std::vector<LogLine>(2, Exchange(kReadInternal)));
  EXPECT_TRUE(port().events.empty());
  EXPECT_TRUE(Untouched());
}

}  // namespace
}  // namespace kavi::testing
