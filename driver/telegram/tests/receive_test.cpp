#include "telegram/receive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "telegram_fixture.h"

namespace kavi::testing {
namespace {

using ::kavi::testing::PrintTo;

constexpr const char* kLongTimeout = "KAVIR> ReceiveLongSet() timeout";
constexpr const char* kLongWrongLength =
    "KAVIR> ReceiveLongSet() wrong length reading";
constexpr const char* kLongWrongStart =
    "KAVIR> ReceiveLongSet() received wrong start character";
constexpr const char* kLongChecking =
    "KAVIR> ReceiveLongSet() error checking telegram";
constexpr const char* kLongNotReady =
    "KAVIR> ReceiveLongSet() error bit set : request disable, equipment not "
    "ready ";
constexpr const char* kLongAcknowledge =
    "KAVIR> ReceiveLongSet() error bit set : instruction acknowledgement ";
constexpr const char* kLongTransmission =
    "KAVIR> ReceiveLongSet() error bit set : transmission error ";
constexpr const char* kLongInternal = "KAVIR> ReceiveLongSet() Internal error";
constexpr const char* kLongValueRanges =
    "KAVIR> ReceiveLongSet() error, perhaps wrong value ranges";

constexpr const char* kShortTimeout = "KAVIR> ReceiveShortSet() timeout";
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
constexpr const char* kShortServiceRequest =
    "KAVIR> ReceiveShortSet() warning: error bit set : Sevice request ";

// The variables of the tables.
const IoRequest k10 = Variable(0x01, 0x10, KAVI_GATE_16BIT);
const IoRequest k35 = Variable(0x01, 0x35, KAVI_GATE_8BIT);
const IoRequest kF5 = Variable(0x05, 0xF5, KAVI_GATE_8BIT);

// The reply to a 16-bit read of 0x10 from station 1 with a status byte.
Bytes Reply10(uint8_t status) {
  return Long({0x01, status, 0x10, 0x01, 0x01, 0x00, 0x34, 0x12});
}
const Bytes kGood10 = Reply10(0x00);
const Bytes kCycleValues =
    Long({0x0A, 0x00, 0x10, 0x01, 0x20, 0x02, 0x33, 0x40, 0x04});

TEST(ReplyHelperTest, WritesTheKnownReply) {
  EXPECT_EQ(kGood10, (Bytes{0x68, 0x08, 0x08, 0x68, 0x01, 0x00, 0x10, 0x01,
                            0x01, 0x00, 0x34, 0x12, 0x59, 0x16}));
}

struct ReplyCase {
  std::string name;
  IoRequest request;
  Bytes line;  // what the controller sent
  int32_t result;
  std::vector<const char*> messages;
  size_t bytesRead;
  std::vector<uint32_t> reads;  // counts asked of the port, in order
  bool readFails = false;       // the port's read call fails
};

class ReceiverTest : public TelegramTest,
                     public ::testing::WithParamInterface<ReplyCase> {
 protected:
  void Check(int32_t (*receiver)(const IoRequest&, const InstanceBlock&,
                                 ReplyBuffer&)) {
    const ReplyCase& c = GetParam();
    port().QueueInput(c.line);
    if (c.readFails) port().readFailures.push_back(kPortSystemFailed);

    EXPECT_EQ(receiver(c.request, block, block.rxBuffer), c.result);

    std::vector<LogLine> expected;
    for (const char* text : c.messages) expected.push_back({8, text});
    EXPECT_EQ(Logged(), expected);

    std::vector<uint32_t> asked;
    for (const PortEvent& event : port().events) {
      EXPECT_EQ(event.call, PortCall::Read);
      EXPECT_EQ(event.handle, kHandle);
      asked.push_back(event.count);
    }
    EXPECT_EQ(asked, c.reads);
    ASSERT_EQ(ReadOffLine().size(), c.bytesRead);
    EXPECT_EQ(port().Input().size(), c.line.size() - c.bytesRead);

    // What came stays in the buffer; nothing else of it is touched.
    const Bytes kept(block.rxBuffer, block.rxBuffer + c.bytesRead);
    EXPECT_EQ(kept,
              Bytes(c.line.begin(),
                    c.line.begin() + static_cast<std::ptrdiff_t>(c.bytesRead)));
    EXPECT_TRUE(std::all_of(block.rxBuffer + c.bytesRead,
                            std::end(block.rxBuffer),
                            [](uint8_t byte) { return byte == 0xA5; }));
  }
};

std::string CaseName(const ::testing::TestParamInfo<ReplyCase>& info) {
  return info.param.name;
}

// ---- ReceiveLongSet ---------------------------------------------------------

class ReceiveLongSetTest : public ReceiverTest {};

TEST_P(ReceiveLongSetTest, ChecksTheReply) { Check(&ReceiveLongSet); }

INSTANTIATE_TEST_SUITE_P(
    Accepted, ReceiveLongSetTest,
    ::testing::Values(
        ReplyCase{"Param16BitWithExtension", k10, kGood10, 0, {}, 14, {1, 13}},
        ReplyCase{"Param8BitWithoutExtension",
                  k35,
                  Long({0x01, 0x00, 0x35, 0x7F}),
                  0,
                  {},
                  10,
                  {1, 9}},
        ReplyCase{"Param16BitWithoutExtension",
                  Variable(0x01, 0x33, KAVI_GATE_16BIT),
                  Long({0x01, 0x00, 0x33, 0xCD, 0xAB}),
                  0,
                  {},
                  11,
                  {1, 10}},
        ReplyCase{"Param32BitWithoutExtension",
                  Variable(0x01, 0x3A, KAVI_GATE_32BIT),
                  Long({0x01, 0x00, 0x3A, 0x01, 0x02, 0x03, 0x04}),
                  0,
                  {},
                  13,
                  {1, 12}},
        ReplyCase{"Param8BitWithExtension",
                  Variable(0x02, 0x0D, KAVI_GATE_8BIT),
                  Long({0x02, 0x00, 0x0D, 0x01, 0x01, 0x00, 0x05}),
                  0,
                  {},
                  13,
                  {1, 12}},
        ReplyCase{
            "Param32BitWithExtension",
            Variable(0x01, 0x21, KAVI_GATE_32BIT),
            Long({0x01, 0x00, 0x21, 0x01, 0x01, 0x00, 0x78, 0x56, 0x34, 0x12}),
            0,
            {},
            16,
            {1, 15}},
        ReplyCase{"ChecksumWraps",
                  Variable(0xFA, 0xE0, KAVI_GATE_16BIT),
                  Long({0xFA, 0x00, 0xE0, 0x01, 0x01, 0x00, 0xFF, 0xFF}),
                  0,
                  {},
                  14,
                  {1, 13}},
        ReplyCase{"CycleValuesF2",
                  Variable(0x0A, 0xF2, KAVI_GATE_8BIT),
                  kCycleValues,
                  0,
                  {},
                  15,
                  {1, 14}},
        ReplyCase{"CycleValuesWhateverTheGateWidth",
                  Variable(0x0A, 0xF0, KAVI_GATE_NONE),
                  kCycleValues,
                  0,
                  {},
                  15,
                  {1, 14}},
        ReplyCase{"CycleValuesF3With32BitWidth",
                  Variable(0x0A, 0xF3, KAVI_GATE_32BIT),
                  kCycleValues,
                  0,
                  {},
                  15,
                  {1, 14}},
        ReplyCase{"ServiceRequestBitIsNotTested",
                  k10,
                  Reply10(0x80),
                  0,
                  {},
                  14,
                  {1, 13}},
        ReplyCase{"UntestedBits", k10, Reply10(0x47), 0, {}, 14, {1, 13}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    LineFaults, ReceiveLongSetTest,
    ::testing::Values(
        ReplyCase{"Silent", k10, {}, 1, {kLongWrongLength}, 0, {1}},
        ReplyCase{
            "ReadCallFails", k10, kGood10, 1, {kLongTimeout}, 0, {1}, true},
        ReplyCase{"Partial",
                  k10,
                  Bytes(kGood10.begin(), kGood10.begin() + 5),
                  1,
                  {kLongWrongLength},
                  5,
                  {1, 13}},
        ReplyCase{"AllButTheEndByte",
                  k10,
                  Bytes(kGood10.begin(), kGood10.end() - 1),
                  1,
                  {kLongWrongLength},
                  13,
                  {1, 13}},
        ReplyCase{"WrongStart",
                  k10,
                  With(kGood10, 0, 0x67),
                  1,
                  {kLongWrongStart},
                  1,
                  {1}},
        ReplyCase{"GarbageBeforeTheReply",
                  k10,
                  Concat({0x00}, kGood10),
                  1,
                  {kLongWrongStart},
                  1,
                  {1}},
        ReplyCase{"WrongSecondStart",
                  k10,
                  With(kGood10, 3, 0x69),
                  1,
                  {kLongWrongLength},
                  14,
                  {1, 13}},
        ReplyCase{
            "LargerLAnnounced",
            k10,
            Long({0x01, 0x00, 0x10, 0x01, 0x01, 0x00, 0x34, 0x12, 0x56, 0x78}),
            1,
            {kLongChecking},
            14,
            {1, 13}},
        ReplyCase{"SmallerLAnnounced",
                  k10,
                  Long({0x01, 0x00, 0x10, 0x01, 0x01, 0x00, 0x34}),
                  1,
                  {kLongWrongLength},
                  13,
                  {1, 13}},
        ReplyCase{"FirstLengthByteWrong",
                  k10,
                  With(kGood10, 1, 0x09),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}},
        ReplyCase{"SecondLengthByteWrong",
                  k10,
                  With(kGood10, 2, 0x09),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}},
        ReplyCase{"ExtensionBytesInAReplyWithoutThem",
                  k35,
                  Long({0x01, 0x00, 0x35, 0x01, 0x01, 0x00, 0x7F}),
                  1,
                  {kLongChecking},
                  10,
                  {1, 9}},
        ReplyCase{"WrongStation",
                  k10,
                  Long({0x02, 0x00, 0x10, 0x01, 0x01, 0x00, 0x34, 0x12}),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}},
        ReplyCase{"WrongStationOfCycleValues",
                  Variable(0x0B, 0xF0, KAVI_GATE_16BIT),
                  kCycleValues,
                  1,
                  {kLongChecking},
                  15,
                  {1, 14}},
        ReplyCase{"WrongEcho",
                  k10,
                  Long({0x01, 0x00, 0x11, 0x01, 0x01, 0x00, 0x34, 0x12}),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}},
        ReplyCase{"WrongEchoWithoutExtension",
                  k35,
                  Long({0x01, 0x00, 0x36, 0x7F}),
                  1,
                  {kLongChecking},
                  10,
                  {1, 9}},
        ReplyCase{"Extension010101",
                  k10,
                  Long({0x01, 0x00, 0x10, 0x01, 0x01, 0x01, 0x34, 0x12}),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}},
        ReplyCase{"Extension000100",
                  k10,
                  Long({0x01, 0x00, 0x10, 0x00, 0x01, 0x00, 0x34, 0x12}),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}},
        ReplyCase{"Extension010000",
                  k10,
                  Long({0x01, 0x00, 0x10, 0x01, 0x00, 0x00, 0x34, 0x12}),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}},
        ReplyCase{"WrongChecksum",
                  k10,
                  With(kGood10, 12, 0x5A),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}},
        ReplyCase{"WrongChecksumOfCycleValues",
                  Variable(0x0A, 0xF1, KAVI_GATE_16BIT),
                  With(kCycleValues, 13, 0x00),
                  1,
                  {kLongChecking},
                  15,
                  {1, 14}},
        ReplyCase{"WrongEndByte",
                  k10,
                  With(kGood10, 13, 0x17),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    StatusBits, ReceiveLongSetTest,
    ::testing::Values(
        ReplyCase{
            "NotReady08", k10, Reply10(0x08), 2, {kLongNotReady}, 14, {1, 13}},
        ReplyCase{"Acknowledge10",
                  k10,
                  Reply10(0x10),
                  1,
                  {kLongAcknowledge},
                  14,
                  {1, 13}},
        ReplyCase{"Transmission20",
                  k10,
                  Reply10(0x20),
                  1,
                  {kLongTransmission},
                  14,
                  {1, 13}},
        ReplyCase{"NotReadyBeforeAcknowledge18",
                  k10,
                  Reply10(0x18),
                  2,
                  {kLongNotReady},
                  14,
                  {1, 13}},
        ReplyCase{"NotReadyBeforeTransmission28",
                  k10,
                  Reply10(0x28),
                  2,
                  {kLongNotReady},
                  14,
                  {1, 13}},
        ReplyCase{"AcknowledgeBeforeTransmission30",
                  k10,
                  Reply10(0x30),
                  1,
                  {kLongAcknowledge},
                  14,
                  {1, 13}},
        ReplyCase{
            "AllThree38", k10, Reply10(0x38), 2, {kLongNotReady}, 14, {1, 13}},
        ReplyCase{"NotReadyWithServiceRequest88",
                  k10,
                  Reply10(0x88),
                  2,
                  {kLongNotReady},
                  14,
                  {1, 13}},
        ReplyCase{"TransmissionWithServiceRequestA0",
                  k10,
                  Reply10(0xA0),
                  1,
                  {kLongTransmission},
                  14,
                  {1, 13}},
        ReplyCase{"NotReadyInCycleValues",
                  Variable(0x0A, 0xF0, KAVI_GATE_16BIT),
                  With(With(kCycleValues, 5, 0x08), 13,
                       static_cast<uint8_t>(kCycleValues[13] + 0x08)),
                  2,
                  {kLongNotReady},
                  15,
                  {1, 14}},
        // The status is looked at before echo, extension bytes and checksum.
        ReplyCase{"NotReadyWithWrongChecksum",
                  k10,
                  With(Reply10(0x08), 12, 0x00),
                  2,
                  {kLongNotReady},
                  14,
                  {1, 13}},
        ReplyCase{"NotReadyWithWrongEcho",
                  k10,
                  Long({0x01, 0x08, 0x11, 0x01, 0x01, 0x00, 0x34, 0x12}),
                  2,
                  {kLongNotReady},
                  14,
                  {1, 13}},
        ReplyCase{"AcknowledgeWithWrongExtension",
                  k10,
                  Long({0x01, 0x10, 0x10, 0x01, 0x01, 0x01, 0x34, 0x12}),
                  1,
                  {kLongAcknowledge},
                  14,
                  {1, 13}},
        // ... but after the frame, the length bytes and the station.
        ReplyCase{"NotReadyFromAnotherStation",
                  k10,
                  Long({0x02, 0x08, 0x10, 0x01, 0x01, 0x00, 0x34, 0x12}),
                  1,
                  {kLongChecking},
                  14,
                  {1, 13}},
        ReplyCase{"NotReadyWithWrongSecondStart",
                  k10,
                  With(Reply10(0x08), 3, 0x00),
                  1,
                  {kLongWrongLength},
                  14,
                  {1, 13}}),
    CaseName);

// A short telegram where a long one was due: two more bytes are read, the
// station is not compared, and the checksum and end byte stay on the line.
INSTANTIATE_TEST_SUITE_P(
    ShortTelegram, ReceiveLongSetTest,
    ::testing::Values(
        ReplyCase{"Status00",
                  k10,
                  Short(0x01, 0x00),
                  1,
                  {kLongWrongStart},
                  3,
                  {1, 2}},
        ReplyCase{"Status20",
                  k10,
                  Short(0x01, 0x20),
                  1,
                  {kLongInternal, kLongWrongStart},
                  3,
                  {1, 2}},
        ReplyCase{"Status80",
                  k10,
                  Short(0x01, 0x80),
                  1,
                  {kLongValueRanges, kLongWrongStart},
                  3,
                  {1, 2}},
        ReplyCase{"StatusA0",
                  k10,
                  Short(0x01, 0xA0),
                  1,
                  {kLongInternal, kLongValueRanges, kLongWrongStart},
                  3,
                  {1, 2}},
        ReplyCase{"Status08IsNotTested",
                  k10,
                  Short(0x01, 0x08),
                  1,
                  {kLongWrongStart},
                  3,
                  {1, 2}},
        ReplyCase{"Status10IsNotTested",
                  k10,
                  Short(0x01, 0x10),
                  1,
                  {kLongWrongStart},
                  3,
                  {1, 2}},
        ReplyCase{"StatusFF",
                  k10,
                  Short(0x01, 0xFF),
                  1,
                  {kLongInternal, kLongValueRanges, kLongWrongStart},
                  3,
                  {1, 2}},
        ReplyCase{"FromAnotherStation",
                  k10,
                  Short(0x07, 0x80),
                  1,
                  {kLongValueRanges, kLongWrongStart},
                  3,
                  {1, 2}},
        ReplyCase{"ToACycleValueRead",
                  Variable(0x0A, 0xF0, KAVI_GATE_16BIT),
                  Short(0x0A, 0xA0),
                  1,
                  {kLongInternal, kLongValueRanges, kLongWrongStart},
                  3,
                  {1, 2}},
        ReplyCase{
            "Truncated", k10, {0x10, 0x01}, 1, {kLongWrongLength}, 2, {1, 2}},
        ReplyCase{
            "StartByteOnly", k10, {0x10}, 1, {kLongWrongLength}, 1, {1, 2}}),
    CaseName);

// Nothing is read when the reply's length cannot be worked out.
INSTANTIATE_TEST_SUITE_P(
    NoGateWidth, ReceiveLongSetTest,
    ::testing::Values(ReplyCase{"Width0",
                                Variable(0x01, 0x10, KAVI_GATE_NONE),
                                kGood10,
                                2,
                                {kLongInternal},
                                0,
                                {}},
                      ReplyCase{"Width4",
                                Variable(0x01, 0x10, 4),
                                kGood10,
                                2,
                                {kLongInternal},
                                0,
                                {}},
                      ReplyCase{"WidthNegative",
                                Variable(0x01, 0x10, -1),
                                kGood10,
                                2,
                                {kLongInternal},
                                0,
                                {}},
                      ReplyCase{"Width0Index35",
                                Variable(0x01, 0x35, KAVI_GATE_NONE),
                                kGood10,
                                2,
                                {kLongInternal},
                                0,
                                {}},
                      ReplyCase{"Width0IndexF5",
                                Variable(0x01, 0xF5, KAVI_GATE_NONE),
                                kGood10,
                                2,
                                {kLongInternal},
                                0,
                                {}}),
    CaseName);

// ---- ReceiveShortSet --------------------------------------------------------

class ReceiveShortSetTest : public ReceiverTest {};

TEST_P(ReceiveShortSetTest, ChecksTheReply) { Check(&ReceiveShortSet); }

INSTANTIATE_TEST_SUITE_P(
    Accepted, ReceiveShortSetTest,
    ::testing::Values(
        ReplyCase{"WriteAcknowledged", k10, Short(0x01, 0x00), 0, {}, 5, {5}},
        ReplyCase{"UntestedBits", k10, Short(0x01, 0x47), 0, {}, 5, {5}},
        ReplyCase{"ChecksumWraps",
                  Variable(0xFA, 0x10, KAVI_GATE_16BIT),
                  Short(0xFA, 0x07),
                  0,
                  {},
                  5,
                  {5}},
        // The equipment status is the value: no bit is a complaint.
        ReplyCase{"EquipmentStatus88", kF5, Short(0x05, 0x88), 0, {}, 5, {5}},
        ReplyCase{"EquipmentStatusFF", kF5, Short(0x05, 0xFF), 0, {}, 5, {5}},
        ReplyCase{"EquipmentStatus00", kF5, Short(0x05, 0x00), 0, {}, 5, {5}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    LineFaults, ReceiveShortSetTest,
    ::testing::Values(
        ReplyCase{"Silent", k10, {}, 1, {kShortWrongLength}, 0, {5}},
        ReplyCase{"ReadCallFails",
                  k10,
                  Short(0x01, 0x00),
                  1,
                  {kShortTimeout},
                  0,
                  {5},
                  true},
        ReplyCase{
            "Partial", k10, {0x10, 0x01, 0x00}, 1, {kShortWrongLength}, 3, {5}},
        ReplyCase{
            "LongTelegramInstead", k10, kGood10, 1, {kShortChecking}, 5, {5}},
        ReplyCase{"WrongStart",
                  k10,
                  With(Short(0x01, 0x00), 0, 0x11),
                  1,
                  {kShortChecking},
                  5,
                  {5}},
        ReplyCase{"WrongStation",
                  k10,
                  Short(0x02, 0x00),
                  1,
                  {kShortChecking},
                  5,
                  {5}},
        ReplyCase{"EquipmentStatusFromAnotherStation",
                  kF5,
                  Short(0x06, 0x00),
                  1,
                  {kShortChecking},
                  5,
                  {5}},
        ReplyCase{"WrongChecksum",
                  k10,
                  With(Short(0x01, 0x00), 3, 0x02),
                  1,
                  {kShortChecking},
                  5,
                  {5}},
        ReplyCase{"EquipmentStatusWrongChecksum",
                  kF5,
                  With(Short(0x05, 0x88), 3, 0x00),
                  1,
                  {kShortChecking},
                  5,
                  {5}},
        ReplyCase{"WrongEndByte",
                  k10,
                  With(Short(0x01, 0x00), 4, 0x17),
                  1,
                  {kShortChecking},
                  5,
                  {5}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    StatusBits, ReceiveShortSetTest,
    ::testing::Values(
        ReplyCase{
            "NotReady08", k10, Short(0x01, 0x08), 2, {kShortNotReady}, 5, {5}},
        ReplyCase{"Acknowledge10",
                  k10,
                  Short(0x01, 0x10),
                  1,
                  {kShortAcknowledge},
                  5,
                  {5}},
        ReplyCase{"Transmission20",
                  k10,
                  Short(0x01, 0x20),
                  1,
                  {kShortTransmission},
                  5,
                  {5}},
        ReplyCase{"ServiceRequest80",
                  k10,
                  Short(0x01, 0x80),
                  2,
                  {kShortServiceRequest},
                  5,
                  {5}},
        ReplyCase{"NotReadyBeforeAcknowledge18",
                  k10,
                  Short(0x01, 0x18),
                  2,
                  {kShortNotReady},
                  5,
                  {5}},
        ReplyCase{"AcknowledgeBeforeTransmission30",
                  k10,
                  Short(0x01, 0x30),
                  1,
                  {kShortAcknowledge},
                  5,
                  {5}},
        ReplyCase{"NotReadyBeforeServiceRequest88",
                  k10,
                  Short(0x01, 0x88),
                  2,
                  {kShortNotReady},
                  5,
                  {5}},
        ReplyCase{"AcknowledgeBeforeServiceRequest90",
                  k10,
                  Short(0x01, 0x90),
                  1,
                  {kShortAcknowledge},
                  5,
                  {5}},
        ReplyCase{"TransmissionBeforeServiceRequestA0",
                  k10,
                  Short(0x01, 0xA0),
                  1,
                  {kShortTransmission},
                  5,
                  {5}},
        ReplyCase{"ServiceRequestWithUntestedBitC7",
                  k10,
                  Short(0x01, 0xC7),
                  2,
                  {kShortServiceRequest},
                  5,
                  {5}},
        ReplyCase{
            "AllFourB8", k10, Short(0x01, 0xB8), 2, {kShortNotReady}, 5, {5}},
        // The status is looked at before the checksum and end byte ...
        ReplyCase{"ServiceRequestWithWrongChecksum",
                  k10,
                  With(Short(0x01, 0x80), 3, 0x00),
                  2,
                  {kShortServiceRequest},
                  5,
                  {5}},
        ReplyCase{"NotReadyWithWrongEndByte",
                  k10,
                  With(Short(0x01, 0x08), 4, 0x00),
                  2,
                  {kShortNotReady},
                  5,
                  {5}},
        // ... but after the start byte and the station.
        ReplyCase{"NotReadyFromAnotherStation",
                  k10,
                  Short(0x02, 0x08),
                  1,
                  {kShortChecking},
                  5,
                  {5}}),
    CaseName);

// ---- Every status byte
// --------------------------------------------------------

// The first tested bit found set decides, in the order 08, 10, 20 (and 80 in
// a short reply); the others never matter.
struct StatusOutcome {
  int32_t result;
  const char* message;  // null: accepted
};

StatusOutcome LongOutcome(uint8_t status) {
  if (status & 0x08) return {2, kLongNotReady};
  if (status & 0x10) return {1, kLongAcknowledge};
  if (status & 0x20) return {1, kLongTransmission};
  return {0, nullptr};
}

StatusOutcome ShortOutcome(uint8_t status) {
  if (status & 0x08) return {2, kShortNotReady};
  if (status & 0x10) return {1, kShortAcknowledge};
  if (status & 0x20) return {1, kShortTransmission};
  if (status & 0x80) return {2, kShortServiceRequest};
  return {0, nullptr};
}

using StatusSweepTest = TelegramTest;

TEST_F(StatusSweepTest, LongReply) {
  for (int status = 0; status < 256; ++status) {
    SCOPED_TRACE(status);
    ClearLog();
    port().Reset();
    port().QueueInput(Reply10(static_cast<uint8_t>(status)));
    const StatusOutcome outcome = LongOutcome(static_cast<uint8_t>(status));
    EXPECT_EQ(ReceiveLongSet(k10, block, block.rxBuffer), outcome.result);
    EXPECT_EQ(Logged(), outcome.message ? Exchange({outcome.message})
                                        : std::vector<LogLine>{});
  }
}

TEST_F(StatusSweepTest, ShortReplyToAWrite) {
  for (int status = 0; status < 256; ++status) {
    SCOPED_TRACE(status);
    ClearLog();
    port().Reset();
    port().QueueInput(Short(0x01, static_cast<uint8_t>(status)));
    const StatusOutcome outcome = ShortOutcome(static_cast<uint8_t>(status));
    EXPECT_EQ(ReceiveShortSet(k10, block, block.rxBuffer), outcome.result);
    EXPECT_EQ(Logged(), outcome.message ? Exchange({outcome.message})
                                        : std::vector<LogLine>{});
  }
}

TEST_F(StatusSweepTest, EquipmentStatusIsAlwaysAValue) {
  for (int status = 0; status < 256; ++status) {
    SCOPED_TRACE(status);
    ClearLog();
    port().Reset();
    port().QueueInput(Short(0x05, static_cast<uint8_t>(status)));
    EXPECT_EQ(ReceiveShortSet(kF5, block, block.rxBuffer), 0);
    EXPECT_EQ(block.rxBuffer[kStatusValueOffset], status);
    EXPECT_TRUE(Logged().empty());
  }
}

// ---- The line can never push the receivers past their buffer ----------------

struct FloodCase {
  std::string name;
  IoRequest request;
  size_t expectedLength;  // of the reply the variable gets
};

class FloodTest : public TelegramTest,
                  public ::testing::WithParamInterface<FloodCase> {
 protected:
  // 100 bytes on the line; the receiver may take only its reply's worth.
  void Offer(Bytes head) {
    head.resize(100, 0xEE);
    port().QueueInput(head);
  }

  void ExpectTaken(size_t count) {
    EXPECT_EQ(ReadOffLine().size(), count);
    EXPECT_EQ(port().Input().size(), 100 - count);
    for (const PortEvent& event : port().events) {
      EXPECT_LE(event.count, GetParam().expectedLength);
    }
    EXPECT_TRUE(std::all_of(block.rxBuffer + count, std::end(block.rxBuffer),
                            [](uint8_t byte) { return byte == 0xA5; }));
  }
};

TEST_P(FloodTest, AnnouncedLengthBeyondTheBufferIsNeverRead) {
  // L = 0xFF would reach 261 bytes past a 52-byte buffer.
  Offer({0x68, 0xFF, 0xFF, 0x68,
         static_cast<uint8_t>(GetParam().request.plcAddress)});
  EXPECT_EQ(ReceiveLongSet(GetParam().request, block, block.rxBuffer), 1);
  EXPECT_EQ(Logged(), Exchange({kLongChecking}));
  ExpectTaken(GetParam().expectedLength);
}

TEST_P(FloodTest, GoodReplyFollowedByMoreIsReadToItsEndOnly) {
  const IoRequest& request = GetParam().request;
  // 68 L L 68 st 00 idx [01 01 00] value... cs 16 of the expected length.
  Bytes body{static_cast<uint8_t>(request.plcAddress), 0x00};
  const auto index = static_cast<uint8_t>(request.paramIndex);
  if (index < 0xF0 || index > 0xF3) body.push_back(index);
  if ((index & 0xF0) != 0x30 && (index < 0xF0 || index > 0xF3)) {
    body.insert(body.end(), {0x01, 0x01, 0x00});
  }
  body.resize(GetParam().expectedLength - 6, 0x11);
  Offer(Long(body));
  EXPECT_EQ(ReceiveLongSet(request, block, block.rxBuffer), 0);
  EXPECT_TRUE(Logged().empty());
  ExpectTaken(GetParam().expectedLength);
}

TEST_P(FloodTest, ShortReceiverTakesFiveBytes) {
  const auto station = static_cast<uint8_t>(GetParam().request.plcAddress);
  Offer(Short(station, 0x00));
  EXPECT_EQ(ReceiveShortSet(GetParam().request, block, block.rxBuffer), 0);
  ExpectTaken(5);
}

INSTANTIATE_TEST_SUITE_P(
    Variables, FloodTest,
    ::testing::Values(
        FloodCase{"Index35Width8", Variable(0x01, 0x35, KAVI_GATE_8BIT), 10},
        FloodCase{"Index33Width16", Variable(0x01, 0x33, KAVI_GATE_16BIT), 11},
        FloodCase{"Index3AWidth32", Variable(0x01, 0x3A, KAVI_GATE_32BIT), 13},
        FloodCase{"Index0DWidth8", Variable(0x01, 0x0D, KAVI_GATE_8BIT), 13},
        FloodCase{"Index10Width16", Variable(0x01, 0x10, KAVI_GATE_16BIT), 14},
        FloodCase{"Index21Width32", Variable(0x01, 0x21, KAVI_GATE_32BIT), 16},
        FloodCase{"CycleValues", Variable(0x01, 0xF1, KAVI_GATE_16BIT), 15}),
    [](const auto& info) { return info.param.name; });

TEST(ExpectedReplyTest, LongestReplyFitsTheBuffer) {
  int32_t longest = 0;
  for (int32_t index = 0; index < 256; ++index) {
    for (int32_t width = -1; width <= 4; ++width) {
      longest =
          std::max(longest, ExpectedReplyL(Variable(0x01, index, width)) + 6);
    }
  }
  EXPECT_EQ(longest, kLongestReply);
  EXPECT_LE(longest, KAVI_RX_BUFFER_SIZE);
}

}  // namespace
}  // namespace kavi::testing
