#include "options.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace r2600sim {
namespace {

using namespace std::chrono_literals;

ParseResult Parse(std::vector<std::string_view> args, AppOptions* options,
                  std::string* error) {
  return ParseOptions(args, options, error);
}

AppOptions ParseOk(std::vector<std::string_view> args) {
  AppOptions options;
  std::string error;
  EXPECT_EQ(Parse(args, &options, &error), ParseResult::kRun) << error;
  return options;
}

size_t Kind(FaultKind kind) { return static_cast<size_t>(kind); }

TEST(SimOptions, Defaults) {
  const AppOptions o = ParseOk({});
  EXPECT_EQ(o.simulator.controller.stations, std::vector<uint8_t>{0x01});
  EXPECT_EQ(o.simulator.baud, 0u);
  EXPECT_FALSE(o.simulator.controller.service_request);
  EXPECT_FALSE(o.simulator.controller.frozen);
  EXPECT_TRUE(o.simulator.link.empty());
  EXPECT_FALSE(o.seed_given);
  EXPECT_EQ(o.simulator.faults.delay, 1500ms);
  EXPECT_EQ(o.simulator.frame_gap, 100ms);
}

TEST(SimOptions, Controllers) {
  const AppOptions o =
      ParseOk({"--stations", "01,0a,0x10,01", "--service-request",
               "--read-only=60,64", "--freeze", "--set", "10=0x1234", "--set",
               "00=-50", "--set", "F2=-100", "--set", "21=123456"});
  EXPECT_EQ(o.simulator.controller.stations,
            (std::vector<uint8_t>{0x01, 0x0A, 0x10}));
  EXPECT_TRUE(o.simulator.controller.service_request);
  EXPECT_EQ(o.simulator.controller.read_only,
            (std::vector<uint8_t>{0x60, 0x64}));
  EXPECT_TRUE(o.simulator.controller.frozen);
  using Preset = std::pair<uint8_t, uint32_t>;
  EXPECT_EQ(o.presets,
            (std::vector<Preset>{
                {0x10, 0x1234}, {0x00, 0xFFCE}, {0xF2, 0x9C}, {0x21, 123456}}));
}

TEST(SimOptions, LineAndFaults) {
  const AppOptions o = ParseOk(
      {"--baud", "9600", "--turnaround", "5", "--frame-gap=0", "--fault",
       "silence=0.05", "--fault", "flip=2%", "--script", "ok,silence*2",
       "--script-repeat", "--delay", "2000", "--seed", "42"});
  const SimulatorOptions& s = o.simulator;
  EXPECT_EQ(s.baud, 9600u);
  EXPECT_EQ(s.turnaround, 5ms);
  EXPECT_EQ(s.frame_gap, 0ms);
  EXPECT_DOUBLE_EQ(s.faults.probability[Kind(FaultKind::kSilence)], 0.05);
  EXPECT_DOUBLE_EQ(s.faults.probability[Kind(FaultKind::kFlip)], 0.02);
  EXPECT_EQ(s.faults.script.size(), 3u);
  EXPECT_TRUE(s.faults.repeat_script);
  EXPECT_EQ(s.faults.delay, 2000ms);
  EXPECT_EQ(s.faults.seed, 42u);
  EXPECT_TRUE(o.seed_given);
}

TEST(SimOptions, Output) {
  const AppOptions o = ParseOk({"--link", "/tmp/x", "--exit-on-eof", "-v"});
  EXPECT_EQ(o.simulator.link, "/tmp/x");
  EXPECT_TRUE(o.exit_on_eof);
  EXPECT_TRUE(o.verbose);
  EXPECT_TRUE(ParseOk({"--quiet"}).quiet);
}

TEST(SimOptions, HelpAndVersion) {
  AppOptions o;
  std::string error;
  EXPECT_EQ(Parse({"--stations", "01", "--help"}, &o, &error),
            ParseResult::kHelp);
  EXPECT_EQ(Parse({"-h"}, &o, &error), ParseResult::kHelp);
  EXPECT_EQ(Parse({"--version"}, &o, &error), ParseResult::kVersion);
  EXPECT_NE(VersionText().find("r2600-sim "), std::string::npos);
}

TEST(SimOptions, HelpNamesEveryOption) {
  const std::string help = HelpText();
  for (const char* option :
       {"--stations",   "--set",       "--read-only",     "--service-request",
        "--freeze",     "--baud",      "--turnaround",    "--frame-gap",
        "--fault",      "--script",    "--script-repeat", "--delay",
        "--seed",       "--link",      "--exit-on-eof",   "--quiet",
        "--verbose",    "--help",      "--version",       "silence",
        "delay[:MS]",   "flip[:BYTE]", "checksum",        "station[:HH]",
        "truncate[:N]", "extra[:N]",   "garbage[:N]",     "drop[:N]",
        "status[:HH]"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

struct BadCase {
  const char* name;
  std::vector<std::string_view> args;
  const char* message;  // part of the error
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class SimBadOptions : public ::testing::TestWithParam<BadCase> {};

TEST_P(SimBadOptions, ClearError) {
  AppOptions o;
  std::string error;
  EXPECT_EQ(Parse(GetParam().args, &o, &error), ParseResult::kError);
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimBadOptions,
    ::testing::Values(
        BadCase{"Unknown", {"--colour"}, "unknown option '--colour'"},
        BadCase{"Positional", {"ttyS0"}, "unknown option 'ttyS0'"},
        BadCase{"MissingValue", {"--baud"}, "--baud needs a value"},
        BadCase{"FlagWithValue", {"--freeze=yes"}, "--freeze takes no value"},
        BadCase{"StationNotHex", {"--stations", "1g"}, "bad station '1g'"},
        BadCase{"StationBroadcast", {"--stations", "FF"}, "choose 00 to FA"},
        BadCase{"StationTooLarge", {"--stations", "100"}, "bad station '100'"},
        BadCase{"StationEmptyItem", {"--stations", "01,,02"}, "bad station ''"},
        BadCase{
            "ReadOnlyUnknownIndex", {"--read-only", "0A"}, "no such parameter"},
        BadCase{
            "ReadOnlyNotHex", {"--read-only", "x"}, "bad parameter index 'x'"},
        BadCase{"SetWithoutValue", {"--set", "10"}, "expected PI=VALUE"},
        BadCase{"SetUnknownIndex", {"--set", "0A=1"}, "no such parameter"},
        BadCase{"SetTooLargeForByte",
                {"--set", "35=256"},
                "does not fit the 8-bit"},
        BadCase{"SetTooNegative",
                {"--set", "10=-32769"},
                "does not fit the 16-bit"},
        BadCase{"SetNotANumber", {"--set", "10=abc"}, "must be a number"},
        BadCase{"BaudNotANumber", {"--baud", "fast"}, "bad --baud 'fast'"},
        BadCase{"BaudTooHigh", {"--baud", "9999999"}, "bad --baud"},
        BadCase{"NegativeDelay", {"--delay", "-5"}, "bad --delay '-5'"},
        BadCase{"FaultUnknownKind",
                {"--fault", "fire=0.1"},
                "bad --fault 'fire=0.1'"},
        BadCase{"FaultOk", {"--fault", "ok=0.1"}, "bad --fault"},
        BadCase{
            "FaultWithoutChance", {"--fault", "silence"}, "expected KIND=P"},
        BadCase{"FaultChanceTooLarge",
                {"--fault", "silence=1.5"},
                "between 0 and 1"},
        BadCase{"FaultChanceSum",
                {"--fault", "silence=0.6", "--fault", "flip=60%"},
                "add up to more than 1"},
        BadCase{"ScriptUnknownKind",
                {"--script", "ok,fire"},
                "bad --script: unknown fault"},
        BadCase{"RepeatWithoutScript", {"--script-repeat"}, "needs a --script"},
        BadCase{"SeedNotANumber", {"--seed", "-1"}, "bad --seed"},
        BadCase{"EmptyLink", {"--link="}, "--link needs a path"},
        BadCase{"QuietAndVerbose", {"--quiet", "--verbose"}, "contradict"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimOptions, SetupInOneLine) {
  const AppOptions o =
      ParseOk({"--stations", "01,02", "--baud", "9600", "--fault", "silence=5%",
               "--seed", "7", "--service-request"});
  EXPECT_EQ(DescribeSetup(o),
            "stations 01, 02; paced at 9600 baud; writes ask for read-back; "
            "faults: silence 5% (seed 7)");
  EXPECT_EQ(DescribeSetup(ParseOk({})), "station 01; no pacing; no faults");
}

}  // namespace
}  // namespace r2600sim
