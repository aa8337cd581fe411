// Every kind of read, from the simulated controller into the host's value,
// checked against what the controller holds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rig.h"

namespace kaviros::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::SizeIs;

struct ReadCase {
  const char* name;
  const char* address;
  DataType type;
  uint8_t station;
  uint8_t index;
  uint32_t held;     // what the controller holds
  int64_t expected;  // what the host reads
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

constexpr DataType kU16 = DataType::kUint16;
constexpr DataType kI16 = DataType::kInt16;
constexpr DataType kI32 = DataType::kInt32;
constexpr DataType kBit = DataType::kBit;

const ReadCase kReads[] = {
    // 16-bit parameters, with and without the extension bytes.
    {"Word", "0110", kU16, 0x01, 0x10, 0xBEEF, 0xBEEF},
    {"WordSigned", "0110", kI16, 0x01, 0x10, 0xBEEF, -16657},
    {"WordWithoutExtension", "0133", kU16, 0x01, 0x33, 0x1234, 0x1234},
    {"WordHighIndex", "0164", kU16, 0x01, 0x64, 0xFFFF, 0xFFFF},
    // 8-bit parameters: zero-extended, or sign-extended for int16.
    {"Byte", "010D", kU16, 0x01, 0x0D, 0xC8, 200},
    {"ByteSigned", "010D", kI16, 0x01, 0x0D, 0xC8, -56},
    {"ByteSignedPositive", "010D", kI16, 0x01, 0x0D, 0x7F, 127},
    {"ByteWithoutExtension", "0135", kU16, 0x01, 0x35, 0x85, 0x85},
    {"ByteWithoutExtensionSigned", "0135", kI16, 0x01, 0x35, 0x85, -123},
    {"ByteFirstOfClass", "0130", kU16, 0x01, 0x30, 0x5A, 0x5A},
    {"ByteLastOfClass", "013A", kU16, 0x01, 0x3A, 0xA5, 0xA5},
    // The 32-bit parameter.
    {"Long", "0121", kI32, 0x01, 0x21, 123456, 123456},
    {"LongNegative", "0121", kI32, 0x01, 0x21, 0xFFFFFFFE, -2},
    {"LongHighWordOnly", "0121", kI32, 0x01, 0x21, 0x00010000, 65536},
    // Single bits of 8-, 16- and 32-bit parameters.
    {"BitOfByteSet", "013507", kBit, 0x01, 0x35, 0x85, 1},
    {"BitOfByteClear", "013506", kBit, 0x01, 0x35, 0x85, 0},
    {"BitOfByteWithExtension", "010D03", kBit, 0x01, 0x0D, 0x08, 1},
    {"BitZeroOfByte", "010D00", kBit, 0x01, 0x0D, 0xFE, 0},
    {"BitOfWordSet", "011009", kBit, 0x01, 0x10, 0x0200, 1},
    {"BitOfWordClear", "011008", kBit, 0x01, 0x10, 0x0200, 0},
    {"BitFifteenOfWord", "011015", kBit, 0x01, 0x10, 0x8000, 1},
    {"BitOfLongHighest", "012131", kBit, 0x01, 0x21, 0x80000000, 1},
    {"BitOfLongClear", "012130", kBit, 0x01, 0x21, 0x80000000, 0},
    {"BitOfLongHighWord", "012116", kBit, 0x01, 0x21, 0x00010000, 1},
    // The cycle values, one at a time (F2 is an 8-bit value).
    {"CycleF0", "01F0", kI16, 0x01, 0xF0, 0xFF38, -200},
    {"CycleF1", "01F1", kI16, 0x01, 0xF1, 0x0320, 800},
    {"CycleF2", "01F2", kI16, 0x01, 0xF2, 0xF6, -10},
    {"CycleF2Positive", "01F2", kI16, 0x01, 0xF2, 0x64, 100},
    {"CycleF3", "01F3", kI16, 0x01, 0xF3, 0xFFFB, -5},
    // Other stations of the same line.
    {"StationZero", "0010", kU16, 0x00, 0x10, 0x0A0B, 0x0A0B},
    {"StationTen", "0A10", kU16, 0x0A, 0x10, 0x1A1B, 0x1A1B},
    {"HighestStation", "FA10", kU16, 0xFA, 0x10, 0xFAFB, 0xFAFB},
    {"HighestStationLowerCase", "fa35", kU16, 0xFA, 0x35, 0x42, 0x42},
};

class ReadKinds : public E2eTest,
                  public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadKinds, ValueAsTheControllerHoldsIt) {
  const ReadCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen({0x00, 0x01, 0x0A, 0xFA})));
  ASSERT_TRUE(controller().SetValue(c.station, c.index, c.held));
  melbax::Variable variable = Declare(c.address, c.type);

  const melbax::Outcome read = instance().Read(variable);

  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(read.messages, Messages{});
  EXPECT_EQ(variable.value(), c.expected);
  // One request, one reply: no attempt was repeated.
  EXPECT_THAT(Line(), SizeIs(2));
  // Reading changes nothing in the controller.
  EXPECT_EQ(controller().Value(c.station, c.index), c.held);
}

INSTANTIATE_TEST_SUITE_P(E2e, ReadKinds, ::testing::ValuesIn(kReads),
                         [](const ::testing::TestParamInfo<ReadCase>& info) {
                           return std::string(info.param.name);
                         });

class E2eReads : public E2eTest {};

TEST_F(E2eReads, TelegramsOfAParameterRead) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0x10, 0x1234);
  melbax::Variable word = Declare("0110", DataType::kUint16);
  ASSERT_TRUE(instance().Read(word).ok());
  EXPECT_THAT(Line(),
              ElementsAre("> 68 06 06 68 01 89 10 01 01 00 9C 16",
                          "< 68 08 08 68 01 00 10 01 01 00 34 12 59 16"));
}

TEST_F(E2eReads, BytesOfTheSlotTheDriverDoesNotOwnStayAsTheHostLeftThem) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0x35, 0x85);
  melbax::Variable byte = Declare("0135", DataType::kInt16);
  ASSERT_TRUE(instance().Read(byte).ok());
  EXPECT_EQ(byte.slot().single.word, 0xFF85);
  EXPECT_EQ(byte.slot().single.hostKept, 0);
}

TEST_F(E2eReads, BlockOfTheFourCycleValues) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0xF0, 0x1234);
  controller().SetValue(0x01, 0xF1, 0x5678);
  controller().SetValue(0x01, 0xF2, 0x9C);
  controller().SetValue(0x01, 0xF3, 0x4321);
  melbax::Variable block = Declare("01F0", DataType::kBlock);

  const melbax::Outcome read = instance().Read(block);

  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(read.messages, Messages{});
  // F2 is sign-extended from its 8 bits.
  EXPECT_EQ(block.block(),
            (std::array<uint16_t, 4>{0x1234, 0x5678, 0xFF9C, 0x4321}));
  EXPECT_THAT(Line(),
              ElementsAre("> 10 01 89 8A 16",
                          "< 68 09 09 68 01 00 34 12 78 56 9C 21 43 15 16"));
}

TEST_F(E2eReads, SingleF2AfterABlockDefinitionIsStillOneByte) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0xF2, 0xF6);
  controller().SetValue(0x01, 0xF3, 0x7F7F);
  melbax::Variable block = Declare("01F0", DataType::kBlock);
  melbax::Variable f2 = Declare("01F2", DataType::kInt16);
  EXPECT_EQ(f2.gateWidth(), KAVI_GATE_8BIT);
  ASSERT_TRUE(instance().Read(f2).ok());
  EXPECT_EQ(f2.value(), -10);
}

TEST_F(E2eReads, BlockAndSinglesOfARunningProcessAgree) {
  r2600sim::SimulatorOptions options;  // not frozen: the process runs
  ASSERT_NO_FATAL_FAILURE(Begin(options));
  // A steep ramp, so that the setpoint moves while the test reads.
  controller().SetValue(0x01, r2600sim::kParamRampRate, 600);
  melbax::Variable block = Declare("01F0", DataType::kBlock);
  std::vector<int16_t> setpoints;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(instance().Read(block).ok());
    // The model moves only when a request comes, so right after the
    // reply it still holds what it sent.
    const auto cycle = controller().Cycle(0x01);
    ASSERT_TRUE(cycle.has_value());
    const auto words = block.block();
    EXPECT_EQ(static_cast<int16_t>(words[0]), cycle->actual);
    EXPECT_EQ(static_cast<int16_t>(words[1]), cycle->setpoint);
    EXPECT_EQ(static_cast<int16_t>(words[2]), cycle->output);
    EXPECT_EQ(static_cast<int16_t>(words[3]), cycle->deviation);
    setpoints.push_back(static_cast<int16_t>(words[1]));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }
  // 60 degC per minute towards 75.0 degC: the setpoint has risen.
  EXPECT_LT(setpoints.front(), setpoints.back());

  melbax::Variable f3 = Declare("01F3", DataType::kInt16);
  ASSERT_TRUE(instance().Read(f3).ok());
  EXPECT_EQ(f3.value(), controller().Cycle(0x01)->deviation);
}

// Replies paced as a slow line delivers them, a byte at a time, after the
// controller's think time: each read still collects the whole reply.
TEST_F(E2eReads, SlowLineDeliversRepliesByteByByte) {
  r2600sim::SimulatorOptions options = Frozen();
  options.baud = 1200;
  options.turnaround = std::chrono::milliseconds(20);
  ASSERT_NO_FATAL_FAILURE(Begin(options));
  controller().SetValue(0x01, 0x10, 0x1234);
  controller().SetValue(0x01, 0x21, 0x89ABCDEF);
  controller().SetValue(0x01, 0xF3, 0xFFFB);
  melbax::Variable word = Declare("0110", DataType::kUint16);
  melbax::Variable counter = Declare("0121", DataType::kInt32);
  melbax::Variable block = Declare("01F0", DataType::kBlock);
  for (melbax::Variable* variable : {&word, &counter, &block}) {
    const melbax::Outcome read = instance().Read(*variable);
    EXPECT_EQ(read.result, KAVI_OK) << variable->address();
    EXPECT_EQ(read.messages, Messages{});
  }
  EXPECT_EQ(word.value(), 0x1234);
  EXPECT_EQ(static_cast<uint32_t>(counter.value()), 0x89ABCDEFu);
  EXPECT_EQ(block.block()[3], 0xFFFB);
  ASSERT_TRUE(instance().Write(word, 0x4321).ok());
  EXPECT_EQ(controller().Value(0x01, 0x10), 0x4321u);
  EXPECT_THAT(Line(), SizeIs(8));
}

TEST_F(E2eReads, EquipmentStatusIsTheStatusByteWhateverBitsItHas) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  // Bits that would end any other exchange are the value here.
  ASSERT_TRUE(controller().RaiseEquipmentFault(0x01, 0x88));
  controller().SetValue(0x01, r2600sim::kParamControlMode, 0);
  const uint8_t held = controller().EquipmentStatus(0x01).value();
  EXPECT_EQ(held, 0x8C);

  melbax::Variable status = Declare("01F5", DataType::kUint16);
  const melbax::Outcome read = instance().Read(status);
  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(read.messages, Messages{});
  EXPECT_EQ(status.value(), held);
  EXPECT_THAT(Line(), ElementsAre("> 10 01 29 2A 16", "< 10 01 8C 8D 16"));

  uint16_t byStation = 0;
  const melbax::Outcome again = instance().ReadStatus(0x01, byStation);
  EXPECT_EQ(again.result, KAVI_OK);
  EXPECT_EQ(byStation, held);
}

TEST_F(E2eReads, ReadingTheResetSendsNothingAndLeavesTheValue) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  melbax::Variable reset = Declare("01F4", DataType::kUint16);
  const melbax::Outcome read = instance().Read(reset);
  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(read.messages,
            Messages{Msg8("KAVIR> Single Read() Warning:Try to read reset")});
  EXPECT_EQ(reset.slot().dword, 0u);
  EXPECT_THAT(Line(), SizeIs(0));
  EXPECT_EQ(controller().Resets(0x01), 0u);
}

TEST_F(E2eReads, StationFFIsNeverReadFrom) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  const Message refusal = Msg32(
      "KAVIR> SingleRead() Error: trying to read although PLC-Address is "
      "0xFF");
  melbax::Variable single = Declare("FF10", DataType::kUint16);
  const melbax::Outcome read = instance().Read(single);
  EXPECT_EQ(read.result, KAVI_REFUSED);
  EXPECT_EQ(read.messages, Messages{refusal});

  melbax::Variable block = Declare("FFF0", DataType::kBlock);
  const melbax::Outcome blockRead = instance().Read(block);
  EXPECT_EQ(blockRead.result, KAVI_REFUSED);
  EXPECT_EQ(blockRead.messages, Messages{refusal});

  uint16_t status = 0;
  EXPECT_EQ(instance().ReadStatus(0xFF, status).messages, Messages{refusal});
  EXPECT_THAT(Line(), SizeIs(0));
}

TEST_F(E2eReads, AStationNobodyPlaysGetsFiveAttempts) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen({0x01}), kShortTimeoutMs));
  melbax::Variable word = Declare("0210", DataType::kUint16);
  const melbax::Outcome read = instance().Read(word);
  EXPECT_EQ(read.result, KAVI_SEVERE);
  Messages expected;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    const Messages retry =
        ReadRetry("KAVIR> ReceiveLongSet() wrong length reading", attempt);
    expected.insert(expected.end(), retry.begin(), retry.end());
  }
  expected.push_back(Msg8("KAVIR> SingleRead() error while reading PI=10"));
  EXPECT_EQ(read.messages, expected);
  // Five requests, and each reply read came back empty.
  const std::vector<std::string> line = Line();
  ASSERT_THAT(line, SizeIs(10));
  for (size_t i = 0; i < line.size(); i += 2) {
    EXPECT_EQ(line[i], "> 68 06 06 68 02 89 10 01 01 00 9D 16");
    EXPECT_EQ(line[i + 1], "<");
  }
}

struct DeclarationCase {
  const char* name;
  const char* address;
  DataType type;
  Message message;
};

void PrintTo(const DeclarationCase& c, std::ostream* out) { *out << c.name; }

const DeclarationCase kRefusedDeclarations[] = {
    {"IllegalCharacter", "01G0", DataType::kUint16,
     Msg32("KAVIR> ParseAddress() found illegal character in address string")},
    {"TooLong", "0110401", DataType::kBit,
     Msg32("KAVIR> ParseAddress() found illegal character in address string")},
    {"Empty", "", DataType::kUint16,
     Msg32("KAVIR> ParseAddress() unable to read the PLC-address form the "
           "address string")},
    {"NoIndex", "01", DataType::kUint16,
     Msg32("KAVIR> ParseAddress() unable to read parameter-index form the "
           "address string")},
    {"StationOutOfRange", "FB10", DataType::kUint16,
     Msg32("KAVIR> ParseAddress() PLC-address invalid")},
    {"NoSuchParameter", "0113", DataType::kUint16,
     Msg32("KAVIR> ParseAddress() gate type invalid")},
    {"WordAsLong", "0110", DataType::kInt32,
     Msg32("KAVIR> ParseAddress() gate type invalid")},
    {"BitNumberOfAnAnalogValue", "011003", DataType::kUint16,
     Msg32("KAVIR> ParseAddress() there is a bit number in the address string "
           "although using an analog gate")},
    {"BitWithoutNumber", "0110", DataType::kBit,
     Msg32("KAVIR> ParseAddress() unable to read the bit number from the "
           "address string")},
    {"BitBeyondTheByte", "013508", DataType::kBit,
     Msg32("KAVIR> ParseAddress() invalid bit-number")},
    {"BitOfStationFF", "FF1003", DataType::kBit,
     Msg32("KAVIR> ParseAddress() Digital gates for PLC-Address 0xFF are not "
           "allowed")},
    {"CycleValueUnsigned", "01F0", DataType::kUint16,
     Msg8("KAVIR> SingleAddressParser() wrong data type for block "
          "definition")},
    {"BlockNotAtF0", "01F1", DataType::kBlock,
     Msg32("KAVIR> BlockAddressParser() only a block beginning at F0 is "
           "allowed")},
};

class RefusedDeclarations
    : public E2eTest,
      public ::testing::WithParamInterface<DeclarationCase> {};

TEST_P(RefusedDeclarations, DriverSaysWhyAndNothingIsSent) {
  const DeclarationCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Begin());
  melbax::Variable variable;
  const melbax::Outcome declared =
      instance().Declare(c.address, c.type, variable);
  EXPECT_EQ(declared.result, KAVI_REFUSED);
  EXPECT_EQ(declared.messages, Messages{c.message});
  EXPECT_FALSE(variable.declared());
  EXPECT_THAT(Line(), SizeIs(0));
}

INSTANTIATE_TEST_SUITE_P(
    E2e, RefusedDeclarations, ::testing::ValuesIn(kRefusedDeclarations),
    [](const ::testing::TestParamInfo<DeclarationCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace kaviros::e2e
