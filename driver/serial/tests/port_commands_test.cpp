#include "serial/port_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "driver_fixture.h"
#include "serial/port_settings.h"

namespace kavi::testing {
namespace {

const LogLine kCloseFailed{8, "KAVIR> CloseCom() close COM port failed"};
const LogLine kReopenFailed{8, "KAVIR> ReOpenCom() opening COM port failed"};
const LogLine kChangeFailed{
    32, "KAVIR> ChangeKaviParams() open new COM port failed"};

constexpr PortHandle kFirst = 0x100;   // opened by ColdStart
constexpr PortHandle kSecond = 0x101;  // opened by the command
constexpr LineSettings kNewLine = {4800, 7, 2, 1};

class PortCommandTest : public DriverTest {
 protected:
  // ColdStart on "COM1" with read time-out 250; closed again if asked.
  void StartWith(bool open) {
    ASSERT_EQ(ColdStartWithPort(true, 250), KAVI_OK);
    ASSERT_EQ(block.portHandle, kFirst);
    if (!open) {
      ASSERT_EQ(Call(KAVI_CLOSE_COM, nullptr), KAVI_OK);
    }
    ClearLog();
    port().events.clear();
    port().opens.clear();
  }

  static ChangeParams Change(const char* name, uint32_t readTimeout,
                             LineSettings line = kNewLine) {
    ChangeParams params;
    std::memset(&params, 0, sizeof params);
    std::strncpy(params.portName, name, sizeof params.portName);
    params.readTimeout = readTimeout;
    params.line = line;
    return params;
  }

  // The port operations so far, with the handle each was given.
  std::vector<std::pair<PortCall, PortHandle>> Calls() {
    std::vector<std::pair<PortCall, PortHandle>> calls;
    for (const PortEvent& event : port().events) {
      calls.emplace_back(event.call, event.handle);
    }
    return calls;
  }
};

// ---- Every transition of the port state ---------------------------------

using CallList = std::vector<std::pair<PortCall, PortHandle>>;

struct StateCase {
  const char* name;
  bool startOpen;
  uint32_t command;
  bool exclusive;  // a serial port, held without sharing; else like "NUL"
  int32_t openResult;
  int32_t closeResult;
  int32_t result;
  std::vector<LogLine> log;
  uint32_t portOpen;
  PortHandle portHandle;
  CallList calls;
  uint32_t readTimeoutInForce;
};

class PortStateTest : public PortCommandTest,
                      public ::testing::WithParamInterface<StateCase> {};

TEST_P(PortStateTest, ResultMessagesAndState) {
  const StateCase& c = GetParam();
  StartWith(c.startOpen);
  port().exclusive = c.exclusive;
  port().openResult = c.openResult;
  port().closeResult = c.closeResult;

  ChangeParams params = Change("COM2", 400);
  EXPECT_EQ(Call(c.command, &params), c.result);
  EXPECT_EQ(Logged(), c.log);
  EXPECT_EQ(block.portOpen, c.portOpen);
  EXPECT_EQ(block.portHandle, c.portHandle);
  EXPECT_EQ(Calls(), c.calls);
  EXPECT_EQ(port().readTimeoutInForce, c.readTimeoutInForce);
}

constexpr int32_t kOk = kPortOk;
constexpr int32_t kFailedClose = kPortSystemFailed;
using enum PortCall;

INSTANTIATE_TEST_SUITE_P(
    Transitions, PortStateTest,
    ::testing::Values(
        StateCase{"CloseComFromClosed",
                  false,
                  KAVI_CLOSE_COM,
                  true,
                  kOk,
                  kOk,
                  KAVI_OK,
                  {},
                  0,
                  0,
                  {},
                  250},
        StateCase{"CloseComFromOpen",
                  true,
                  KAVI_CLOSE_COM,
                  true,
                  kOk,
                  kOk,
                  KAVI_OK,
                  {},
                  0,
                  0,
                  {{Close, kFirst}},
                  250},
        StateCase{"CloseComFails",
                  true,
                  KAVI_CLOSE_COM,
                  true,
                  kOk,
                  kFailedClose,
                  KAVI_SEVERE,
                  {kCloseFailed},
                  1,
                  kFirst,
                  {{Close, kFirst}},
                  250},
        StateCase{"ReOpenComFromClosed",
                  false,
                  KAVI_REOPEN_COM,
                  true,
                  kOk,
                  kOk,
                  KAVI_OK,
                  {},
                  1,
                  kSecond,
                  {{Open, 0}},
                  250},
        StateCase{"ReOpenComFromClosedFails",
                  false,
                  KAVI_REOPEN_COM,
                  true,
                  kPortOpenFailed,
                  kOk,
                  KAVI_SEVERE,
                  {kReopenFailed},
                  0,
                  0,
                  {{Open, 0}},
                  250},
        StateCase{"ReOpenComWhileTheSerialPortIsHeld",
                  true,
                  KAVI_REOPEN_COM,
                  true,
                  kOk,
                  kOk,
                  KAVI_SEVERE,
                  {kReopenFailed},
                  1,
                  kFirst,
                  {{Open, 0}},
                  250},
        StateCase{"ReOpenComOnADeviceOpenTwiceClosesTheFirst",
                  true,
                  KAVI_REOPEN_COM,
                  false,
                  kOk,
                  kOk,
                  KAVI_OK,
                  {},
                  1,
                  kSecond,
                  {{Open, 0}, {Close, kFirst}},
                  250},
        StateCase{"ReOpenComKeepsTheNewHandleWhenTheOldWillNotClose",
                  true,
                  KAVI_REOPEN_COM,
                  false,
                  kOk,
                  kFailedClose,
                  KAVI_OK,
                  {kCloseFailed},
                  1,
                  kSecond,
                  {{Open, 0}, {Close, kFirst}},
                  250},
        StateCase{"ChangeFromClosed",
                  false,
                  KAVI_CHANGE_KAVI_PARAMS,
                  true,
                  kOk,
                  kOk,
                  KAVI_OK,
                  {},
                  1,
                  kSecond,
                  {{Open, 0}, {SetReadTimeout, kSecond}},
                  400},
        StateCase{"ChangeFromClosedFails",
                  false,
                  KAVI_CHANGE_KAVI_PARAMS,
                  true,
                  kPortOpenFailed,
                  kOk,
                  KAVI_SEVERE,
                  {kChangeFailed},
                  0,
                  0,
                  {{Open, 0}},
                  250},
        StateCase{"ChangeFromOpen",
                  true,
                  KAVI_CHANGE_KAVI_PARAMS,
                  true,
                  kOk,
                  kOk,
                  KAVI_OK,
                  {},
                  1,
                  kSecond,
                  {{Close, kFirst}, {Open, 0}, {SetReadTimeout, kSecond}},
                  400},
        StateCase{"ChangeFromOpenFailsToOpen",
                  true,
                  KAVI_CHANGE_KAVI_PARAMS,
                  true,
                  kPortConfigFailed,
                  kOk,
                  KAVI_SEVERE,
                  {kChangeFailed},
                  0,
                  0,
                  {{Close, kFirst}, {Open, 0}},
                  250},
        StateCase{"ChangeGoesOnAfterAFailedClose",
                  true,
                  KAVI_CHANGE_KAVI_PARAMS,
                  false,
                  kOk,
                  kFailedClose,
                  KAVI_OK,
                  {kCloseFailed},
                  1,
                  kSecond,
                  {{Close, kFirst}, {Open, 0}, {SetReadTimeout, kSecond}},
                  400},
        StateCase{"ChangeKeepsTheOldPortWhenCloseAndOpenFail",
                  true,
                  KAVI_CHANGE_KAVI_PARAMS,
                  false,
                  kPortOpenFailed,
                  kFailedClose,
                  KAVI_SEVERE,
                  (std::vector<LogLine>{kCloseFailed, kChangeFailed}),
                  1,
                  kFirst,
                  {{Close, kFirst}, {Open, 0}},
                  250},
        StateCase{"ChangeOnAHeldPortThatWillNotClose",
                  true,
                  KAVI_CHANGE_KAVI_PARAMS,
                  true,
                  kOk,
                  kFailedClose,
                  KAVI_SEVERE,
                  (std::vector<LogLine>{kCloseFailed, kChangeFailed}),
                  1,
                  kFirst,
                  {{Close, kFirst}, {Open, 0}},
                  250}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- What the commands open with ------------------------------------------

TEST_F(PortCommandTest, ReOpenComUsesTheStoredSettingsAndNoReadTimeout) {
  StartWith(false);
  ASSERT_EQ(Call(KAVI_REOPEN_COM, nullptr), KAVI_OK);
  ASSERT_EQ(port().opens.size(), 1u);
  EXPECT_EQ(port().opens[0].name, "COM1");
  EXPECT_EQ(port().opens[0].line.baudRate, 9600);
  EXPECT_EQ(port().opens[0].line.parity, 2);
  EXPECT_EQ(port().opens[0].lineFlags, kColdStartLineFlags);
  EXPECT_EQ(port().Count(PortCall::SetReadTimeout), 0);
  EXPECT_EQ(block.readTimeout, 250u);
}

struct ChangeCase {
  const char* name;
  uint32_t readTimeout;
  LineSettings line;
  uint32_t storedTimeout;  // and applied to the new port
  LineSettings storedLine;
};

class ChangeSettingsTest : public PortCommandTest,
                           public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangeSettingsTest, StoredAndOpenedWith) {
  const ChangeCase& c = GetParam();
  StartWith(true);
  ChangeParams params = Change("COM2", c.readTimeout, c.line);
  ASSERT_EQ(Call(KAVI_CHANGE_KAVI_PARAMS, &params), KAVI_OK);

  EXPECT_EQ(block.readTimeout, c.storedTimeout);
  EXPECT_STREQ(block.portSettings.portName, "COM2");
  EXPECT_EQ(
      std::memcmp(&block.portSettings.line, &c.storedLine, sizeof c.storedLine),
      0);
  EXPECT_EQ(block.portSettings.lineFlags, kColdStartLineFlags);
  ASSERT_EQ(port().opens.size(), 1u);
  EXPECT_EQ(port().opens[0].name, "COM2");
  EXPECT_EQ(
      std::memcmp(&port().opens[0].line, &c.storedLine, sizeof c.storedLine),
      0);
  EXPECT_EQ(port().opens[0].lineFlags, kColdStartLineFlags);
  ASSERT_EQ(port().events.back().call, PortCall::SetReadTimeout);
  EXPECT_EQ(port().events.back().count, c.storedTimeout);
}

constexpr LineSettings kColdStartLine = {9600, 8, 0, 2};

INSTANTIATE_TEST_SUITE_P(
    Records, ChangeSettingsTest,
    ::testing::Values(
        ChangeCase{"NewTimeoutAndLine", 400, kNewLine, 400, kNewLine},
        ChangeCase{"TimeoutZeroKeepsTheStoredOne", 0, kNewLine, 250, kNewLine},
        ChangeCase{"TimeoutAllBitsKeepsTheStoredOne", 0xFFFFFFFFu, kNewLine,
                   250, kNewLine},
        ChangeCase{"BaudRateZeroKeepsAllFourSettings",
                   400,
                   {0, 7, 2, 1},
                   400,
                   kColdStartLine},
        ChangeCase{"NegativeBaudRateIsARate",
                   400,
                   {static_cast<int16_t>(57600), 8, 0, 0},
                   400,
                   {static_cast<int16_t>(57600), 8, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortCommandTest, ChangeWithAnUnterminatedNameStoresItEmpty) {
  StartWith(true);
  ChangeParams params = Change("", 400);
  std::memcpy(params.portName, "COM2COM2COM2", KAVI_PORT_NAME_SIZE);
  // The backend opens nothing by an empty name.
  port().openResult = kPortOpenFailed;
  EXPECT_EQ(Call(KAVI_CHANGE_KAVI_PARAMS, &params), KAVI_SEVERE);
  EXPECT_EQ(Logged(), std::vector<LogLine>{kChangeFailed});
  EXPECT_STREQ(block.portSettings.portName, "");
  ASSERT_EQ(port().opens.size(), 1u);
  EXPECT_EQ(port().opens[0].name, "");  // never a truncated name
  EXPECT_EQ(block.readTimeout, 400u);
  EXPECT_EQ(block.portSettings.line.baudRate, kNewLine.baudRate);
}

TEST_F(PortCommandTest, ReOpenComRetriesTheSettingsOfAFailedChange) {
  StartWith(false);
  port().openResult = kPortOpenFailed;
  ChangeParams params = Change("COM2", 400);
  ASSERT_EQ(Call(KAVI_CHANGE_KAVI_PARAMS, &params), KAVI_SEVERE);

  port().openResult = kPortOk;
  ClearLog();
  EXPECT_EQ(Call(KAVI_REOPEN_COM, nullptr), KAVI_OK);
  EXPECT_TRUE(Logged().empty());
  ASSERT_EQ(port().opens.size(), 2u);
  EXPECT_EQ(port().opens[1].name, "COM2");
  EXPECT_EQ(port().opens[1].line.baudRate, kNewLine.baudRate);
}

TEST_F(PortCommandTest, ChangeAfterAColdStartWithoutAPort) {
  ASSERT_EQ(ColdStartWithPort(false, 250), KAVI_OK);
  ChangeParams params = Change("COM3", 0, {0, 0, 0, 0});
  ASSERT_EQ(Call(KAVI_CHANGE_KAVI_PARAMS, &params), KAVI_OK);
  EXPECT_EQ(port().Count(PortCall::Close), 0);
  ASSERT_EQ(port().opens.size(), 1u);
  EXPECT_EQ(port().opens[0].name, "COM3");
  EXPECT_EQ(port().opens[0].line.baudRate, kDefaultLineSettings.baudRate);
  EXPECT_EQ(port().opens[0].line.parity, kDefaultLineSettings.parity);
  EXPECT_EQ(port().opens[0].lineFlags, kColdStartLineFlags);
  EXPECT_EQ(port().events.back().count, 250u);
  EXPECT_EQ(block.portOpen, 1u);
}

TEST_F(PortCommandTest, CloseComGoesByTheHandleAlone) {
  StartWith(false);
  block.portOpen = 1;  // a host's leftover; no handle, so nothing is open
  EXPECT_EQ(Call(KAVI_CLOSE_COM, nullptr), KAVI_OK);
  EXPECT_EQ(block.portOpen, 1u);
  EXPECT_TRUE(port().events.empty());
  EXPECT_TRUE(Logged().empty());
}

TEST_F(PortCommandTest, CommandsLeaveTheGateTableAndBuffersAlone) {
  StartWith(true);
  InstanceBlock before;
  std::memcpy(&before, &block, sizeof block);
  ChangeParams params = Change("COM2", 400);
  ASSERT_EQ(Call(KAVI_CHANGE_KAVI_PARAMS, &params), KAVI_OK);
  ASSERT_EQ(Call(KAVI_CLOSE_COM, nullptr), KAVI_OK);
  ASSERT_EQ(Call(KAVI_REOPEN_COM, nullptr), KAVI_OK);
  EXPECT_EQ(
      std::memcmp(block.gateTypes, before.gateTypes, sizeof block.gateTypes),
      0);
  EXPECT_EQ(std::memcmp(block.txBuffer, before.txBuffer, sizeof block.txBuffer),
            0);
  EXPECT_EQ(std::memcmp(block.rxBuffer, before.rxBuffer, sizeof block.rxBuffer),
            0);
}

}  // namespace
}  // namespace kavi::testing
