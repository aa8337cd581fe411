// What only the Win32 backend shows: names the system takes for the null
// device, and the port's time-outs and state as the open leaves them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "port_line_fixture.h"

namespace kavi::testing {
namespace {

HANDLE SystemHandle(PortHandle handle) {
  return reinterpret_cast<HANDLE>(
      static_cast<intptr_t>(static_cast<int32_t>(handle)));
}

// Only "NUL" itself skips the configuration; the system opens these as the
// null device too, whose state query then fails.
class NullLookalikeTest : public PortLineTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(NullLookalikeTest, FailsTheStateQueryAndLeavesNothingOpen) {
  const int handles = rig().OpenHandleCount();
  PortHandle handle = 0xDEAD;
  EXPECT_EQ(ComOpenDevice(GetParam(), kPlainLine, 0x0303, &handle),
            kPortStateFailed);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(rig().OpenHandleCount(), handles);
}

INSTANTIATE_TEST_SUITE_P(Names, NullLookalikeTest,
                         ::testing::Values("nul", "Nul", "NUL:"),
                         [](const auto& info) {
                           const std::string name = info.param;
                           return name == "NUL:" ? std::string("NulColon")
                                                 : name;
                         });

TEST_F(PortLineTest, OpenWritesTheTimeouts) {
  const PortHandle handle = Open(0);
  COMMTIMEOUTS timeouts;
  ASSERT_TRUE(GetCommTimeouts(SystemHandle(handle), &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);

  // A new time-out replaces the constant alone.
  timeouts.ReadIntervalTimeout = 7;
  ASSERT_TRUE(SetCommTimeouts(SystemHandle(handle), &timeouts));
  EXPECT_EQ(ComSetReadTimeout(handle, 250), 1000u);
  ASSERT_TRUE(GetCommTimeouts(SystemHandle(handle), &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 7u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 250u);
}

TEST_F(PortLineTest, OpenWritesTheLineSettings) {
  const PortHandle handle = Open(0, {4800, 8, 2, 0}, 0x0303);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(SystemHandle(handle), &dcb));
  EXPECT_EQ(dcb.BaudRate, 4800u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.StopBits, 2);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
}

TEST_F(PortLineTest, LineFlagsZeroWriteNoTimeouts) {
  // The open's 1000 ms would show here; the port keeps what it had.
  const PortHandle handle = Open(0, kPlainLine, 0);
  COMMTIMEOUTS timeouts;
  ASSERT_TRUE(GetCommTimeouts(SystemHandle(handle), &timeouts));
  EXPECT_NE(timeouts.ReadTotalTimeoutConstant, 1000u);
}

}  // namespace
}  // namespace kavi::testing
