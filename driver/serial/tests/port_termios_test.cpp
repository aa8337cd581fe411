#include "serial/port_termios.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace kavi {
namespace {

// A terminal as a fresh port leaves it: cooked, echoing, 38400 baud.
termios CookedTerminal() {
  termios attributes;
  std::memset(&attributes, 0, sizeof attributes);
  attributes.c_iflag = ICRNL | IXON | IXOFF | IGNPAR | PARMRK | ISTRIP;
  attributes.c_oflag = OPOST | ONLCR;
  attributes.c_cflag = CS7 | PARENB | CRTSCTS | CSTOPB | HUPCL;
  attributes.c_lflag = ICANON | ECHO | ISIG | IEXTEN | ECHOE;
  attributes.c_cc[VMIN] = 9;
  attributes.c_cc[VTIME] = 5;
  attributes.c_cc[VINTR] = 3;
  attributes.c_cc[VEOL] = 0x0A;
  cfsetispeed(&attributes, B38400);
  cfsetospeed(&attributes, B38400);
  return attributes;
}

constexpr TerminalControl kPlain = {ModemLine::kRaise, ModemLine::kRaise, false,
                                    false};

struct FramingCase {
  const char* name;
  LineSettings line;
  bool accepted;
  tcflag_t framing;  // CSIZE, CSTOPB, PARENB, PARODD, CMSPAR
  speed_t speed;
};

class FramingTest : public ::testing::TestWithParam<FramingCase> {};

TEST_P(FramingTest, LineSettingsBecomeTermiosFields) {
  const FramingCase& c = GetParam();
  const termios before = CookedTerminal();
  termios attributes = before;
  ASSERT_EQ(ConfigureTermios(c.line, kPlain, &attributes), c.accepted);
  if (!c.accepted) {
    EXPECT_EQ(std::memcmp(&attributes, &before, sizeof before), 0);
    return;
  }
  const tcflag_t framingBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
  EXPECT_EQ(attributes.c_cflag & framingBits, c.framing);
  EXPECT_EQ(cfgetispeed(&attributes), c.speed);
  EXPECT_EQ(cfgetospeed(&attributes), c.speed);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, FramingTest,
    ::testing::Values(
        FramingCase{
            "Controller8E1", {9600, 8, 0, 2}, true, CS8 | PARENB, B9600},
        FramingCase{"Plain8N1", {19200, 8, 0, 0}, true, CS8, B19200},
        FramingCase{"Odd7TwoStops",
                    {4800, 7, 2, 1},
                    true,
                    CS7 | CSTOPB | PARENB | PARODD,
                    B4800},
        FramingCase{"Mark",
                    {1200, 8, 0, 3},
                    true,
                    CS8 | PARENB | CMSPAR | PARODD,
                    B1200},
        FramingCase{
            "Space", {1200, 8, 0, 4}, true, CS8 | PARENB | CMSPAR, B1200},
        FramingCase{"SixBits", {300, 6, 0, 0}, true, CS6, B300},
        FramingCase{"FiveBitsOneAndAHalfStops",
                    {110, 5, 1, 0},
                    true,
                    CS5 | CSTOPB,
                    B110},
        FramingCase{"OnlyLowBytesCount",
                    {2400, 0x0108, 0x0100, 0x0102},
                    true,
                    CS8 | PARENB,
                    B2400},
        FramingCase{
            "OneAndAHalfStopsNeedFiveBits", {9600, 8, 1, 0}, false, 0, B0},
        FramingCase{"TwoStopsWithFiveBitsAreOneAndAHalf",
                    {9600, 5, 2, 0},
                    false,
                    0,
                    B0},
        FramingCase{"FourBits", {9600, 4, 0, 0}, false, 0, B0},
        FramingCase{"NineBits", {9600, 9, 0, 0}, false, 0, B0},
        FramingCase{"UnknownParity", {9600, 8, 0, 5}, false, 0, B0},
        FramingCase{"UnknownStopBits", {9600, 8, 3, 0}, false, 0, B0},
        FramingCase{"RateWithoutConstant", {14400, 8, 0, 0}, false, 0, B0},
        FramingCase{"RateZeroWouldHangUp", {0, 8, 0, 0}, false, 0, B0},
        FramingCase{"NegativeRate", {-7936, 8, 0, 0}, false, 0, B0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigureTermios, RawModeAndTheOpensTimeout) {
  termios attributes = CookedTerminal();
  ASSERT_TRUE(ConfigureTermios({9600, 8, 0, 0}, kPlain, &attributes));
  EXPECT_EQ(attributes.c_iflag, 0u);
  EXPECT_EQ(attributes.c_oflag & OPOST, 0u);
  EXPECT_EQ(attributes.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_NE(attributes.c_cflag & CREAD, 0u);
  EXPECT_NE(attributes.c_cflag & CLOCAL, 0u);
  EXPECT_NE(attributes.c_cflag & HUPCL, 0u);  // not ours to change
  EXPECT_EQ(attributes.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(attributes.c_cc[VMIN], 1);
  EXPECT_EQ(attributes.c_cc[VTIME], 0);
  EXPECT_EQ(attributes.c_cc[VEOL], 0x0A);  // untouched
  EXPECT_EQ(StoredReadTimeout(attributes), 1000u);
}

TEST(ConfigureTermios, FlowControlAndParityCheckFromTheFlagWord) {
  termios attributes = CookedTerminal();
  const TerminalControl control = {ModemLine::kRaise, ModemLine::kRaise, true,
                                   true};
  ASSERT_TRUE(ConfigureTermios({9600, 8, 0, 2}, control, &attributes));
  EXPECT_NE(attributes.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(attributes.c_iflag, static_cast<tcflag_t>(INPCK));
}

TEST(DcbFlagsFromTermios, FlowControlParityCheckAndModemLines) {
  termios attributes = CookedTerminal();
  EXPECT_EQ(DcbFlagsFromTermios(attributes, false, false), 0x2005u);
  attributes.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  attributes.c_iflag |= INPCK;
  EXPECT_EQ(DcbFlagsFromTermios(attributes, true, true), 0x1013u);
}

TEST(StoredReadTimeout, KeptInTheAttributesAlone) {
  termios attributes = CookedTerminal();
  const termios before = attributes;
  for (const uint32_t milliseconds : {1u, 100u, 1000u, 65536u, 0xFFFFFFu}) {
    StoreReadTimeout(&attributes, milliseconds);
    EXPECT_EQ(StoredReadTimeout(attributes), milliseconds);
  }
  StoreReadTimeout(&attributes, 0x01000000u);
  EXPECT_EQ(StoredReadTimeout(attributes), kLongestStoredReadTimeout);
  // Nothing a terminal acts on has changed.
  EXPECT_EQ(std::memcmp(&attributes, &before, offsetof(termios, c_cc)), 0);
  for (const int slot :
       {VINTR, VQUIT, VERASE, VKILL, VEOF, VTIME, VMIN, VSTART, VSTOP, VSUSP,
        VEOL, VREPRINT, VDISCARD, VWERASE, VLNEXT, VEOL2}) {
    EXPECT_EQ(attributes.c_cc[slot], before.c_cc[slot]) << slot;
  }
}

TEST(StoredReadTimeout, UnconfiguredTerminalReadsWithTheOpensTimeout) {
  termios attributes;
  std::memset(&attributes, 0, sizeof attributes);
  EXPECT_EQ(StoredReadTimeout(attributes), 1000u);
}

TEST(AppliedApartFromFraming, FramingMayDifferNothingElse) {
  termios wanted = CookedTerminal();
  ASSERT_TRUE(ConfigureTermios({9600, 7, 0, 2}, kPlain, &wanted));

  termios actual = wanted;
  EXPECT_TRUE(AppliedApartFromFraming(wanted, actual));
  // What a pseudo-terminal makes of it: 8 bits, no parity.
  actual.c_cflag =
      (actual.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8;
  EXPECT_TRUE(AppliedApartFromFraming(wanted, actual));

  termios other = wanted;
  cfsetospeed(&other, B4800);
  EXPECT_FALSE(AppliedApartFromFraming(wanted, other));
  other = wanted;
  other.c_cflag |= CRTSCTS;
  EXPECT_FALSE(AppliedApartFromFraming(wanted, other));
  other = wanted;
  other.c_cflag |= CSTOPB;  // stop bits are no framing a terminal drops
  EXPECT_FALSE(AppliedApartFromFraming(wanted, other));
  other = wanted;
  other.c_lflag |= ICANON;
  EXPECT_FALSE(AppliedApartFromFraming(wanted, other));
  other = wanted;
  other.c_iflag |= IXON;
  EXPECT_FALSE(AppliedApartFromFraming(wanted, other));
  other = wanted;
  other.c_cc[VMIN] = 5;
  EXPECT_FALSE(AppliedApartFromFraming(wanted, other));
  other = wanted;
  StoreReadTimeout(&other, 250);
  EXPECT_FALSE(AppliedApartFromFraming(wanted, other));
}

}  // namespace
}  // namespace kavi
