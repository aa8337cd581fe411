#include "entry/lifecycle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace kavi::testing {
namespace {

const LogLine kInstalled{
    32,
    "KAVIR> Gossen Metrawatt R2600/R2601 32bit driver installed Version 1.00"};
const LogLine kOpenFailed{32, "KAVIR> ColdStart() error opening COM port"};

class LifecycleTest : public DriverTest {
 protected:
  ColdStartParams Params(const char* name, uint32_t usePort,
                         uint32_t readTimeout = 250) {
    ColdStartParams params;
    std::memset(&params, 0, sizeof params);
    std::strncpy(params.portName, name, sizeof params.portName);
    params.usePort = usePort;
    params.readTimeout = readTimeout;
    params.line = {4800, 7, 2, 1};
    return params;
  }
};

// ---- GetKaviInfo -------------------------------------------------------

TEST_F(LifecycleTest, GetKaviInfoReportsTheSameValuesEveryTime) {
  for (int round = 0; round < 2; ++round) {
    DriverInfo info;
    std::memset(&info, 0xCC, sizeof info);
    CallBlock call{};
    call.instance = round == 0 ? nullptr : &block;  // never touched
    call.command = KAVI_GET_KAVI_INFO;
    call.params = &info;
    ASSERT_EQ(KaviMain(&call), 0);
    EXPECT_EQ(info.fixedA, 70u);
    EXPECT_STREQ(info.deviceName, "Gossen Metrawatt R2600");
    EXPECT_EQ(info.banner, kBanner);
    EXPECT_EQ(info.instanceSize, 648u);
    EXPECT_EQ(info.fixedB, 4u);
    EXPECT_EQ(info.line.baudRate, 9600);
    EXPECT_EQ(info.line.byteSize, 8);
    EXPECT_EQ(info.line.stopBits, 0);
    EXPECT_EQ(info.line.parity, 2);
    EXPECT_EQ(info.fixedC, 1u);
  }
  EXPECT_TRUE(Logged().empty());
}

TEST_F(LifecycleTest, BannerIsSevenFramedLinesOf64Characters) {
  const std::string banner = kBanner;
  ASSERT_EQ(banner.size(), 456u);
  ASSERT_EQ(banner[0], '\n');
  std::vector<std::string> lines;
  std::istringstream in(banner.substr(1));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 7u);
  ASSERT_EQ(banner.back(), '\n');

  const std::string rule(64, '-');
  EXPECT_EQ(lines[0], rule);
  EXPECT_EQ(lines[6], rule);
  const char* texts[] = {
      "--  K A V I R O S :", "--  Gossen Metrawatt R2600/R2601",
      "--  32 Bit driver Installed.", "--  ", "--  Version 1.00     12.01.98"};
  for (int i = 1; i <= 5; ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(lines[i].size(), 64u);
    EXPECT_EQ(lines[i].rfind(texts[i - 1], 0), 0u);
    EXPECT_EQ(lines[i].substr(62), "--");
  }
  // The notice line has text of its own, no other maker's name.
  EXPECT_NE(lines[4].substr(4, 58).find_first_not_of(' '), std::string::npos);
}

// ---- ColdStart -----------------------------------------------------------

void ExpectDefaultGateTable(const InstanceBlock& block) {
  const int eight[] = {0x0D, 0x16, 0x1D, 0x1E, 0x22, 0x23, 0x28, 0x30, 0x31,
                       0x32, 0x35, 0x36, 0x39, 0x3A, 0xF2, 0xF4, 0xF5};
  const int sixteen[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                         0x09, 0x0C, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x14, 0x15,
                         0x18, 0x20, 0x33, 0x60, 0x64, 0xF0, 0xF1, 0xF3};
  uint16_t expected[256] = {};
  for (int index : eight) expected[index] = 1;
  for (int index : sixteen) expected[index] = 2;
  expected[0x21] = 3;
  for (int index = 0; index < 256; ++index) {
    EXPECT_EQ(block.gateTypes[index], expected[index]) << "PI " << index;
  }
}

TEST_F(LifecycleTest, WithoutPortFillsTheBlockAndOpensNothing) {
  ColdStartParams params = Params("COM1", 0, 250);
  EXPECT_EQ(Call(KAVI_COLD_START, &params), 0);

  EXPECT_TRUE(Logged().empty());
  EXPECT_TRUE(port().events.empty());
  EXPECT_EQ(block.portOpen, 0u);
  EXPECT_EQ(block.portHandle, 0u);
  EXPECT_EQ(block.readTimeout, 250u);
  ExpectDefaultGateTable(block);
  // Ready for a later ChangeKaviParams: no name, the controller's line.
  EXPECT_STREQ(block.portSettings.portName, "");
  EXPECT_EQ(block.portSettings.line.baudRate, 9600);
  EXPECT_EQ(block.portSettings.line.byteSize, 8);
  EXPECT_EQ(block.portSettings.line.stopBits, 0);
  EXPECT_EQ(block.portSettings.line.parity, 2);
  EXPECT_EQ(block.portSettings.lineFlags, 0x0303);
}

TEST_F(LifecycleTest, WithPortOpensConfiguredAndAppliesTheReadTimeout) {
  ColdStartParams params = Params("COM3", 1, 250);
  EXPECT_EQ(Call(KAVI_COLD_START, &params), 0);

  EXPECT_EQ(Logged(), Lines({kInstalled}));
  ASSERT_EQ(port().opens.size(), 1u);
  EXPECT_EQ(port().opens[0].name, "COM3");
  EXPECT_EQ(port().opens[0].line.baudRate, 4800);
  EXPECT_EQ(port().opens[0].line.byteSize, 7);
  EXPECT_EQ(port().opens[0].line.stopBits, 2);
  EXPECT_EQ(port().opens[0].line.parity, 1);
  EXPECT_EQ(port().opens[0].lineFlags, 0x0303);
  ASSERT_EQ(port().events.size(), 2u);
  EXPECT_EQ(port().events[1].call, PortCall::SetReadTimeout);
  EXPECT_EQ(port().events[1].handle, block.portHandle);
  EXPECT_EQ(port().events[1].count, 250u);

  EXPECT_EQ(block.portOpen, 1u);
  EXPECT_NE(block.portHandle, 0u);
  EXPECT_STREQ(block.portSettings.portName, "COM3");
  EXPECT_EQ(block.portSettings.lineFlags, 0x0303);
  ExpectDefaultGateTable(block);
}

TEST_F(LifecycleTest, FailedOpenKeepsSettingsAndLeavesThePortClosed) {
  port().openResult = kPortOpenFailed;
  ColdStartParams params = Params("COM7", 1, 250);
  EXPECT_EQ(Call(KAVI_COLD_START, &params), 2);

  EXPECT_EQ(Logged(), Lines({kOpenFailed}));
  EXPECT_EQ(port().Count(PortCall::SetReadTimeout), 0);
  EXPECT_EQ(block.portOpen, 0u);
  EXPECT_EQ(block.portHandle, 0u);
  EXPECT_EQ(block.readTimeout, 250u);
  EXPECT_STREQ(block.portSettings.portName, "COM7");
  EXPECT_EQ(block.portSettings.line.baudRate, 4800);
  EXPECT_EQ(block.portSettings.lineFlags, 0x0303);
  ExpectDefaultGateTable(block);
}

TEST_F(LifecycleTest, PortNameWithoutTerminatorIsNeverOpenedTruncated) {
  ColdStartParams params = Params("", 1);
  std::memcpy(params.portName, "ttyUSB012345", 12);  // no zero in 12 bytes
  Call(KAVI_COLD_START, &params);
  ASSERT_EQ(port().opens.size(), 1u);
  EXPECT_EQ(port().opens[0].name, "");
  EXPECT_STREQ(block.portSettings.portName, "");
}

TEST_F(LifecycleTest, SecondColdStartRestoresTheDefaultsAndClosesNothing) {
  ColdStartParams params = Params("COM1", 1);
  ASSERT_EQ(Call(KAVI_COLD_START, &params), 0);
  for (uint16_t& entry : block.gateTypes) entry = 3;

  ASSERT_EQ(Call(KAVI_COLD_START, &params), 0);
  ExpectDefaultGateTable(block);
  EXPECT_EQ(port().Count(PortCall::Close), 0);
}

}  // namespace
}  // namespace kavi::testing
