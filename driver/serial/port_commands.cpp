#include "serial/port_commands.h"

#include "entry/call_block.h"
#include "entry/host_log.h"
#include "serial/port.h"
#include "serial/port_settings.h"

namespace kavi {
namespace {

constexpr uint32_t kKeepReadTimeoutA = 0;
constexpr uint32_t kKeepReadTimeoutB = 0xFFFFFFFFu;

void MarkOpen(InstanceBlock& block, PortHandle handle) {
  block.portHandle = handle;
  block.portOpen = 1;
}

}  // namespace

int32_t CloseCom(CallBlock* call) {
  InstanceBlock& block = InstanceOf(call);
  // portHandle alone decides: a block without one counts as closed.
  if (block.portHandle == 0) return KAVI_OK;
  if (ComClose(block.portHandle) != kPortOk) {
    Log(kLevelExchange, "KAVIR> CloseCom() close COM port failed");
    return KAVI_SEVERE;
  }
  block.portHandle = 0;
  block.portOpen = 0;
  return KAVI_OK;
}

int32_t ReOpenCom(CallBlock* call) {
  InstanceBlock& block = InstanceOf(call);
  // The port opens with the read time-out the open sets, not readTimeout.
  const PortHandle handle = ComOpen(block.portSettings);
  if (handle == 0) {
    Log(kLevelExchange, "KAVIR> ReOpenCom() opening COM port failed");
    return KAVI_SEVERE;
  }
  // A held serial port never opens a second time, but a device that can
  // ("NUL") does: its first handle would be lost, so it is closed.
  const PortHandle previous = block.portHandle;
  MarkOpen(block, handle);
  if (previous != 0 && previous != handle && ComClose(previous) != kPortOk) {
    Log(kLevelExchange, "KAVIR> CloseCom() close COM port failed");
  }
  return KAVI_OK;
}

int32_t ChangeKaviParams(CallBlock* call) {
  InstanceBlock& block = InstanceOf(call);
  const ChangeParams& params = ParamsOf<const ChangeParams>(call);

  if (params.readTimeout != kKeepReadTimeoutA &&
      params.readTimeout != kKeepReadTimeoutB) {
    block.readTimeout = params.readTimeout;
  }
  // Goes on when the close fails: the new port is opened all the same.
  if (block.portHandle != 0) CloseCom(call);

  // A name without its terminator is stored empty, so the open below fails
  // instead of opening a truncated name that may be another device.
  CopyPortName(block.portSettings.portName, params.portName);
  if (params.line.baudRate != 0) block.portSettings.line = params.line;

  const PortHandle handle = ComOpen(block.portSettings);
  if (handle == 0) {
    Log(kLevelSetup, "KAVIR> ChangeKaviParams() open new COM port failed");
    return KAVI_SEVERE;
  }
  MarkOpen(block, handle);
  ComSetReadTimeout(handle, block.readTimeout);
  return KAVI_OK;
}

}  // namespace kavi
