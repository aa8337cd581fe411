#include "address/address_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "entry/lifecycle.h"
#include "log_capture.h"

namespace kavi::testing {
namespace {

// ---- ParseDigits ---------------------------------------------------------

struct DigitsCase {
  const char* name;
  const char* text;
  int32_t count;
  char mode;
  int32_t expected;
};

void PrintTo(const DigitsCase& c, std::ostream* out) { *out << c.name; }

class ParseDigitsTest : public ::testing::TestWithParam<DigitsCase> {};

TEST_P(ParseDigitsTest, Converts) {
  const DigitsCase& c = GetParam();
  EXPECT_EQ(ParseDigits(c.text, c.count, c.mode), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseDigitsTest,
    ::testing::Values(
        DigitsCase{"Decimal", "07", 2, 'D', 7},
        DigitsCase{"DecimalHighDigitFirst", "31", 2, 'D', 31},
        DigitsCase{"DecimalRejectsHexLetter", "1A", 2, 'D', -1},
        DigitsCase{"DecimalRejectsTerminator", "3", 2, 'D', -1},
        DigitsCase{"Hex", "1F", 2, 'H', 0x1F},
        DigitsCase{"HexAllDigits", "09AF", 4, 'H', 0x09AF},
        DigitsCase{"HexMax", "FF", 2, 'H', 0xFF},
        DigitsCase{"HexRejectsG", "0G", 2, 'H', -1},
        DigitsCase{"HexRejectsLowerCase", "0f", 2, 'H', -1},
        DigitsCase{"HexRejectsTerminator", "1", 2, 'H', -1},
        DigitsCase{"HexRejectsBlank", " 1", 2, 'H', -1},
        DigitsCase{"AnyOtherModeIsHex", "1F", 2, 'X', 0x1F},
        DigitsCase{"CountLimitsTheDigitsRead", "1234", 2, 'D', 12},
        DigitsCase{"CountZero", "XX", 0, 'H', 0},
        DigitsCase{"CountNegative", "XX", -5, 'D', 0},
        DigitsCase{"NullTextWithoutCount", nullptr, 0, 'H', 0},
        DigitsCase{"NullText", nullptr, 2, 'H', -1},
        DigitsCase{"DecimalLargest", "2147483647", 10, 'D', INT32_MAX},
        DigitsCase{"DecimalOverflow", "2147483648", 10, 'D', -1},
        DigitsCase{"HexLargest", "7FFFFFFF", 8, 'H', INT32_MAX},
        DigitsCase{"HexOverflow", "80000000", 8, 'H', -1},
        DigitsCase{"HexLeadingZerosDoNotOverflow", "00000000000000FF", 16, 'H',
                   0xFF}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- ParseAddress: character check and working copy ----------------------

class ParseAddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLog();
    FillDefaultGateTypes(gateTypes);
    gateTypes[0x10] = KAVI_GATE_8BIT;
  }

  int32_t Parse(const char* address, uint32_t dataType) {
    ParseRequest request{};
    request.address = address;
    request.dataType = dataType;
    return ParseAddress(gateTypes, request, KAVI_SINGLE_ADDRESS_PARSER);
  }

  bool LoggedIllegalCharacter() const {
    return Logged().size() == 1 &&
           Logged()[0] ==
               LogLine{32,
                       "KAVIR> ParseAddress() found illegal character in "
                       "address string"};
  }

  uint16_t gateTypes[KAVI_GATE_COUNT];
};

// Every byte value at every position of a bit address: the character rule
// alone decides whether the illegal-character message comes.
TEST_F(ParseAddressTest, EveryByteAtEveryPositionMeetsItsAllowedSet) {
  const char* const allowed[7] = {"0123456789ABCDEF",
                                  "0123456789ABCDEF",
                                  "0123456789ABCDEF",
                                  "0123456789ABCDEF",
                                  "0123",
                                  "0123456789",
                                  ""};
  for (int pos = 0; pos < 7; ++pos) {
    for (int byte = 1; byte < 256; ++byte) {
      char address[8] = "011007";
      address[pos] = static_cast<char>(byte);
      const char upper = static_cast<char>(
          byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte);
      const bool legal = pos < 6 && std::strchr(allowed[pos], upper) != nullptr;

      ClearLog();
      const int32_t result = Parse(address, KAVI_TYPE_BIT);
      SCOPED_TRACE("position " + std::to_string(pos) + ", byte " +
                   std::to_string(byte));
      EXPECT_EQ(LoggedIllegalCharacter(), !legal);
      if (!legal) {
        EXPECT_EQ(result, 1);
      }
    }
  }
}

// The address is read up to its terminator or the working buffer's 31
// characters, never further; the allocations are exact, so a sanitizer
// build catches any read beyond them.
TEST_F(ParseAddressTest, ReadsNoFurtherThanTerminatorOrWorkingBuffer) {
  for (std::size_t length :
       {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 30u, 31u, 32u, 33u, 1000u}) {
    SCOPED_TRACE("length " + std::to_string(length));
    auto address = std::make_unique<char[]>(length + 1);
    std::memset(address.get(), '0', length);
    address[length] = '\0';

    ClearLog();
    const int32_t result = Parse(address.get(), KAVI_TYPE_UINT16);
    ASSERT_EQ(Logged().size(), length == 4 ? 0u : 1u);
    EXPECT_EQ(result, length == 4 ? 0 : 1);
    if (length >= 7) {
      EXPECT_TRUE(LoggedIllegalCharacter());
    }
  }
}

TEST_F(ParseAddressTest, LettersOutsideAsciiAreNotUpperCased) {
  // Latin-1 small letters stay what they are and are not hex digits.
  EXPECT_EQ(Parse("01\xE1\xE2", KAVI_TYPE_UINT16), 1);
  EXPECT_TRUE(LoggedIllegalCharacter());
}

TEST_F(ParseAddressTest, NullAddressIsAnInternalErrorAndWritesNothing) {
  ParseRequest request;
  std::memset(&request, 0x5A, sizeof request);
  request.address = nullptr;
  ParseRequest before = request;

  EXPECT_EQ(ParseAddress(gateTypes, request, KAVI_SINGLE_ADDRESS_PARSER), 1);
  EXPECT_EQ(Logged(), std::vector<LogLine>(
                          {{8, "KAVIR> Parse Address() Internal error"}}));
  EXPECT_EQ(std::memcmp(&before, &request, sizeof request), 0);
}

}  // namespace
}  // namespace kavi::testing
