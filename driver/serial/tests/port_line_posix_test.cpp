// What only the POSIX backend shows: the exclusive hold, the names, what the
// terminal holds after an open, a hung-up line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "log_capture.h"
#include "port_commands_line_fixture.h"
#include "pty_pair.h"
#include "serial/port_termios.h"

namespace kavi::testing {
namespace {

// The terminal as the far end's side of the pair sees it.
termios AttributesOf(const std::string& path) {
  termios attributes{};
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(tcgetattr(fd, &attributes), 0);
  close(fd);
  return attributes;
}

std::string PathOf(const std::string& name) { return "/dev/" + name; }

TEST_F(PortLineTest, SecondOpenOfAHeldPortFails) {
  const PortHandle held = Open(0);
  const std::string name = rig().PortName(0);
  for (const uint16_t lineFlags : {uint16_t{0x0303}, uint16_t{0}}) {
    PortHandle second = 0xDEAD;
    EXPECT_EQ(ComOpenDevice(name.c_str(), kPlainLine, lineFlags, &second),
              kPortOpenFailed);
    EXPECT_EQ(second, 0u);
  }
  // Also by its absolute name, which is the same device.
  const std::string path = PathOf(name);
  if (path.size() < KAVI_PORT_NAME_SIZE) {
    PortHandle second = 0;
    EXPECT_EQ(ComOpenDevice(path.c_str(), kPlainLine, 0x0303, &second),
              kPortOpenFailed);
  }
  EXPECT_TRUE(rig().HandleIsOpen(held));
  Close(held);
  Close(Open(0));
}

// Whether the terminal keeps out new opens (TIOCEXCL). Root passes the
// flag, so the test reads it instead of relying on a refused open.
bool KeepsOthersOut(const std::string& path) {
#if defined(TIOCGEXCL)
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno == EBUSY;
  int exclusive = 0;
  EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  close(fd);
  return exclusive != 0;
#else
  ADD_FAILURE() << "TIOCGEXCL is unknown here";
  return false;
#endif
}

TEST_F(PortLineTest, CloseLetsOthersOpenThePortAgain) {
  const std::string path = PathOf(rig().PortName(0));
  const PortHandle handle = Open(0);
  EXPECT_TRUE(KeepsOthersOut(path));
  Close(handle);
  EXPECT_FALSE(KeepsOthersOut(path));
  Close(Open(0));
  EXPECT_FALSE(KeepsOthersOut(path));
}

TEST_F(PortLineTest, FailedOpenLetsOthersOpenThePort) {
  const std::string path = PathOf(rig().PortName(0));
  const std::string name = rig().PortName(0);
  PortHandle handle = 0;
  ASSERT_EQ(ComOpenDevice(name.c_str(), {9600, 4, 0, 0}, 0x0303, &handle),
            kPortConfigFailed);
  EXPECT_FALSE(KeepsOthersOut(path));
}

TEST_F(PortLineTest, RefusedSecondOpenLeavesTheHolderExclusive) {
  const std::string path = PathOf(rig().PortName(0));
  const std::string name = rig().PortName(0);
  const PortHandle held = Open(0);
  PortHandle second = 0;
  EXPECT_EQ(ComOpenDevice(name.c_str(), kPlainLine, 0x0303, &second),
            kPortOpenFailed);
  EXPECT_TRUE(KeepsOthersOut(path));
  Close(held);
  EXPECT_FALSE(KeepsOthersOut(path));
}

TEST_F(PortLineTest, AbsoluteNameOpensTheSameDevice) {
  const std::string path = PathOf(rig().PortName(0));
  if (path.size() >= KAVI_PORT_NAME_SIZE) {
    GTEST_SKIP() << path << " is longer than a port name";
  }
  PortHandle handle = 0;
  ASSERT_EQ(ComOpenDevice(path.c_str(), kPlainLine, 0x0303, &handle), kPortOk);
  rig().Send(0, {0x42});
  uint8_t byte = 0;
  uint32_t received = 0;
  EXPECT_EQ(ComRead(handle, &byte, 1, &received), kPortOk);
  EXPECT_EQ(byte, 0x42);
  EXPECT_EQ(ComClose(handle), kPortOk);
}

struct NameCase {
  const char* name;
  const char* portName;
  int32_t result;
};

class NameTest : public PortLineTest,
                 public ::testing::WithParamInterface<NameCase> {};

TEST_P(NameTest, OpensNothingAndLeavesNothingOpen) {
  const int handles = rig().OpenHandleCount();
  PortHandle handle = 0xDEAD;
  EXPECT_EQ(ComOpenDevice(GetParam().portName, kPlainLine, 0x0303, &handle),
            GetParam().result);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(rig().OpenHandleCount(), handles);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameTest,
    ::testing::Values(
        // The null device by its path is no special case: no terminal.
        NameCase{"NullDeviceByPath", "/dev/null", kPortStateFailed},
        NameCase{"NotATerminal", "zero", kPortStateFailed},
        NameCase{"NulInSmallLetters", "nul", kPortOpenFailed},
        NameCase{"NulWithColon", "NUL:", kPortOpenFailed},
        NameCase{"Directory", "/dev", kPortOpenFailed},
        NameCase{"LongerThanAPortName", "ttyKAVIROS01", kPortOpenFailed}),
    [](const auto& info) { return std::string(info.param.name); });

struct SpeedCase {
  const char* name;
  int16_t baudRate;
  int32_t result;
  speed_t speed;
};

class SpeedTest : public PortLineTest,
                  public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(SpeedTest, RatesTheTerminalNamesOnly) {
  const SpeedCase& c = GetParam();
  PortHandle handle = 0;
  const std::string name = rig().PortName(0);
  const LineSettings line = {c.baudRate, 8, 0, 0};
  EXPECT_EQ(ComOpenDevice(name.c_str(), line, 0x0303, &handle), c.result);
  if (c.result == kPortOk) {
    const termios attributes = AttributesOf(PathOf(name));
    EXPECT_EQ(cfgetospeed(&attributes), c.speed);
    EXPECT_EQ(ComClose(handle), kPortOk);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, SpeedTest,
    ::testing::Values(SpeedCase{"Rate9600", 9600, kPortOk, B9600},
                      SpeedCase{"Rate19200", 19200, kPortOk, B19200},
                      SpeedCase{"Rate50", 50, kPortOk, B50},
                      SpeedCase{"Rate14400HasNoConstant", 14400,
                                kPortConfigFailed, B0},
                      SpeedCase{"Rate0", 0, kPortConfigFailed, B0},
                      // 57600 arrives sign-extended, as a negative rate.
                      SpeedCase{"Rate57600", static_cast<int16_t>(57600),
                                kPortConfigFailed, B0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortLineTest, OpenLeavesTheTerminalRawWithTheSettings) {
  const std::string name = rig().PortName(0);
  PortHandle handle = Open(0, {4800, 7, 2, 1}, 0x0303);
  const termios attributes = AttributesOf(PathOf(name));
  EXPECT_EQ(cfgetospeed(&attributes), B4800);
  EXPECT_EQ(cfgetispeed(&attributes), B4800);
  EXPECT_NE(attributes.c_cflag & CSTOPB, 0u);
  EXPECT_NE(attributes.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(attributes.c_cflag & CRTSCTS, 0u);  // RTS handshake alone
  EXPECT_NE(attributes.c_iflag & INPCK, 0u);    // parity checked
  EXPECT_EQ(attributes.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(attributes.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(attributes.c_oflag & OPOST, 0u);
  EXPECT_EQ(StoredReadTimeout(attributes), 1000u);
  Close(handle);

  handle = Open(0, kPlainLine, 0x0011);  // CTS flow control
  EXPECT_NE(AttributesOf(PathOf(name)).c_cflag & CRTSCTS, 0u);
}

TEST_F(PortLineTest, LineFlagsZeroLeaveTheTerminalAsItWas) {
  const std::string name = rig().PortName(0);
  const termios before = AttributesOf(PathOf(name));
  const PortHandle handle = Open(0, {1200, 7, 2, 1}, 0);
  const termios after = AttributesOf(PathOf(name));
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  Close(handle);
}

TEST_F(PortLineTest, ReadTimeoutTravelsWithTheTerminal) {
  const PortHandle handle = Open(0);
  ComSetReadTimeout(handle, 1234);
  EXPECT_EQ(StoredReadTimeout(AttributesOf(PathOf(rig().PortName(0)))), 1234u);
  // Longer than the terminal keeps: held at the longest it can.
  EXPECT_EQ(ComSetReadTimeout(handle, 0x7FFFFFFF), 1234u);
  EXPECT_EQ(ComSetReadTimeout(handle, 0), kLongestStoredReadTimeout);
}

TEST_F(PortLineTest, EvenParityOpensAgainOnAPseudoTerminal) {
  // The terminal drops the parity; a repeated request for it is refused
  // although nothing else changes, and the open must not fail for that.
  const LineSettings even = {9600, 8, 0, 2};
  for (int round = 0; round < 3; ++round) Close(Open(0, even));
}

TEST_F(PortLineTest, ReadOnAHungUpLineFails) {
  PtyPair pair(false);
  ASSERT_TRUE(pair.ok());
  PortHandle handle = 0;
  ASSERT_EQ(
      ComOpenDevice(pair.relativeName().c_str(), kPlainLine, 0x0303, &handle),
      kPortOk);
  pair.HangUp();
  uint8_t buffer[4];
  uint32_t received = 0xDEAD;
  EXPECT_EQ(ComRead(handle, buffer, 4, &received), kPortSystemFailed);
  EXPECT_EQ(received, 0u);
  EXPECT_EQ(ComClose(handle), kPortOk);
}

TEST_F(CommandLineTest, ReOpenComWhileTheSerialPortIsHeldFails) {
  ASSERT_EQ(ColdStart(rig().PortName(0), 300), KAVI_OK);
  ClearLog();
  const PortHandle held = block.portHandle;
  EXPECT_EQ(Call(KAVI_REOPEN_COM, nullptr), KAVI_SEVERE);
  EXPECT_EQ(Logged(), (std::vector<LogLine>{
                          {8, "KAVIR> ReOpenCom() opening COM port failed"}}));
  EXPECT_EQ(block.portHandle, held);
  EXPECT_EQ(block.portOpen, 1u);
  EXPECT_TRUE(rig().HandleIsOpen(held));
  EXPECT_EQ(TimeoutInForce(), 300u);
}

TEST_F(CommandLineTest, ColdStartWithTheControllersLine) {
  ColdStartParams params;
  std::memset(&params, 0, sizeof params);
  const std::string name = rig().PortName(0);
  std::strncpy(params.portName, name.c_str(), sizeof params.portName - 1);
  params.usePort = 1;
  params.readTimeout = 500;
  params.line = {9600, 8, 0, 2};
  ASSERT_EQ(Call(KAVI_COLD_START, &params), KAVI_OK);
  EXPECT_EQ(TimeoutInForce(), 500u);
  EXPECT_EQ(Call(KAVI_CLOSE_COM, nullptr), KAVI_OK);
  EXPECT_EQ(Call(KAVI_REOPEN_COM, nullptr), KAVI_OK);
  EXPECT_EQ(Call(KAVI_CLOSE_COM, nullptr), KAVI_OK);
}

}  // namespace
}  // namespace kavi::testing
