#include "tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace melbax::tool {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

struct Result {
  int status;
  std::string out;
  std::string err;
};

// melbax with the fake driver; its port "fake1" opens, "missing" does not.
Result Melbax(std::vector<std::string> args, bool terminal = false,
              std::function<void(std::chrono::milliseconds)> sleep = {},
              const volatile std::sig_atomic_t* stop = nullptr) {
  args.insert(args.begin(), {"--driver", MELBAX_FAKE_DRIVER});
  std::ostringstream out, err;
  ToolIo io{out, err, terminal, 80, stop, std::move(sleep)};
  const int status = RunTool(args, io);
  return Result{status, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const char* const kEcho0110 =
    "FAKE> SingleRead() id=1 address=0110 station=1 width=2 pi=10 bit=-1 "
    "bits=16 type=0\n";

// ---- Command lines → exit status, values on stdout, messages on stderr --

struct ToolCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* out;               // exactly, or null
  std::vector<const char*> err;  // each a part of stderr
};

void PrintTo(const ToolCase& c, std::ostream* out) {
  *out << "melbax";
  for (const std::string& arg : c.args) *out << " " << arg;
}

class ToolTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(ToolTest, ExitsAndPrintsAsExpected) {
  const ToolCase& c = GetParam();
  const Result run = Melbax(c.args);
  EXPECT_EQ(run.status, c.status) << run.err;
  if (c.out != nullptr) {
    EXPECT_EQ(run.out, c.out);
  }
  for (const char* part : c.err) EXPECT_THAT(run.err, HasSubstr(part));
  if (c.err.empty()) {
    EXPECT_EQ(run.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ToolTest,
    ::testing::Values(
        // Reads of each kind, one line each; the driver's messages on
        // stderr, ColdStart's notice not among them.
        ToolCase{"ReadOne",
                 {"-p", "fake1", "read", "0110"},
                 0,
                 "0110     uint16  4660 (0x1234)\n",
                 {kEcho0110}},
        ToolCase{"ReadEachKind",
                 {"-q", "-p", "fake1", "read", "0135:int16", "0121:int32",
                  "011004", "01F2", "01F0:block"},
                 0,
                 "0135     int16   -123 (0xFF85)\n"
                 "0121     int32   123456 (0x0001E240)\n"
                 "011004   bit     1\n"
                 "01F2     int16   -100 (0xFF9C)\n"
                 "01F0     block   F0=4660 F1=22136 F2=-100 F3=17185\n",
                 {}},
        ToolCase{"ReadFailureIsSevere",
                 {"-p", "fake1", "read", "01EE"},
                 2,
                 "01EE     uint16  failed: result 2\n",
                 {"retry 1\n", "retry 5\n"}},
        ToolCase{"WorstResultWins",
                 {"-q", "-p", "fake1", "read", "01ED", "0110"},
                 1,
                 "01ED     uint16  failed: result 1\n"
                 "0110     uint16  4660 (0x1234)\n",
                 {}},
        ToolCase{"UnknownResultCountsAsSevere",
                 {"-q", "-p", "fake1", "read", "01EC"},
                 2,
                 "01EC     uint16  failed: result 7\n",
                 {}},
        ToolCase{"QuietHidesDriverMessages",
                 {"--quiet", "-p", "fake1", "read", "01EE"},
                 2,
                 "01EE     uint16  failed: result 2\n",
                 {}},
        // Bad addresses get the driver's own message and result, and no
        // port is opened for them.
        ToolCase{"BadAddress",
                 {"-p", "fake1", "read", "0110", "0G10"},
                 1,
                 "",
                 {"FAKE> ParseAddress() found illegal character in address "
                  "string\n",
                  "melbax: address 0G10 (uint16) was refused (result 1)"}},
        ToolCase{"BadAddressEvenWithABadPort",
                 {"-p", "missing", "read", "0G10"},
                 1,
                 "",
                 {"found illegal character"}},
        ToolCase{"Write",
                 {"-p", "fake1", "write", "0110:int16", "-5"},
                 0,
                 "0110     int16   written -5 (0xFFFB)\n",
                 {"word=fffb"}},
        ToolCase{"WriteBit",
                 {"-q", "-p", "fake1", "write", "011000", "1"},
                 0,
                 "011000   bit     written 1\n",
                 {}},
        ToolCase{"WriteRefusedByTheDriver",
                 {"-p", "fake1", "write", "0121:int32", "5"},
                 1,
                 "0121     int32   not written: result 1, value 5 "
                 "(0x00000005)\n",
                 {"Writing to 32-bit gates is not supported"}},
        ToolCase{"WriteOutOfRange",
                 {"-p", "fake1", "write", "0110", "70000"},
                 2,
                 "",
                 {"melbax: value 70000 is out of range for uint16 (0 to "
                  "65535)\n",
                  "melbax --help"}},
        ToolCase{"Block",
                 {"-q", "-p", "fake1", "block", "02F0"},
                 0,
                 "02F0     block   F0=4660 F1=22136 F2=-100 F3=17185\n",
                 {}},
        ToolCase{"Status",
                 {"-q", "-p", "fake1", "status", "1a"},
                 0,
                 "station 1A  status 0x88: request disabled / equipment not "
                 "ready, service request\n",
                 {}},
        ToolCase{"Reset",
                 {"-p", "fake1", "reset", "ff"},
                 0,
                 "station FF  reset sent\n",
                 {"FAKE> ResetEquipment() id=1 station=ff"}},
        ToolCase{"StatusOfTheBroadcastStation",
                 {"-q", "-p", "fake1", "status", "FF"},
                 0,
                 nullptr,
                 {}},
        // Port and driver trouble.
        ToolCase{"NoPort",
                 {"read", "0110"},
                 2,
                 "",
                 {"melbax: no port given", "r2600-sim"}},
        ToolCase{
            "PortDoesNotOpen",
            {"-p", "missing", "read", "0110"},
            2,
            "",
            {"FAKE> ColdStart() error opening COM port\n",
             "melbax: could not open port missing (result 2)", "r2600-sim"}},
        ToolCase{"PortPathNotFound",
                 {"-p", "/nonexistent/folder/serial-port", "read", "0110"},
                 2,
                 "",
                 {"melbax: cannot find port /nonexistent/folder/serial-port"}},
        ToolCase{"NoDriver",
                 {"--driver", "/nonexistent/libkaviros.so", "info"},
                 2,
                 "",
                 {"melbax: cannot load the driver",
                  "/nonexistent/libkaviros.so", "--driver PATH"}},
        ToolCase{"Info", {"info"}, 0, nullptr, {}},
        // Argument errors: exit 2, a message and where to find help.
        ToolCase{"UnknownOption",
                 {"--colour", "info"},
                 2,
                 "",
                 {"melbax: unknown option --colour\n", "melbax --help"}},
        ToolCase{"UnknownCommand",
                 {"fetch", "0110"},
                 2,
                 "",
                 {"melbax: unknown command 'fetch'"}},
        ToolCase{"UnknownType",
                 {"-p", "fake1", "read", "0110:float"},
                 2,
                 "",
                 {"unknown type 'float'"}},
        ToolCase{"BadStation",
                 {"-p", "fake1", "status", "1FF"},
                 2,
                 "",
                 {"station '1FF'"}}),
    [](const auto& info) { return info.param.name; });

TEST(Tool, HelpExplainsCommandsAndTheSimulator) {
  const Result run = Melbax({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, StartsWith("usage: melbax"));
  for (const char* part : {"info",
                           "read ADDR[:TYPE]",
                           "write ADDR[:TYPE] VALUE",
                           "block ADDR",
                           "status STATION",
                           "reset STATION",
                           "monitor ADDR[:TYPE]",
                           "--port",
                           "--baud",
                           "--data-bits",
                           "--parity",
                           "--stop-bits",
                           "--timeout",
                           "--driver",
                           "--trace",
                           "--quiet",
                           "--verbose",
                           "--interval",
                           "--count",
                           "--duration",
                           "Exit status",
                           "r2600-sim"}) {
    EXPECT_THAT(run.out, HasSubstr(part));
  }
}

TEST(Tool, InfoShowsDeviceLineAndBanner) {
  const Result run = Melbax({"info"});
  EXPECT_EQ(run.out, std::string("driver:        ") + MELBAX_FAKE_DRIVER +
                         "\n"
                         "device:        Fake controller\n"
                         "default line:  4800 baud, 7 data bits, odd parity, "
                         "2 stop bits\n"
                         "instance size: " +
                         std::to_string(556) +
                         " bytes\n"
                         "\n-- fake driver --\n");
}

TEST(Tool, LineOptionsReachColdStart) {
  const Result run = Melbax(
      {"-v", "--port=fake1", "--baud", "1200", "--data-bits", "8", "--parity",
       "none", "--stop-bits", "2", "--timeout", "250", "read", "0110"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.err,
              HasSubstr("[32] FAKE> ColdStart() opened fake1 baud=1200 "
                        "bits=8 stop=2 parity=0 timeout=250\n"));
  EXPECT_THAT(run.err, HasSubstr("melbax: port fake1, 1200 baud, 8 data bits, "
                                 "no parity, 2 stop bits, reply time-out "
                                 "250 ms"));
}

TEST(Tool, VerboseStampsEveryMessageWithTimeAndLevel) {
  const Result run = Melbax({"--verbose", "-p", "fake1", "read", "0110"});
  EXPECT_THAT(run.err,
              ContainsRegex("\n[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{6} \\[8\\] "
                            "FAKE> SingleRead\\(\\) id=1"));
}

TEST(Tool, TraceDumpsBothDirectionsWithTimeStamps) {
  const Result run = Melbax({"-q", "--trace", "-p", "fake1", "read", "0110"});
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 2u) << run.err;
  EXPECT_THAT(lines[0], MatchesRegex("trace [0-9:.]+ > 10 01 89 10 16"));
  EXPECT_THAT(lines[1], MatchesRegex("trace [0-9:.]+ < 10 01 00 00 16  "
                                     "\\(\\+[0-9]+\\.[0-9] ms\\)"));
}

// ---- monitor ----

TEST(Monitor, WritesOneCsvLinePerPollIntoAPipe) {
  const Result run = Melbax({"-q", "-p", "fake1", "monitor", "0110", "01EE",
                             "01F0:block", "--count", "3", "--interval", "0"});
  EXPECT_EQ(run.status, 2);
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0],
            "time,0110,0110 result,01EE,01EE result,01F0 F0,01F0 F1,01F0 F2,"
            "01F0 F3,01F0 result");
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_THAT(lines[i], MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+,"
                                       "4660,0,,2,4660,22136,-100,17185,0"));
  }
}

TEST(Monitor, DriverMessagesGoToStderrBesideCsv) {
  const Result run = Melbax(
      {"-p", "fake1", "monitor", "0110", "--count", "2", "--interval", "0"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, std::string(kEcho0110) + kEcho0110);
}

TEST(Monitor, DurationShorterThanTheIntervalPollsOnce) {
  int sleeps = 0;
  const Result run =
      Melbax({"-q", "-p", "fake1", "monitor", "0110", "--duration", "0.5",
              "--interval", "1000"},
             false, [&](std::chrono::milliseconds) { ++sleeps; });
  EXPECT_EQ(Lines(run.out).size(), 2u);
  EXPECT_EQ(sleeps, 0);
}

TEST(Monitor, StopRequestEndsAfterThePollInProgress) {
  volatile std::sig_atomic_t stop = 0;
  const Result run = Melbax(
      {"-q", "-p", "fake1", "monitor", "0110", "--interval", "1000"}, false,
      [&](std::chrono::milliseconds) { stop = 1; }, &stop);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out).size(), 2u);
}

TEST(Monitor, StopsWhenTheOutputIsGone) {
  std::ostringstream out, err;
  ToolIo io{out,
            err,
            false,
            80,
            nullptr,
            [&](std::chrono::milliseconds) { out.setstate(std::ios::badbit); }};
  const int status = RunTool({"--driver", MELBAX_FAKE_DRIVER, "-q", "-p",
                              "fake1", "monitor", "0110", "--interval", "1000"},
                             io);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Lines(out.str()).size(), 2u);
}

TEST(Monitor, OnATerminalRedrawsATableInPlace) {
  const Result run = Melbax({"-p", "fake1", "monitor", "0110", "01EE",
                             "--count", "2", "--interval", "0"},
                            true);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "");  // messages are shown under the table
  const std::string out = run.out;
  // Five lines drawn, then the cursor goes back up five lines.
  EXPECT_THAT(out, HasSubstr("\r\x1b[5A"));
  EXPECT_THAT(out, HasSubstr("\x1b[2Kmelbax monitor  port fake1  every 0 ms  "
                             "poll 2"));
  EXPECT_THAT(out, ContainsRegex("ADDRESS +TYPE +VALUE +RESULT +AGE +ERRORS"));
  EXPECT_THAT(out, ContainsRegex("0110 +uint16 +4660 \\(0x1234\\) +0 +"
                                 "[0-9.]+ s +0/2"));
  EXPECT_THAT(out, ContainsRegex("01EE +uint16 +- +2 +- +2/2"));
  EXPECT_THAT(out, HasSubstr("last message: FAKE> SingleRead() error reading "
                             "reply, retry 5"));
}

}  // namespace
}  // namespace melbax::tool
