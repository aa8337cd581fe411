#include "serial/port_config.h"

#include <gtest/gtest.h>

#include <string>

namespace kavi {
namespace {

// ---- lineFlags rules ------------------------------------------------------

struct FlagsCase {
  const char* name;
  uint32_t read;  // as the port reported the flag word
  uint16_t lineFlags;
  uint32_t expected;
};

class LineFlagsTest : public ::testing::TestWithParam<FlagsCase> {};

TEST_P(LineFlagsTest, FlagWordAfterTheRules) {
  const FlagsCase& c = GetParam();
  EXPECT_EQ(ApplyLineFlags(c.read, c.lineFlags), c.expected)
      << std::hex << "got 0x" << ApplyLineFlags(c.read, c.lineFlags);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LineFlagsTest,
    ::testing::Values(
        // The one value ColdStart sets: DTR 1, Base, RTS 1.
        FlagsCase{"ColdStartOnABarePort", 0x0001, 0x0303, 0x2411},
        // Only the high bit of fRtsControl is set: enable (1) becomes toggle.
        FlagsCase{"ColdStartWithRtsEnabledGivesToggle", 0x1011, 0x0303, 0x3411},
        FlagsCase{"ColdStartWithRtsToggleKeepsToggle", 0x3001, 0x0303, 0x3411},
        FlagsCase{"ColdStartWithRtsHandshakeKeepsIt", 0x2011, 0x0303, 0x2411},
        FlagsCase{"ColdStartKeepsCtsFlowAsRead", 0x0005, 0x0303, 0x2415},
        // Base alone: the high bit of fRtsControl cleared, fErrorChar set.
        FlagsCase{"ZeroFlagsClearRtsHighBit", 0x3000, 0x0000, 0x1400},
        FlagsCase{"ZeroFlagsOnHandshake", 0x2004, 0x0000, 0x0404},
        FlagsCase{"DtrEnableByLowBit", 0x0000, 0x0001, 0x0410},
        FlagsCase{"DtrEnableByHighBit", 0x0000, 0x0100, 0x0410},
        FlagsCase{"DtrHandshake", 0x0000, 0x8000, 0x0420},
        FlagsCase{"DtrEnableWinsOverHandshake", 0x0000, 0x8001, 0x0410},
        FlagsCase{"DtrRulesOnlySetBits", 0x0020, 0x0001, 0x0430},
        FlagsCase{"RtsHandshakeByLowBit", 0x0000, 0x0002, 0x2400},
        FlagsCase{"RtsRuleOnRtsEnabledGivesToggle", 0x1000, 0x0002, 0x3400},
        FlagsCase{"RtsRuleByHighBitOnRtsEnabled", 0x1000, 0x0200, 0x3400},
        FlagsCase{"RtsEnabledStaysWithoutRtsRule", 0x1000, 0x0001, 0x1410},
        FlagsCase{"RtsToggleOverRtsEnabled", 0x1000, 0x1000, 0x3400},
        FlagsCase{"RtsHandshakeByHighBit", 0x0000, 0x0200, 0x2400},
        FlagsCase{"RtsToggleBy1000", 0x0000, 0x1000, 0x3400},
        FlagsCase{"RtsToggleBy2000", 0x0000, 0x2000, 0x3400},
        FlagsCase{"RtsHandshakeWinsOverToggle", 0x0000, 0x1202, 0x2400},
        FlagsCase{"CtsFlow", 0x0000, 0x0010, 0x0404},
        FlagsCase{"DsrFlow", 0x0000, 0x0020, 0x0408},
        FlagsCase{"CtsWinsOverDsr", 0x0000, 0x0030, 0x0404},
        FlagsCase{"DsrSensitivity", 0x0000, 0x4000, 0x0440},
        FlagsCase{"DsrFlowWinsOverSensitivity", 0x0000, 0x4020, 0x0408},
        FlagsCase{"CtsWinsOverSensitivity", 0x0000, 0x4010, 0x0404},
        FlagsCase{"BitsThatSelectNothing", 0x0000, 0x0CCC, 0x0400},
        FlagsCase{"EveryRuleAtOnce", 0x0000, 0xFFFF, 0x2414},
        // fBinary, fOutX, fInX, fNull, fAbortOnError, fTXContinueOnXoff and
        // the reserved bits pass through.
        FlagsCase{"UnnamedBitsStayAsRead", 0xFFFFC3C9, 0x0303, 0xFFFFE7D9},
        FlagsCase{"UnnamedBitsWithRtsEnabled", 0xFFFFD3C9, 0x0303, 0xFFFFF7D9}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- DCB fields -------------------------------------------------------------

struct DcbCase {
  const char* name;
  DcbLine read;
  LineSettings line;
  DcbLine expected;
};

class DcbLineTest : public ::testing::TestWithParam<DcbCase> {};

TEST_P(DcbLineTest, FieldsAfterAFullOpen) {
  const DcbCase& c = GetParam();
  const DcbLine got = ConfigureDcbLine(c.read, c.line, 0x0303);
  EXPECT_EQ(got.baudRate, c.expected.baudRate);
  EXPECT_EQ(got.flags, c.expected.flags) << std::hex << got.flags;
  EXPECT_EQ(got.byteSize, c.expected.byteSize);
  EXPECT_EQ(got.parity, c.expected.parity);
  EXPECT_EQ(got.stopBits, c.expected.stopBits);
  EXPECT_EQ(got.errorChar, c.expected.errorChar);
}

constexpr DcbLine kRead = {38400, 0x1011, 7, 1, 1, 0};

INSTANTIATE_TEST_SUITE_P(
    Fields, DcbLineTest,
    ::testing::Values(DcbCase{"ControllerLine",
                              kRead,
                              {9600, 8, 0, 2},
                              {9600, 0x3413, 8, 2, 0, 0xFC}},
                      DcbCase{"NoParityLeavesParityCheckAsRead",
                              {9600, 0x0003, 8, 2, 0, 0},
                              {9600, 8, 0, 0},
                              {9600, 0x2413, 8, 0, 0, 0xFC}},
                      DcbCase{"NoParityDoesNotSwitchCheckOn",
                              {9600, 0x0001, 8, 2, 0, 0},
                              {9600, 8, 0, 0},
                              {9600, 0x2411, 8, 0, 0, 0xFC}},
                      DcbCase{"HighestRateUnchanged",
                              kRead,
                              {32767, 8, 0, 0},
                              {32767, 0x3411, 8, 0, 0, 0xFC}},
                      DcbCase{"RateAbove32767SignExtended",
                              kRead,
                              {static_cast<int16_t>(57600), 8, 0, 0},
                              {0xFFFFE100u, 0x3411, 8, 0, 0, 0xFC}},
                      DcbCase{"OnlyLowBytesOfTheSettings",
                              kRead,
                              {1200, 0x0107, 0x0102, 0x0300},
                              {1200, 0x3411, 7, 0, 2, 0xFC}},
                      DcbCase{"ParityInTheLowByteSwitchesCheckOn",
                              kRead,
                              {1200, 8, 0, 0x0104},
                              {1200, 0x3413, 8, 4, 0, 0xFC}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Names and time-outs ----------------------------------------------------

TEST(NullDeviceName, OnlyExactlyNulOverFourBytes) {
  EXPECT_TRUE(IsNullDeviceName("NUL"));
  for (const char* other :
       {"nul", "Nul", "NUL:", "NULL", "NU", "N", "", "COM1", " NUL"}) {
    EXPECT_FALSE(IsNullDeviceName(other)) << other;
  }
}

struct TimeoutCase {
  uint32_t inForce;
  uint32_t timeout;
  bool changes;
};

class ReadTimeoutTest : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(ReadTimeoutTest, WrittenOnlyWhenItDiffersAndIsNoKeepValue) {
  const TimeoutCase& c = GetParam();
  EXPECT_EQ(ReadTimeoutChanges(c.inForce, c.timeout), c.changes);
}

INSTANTIATE_TEST_SUITE_P(Values, ReadTimeoutTest,
                         ::testing::Values(TimeoutCase{1000, 250, true},
                                           TimeoutCase{1000, 1000, false},
                                           TimeoutCase{1000, 100, true},
                                           TimeoutCase{1000, 0, false},
                                           TimeoutCase{1000, 0xFFFFFFFF, false},
                                           TimeoutCase{0, 5, true},
                                           TimeoutCase{250, 0xFFFFFFFE, true}));

// ---- The flag word on a terminal -------------------------------------------

struct TerminalCase {
  const char* name;
  uint32_t flags;
  TerminalControl expected;
};

class TerminalControlTest : public ::testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalControlTest, WhatTheTerminalDoes) {
  EXPECT_EQ(TerminalControlFromDcbFlags(GetParam().flags), GetParam().expected);
}

using enum ModemLine;

INSTANTIATE_TEST_SUITE_P(
    Flags, TerminalControlTest,
    ::testing::Values(
        TerminalCase{"AfterColdStartOnABarePort",
                     0x2411,
                     {kRaise, kRaise, false, false}},
        TerminalCase{
            "AfterColdStartWithParity", 0x2413, {kRaise, kRaise, false, true}},
        TerminalCase{"LinesDisabled", 0x0401, {kDrop, kDrop, false, false}},
        TerminalCase{
            "DtrHandshakeRaises", 0x0421, {kRaise, kDrop, false, false}},
        TerminalCase{
            "InvalidDtrModeKeeps", 0x0431, {kKeep, kDrop, false, false}},
        TerminalCase{"RtsEnableRaises", 0x1401, {kDrop, kRaise, false, false}},
        TerminalCase{"RtsToggleKeeps", 0x3411, {kRaise, kKeep, false, false}},
        TerminalCase{
            "CtsFlowIsHardwareFlow", 0x2415, {kRaise, kRaise, true, false}},
        TerminalCase{
            "DsrFlowHasNoEquivalent", 0x0449, {kDrop, kDrop, false, false}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DcbFlagsFromTerminal, AsAPortWouldReportThem) {
  EXPECT_EQ(DcbFlagsFromTerminal(false, false, false, false), 0x0001u);
  EXPECT_EQ(DcbFlagsFromTerminal(false, true, false, false), 0x0003u);
  EXPECT_EQ(DcbFlagsFromTerminal(false, false, true, true), 0x1011u);
  EXPECT_EQ(DcbFlagsFromTerminal(true, false, true, true), 0x2015u);
  EXPECT_EQ(DcbFlagsFromTerminal(true, false, false, false), 0x2005u);
}

TEST(DcbFlagsFromTerminal, ColdStartFlagsLeaveBothLinesUpWithoutFlowControl) {
  for (const bool dtr : {false, true}) {
    for (const bool rts : {false, true}) {
      const uint32_t flags =
          ApplyLineFlags(DcbFlagsFromTerminal(false, false, dtr, rts), 0x0303);
      // A raised RTS reads as enabled and becomes toggle, which a terminal
      // cannot do: the line stays as it is, that is up.
      EXPECT_EQ(TerminalControlFromDcbFlags(flags),
                (TerminalControl{kRaise, rts ? kKeep : kRaise, false, false}))
          << dtr << rts;
    }
  }
}

}  // namespace
}  // namespace kavi
