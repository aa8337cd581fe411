// A stand-in driver library for the host's tests: the same entry and
// records as the real one, answers that follow from its input alone, and
// every field it was given echoed in its messages so that tests see what
// the host passed. The controller it plays keeps its values in the
// instance block.
//
// Behaviour worth knowing in tests:
// - Port "missing" cannot be opened; the digits at the end of a port name
//   ("fake7") become the instance's id, shown in its read messages.
// - Addresses: 4 hex digits (station, index) or 6 with a decimal bit number.
//   Index 0x21 is 32 bits wide, 0x35, 0xF2, 0xF4, 0xF5 8 bits, 0x0A absent,
//   every other 16 bits.
// - Index 0xEE never answers (five retries, result 2); 0xED is refused by
//   the controller (result 1); 0xEC gets result 7, which no driver should
//   give.
// - WarmStart logs from a thread of its own, outside the host's call.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "kaviros/kaviros.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

// Resolved from the host if it defines it, as the real driver does.
extern "C" __attribute__((weak)) void melbax_trace(int32_t direction,
                                                   const uint8_t* bytes,
                                                   uint32_t count);

namespace {

constexpr uint32_t kStarted = 0x5EED;
constexpr int32_t kSilentIndex = 0xEE;
constexpr int32_t kRefusingIndex = 0xED;
constexpr int32_t kOddResultIndex = 0xEC;

struct FakeBlock {
  uint32_t started;
  int32_t id;
  uint32_t portOpen;
  uint32_t readTimeout;
  char portName[KAVI_PORT_NAME_SIZE];
  LineSettings line;
  uint16_t values[256];
  uint32_t wide;  // parameter 0x21
  uint8_t last;   // the block's last byte: shows the host allocated it all
};

std::mutex journalMutex;
std::vector<uint32_t> journal;

void Log(int32_t level, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  melbax_err(level, "%s", text);
}

void Trace(int32_t direction, std::initializer_list<uint8_t> bytes) {
  if (melbax_trace) melbax_trace(direction, bytes.begin(), bytes.size());
}

int32_t Width(int32_t index) {
  switch (index) {
    case 0x21:
      return KAVI_GATE_32BIT;
    case 0x35:
    case 0xF2:
    case 0xF4:
    case 0xF5:
      return KAVI_GATE_8BIT;
    case 0x0A:
      return KAVI_GATE_NONE;
    default:
      return KAVI_GATE_16BIT;
  }
}

int32_t IdOf(const char* name) {
  const size_t length = strnlen(name, KAVI_PORT_NAME_SIZE);
  size_t first = length;
  while (first > 0 && name[first - 1] >= '0' && name[first - 1] <= '9') {
    --first;
  }
  int32_t id = 0;
  for (size_t i = first; i < length; ++i) id = id * 10 + (name[i] - '0');
  return id;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Open(FakeBlock& block, const char* name) {
  if (std::strcmp(name, "missing") == 0) return false;
  std::memcpy(block.portName, name, KAVI_PORT_NAME_SIZE);
  block.portName[KAVI_PORT_NAME_SIZE - 1] = '\0';
  block.id = IdOf(block.portName);
  block.portOpen = 1;
  return true;
}

int32_t GetKaviInfo(CallBlock* call) {
  auto* info = static_cast<DriverInfo*>(call->params);
  info->fixedA = 70;
  info->deviceName = "Fake controller";
  info->banner = "\n-- fake driver --\n";
  info->instanceSize = sizeof(FakeBlock);
  info->fixedB = 4;
  info->line = {4800, 7, 2, 1};
  info->fixedC = 1;
  return KAVI_OK;
}

int32_t ColdStart(FakeBlock& block, const ColdStartParams& params) {
  std::memset(&block, 0, sizeof block);
  block.started = kStarted;
  block.last = 0x7E;
  block.readTimeout = params.readTimeout;
  for (int i = 0; i < 256; ++i) block.values[i] = static_cast<uint16_t>(i);
  block.values[0x10] = 0x1234;
  block.values[0x35] = 0x85;
  block.values[0xF0] = 0x1234;
  block.values[0xF1] = 0x5678;
  block.values[0xF2] = 0x9C;
  block.values[0xF3] = 0x4321;
  block.values[0xF5] = 0x88;
  block.wide = 123456;
  if (params.usePort == 0) return KAVI_OK;
  block.line = params.line;
  if (!Open(block, params.portName)) {
    Log(KAVI_LEVEL_SETUP, "FAKE> ColdStart() error opening COM port");
    return KAVI_SEVERE;
  }
  Log(KAVI_LEVEL_SETUP,
      "FAKE> ColdStart() opened %s baud=%d bits=%u stop=%u parity=%u "
      "timeout=%u",
      block.portName, params.line.baudRate, params.line.byteSize,
      params.line.stopBits, params.line.parity, params.readTimeout);
  return KAVI_OK;
}

int32_t SingleAddressParser(const FakeBlock&, ParseRequest& request) {
  const char* address = request.address;
  const size_t length = std::strlen(address);
  bool legal = length == 4 || length == 6;
  for (size_t i = 0; legal && i < length; ++i) {
    legal =
        i < 4 ? Hex(address[i]) >= 0 : address[i] >= '0' && address[i] <= '9';
  }
  if (!legal) {
    Log(KAVI_LEVEL_SETUP,
        "FAKE> ParseAddress() found illegal character in address string");
    return KAVI_REFUSED;
  }
  request.plcAddress = Hex(address[0]) * 16 + Hex(address[1]);
  request.paramIndex = Hex(address[2]) * 16 + Hex(address[3]);
  const int32_t width = Width(request.paramIndex);
  switch (request.dataType) {
    case KAVI_TYPE_UINT16:
    case KAVI_TYPE_INT16:
      if (width != 1 && width != 2) {
        Log(KAVI_LEVEL_SETUP, "FAKE> ParseAddress() gate type invalid");
        return KAVI_REFUSED;
      }
      request.valueBits = 16;
      break;
    case KAVI_TYPE_INT32:
      if (width != 3) {
        Log(KAVI_LEVEL_SETUP, "FAKE> ParseAddress() gate type invalid");
        return KAVI_REFUSED;
      }
      request.valueBits = 32;
      break;
    case KAVI_TYPE_BIT:
      if (length != 6) {
        Log(KAVI_LEVEL_SETUP,
            "FAKE> ParseAddress() unable to read the bit number");
        return KAVI_REFUSED;
      }
      request.valueBits = 1;
      break;
    default:
      Log(KAVI_LEVEL_EXCHANGE, "FAKE> Parse Address() Internal error");
      return KAVI_REFUSED;
  }
  if (request.dataType != KAVI_TYPE_BIT && length == 6) {
    Log(KAVI_LEVEL_SETUP, "FAKE> ParseAddress() bit number for an analog");
    return KAVI_REFUSED;
  }
  request.gateWidth = width;
  request.bitNumber =
      length == 6 ? (address[4] - '0') * 10 + address[5] - '0' : -1;
  return KAVI_OK;
}

int32_t BlockAddressParser(const FakeBlock&, ParseRequest& request) {
  if (request.blockSize != 4) {
    Log(KAVI_LEVEL_SETUP, "FAKE> BlockAddressParser() blocksize %d",
        request.blockSize);
    return KAVI_REFUSED;
  }
  const char* address = request.address;
  if (std::strlen(address) < 4 || Hex(address[0]) < 0 || Hex(address[1]) < 0 ||
      Hex(address[2]) != 0xF || Hex(address[3]) != 0) {
    Log(KAVI_LEVEL_SETUP,
        "FAKE> BlockAddressParser() only a block beginning at F0 is allowed");
    return KAVI_REFUSED;
  }
  request.plcAddress = Hex(address[0]) * 16 + Hex(address[1]);
  request.paramIndex = 0xF0;
  request.gateWidth = 2;
  request.valueBits = 16;
  request.bitNumber = -1;
  return KAVI_OK;
}

void Echo(const char* command, const FakeBlock& block,
          const IoRequest& request) {
  Log(KAVI_LEVEL_EXCHANGE,
      "FAKE> %s() id=%d address=%s station=%x width=%d pi=%x bit=%d "
      "bits=%d type=%d",
      command, block.id, request.address, request.plcAddress, request.gateWidth,
      request.paramIndex, request.bitNumber, request.valueBits,
      request.dataType);
}

// Errors every exchange may meet, by index.
int32_t Exchange(const char* command, const IoRequest& request) {
  Trace(0, {0x10, static_cast<uint8_t>(request.plcAddress), 0x89,
            static_cast<uint8_t>(request.paramIndex), 0x16});
  if (request.paramIndex == kSilentIndex) {
    for (int32_t attempt = 1; attempt <= 5; ++attempt) {
      Log(KAVI_LEVEL_EXCHANGE, "FAKE> %s() error reading reply, retry %d",
          command, attempt);
    }
    return KAVI_SEVERE;
  }
  Trace(1, {0x10, static_cast<uint8_t>(request.plcAddress), 0x00, 0x00, 0x16});
  if (request.paramIndex == kOddResultIndex) return 7;
  if (request.paramIndex == kRefusingIndex) {
    Log(KAVI_LEVEL_EXCHANGE, "FAKE> %s() equipment not ready", command);
    return KAVI_REFUSED;
  }
  return KAVI_OK;
}

int32_t SingleRead(FakeBlock& block, const IoRequest& request) {
  if (block.portOpen == 0) {
    Log(KAVI_LEVEL_SETUP, "FAKE> SingleRead() com-port is not open");
    return KAVI_REFUSED;
  }
  Echo("SingleRead", block, request);
  if (const int32_t result = Exchange("SingleRead", request)) return result;
  auto* slot = static_cast<ValueSlot*>(request.value);
  const uint16_t word = block.values[request.paramIndex & 0xFF];
  const int32_t bit = request.bitNumber;
  if (request.valueBits == 16 && request.gateWidth == 1) {
    uint16_t byte = word & 0xFF;
    if (request.dataType == KAVI_TYPE_INT16 && (byte & 0x80)) byte |= 0xFF00;
    slot->single.word = byte;
  } else if (request.valueBits == 16) {
    slot->single.word = word;
  } else if (request.valueBits == 32) {
    slot->dword = block.wide;
  } else if (request.valueBits == 1 && request.gateWidth == 3) {
    slot->dword = (block.wide >> bit) & 1u;
  } else if (request.valueBits == 1) {
    slot->single.word = static_cast<uint16_t>((word >> bit) & 1u);
  }
  return KAVI_OK;
}

int32_t BlockRead(FakeBlock& block, const IoRequest& request) {
  if (block.portOpen == 0) {
    Log(KAVI_LEVEL_SETUP, "FAKE> BlockRead() com-port is not open");
    return KAVI_REFUSED;
  }
  Echo("BlockRead", block, request);
  if (const int32_t result = Exchange("BlockRead", request)) return result;
  auto* slot = static_cast<ValueSlot*>(request.value);
  slot->block[0] = block.values[0xF0];
  slot->block[1] = block.values[0xF1];
  slot->block[2] = static_cast<uint16_t>(
      static_cast<int16_t>(static_cast<int8_t>(block.values[0xF2] & 0xFF)));
  slot->block[3] = block.values[0xF3];
  return KAVI_OK;
}

int32_t SingleWrite(FakeBlock& block, const IoRequest& request) {
  if (block.portOpen == 0) {
    Log(KAVI_LEVEL_SETUP, "FAKE> SingleWrite() com-port is not open");
    return KAVI_REFUSED;
  }
  const auto* slot = static_cast<const ValueSlot*>(request.value);
  const int32_t index = request.paramIndex & 0xFF;
  if (index == 0xF4) {
    Log(KAVI_LEVEL_EXCHANGE, "FAKE> ResetEquipment() id=%d station=%x",
        block.id, request.plcAddress);
    return KAVI_OK;
  }
  if ((index >= 0xF0 && index <= 0xF3) || index == 0xF5) {
    Log(KAVI_LEVEL_EXCHANGE, "FAKE> SingleWrite() Error:Try to write %x",
        index);
    return KAVI_REFUSED;
  }
  if (request.valueBits == 32) {
    Log(KAVI_LEVEL_EXCHANGE,
        "FAKE> WriteParameter() Error: Writing to 32-bit gates is not "
        "supported");
    return KAVI_REFUSED;
  }
  Log(KAVI_LEVEL_EXCHANGE,
      "FAKE> SingleWrite() id=%d station=%x pi=%x bit=%d word=%x kept=%x",
      block.id, request.plcAddress, index, request.bitNumber, slot->single.word,
      slot->single.hostKept);
  if (const int32_t result = Exchange("SingleWrite", request)) return result;
  if (request.valueBits == 1) {
    const auto mask = static_cast<uint16_t>(1u << request.bitNumber);
    block.values[index] = static_cast<uint16_t>((block.values[index] & ~mask) |
                                                (slot->single.word ? mask : 0));
  } else {
    block.values[index] = slot->single.word;
  }
  return KAVI_OK;
}

int32_t ReOpenCom(FakeBlock& block) {
  if (block.portOpen != 0 || !Open(block, block.portName)) {
    Log(KAVI_LEVEL_EXCHANGE, "FAKE> ReOpenCom() opening COM port failed");
    return KAVI_SEVERE;
  }
  return KAVI_OK;
}

int32_t ChangeKaviParams(FakeBlock& block, const ChangeParams& params) {
  Log(KAVI_LEVEL_EXCHANGE,
      "FAKE> ChangeKaviParams() port=%s timeout=%u baud=%d bits=%u stop=%u "
      "parity=%u",
      params.portName, params.readTimeout, params.line.baudRate,
      params.line.byteSize, params.line.stopBits, params.line.parity);
  if (params.readTimeout != 0 && params.readTimeout != 0xFFFFFFFF) {
    block.readTimeout = params.readTimeout;
  }
  if (params.line.baudRate != 0) block.line = params.line;
  block.portOpen = 0;
  if (!Open(block, params.portName)) {
    Log(KAVI_LEVEL_SETUP, "FAKE> ChangeKaviParams() open new COM port failed");
    return KAVI_SEVERE;
  }
  return KAVI_OK;
}

int32_t WarmStart() {
  std::thread([] {
    Log(KAVI_LEVEL_EXCHANGE, "FAKE> from a driver thread");
  }).join();
  return KAVI_OK;
}

}  // namespace

extern "C" int32_t KAVI_API KaviMain(CallBlock* call) {
  {
    std::lock_guard lock(journalMutex);
    journal.push_back(call->command);
  }
  auto* block = static_cast<FakeBlock*>(call->instance);
  switch (call->command) {
    case KAVI_GET_KAVI_INFO:
      return GetKaviInfo(call);
    case KAVI_WARM_START:
      return WarmStart();
    case KAVI_END_KAVI:
      return KAVI_OK;
    case KAVI_COLD_START:
      return ColdStart(*block,
                       *static_cast<const ColdStartParams*>(call->params));
    default:
      break;
  }
  if (block == nullptr || block->started != kStarted) {
    Log(KAVI_LEVEL_SETUP, "FAKE> command %u before ColdStart", call->command);
    return KAVI_SEVERE;
  }
  switch (call->command) {
    case KAVI_SINGLE_ADDRESS_PARSER:
      return SingleAddressParser(*block,
                                 *static_cast<ParseRequest*>(call->params));
    case KAVI_BLOCK_ADDRESS_PARSER:
      return BlockAddressParser(*block,
                                *static_cast<ParseRequest*>(call->params));
    case KAVI_SINGLE_READ:
      return SingleRead(*block, *static_cast<IoRequest*>(call->params));
    case KAVI_BLOCK_READ:
      return BlockRead(*block, *static_cast<IoRequest*>(call->params));
    case KAVI_SINGLE_WRITE:
      return SingleWrite(*block, *static_cast<IoRequest*>(call->params));
    case KAVI_CLOSE_COM:
      block->portOpen = 0;
      return KAVI_OK;
    case KAVI_REOPEN_COM:
      return ReOpenCom(*block);
    case KAVI_CHANGE_KAVI_PARAMS:
      return ChangeKaviParams(*block,
                              *static_cast<const ChangeParams*>(call->params));
    default:
      Log(KAVI_LEVEL_SETUP, "FAKE> KaviMain() Internal error");
      return KAVI_SEVERE;
  }
}

// The commands run so far, oldest first, and a way to forget them.
FAKE_EXPORT size_t FakeJournal(uint32_t* commands, size_t capacity) {
  std::lock_guard lock(journalMutex);
  const size_t count = std::min(capacity, journal.size());
  std::copy_n(journal.begin(), count, commands);
  return journal.size();
}

FAKE_EXPORT void FakeJournalClear() {
  std::lock_guard lock(journalMutex);
  journal.clear();
}
