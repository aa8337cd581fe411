// The port operations on the Win32 communication functions: each a thin
// synchronous layer over one system call, the open over a fixed sequence.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "serial/port.h"
#include "serial/port_config.h"

namespace kavi {
namespace {

// The flag word (fBinary .. fAbortOnError) follows DCBlength and BaudRate.
constexpr std::size_t kDcbFlagsOffset = 8;
static_assert(sizeof(DCB) == 28);
static_assert(offsetof(DCB, BaudRate) == 4);
static_assert(offsetof(DCB, wReserved) == 12);

uint32_t FlagWord(const DCB& dcb) {
  uint32_t flags;
  std::memcpy(&flags,
              reinterpret_cast<const unsigned char*>(&dcb) + kDcbFlagsOffset,
              sizeof flags);
  return flags;
}

void SetFlagWord(DCB& dcb, uint32_t flags) {
  std::memcpy(reinterpret_cast<unsigned char*>(&dcb) + kDcbFlagsOffset, &flags,
              sizeof flags);
}

// Handles are 32-bit values also in 64-bit processes; sign extension gives
// back the pseudo-handles too.
HANDLE SystemHandle(PortHandle handle) {
  return reinterpret_cast<HANDLE>(
      static_cast<intptr_t>(static_cast<int32_t>(handle)));
}

PortHandle PortHandleOf(HANDLE handle) {
  return static_cast<PortHandle>(reinterpret_cast<uintptr_t>(handle));
}

int32_t CloseAfterFailure(HANDLE handle, PortHandle* handleOut,
                          int32_t result) {
  CloseHandle(handle);
  *handleOut = 0;
  return result;
}

}  // namespace

int32_t ComOpenDevice(const char* name, const LineSettings& line,
                      uint16_t lineFlags, PortHandle* handleOut) {
  *handleOut = 0;
  const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kPortOpenFailed;
  *handleOut = PortHandleOf(handle);
  if (IsNullDeviceName(name)) return kPortOk;

  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) {
    return CloseAfterFailure(handle, handleOut, kPortStateFailed);
  }
  if (lineFlags == 0) return kPortOk;

  const DcbLine wanted =
      ConfigureDcbLine({dcb.BaudRate, FlagWord(dcb), dcb.ByteSize, dcb.Parity,
                        dcb.StopBits, static_cast<uint8_t>(dcb.ErrorChar)},
                       line, lineFlags);
  dcb.BaudRate = wanted.baudRate;
  dcb.ByteSize = wanted.byteSize;
  dcb.Parity = wanted.parity;
  dcb.StopBits = wanted.stopBits;

  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = kOpenReadTimeout;
  if (!SetCommTimeouts(handle, &timeouts)) {
    return CloseAfterFailure(handle, handleOut, kPortOpenFailed);
  }

  dcb.ErrorChar = static_cast<char>(wanted.errorChar);
  SetFlagWord(dcb, wanted.flags);
  if (!SetCommState(handle, &dcb)) {
    return CloseAfterFailure(handle, handleOut, kPortConfigFailed);
  }
  // The system's queue sizes do as well when it refuses these.
  SetupComm(handle, kPortQueueSize, kPortQueueSize);
  return kPortOk;
}

int32_t ComClose(PortHandle handle) {
  return CloseHandle(SystemHandle(handle)) ? kPortOk : kPortSystemFailed;
}

uint32_t ComSetReadTimeout(PortHandle handle, uint32_t timeout) {
  const HANDLE port = SystemHandle(handle);
  COMMTIMEOUTS timeouts;
  if (!GetCommTimeouts(port, &timeouts)) return 0;
  const uint32_t inForce = timeouts.ReadTotalTimeoutConstant;
  if (ReadTimeoutChanges(inForce, timeout)) {
    timeouts.ReadTotalTimeoutConstant = timeout;
    if (!SetCommTimeouts(port, &timeouts)) return 0;
  }
  return inForce;
}

int32_t ComPurgeInput(PortHandle handle) {
  return PurgeComm(SystemHandle(handle), PURGE_RXCLEAR) ? kPortOk
                                                        : kPortPurgeFailed;
}

int32_t ComWrite(PortHandle handle, const uint8_t* buffer, uint32_t count,
                 uint32_t* written) {
  DWORD done = 0;
  if (!WriteFile(SystemHandle(handle), buffer, count, &done, nullptr)) {
    return kPortSystemFailed;
  }
  if (written != nullptr) *written = done;
  return done == count ? kPortOk : kPortShortWrite;
}

int32_t ComRead(PortHandle handle, uint8_t* buffer, uint32_t count,
                uint32_t* received) {
  if (received != nullptr) *received = 0;
  DWORD done = 0;
  if (!ReadFile(SystemHandle(handle), buffer, count & 0xFFFFu, &done,
                nullptr)) {
    return kPortSystemFailed;
  }
  if (received != nullptr) *received = done;
  return kPortOk;
}

}  // namespace kavi
