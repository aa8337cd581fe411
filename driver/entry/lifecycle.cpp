#include "entry/lifecycle.h"

#include "entry/call_block.h"
#include "entry/host_log.h"
#include "serial/port.h"
#include "serial/port_settings.h"

namespace kavi {

// One line feed, then seven framed lines of 64 characters each.
const char kBanner[] =
    "\n"
    "----------------------------------------------------------------\n"
    "--  K A V I R O S :                                           --\n"
    "--  Gossen Metrawatt R2600/R2601                              --\n"
    "--  32 Bit driver Installed.                                  --\n"
    "--  Serial line driver: reads and writes controller gates     --\n"
    "--  Version 1.00     12.01.98                                 --\n"
    "----------------------------------------------------------------\n";
static_assert(sizeof(kBanner) == 456 + 1);

namespace {

struct GateDefault {
  uint8_t paramIndex;
  uint16_t width;
};

constexpr GateDefault kGateDefaults[] = {
    // 8 bit
    {0x0D, KAVI_GATE_8BIT},
    {0x16, KAVI_GATE_8BIT},
    {0x1D, KAVI_GATE_8BIT},
    {0x1E, KAVI_GATE_8BIT},
    {0x22, KAVI_GATE_8BIT},
    {0x23, KAVI_GATE_8BIT},
    {0x28, KAVI_GATE_8BIT},
    {0x30, KAVI_GATE_8BIT},
    {0x31, KAVI_GATE_8BIT},
    {0x32, KAVI_GATE_8BIT},
    {0x35, KAVI_GATE_8BIT},
    {0x36, KAVI_GATE_8BIT},
    {0x39, KAVI_GATE_8BIT},
    {0x3A, KAVI_GATE_8BIT},
    {0xF2, KAVI_GATE_8BIT},
    {0xF4, KAVI_GATE_8BIT},
    {0xF5, KAVI_GATE_8BIT},
    // 16 bit
    {0x00, KAVI_GATE_16BIT},
    {0x01, KAVI_GATE_16BIT},
    {0x02, KAVI_GATE_16BIT},
    {0x03, KAVI_GATE_16BIT},
    {0x04, KAVI_GATE_16BIT},
    {0x05, KAVI_GATE_16BIT},
    {0x06, KAVI_GATE_16BIT},
    {0x07, KAVI_GATE_16BIT},
    {0x08, KAVI_GATE_16BIT},
    {0x09, KAVI_GATE_16BIT},
    {0x0C, KAVI_GATE_16BIT},
    {0x0E, KAVI_GATE_16BIT},
    {0x0F, KAVI_GATE_16BIT},
    {0x10, KAVI_GATE_16BIT},
    {0x11, KAVI_GATE_16BIT},
    {0x12, KAVI_GATE_16BIT},
    {0x14, KAVI_GATE_16BIT},
    {0x15, KAVI_GATE_16BIT},
    {0x18, KAVI_GATE_16BIT},
    {0x20, KAVI_GATE_16BIT},
    {0x33, KAVI_GATE_16BIT},
    {0x60, KAVI_GATE_16BIT},
    {0x64, KAVI_GATE_16BIT},
    {0xF0, KAVI_GATE_16BIT},
    {0xF1, KAVI_GATE_16BIT},
    {0xF3, KAVI_GATE_16BIT},
    // 32 bit
    {0x21, KAVI_GATE_32BIT},
};
static_assert(sizeof(kGateDefaults) / sizeof(kGateDefaults[0]) == 44);

}  // namespace

void FillDefaultGateTypes(uint16_t (&gateTypes)[KAVI_GATE_COUNT]) {
  for (uint16_t& entry : gateTypes) entry = KAVI_GATE_NONE;
  for (const GateDefault& entry : kGateDefaults) {
    gateTypes[entry.paramIndex] = entry.width;
  }
}

int32_t GetKaviInfo(CallBlock* call) {
  DriverInfo& info = ParamsOf<DriverInfo>(call);
  info.fixedA = kDriverInfoFixedA;
  info.deviceName = kDeviceName;
  info.banner = kBanner;
  info.instanceSize = KAVI_INSTANCE_SIZE;
  info.fixedB = kDriverInfoFixedB;
  info.line = kDefaultLineSettings;
  info.fixedC = kDriverInfoFixedC;
  return KAVI_OK;
}

int32_t ColdStart(CallBlock* call) {
  InstanceBlock& block = InstanceOf(call);
  const ColdStartParams& params = ParamsOf<const ColdStartParams>(call);

  block.portOpen = 0;
  block.portHandle = 0;
  block.readTimeout = params.readTimeout;
  FillDefaultGateTypes(block.gateTypes);

  if (params.usePort == 0) {
    // Settings a later ChangeKaviParams can open with, fully configured.
    block.portSettings = kUnnamedPortSettings;
    return KAVI_OK;
  }

  CopyPortName(block.portSettings.portName, params.portName);
  block.portSettings.line = params.line;
  block.portSettings.lineFlags = kColdStartLineFlags;

  const PortHandle handle = ComOpen(block.portSettings);
  if (handle == 0) {
    Log(kLevelSetup, "KAVIR> ColdStart() error opening COM port");
    return KAVI_SEVERE;
  }
  block.portHandle = handle;
  block.portOpen = 1;
  Log(kLevelSetup,
      "KAVIR> Gossen Metrawatt R2600/R2601 32bit driver installed Version "
      "1.00");
  ComSetReadTimeout(handle, params.readTimeout);
  return KAVI_OK;
}

int32_t WarmStart(CallBlock*) { return KAVI_OK; }

int32_t EndKavi(CallBlock*) { return KAVI_OK; }

}  // namespace kavi
