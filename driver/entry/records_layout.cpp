// Compile-time checks of every record shared with the host: field order,
// widths and, on 32-bit Windows, the exact byte offsets the host uses.
#include <cstddef>

#include "kaviros/kaviros.h"

namespace {

constexpr bool kIs32Bit = sizeof(void*) == 4;

// Records without pointers are the same on every platform.
static_assert(sizeof(LineSettings) == 8);
static_assert(offsetof(LineSettings, baudRate) == 0);
static_assert(offsetof(LineSettings, byteSize) == 2);
static_assert(offsetof(LineSettings, stopBits) == 4);
static_assert(offsetof(LineSettings, parity) == 6);

static_assert(sizeof(ColdStartParams) == 28);
static_assert(offsetof(ColdStartParams, portName) == 0);
static_assert(offsetof(ColdStartParams, usePort) == 12);
static_assert(offsetof(ColdStartParams, readTimeout) == 16);
static_assert(offsetof(ColdStartParams, line) == 20);

static_assert(sizeof(ChangeParams) == 24);
static_assert(offsetof(ChangeParams, portName) == 0);
static_assert(offsetof(ChangeParams, readTimeout) == 12);
static_assert(offsetof(ChangeParams, line) == 16);

static_assert(sizeof(PortSettings) == 22);
static_assert(offsetof(PortSettings, portName) == 0);
static_assert(offsetof(PortSettings, line) == 12);
static_assert(offsetof(PortSettings, lineFlags) == 20);

static_assert(sizeof(InstanceBlock) == KAVI_INSTANCE_SIZE);
static_assert(offsetof(InstanceBlock, gateTypes) == 0);
static_assert(offsetof(InstanceBlock, readTimeout) == 512);
static_assert(offsetof(InstanceBlock, portOpen) == 516);
static_assert(offsetof(InstanceBlock, portHandle) == 520);
static_assert(offsetof(InstanceBlock, portSettings) == 524);
static_assert(offsetof(InstanceBlock, txBuffer) == 546);
static_assert(offsetof(InstanceBlock, rxBuffer) == 596);

// Records with pointers: natural layout with native pointers everywhere,
// the exact 32-bit offsets where pointers are 32 bits wide.
template <bool Narrow>
constexpr std::size_t At(std::size_t narrow, std::size_t wide) {
  return Narrow ? narrow : wide;
}

static_assert(offsetof(CallBlock, instance) == 0);
static_assert(offsetof(CallBlock, command) == At<kIs32Bit>(4, 8));
static_assert(offsetof(CallBlock, hostReserved) == At<kIs32Bit>(8, 12));
static_assert(offsetof(CallBlock, params) == At<kIs32Bit>(16, 24));
static_assert(sizeof(CallBlock) == At<kIs32Bit>(20, 32));

static_assert(offsetof(DriverInfo, fixedA) == 0);
static_assert(offsetof(DriverInfo, deviceName) == At<kIs32Bit>(4, 8));
static_assert(offsetof(DriverInfo, banner) == At<kIs32Bit>(8, 16));
static_assert(offsetof(DriverInfo, instanceSize) == At<kIs32Bit>(12, 24));
static_assert(offsetof(DriverInfo, fixedB) == At<kIs32Bit>(16, 28));
static_assert(offsetof(DriverInfo, line) == At<kIs32Bit>(20, 32));
static_assert(offsetof(DriverInfo, fixedC) == At<kIs32Bit>(28, 40));
static_assert(sizeof(DriverInfo) == At<kIs32Bit>(32, 48));

static_assert(offsetof(ParseRequest, address) == 0);
static_assert(offsetof(ParseRequest, hostReserved) == At<kIs32Bit>(4, 8));
static_assert(offsetof(ParseRequest, dataType) == At<kIs32Bit>(8, 12));
static_assert(offsetof(ParseRequest, blockSize) == At<kIs32Bit>(12, 16));
static_assert(offsetof(ParseRequest, plcAddress) == At<kIs32Bit>(16, 20));
static_assert(offsetof(ParseRequest, gateWidth) == At<kIs32Bit>(20, 24));
static_assert(offsetof(ParseRequest, paramIndex) == At<kIs32Bit>(24, 28));
static_assert(offsetof(ParseRequest, bitNumber) == At<kIs32Bit>(28, 32));
static_assert(offsetof(ParseRequest, valueBits) == At<kIs32Bit>(32, 36));
static_assert(sizeof(ParseRequest) == At<kIs32Bit>(36, 40));

static_assert(offsetof(IoRequest, address) == 0);
static_assert(offsetof(IoRequest, hostReserved1) == At<kIs32Bit>(4, 8));
static_assert(offsetof(IoRequest, plcAddress) == At<kIs32Bit>(8, 12));
static_assert(offsetof(IoRequest, gateWidth) == At<kIs32Bit>(12, 16));
static_assert(offsetof(IoRequest, paramIndex) == At<kIs32Bit>(16, 20));
static_assert(offsetof(IoRequest, bitNumber) == At<kIs32Bit>(20, 24));
static_assert(offsetof(IoRequest, valueBits) == At<kIs32Bit>(24, 28));
static_assert(offsetof(IoRequest, dataType) == At<kIs32Bit>(28, 32));
static_assert(offsetof(IoRequest, hostReserved2) == At<kIs32Bit>(32, 36));
static_assert(offsetof(IoRequest, value) == At<kIs32Bit>(40, 48));
static_assert(sizeof(IoRequest) == At<kIs32Bit>(44, 56));

static_assert(sizeof(ValueSlot) == 8);
static_assert(offsetof(ValueSlot, single.word) == 2);

}  // namespace
