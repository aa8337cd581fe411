#include "format.h"

#include <gtest/gtest.h>

#include "options.h"

namespace melbax::tool {
namespace {

struct ValueCase {
  DataType type;
  int64_t value;
  const char* text;
};

class FormatValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(FormatValueTest, ShowsDecimalAndTheWordInHex) {
  EXPECT_EQ(FormatValue(GetParam().type, GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatValueTest,
    ::testing::Values(ValueCase{DataType::kUint16, 4660, "4660 (0x1234)"},
                      ValueCase{DataType::kInt16, -123, "-123 (0xFF85)"},
                      ValueCase{DataType::kInt32, -1, "-1 (0xFFFFFFFF)"},
                      ValueCase{DataType::kInt32, 123456,
                                "123456 (0x0001E240)"},
                      ValueCase{DataType::kBit, 1, "1"}));

TEST(FormatLine, NamesEverySetting) {
  EXPECT_EQ(FormatLine({9600, 8, 0, 2}),
            "9600 baud, 8 data bits, even parity, 1 stop bit");
  EXPECT_EQ(FormatLine({1200, 7, 1, 0}),
            "1200 baud, 7 data bits, no parity, 1.5 stop bits");
  EXPECT_EQ(FormatLine({300, 5, 9, 9}),
            "300 baud, 5 data bits, unknown parity, unknown stop bits");
}

TEST(FormatStatus, NamesEachBit) {
  EXPECT_EQ(FormatStatus(0x00), "0x00: no bits set");
  EXPECT_EQ(FormatStatus(0x88),
            "0x88: request disabled / equipment not ready, service request");
  EXPECT_EQ(FormatStatus(0x31),
            "0x31: instruction acknowledgement, transmission error, other "
            "bits 0x01");
}

TEST(HexBytes, SpacedUpperCase) {
  const uint8_t bytes[] = {0x68, 0x06, 0xAB};
  EXPECT_EQ(HexBytes(bytes, 3), "68 06 AB");
  EXPECT_EQ(HexBytes(bytes, 0), "");
}

TEST(ParseInteger, DecimalHexAndSign) {
  EXPECT_EQ(ParseInteger("42"), 42);
  EXPECT_EQ(ParseInteger("-42"), -42);
  EXPECT_EQ(ParseInteger("+7"), 7);
  EXPECT_EQ(ParseInteger("0x1F"), 31);
  EXPECT_EQ(ParseInteger("0XfF"), 255);
  EXPECT_EQ(ParseInteger("-0x10"), -16);
  for (const char* bad : {"", "-", "0x", "1f", "12 ", " 1", "0x1G", "1.5"}) {
    EXPECT_EQ(ParseInteger(bad), std::nullopt) << "'" << bad << "'";
  }
}

}  // namespace
}  // namespace melbax::tool
