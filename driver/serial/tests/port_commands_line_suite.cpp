// The port commands through KaviMain on real lines, on both backends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log_capture.h"
#include "port_commands_line_fixture.h"

namespace kavi::testing {
namespace {

const LogLine kInstalled{
    32,
    "KAVIR> Gossen Metrawatt R2600/R2601 32bit driver installed Version 1.00"};
const LogLine kChangeFailed{
    32, "KAVIR> ChangeKaviParams() open new COM port failed"};
const LogLine kReopenFailed{8, "KAVIR> ReOpenCom() opening COM port failed"};

TEST_F(CommandLineTest, CloseReopenAndChangeToTheOtherPort) {
  ASSERT_EQ(ColdStart(rig().PortName(0), 300), KAVI_OK);
  EXPECT_EQ(Logged(), std::vector<LogLine>{kInstalled});
  ClearLog();
  const PortHandle first = block.portHandle;
  EXPECT_EQ(block.portOpen, 1u);
  EXPECT_EQ(TimeoutInForce(), 300u);

  EXPECT_EQ(Call(KAVI_CLOSE_COM, nullptr), KAVI_OK);
  EXPECT_EQ(block.portHandle, 0u);
  EXPECT_EQ(block.portOpen, 0u);
  EXPECT_FALSE(rig().HandleIsOpen(first));
  EXPECT_EQ(Call(KAVI_CLOSE_COM, nullptr), KAVI_OK);  // nothing left to close

  // Opened again with the stored settings and the open's own time-out.
  EXPECT_EQ(Call(KAVI_REOPEN_COM, nullptr), KAVI_OK);
  const PortHandle reopened = block.portHandle;
  EXPECT_EQ(block.portOpen, 1u);
  EXPECT_TRUE(rig().HandleIsOpen(reopened));
  EXPECT_EQ(TimeoutInForce(), 1000u);
  EXPECT_EQ(block.readTimeout, 300u);

  const int handles = rig().OpenHandleCount();
  ASSERT_EQ(Change(rig().PortName(1), 400), KAVI_OK);
  // The first port was closed (the new one may reuse its number) and is
  // free for another open.
  EXPECT_EQ(rig().OpenHandleCount(), handles);
  Close(Open(0));
  EXPECT_TRUE(rig().HandleIsOpen(block.portHandle));
  EXPECT_EQ(block.portOpen, 1u);
  EXPECT_EQ(TimeoutInForce(), 400u);
  EXPECT_EQ(block.readTimeout, 400u);
  EXPECT_EQ(std::string(block.portSettings.portName), rig().PortName(1));

  // The block now talks over the second line.
  const Bytes request = {0x10, 0x49, 0x01, 0x4A, 0x16};
  ASSERT_EQ(ComWrite(block.portHandle, request.data(), 5, nullptr), kPortOk);
  EXPECT_EQ(rig().Receive(1, 5, 5000), request);
  EXPECT_TRUE(rig().Receive(0, 1, 50).empty());

  EXPECT_EQ(Call(KAVI_CLOSE_COM, nullptr), KAVI_OK);
  EXPECT_TRUE(Logged().empty());
}

TEST_F(CommandLineTest, ReOpenComOnTheNullDeviceClosesTheFirstHandle) {
  ASSERT_EQ(ColdStart("NUL", 300), KAVI_OK);
  ClearLog();
  const PortHandle first = block.portHandle;
  const int handles = rig().OpenHandleCount();

  EXPECT_EQ(Call(KAVI_REOPEN_COM, nullptr), KAVI_OK);
  EXPECT_NE(block.portHandle, first);
  EXPECT_TRUE(rig().HandleIsOpen(block.portHandle));
  EXPECT_FALSE(rig().HandleIsOpen(first));
  EXPECT_EQ(rig().OpenHandleCount(), handles);
  EXPECT_EQ(block.portOpen, 1u);
  EXPECT_TRUE(Logged().empty());

  EXPECT_EQ(Call(KAVI_CLOSE_COM, nullptr), KAVI_OK);
}

TEST_F(CommandLineTest, ChangeToAPortThatDoesNotOpenLeavesTheBlockClosed) {
  ASSERT_EQ(ColdStart(rig().PortName(0), 300), KAVI_OK);
  ClearLog();
  const PortHandle first = block.portHandle;

  EXPECT_EQ(Change(rig().MissingPortName(), 0), KAVI_SEVERE);
  EXPECT_EQ(Logged(), std::vector<LogLine>{kChangeFailed});
  EXPECT_FALSE(rig().HandleIsOpen(first));
  EXPECT_EQ(block.portHandle, 0u);
  EXPECT_EQ(block.portOpen, 0u);

  // The new name stays stored: a reopen tries it again.
  ClearLog();
  EXPECT_EQ(Call(KAVI_REOPEN_COM, nullptr), KAVI_SEVERE);
  EXPECT_EQ(Logged(), std::vector<LogLine>{kReopenFailed});

  ClearLog();
  EXPECT_EQ(Change(rig().PortName(0), 0), KAVI_OK);
  EXPECT_EQ(TimeoutInForce(), 300u);  // the stored one, kept
  EXPECT_TRUE(Logged().empty());
}

TEST_F(CommandLineTest, ChangeWithAnUnterminatedNameOpensNothing) {
  ASSERT_EQ(ColdStart(rig().PortName(0), 300), KAVI_OK);
  ClearLog();
  ChangeParams params;
  std::memset(&params, 0, sizeof params);
  std::memcpy(params.portName, "NULNULNULNUL", KAVI_PORT_NAME_SIZE);
  EXPECT_EQ(Call(KAVI_CHANGE_KAVI_PARAMS, &params), KAVI_SEVERE);
  EXPECT_EQ(Logged(), std::vector<LogLine>{kChangeFailed});
  EXPECT_STREQ(block.portSettings.portName, "");
  EXPECT_EQ(block.portOpen, 0u);
}

}  // namespace
}  // namespace kavi::testing
