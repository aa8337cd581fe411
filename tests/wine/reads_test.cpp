// Every kind of read through the Win32 backend, checked against what the
// simulated controller holds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "rig.h"

namespace kaviros::wine {
namespace {

using ::testing::ElementsAre;
using ::testing::SizeIs;

constexpr DataType kU16 = DataType::kUint16;
constexpr DataType kI16 = DataType::kInt16;
constexpr DataType kI32 = DataType::kInt32;
constexpr DataType kBit = DataType::kBit;

struct ReadCase {
  const char* name;
  const char* address;
  DataType type;
  int station;
  int index;
  uint32_t held;     // what the controller holds
  int64_t expected;  // what the host reads
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

const ReadCase kReads[] = {
    {"Word", "0110", kU16, 0x01, 0x10, 0xBEEF, 0xBEEF},
    {"WordSigned", "0110", kI16, 0x01, 0x10, 0xBEEF, -16657},
    {"WordWithoutExtension", "0133", kU16, 0x01, 0x33, 0x1234, 0x1234},
    {"Byte", "010D", kU16, 0x01, 0x0D, 0xC8, 200},
    {"ByteSigned", "010D", kI16, 0x01, 0x0D, 0xC8, -56},
    {"ByteWithoutExtensionSigned", "0135", kI16, 0x01, 0x35, 0x85, -123},
    {"Long", "0121", kI32, 0x01, 0x21, 123456, 123456},
    {"LongNegative", "0121", kI32, 0x01, 0x21, 0xFFFFFFFE, -2},
    {"BitOfByteSet", "013507", kBit, 0x01, 0x35, 0x85, 1},
    {"BitOfByteClear", "010D06", kBit, 0x01, 0x0D, 0x85, 0},
    {"BitOfWordSet", "011009", kBit, 0x01, 0x10, 0x0200, 1},
    {"BitFifteenOfWord", "011015", kBit, 0x01, 0x10, 0x8000, 1},
    {"BitOfLongHighest", "012131", kBit, 0x01, 0x21, 0x80000000, 1},
    {"BitOfLongClear", "012130", kBit, 0x01, 0x21, 0x80000000, 0},
    {"CycleF0", "01F0", kI16, 0x01, 0xF0, 0xFF38, -200},
    {"CycleF1", "01F1", kI16, 0x01, 0xF1, 0x0320, 800},
    {"CycleF2", "01F2", kI16, 0x01, 0xF2, 0xF6, -10},
    {"CycleF3", "01F3", kI16, 0x01, 0xF3, 0xFFFB, -5},
    {"OtherStation", "0A10", kU16, 0x0A, 0x10, 0x1A1B, 0x1A1B},
    {"HighestStation", "FA35", kU16, 0xFA, 0x35, 0x42, 0x42},
};

class ReadKinds : public WineTest,
                  public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadKinds, ValueAsTheControllerHoldsIt) {
  const ReadCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Begin("--stations 01,0A,FA --freeze"));
  sim().SetValue(c.station, c.index, c.held);
  melbax::Variable variable = Declare(c.address, c.type);

  const melbax::Outcome read = instance().Read(variable);

  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(read.messages, Messages{});
  EXPECT_EQ(variable.value(), c.expected);
  EXPECT_THAT(Line(), SizeIs(2));  // one request, one reply
  EXPECT_EQ(sim().Value(c.station, c.index), c.held);
}

INSTANTIATE_TEST_SUITE_P(Wine, ReadKinds, ::testing::ValuesIn(kReads),
                         [](const auto& info) {
                           return std::string(info.param.name);
                         });

class Reads : public WineTest {};

TEST_F(Reads, TelegramsOfAParameterRead) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  sim().SetValue(0x01, 0x10, 0x1234);
  melbax::Variable word = Declare("0110", kU16);
  ASSERT_TRUE(instance().Read(word).ok());
  EXPECT_THAT(Line(),
              ElementsAre("> 68 06 06 68 01 89 10 01 01 00 9C 16",
                          "< 68 08 08 68 01 00 10 01 01 00 34 12 59 16"));
}

TEST_F(Reads, BlockOfTheFourCycleValues) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  sim().SetValue(0x01, 0xF0, 0x1234);
  sim().SetValue(0x01, 0xF1, 0x5678);
  sim().SetValue(0x01, 0xF2, 0x9C);
  sim().SetValue(0x01, 0xF3, 0x4321);
  melbax::Variable block = Declare("01F0", DataType::kBlock);

  const melbax::Outcome read = instance().Read(block);

  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(read.messages, Messages{});
  EXPECT_EQ(block.block(),
            (std::array<uint16_t, 4>{0x1234, 0x5678, 0xFF9C, 0x4321}));
  EXPECT_THAT(Line(),
              ElementsAre("> 10 01 89 8A 16",
                          "< 68 09 09 68 01 00 34 12 78 56 9C 21 43 15 16"));
}

TEST_F(Reads, EquipmentStatus) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  sim().SetValue(0x01, 0x16, 0);  // control off
  const uint32_t held = sim().Value(0x01, 0xF5).value_or(0xFFFF);
  ASSERT_NE(held & 0x04, 0u);

  uint16_t status = 0;
  const melbax::Outcome read = instance().ReadStatus(0x01, status);

  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(read.messages, Messages{});
  EXPECT_EQ(status, held);
  EXPECT_THAT(Line(), SizeIs(2));
}

TEST_F(Reads, AStationNobodyPlaysGetsFiveAttempts) {
  ASSERT_NO_FATAL_FAILURE(Begin("--freeze", 100));
  melbax::Variable word = Declare("0210", kU16);
  const melbax::Outcome read = instance().Read(word);
  EXPECT_EQ(read.result, KAVI_SEVERE);
  Messages expected;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    expected = Seq({expected, ReadRetry("KAVIR> ReceiveLongSet() wrong "
                                        "length reading",
                                        attempt)});
  }
  expected.push_back(Msg8("KAVIR> SingleRead() error while reading PI=10"));
  EXPECT_EQ(read.messages, expected);
  const std::vector<std::string> line = Line();
  ASSERT_THAT(line, SizeIs(10));
  for (size_t i = 0; i < line.size(); i += 2) {
    EXPECT_EQ(line[i], "> 68 06 06 68 02 89 10 01 01 00 9D 16");
    EXPECT_EQ(line[i + 1], "<");  // the read time-out passed, nothing came
  }
}

TEST_F(Reads, ManyReadsInARowOnOnePort) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  melbax::Variable word = Declare("0111", kU16);
  for (uint32_t value = 0; value < 40; ++value) {
    sim().SetValue(0x01, 0x11, value * 1000);
    const melbax::Outcome read = instance().Read(word);
    ASSERT_EQ(read.result, KAVI_OK) << value;
    ASSERT_EQ(word.value(), value * 1000);
  }
}

}  // namespace
}  // namespace kaviros::wine
