// Address strings and data types of any kind, through KaviMain on a
// cold-started block, through ParseAddress with any gate table, and through
// ParseDigits. Every answer is compared with the rules worked out again
// here, independently of the driver's code.
//
// Input: byte 0 picks the way in; bytes 1-4 the data type, 5-8 the block
// size (little-endian); then, for ParseAddress, a count byte and that many
// (index, width) pairs that change the gate table; for ParseDigits a count
// byte (signed) and a mode byte; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "address/address_string.h"
#include "fuzz_input.h"
#include "kaviros/kaviros.h"
#include "log_capture.h"
#include "serial/testing/fake_port.h"

namespace kavi::fuzz {
namespace {

enum Way : uint8_t { kSingle, kBlock, kDirect, kDigits, kWays };

struct Declared {
  int32_t result;
  int32_t plcAddress;
  int32_t gateWidth;
  int32_t paramIndex;
  int32_t bitNumber;
  int32_t valueBits;
};

int32_t Digit(char c, bool decimal) {
  if (c >= '0' && c <= '9') return c - '0';
  if (!decimal && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// -1 unless every one of the count characters is a digit; values past
// int32_t are -1 too.
int64_t Digits(const char* text, int32_t count, bool decimal) {
  if (count <= 0) return 0;
  int64_t value = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t d = Digit(text[i], decimal);
    if (d < 0) return -1;
    value = value * (decimal ? 10 : 16) + d;
    if (value > INT32_MAX) return -1;
  }
  return value;
}

// The declaration as the rules have it: `command` 3 checks everything, any
// other stops after the parameter index.
Declared Expected(const std::string& address, uint32_t dataType,
                  const uint16_t* gates, uint32_t command) {
  static const char* const kAllowed[] = {"0123456789ABCDEF",
                                         "0123456789ABCDEF",
                                         "0123456789ABCDEF",
                                         "0123456789ABCDEF",
                                         "0123",
                                         "0123456789"};
  Declared d{1, 0, 0, 0, -1, 0};
  std::string s = address.substr(0, 31);
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (size_t i = 0; i < s.size(); ++i) {
    if (i >= 6 || std::strchr(kAllowed[i], s[i]) == nullptr) return d;
  }
  if (s.size() < 2) return d;
  d.plcAddress = static_cast<int32_t>(Digits(s.c_str(), 2, false));
  if (d.plcAddress >= 0xFB && d.plcAddress <= 0xFE) return d;
  if (s.size() < 4) return d;
  d.paramIndex = static_cast<int32_t>(Digits(s.c_str() + 2, 2, false));
  if (command != KAVI_SINGLE_ADDRESS_PARSER) {
    d.result = 0;
    return d;
  }
  const uint16_t gate = gates[d.paramIndex];
  switch (dataType) {
    case 0:
    case 1:
      if (gate != 1 && gate != 2) return d;
      d.valueBits = 16;
      break;
    case 3:
    case 4:
    case 5:
      if (gate != 3) return d;
      d.valueBits = 32;
      break;
    case 6:
      if (gate == 0 || d.plcAddress == 0xFF) return d;
      d.valueBits = 1;
      break;
    default:
      return d;
  }
  d.gateWidth = gate;
  if (dataType != 6) {
    if (s.size() > 4) return d;
    d.result = 0;
    return d;
  }
  if (s.size() < 6) return d;
  const int32_t highest = gate == 1 ? 7 : gate == 2 ? 15 : gate == 3 ? 31 : -1;
  const auto bit = static_cast<int32_t>(Digits(s.c_str() + 4, 2, true));
  if (highest < 0 || bit > highest) return d;
  d.bitNumber = bit;
  d.result = 0;
  return d;
}

// One answer, one message on refusal and none on success; all of it as
// the rules have it.
void CheckDeclared(int32_t result, const ParseRequest& request,
                   const Declared& expected) {
  Check(result == 0 || result == 1, "parser result is 0 or 1");
  Check(result == expected.result, "parser accepts exactly what it should");
  Check(testing::Logged().size() == (result == 0 ? 0u : 1u),
        "one message per refusal, none on success");
  for (const testing::LogLine& line : testing::Logged()) {
    Check(line.level == KAVI_LEVEL_EXCHANGE || line.level == KAVI_LEVEL_SETUP,
          "message level 8 or 32");
    Check(line.text.rfind("KAVIR> ", 0) == 0, "message begins KAVIR>");
  }
  if (result != 0) return;
  Check(request.plcAddress == expected.plcAddress, "station decoded");
  Check(request.paramIndex == expected.paramIndex, "index decoded");
  Check(request.gateWidth == expected.gateWidth, "gate width decided");
  Check(request.valueBits == expected.valueBits, "value bits decided");
  Check(request.bitNumber == expected.bitNumber, "bit number decoded");
}

struct Driver {
  Driver() {
    std::memset(block.get(), 0x5A, sizeof(InstanceBlock));
    ColdStartParams params{};
    params.usePort = 0;
    CallBlock call{block.get(), KAVI_COLD_START, {}, &params};
    Check(KaviMain(&call) == 0, "cold start without a port");
  }
  // Exactly a block's size, so that the sanitizer sees any stray access.
  std::unique_ptr<InstanceBlock> block = std::make_unique<InstanceBlock>();
};

void ThroughCommand(Input& in, Way way) {
  const uint32_t dataType = in.U32();
  const int32_t blockSize = in.I32();
  const Text address(in.Rest());
  Driver driver;
  testing::ClearLog();

  auto request = std::make_unique<ParseRequest>();
  std::memset(request.get(), 0xC3, sizeof(ParseRequest));
  request->address = address.get();
  request->dataType = dataType;
  request->blockSize = blockSize;
  const uint32_t command =
      way == kSingle ? KAVI_SINGLE_ADDRESS_PARSER : KAVI_BLOCK_ADDRESS_PARSER;
  CallBlock call{driver.block.get(), command, {}, request.get()};
  const int32_t result = KaviMain(&call);

  Declared expected;
  if (way == kSingle) {
    expected = Expected(address.str(), dataType, driver.block->gateTypes,
                        KAVI_SINGLE_ADDRESS_PARSER);
    if (expected.result == 0 && expected.paramIndex >= 0xF0 &&
        expected.paramIndex <= 0xF3 && dataType != KAVI_TYPE_INT16) {
      expected.result = 1;
    }
  } else {
    expected = Expected(address.str(), dataType, driver.block->gateTypes,
                        KAVI_BLOCK_ADDRESS_PARSER);
    if (blockSize != 4 || expected.paramIndex != 0xF0) expected.result = 1;
    expected.gateWidth = 2;
    expected.valueBits = 16;
    expected.bitNumber = -1;
  }
  CheckDeclared(result, *request, expected);
  Check(request->address == address.get() && request->dataType == dataType &&
            request->blockSize == blockSize,
        "parser leaves its inputs alone");
}

void Direct(Input& in) {
  const uint32_t dataType = in.U32();
  const uint32_t command = in.Byte();
  uint16_t gates[KAVI_GATE_COUNT];
  Driver driver;
  std::memcpy(gates, driver.block->gateTypes, sizeof gates);
  for (int n = in.Byte() % 16; n > 0; --n) {
    const uint8_t index = in.Byte();
    gates[index] = static_cast<uint16_t>(in.Byte() | in.Byte() << 8);
  }
  const Text address(in.Rest());
  testing::ClearLog();

  ParseRequest request;
  std::memset(&request, 0xC3, sizeof request);
  request.address = address.get();
  request.dataType = dataType;
  const int32_t result = ParseAddress(gates, request, command);
  Declared expected = Expected(address.str(), dataType, gates, command);
  if (command != KAVI_SINGLE_ADDRESS_PARSER) {
    // Stops after the index: the rest of the outputs are not its business.
    expected.gateWidth = request.gateWidth;
    expected.valueBits = request.valueBits;
    expected.bitNumber = request.bitNumber;
    Check(result != 0 || request.gateWidth == 0, "gate width 0 when undecided");
  }
  CheckDeclared(result, request, expected);
}

void Number(Input& in) {
  const auto count = static_cast<int8_t>(in.Byte());
  const char mode = static_cast<char>(in.Byte());
  const Text text(in.Rest());
  const std::string s = text.str();
  // Never past the terminator: the driver reads the count characters.
  const int32_t n = count > static_cast<int32_t>(s.size() + 1)
                        ? static_cast<int32_t>(s.size() + 1)
                        : count;
  const int32_t got = ParseDigits(text.get(), n, mode);
  Check(got >= -1, "ParseDigits gives a number or -1");
  Check(got == Digits(text.get(), n, mode == 'D'),
        "ParseDigits converts as the rules say");
}

}  // namespace
}  // namespace kavi::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavi::fuzz;
  kavi::testing::FakePort::Get().Reset();
  kavi::testing::ClearLog();
  Input in(data, size);
  const auto way = static_cast<Way>(in.Byte() % kWays);
  switch (way) {
    case kSingle:
    case kBlock:
      ThroughCommand(in, way);
      break;
    case kDirect:
      Direct(in);
      break;
    case kDigits:
    case kWays:
      Number(in);
      break;
  }
  return 0;
}
