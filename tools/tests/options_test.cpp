#include "options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace melbax::tool {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;

ParseResult Parse(std::vector<std::string> args) {
  return ParseCommandLine(args);
}

TEST(ParseCommandLine, DefaultsLeaveTheLineToTheDriver) {
  const ParseResult parsed = Parse({"-p", "pts/3", "read", "0110"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  const Options& o = *parsed.options;
  EXPECT_EQ(o.command, Command::kRead);
  EXPECT_EQ(o.port, "pts/3");
  EXPECT_FALSE(o.baud);
  EXPECT_FALSE(o.dataBits);
  EXPECT_FALSE(o.parity);
  EXPECT_FALSE(o.stopBits);
  EXPECT_EQ(o.timeoutMs, 1000u);
  EXPECT_EQ(o.driverPath, "");
  EXPECT_FALSE(o.trace);
  EXPECT_EQ(o.verbosity, Verbosity::kNormal);
}

TEST(ParseCommandLine, LineOptionsBecomeRecordCodes) {
  const ParseResult parsed =
      Parse({"read", "0110", "--baud=1200", "--data-bits", "7", "--parity",
             "ODD", "--stop-bits", "1.5", "--timeout", "250", "--port",
             "/dev/ttyS0", "--driver", "/opt/k.so", "--trace", "-q"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  const Options& o = *parsed.options;
  EXPECT_THAT(o.baud, Optional(1200));
  EXPECT_THAT(o.dataBits, Optional(7));
  EXPECT_THAT(o.parity, Optional(1));
  EXPECT_THAT(o.stopBits, Optional(1));
  EXPECT_EQ(o.timeoutMs, 250u);
  EXPECT_EQ(o.port, "/dev/ttyS0");
  EXPECT_EQ(o.driverPath, "/opt/k.so");
  EXPECT_TRUE(o.trace);
  EXPECT_EQ(o.verbosity, Verbosity::kQuiet);
}

struct ParityCase {
  const char* text;
  uint16_t code;
};

class ParityTest : public ::testing::TestWithParam<ParityCase> {};

TEST_P(ParityTest, NamesMapToCodes) {
  const ParseResult parsed = Parse({"info", "--parity", GetParam().text});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_THAT(parsed.options->parity, Optional(GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(
    Names, ParityTest,
    ::testing::Values(ParityCase{"none", 0}, ParityCase{"n", 0},
                      ParityCase{"odd", 1}, ParityCase{"even", 2},
                      ParityCase{"E", 2}, ParityCase{"mark", 3},
                      ParityCase{"space", 4}));

struct TargetCase {
  const char* name;
  const char* arg;
  const char* address;
  DataType type;
};

class TargetTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(TargetTest, TypeIsNamedOrFollowsTheAddress) {
  const TargetCase& c = GetParam();
  const ParseResult parsed = Parse({"read", c.arg});
  ASSERT_TRUE(parsed.options) << parsed.error;
  ASSERT_EQ(parsed.options->targets.size(), 1u);
  EXPECT_EQ(parsed.options->targets[0].address, c.address);
  EXPECT_EQ(parsed.options->targets[0].type, c.type);
  EXPECT_EQ(parsed.options->targets[0].label, c.arg);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, TargetTest,
    ::testing::Values(
        TargetCase{"Plain", "0110", "0110", DataType::kUint16},
        TargetCase{"WithBitNumber", "011003", "011003", DataType::kBit},
        TargetCase{"CycleValue", "01f2", "01f2", DataType::kInt16},
        TargetCase{"AfterCycleValues", "01F4", "01F4", DataType::kUint16},
        TargetCase{"Named", "0121:int32", "0121", DataType::kInt32},
        TargetCase{"NamedBlock", "01F0:block", "01F0", DataType::kBlock},
        TargetCase{"NamedOverridesDefault", "011003:uint16", "011003",
                   DataType::kUint16},
        TargetCase{"EmptyAddress", ":int16", "", DataType::kInt16}),
    [](const auto& info) { return info.param.name; });

TEST(ParseCommandLine, WriteTakesNegativeAndHexValues) {
  ParseResult parsed = Parse({"write", "0110:int16", "-5"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->value, -5);
  parsed = Parse({"write", "0110", "0xFFFF"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->value, 0xFFFF);
}

TEST(ParseCommandLine, StationIsHexadecimal) {
  for (const auto& [text, station] : std::vector<std::pair<std::string, int>>{
           {"01", 1}, {"1a", 0x1A}, {"FF", 0xFF}, {"0x10", 0x10}, {"7", 7}}) {
    const ParseResult parsed = Parse({"status", text});
    ASSERT_TRUE(parsed.options) << text << ": " << parsed.error;
    EXPECT_EQ(parsed.options->station, station) << text;
  }
}

TEST(ParseCommandLine, MonitorBounds) {
  const ParseResult parsed = Parse({"monitor", "0110", "--interval", "0",
                                    "--count", "3", "--duration", "2.5"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->intervalMs, 0);
  EXPECT_THAT(parsed.options->count, Optional(3));
  EXPECT_THAT(parsed.options->durationS, Optional(2.5));
}

TEST(ParseCommandLine, HelpWinsOverEverythingElse) {
  const ParseResult parsed = Parse({"read", "--help"});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->command, Command::kHelp);
}

TEST(ParseCommandLine, DoubleDashEndsOptions) {
  const ParseResult parsed = Parse({"read", "--", "-0110"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->targets[0].address, "-0110");
}

struct ErrorCase {
  const char* name;
  std::vector<std::string> args;
  const char* error;
};

class ParseErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrorTest, SaysWhatIsWrong) {
  const ParseResult parsed = Parse(GetParam().args);
  EXPECT_FALSE(parsed.options);
  EXPECT_THAT(parsed.error, HasSubstr(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ParseErrorTest,
    ::testing::Values(
        ErrorCase{"NoCommand", {}, "no command given"},
        ErrorCase{"UnknownCommand", {"frob"}, "unknown command 'frob'"},
        ErrorCase{"UnknownOption", {"info", "--frob"}, "unknown option --frob"},
        ErrorCase{"MissingValue", {"info", "--port"}, "--port needs a value"},
        ErrorCase{"FlagWithValue", {"info", "--trace=1"}, "takes no value"},
        ErrorCase{"InfoWithArgument", {"info", "x"}, "info takes no"},
        ErrorCase{"ReadWithoutAddress", {"read"}, "at least one address"},
        ErrorCase{"UnknownType",
                  {"read", "0110:float"},
                  "unknown type 'float' in 0110:float"},
        ErrorCase{"WriteWithoutValue",
                  {"write", "0110"},
                  "write takes ADDR[:TYPE] VALUE"},
        ErrorCase{"WriteNotANumber",
                  {"write", "0110", "12a"},
                  "value '12a' is not a number"},
        ErrorCase{"WriteOutOfRange",
                  {"write", "0110", "65536"},
                  "value 65536 is out of range for uint16 (0 to 65535)"},
        ErrorCase{"WriteNegativeUnsigned",
                  {"write", "0110", "-1"},
                  "out of range for uint16"},
        ErrorCase{"WriteInt16TooLarge",
                  {"write", "0110:int16", "0xFFFB"},
                  "out of range for int16 (-32768 to 32767)"},
        ErrorCase{"WriteBitTwo",
                  {"write", "011003", "2"},
                  "out of range for bit (0 to 1)"},
        ErrorCase{"WriteBlock",
                  {"write", "01F0:block", "1"},
                  "a block cannot be written"},
        ErrorCase{"WriteHugeValue",
                  {"write", "0110", "99999999999999999999"},
                  "is not a number"},
        ErrorCase{"BlockOfOtherType",
                  {"block", "01F0:int16"},
                  "block reads the type block only"},
        ErrorCase{"BlockTwoAddresses",
                  {"block", "01F0", "02F0"},
                  "block takes one address"},
        ErrorCase{"StationTooLong",
                  {"status", "100"},
                  "station '100': expected two hexadecimal digits"},
        ErrorCase{"StationNotHex", {"reset", "xy"}, "station 'xy'"},
        ErrorCase{"StationMissing", {"reset"}, "reset takes one station"},
        ErrorCase{"BaudTooHigh",
                  {"info", "--baud", "38400"},
                  "--baud 38400: expected a number from 1 to 32767"},
        ErrorCase{"DataBits", {"info", "--data-bits", "9"}, "--data-bits 9"},
        ErrorCase{"Parity", {"info", "--parity", "evn"}, "--parity evn"},
        ErrorCase{"StopBits", {"info", "--stop-bits", "3"}, "--stop-bits 3"},
        ErrorCase{"TimeoutZero",
                  {"info", "--timeout", "0"},
                  "--timeout 0: expected a number from 1 to 60000"},
        ErrorCase{
            "CountZero", {"monitor", "0110", "--count", "0"}, "--count 0"},
        ErrorCase{"DurationNegative",
                  {"monitor", "0110", "--duration=-1"},
                  "--duration -1"},
        ErrorCase{"IntervalForRead",
                  {"read", "0110", "--interval", "10"},
                  "--interval applies to monitor only"},
        ErrorCase{"EmptyPort", {"info", "--port="}, "--port needs a name"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace melbax::tool
