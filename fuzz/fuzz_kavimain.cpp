// KaviMain on any sequence of command codes and records built from the
// input, on a cold-started block whose port is the test double. Records are
// allocated at exactly their size, and the pointers in them point to memory
// owned here (the address string, the value slot) or are null where the
// driver promises to refuse them. The line answers each request as the rest
// of the input says: silence, a proper reply with any status and value,
// any bytes, extra bytes, failing or chunked reads.
//
// Input: two bytes (little-endian) give the length of the command part;
// the rest is the line's part. Each command: a code byte (0xF0 and above:
// a raw 32-bit code follows, else the code is the byte modulo 18), a byte
// of null-pointer flags, then the fields of its record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "fuzz_input.h"
#include "kaviros/kaviros.h"
#include "log_capture.h"
#include "serial/testing/fake_port.h"

namespace kavi::fuzz {
namespace {

using testing::Bytes;
using testing::FakePort;

constexpr int kMostCommands = 24;

enum NullFlags : uint8_t {
  kNullCall = 1,
  kNullInstance = 2,
  kNullParams = 4,
  kNullAddress = 8,
  kNullValue = 16,
};

// Memory of exactly `size` bytes filled from the input.
class Record {
 public:
  Record(Input& in, size_t size) : size_(size), bytes_(new uint8_t[size]) {
    const std::vector<uint8_t> given = in.Bytes(size);
    std::memset(bytes_.get(), 0, size);
    if (!given.empty()) std::memcpy(bytes_.get(), given.data(), given.size());
  }
  void* get() const { return bytes_.get(); }
  template <typename T>
  T& As() const {
    return *reinterpret_cast<T*>(bytes_.get());
  }
  std::vector<uint8_t> Copy() const {
    return std::vector<uint8_t>(bytes_.get(), bytes_.get() + size_);
  }

 private:
  size_t size_;
  std::unique_ptr<uint8_t[]> bytes_;
};

uint8_t Sum(const Bytes& bytes) {
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  return static_cast<uint8_t>(sum);
}

Bytes Long(const Bytes& body) {
  const auto l = static_cast<uint8_t>(body.size());
  Bytes telegram{0x68, l, l, 0x68};
  telegram.insert(telegram.end(), body.begin(), body.end());
  telegram.push_back(Sum(body));
  telegram.push_back(0x16);
  return telegram;
}

Bytes Short(uint8_t station, uint8_t status) {
  return {0x10, station, status, static_cast<uint8_t>(station + status), 0x16};
}

// The controller's side: answers what the driver sends as the line part of
// the input says. `width` is the value width the request in progress has.
class Line {
 public:
  Line(Input& script, const int32_t& gateWidth)
      : script_(script), gateWidth_(gateWidth) {}

  std::optional<Bytes> Answer(const Bytes& request) {
    const uint8_t kind = script_.Empty() ? 1 : script_.Byte() % 6;
    FakePort& port = FakePort::Get();
    switch (kind) {
      case 0:
        return std::nullopt;
      case 2: {
        return script_.Counted();
      }
      case 3: {
        std::optional<Bytes> reply = Proper(request);
        const Bytes extra = script_.Counted();
        if (reply) reply->insert(reply->end(), extra.begin(), extra.end());
        return reply;
      }
      case 4:
        port.readFailures.push_back(kPortSystemFailed);
        return Proper(request);
      case 5:
        port.readLimits.push_back(script_.Byte());
        return Proper(request);
      default:
        return Proper(request);
    }
  }

 private:
  std::optional<Bytes> Proper(const Bytes& request) {
    const uint8_t status = script_.Byte();
    if (request.size() == 5 && request[0] == 0x10) {
      const uint8_t station = request[1];
      switch (request[2]) {
        case 0x89: {
          Bytes body{station, status};
          const Bytes values = Values(7);
          body.insert(body.end(), values.begin(), values.end());
          return Long(body);
        }
        case 0x29:
          return Short(station, status);
        default:
          return std::nullopt;  // the reset is never answered
      }
    }
    if (request.size() >= 9 && request[0] == 0x68) {
      const uint8_t station = request[4];
      const uint8_t index = request[6];
      if (request[5] == 0x69) return Short(station, status);
      Bytes body{station, status, index};
      if ((index & 0xF0) != 0x30) body.insert(body.end(), {0x01, 0x01, 0x00});
      const size_t width = gateWidth_ == 1 ? 1 : gateWidth_ == 3 ? 4 : 2;
      const Bytes value = Values(width);
      body.insert(body.end(), value.begin(), value.end());
      return Long(body);
    }
    return std::nullopt;
  }

  Bytes Values(size_t count) {
    Bytes values = script_.Bytes(count);
    values.resize(count, 0);
    return values;
  }

  Input& script_;
  const int32_t& gateWidth_;
};

bool InTable(uint32_t command) {
  return (command >= 1 && command <= 7) || (command >= 11 && command <= 15);
}

bool UsesInstance(uint32_t command) {
  return InTable(command) && command != KAVI_WARM_START &&
         command != KAVI_END_KAVI && command != KAVI_GET_KAVI_INFO;
}

bool UsesParams(uint32_t command) {
  return InTable(command) && command != KAVI_WARM_START &&
         command != KAVI_END_KAVI && command != KAVI_CLOSE_COM &&
         command != KAVI_REOPEN_COM;
}

void CheckBlock(const InstanceBlock& block) {
  Check(block.portOpen == 0 || block.portOpen == 1, "portOpen is 0 or 1");
  if (block.portOpen == 1) {
    Check(FakePort::Get().openHandles.count(block.portHandle) == 1,
          "an open port's handle is open");
  } else {
    Check(block.portHandle == 0, "no handle while the port is closed");
  }
}

void RunOne(Input& in, InstanceBlock* block, int32_t& gateWidth) {
  const uint8_t code = in.Byte();
  const uint32_t command = code >= 0xF0 ? in.U32() : code % 18u;
  const uint8_t nulls = in.Byte();

  std::unique_ptr<Record> params;
  std::unique_ptr<Record> slot;
  std::unique_ptr<Text> address;
  switch (command) {
    case KAVI_COLD_START:
      params = std::make_unique<Record>(in, sizeof(ColdStartParams));
      break;
    case KAVI_SINGLE_ADDRESS_PARSER:
    case KAVI_BLOCK_ADDRESS_PARSER:
      address = std::make_unique<Text>(in.Counted());
      params = std::make_unique<Record>(in, sizeof(ParseRequest));
      params->As<ParseRequest>().address =
          (nulls & kNullAddress) ? nullptr : address->get();
      break;
    case KAVI_SINGLE_READ:
    case KAVI_BLOCK_READ:
    case KAVI_SINGLE_WRITE: {
      address = std::make_unique<Text>(in.Counted());
      params = std::make_unique<Record>(in, sizeof(IoRequest));
      // A block's slot holds four values, a single one's 4 bytes.
      slot = std::make_unique<Record>(in, command == KAVI_BLOCK_READ
                                              ? 2 * sizeof(uint32_t)
                                              : sizeof(uint32_t));
      IoRequest& io = params->As<IoRequest>();
      io.address = (nulls & kNullAddress) ? nullptr : address->get();
      io.value = (nulls & kNullValue) ? nullptr : slot->get();
      gateWidth = io.gateWidth;
      break;
    }
    case KAVI_GET_KAVI_INFO:
      params = std::make_unique<Record>(in, sizeof(DriverInfo));
      break;
    case KAVI_CHANGE_KAVI_PARAMS:
      params = std::make_unique<Record>(in, sizeof(ChangeParams));
      break;
    default:
      params = std::make_unique<Record>(in, 32);
      break;
  }

  CallBlock call{};
  call.instance = (nulls & kNullInstance) ? nullptr : block;
  call.command = command;
  std::memset(call.hostReserved, 0x3C, sizeof call.hostReserved);
  call.params = (nulls & kNullParams) ? nullptr : params->get();
  const CallBlock before = call;
  const std::vector<uint8_t> recordBefore = params->Copy();
  const std::vector<uint8_t> slotBefore = slot ? slot->Copy() : recordBefore;

  testing::ClearLog();
  const int32_t result = KaviMain((nulls & kNullCall) ? nullptr : &call);

  Check(result >= 0 && result <= 2, "result 0, 1 or 2");
  Check(std::memcmp(&before, &call, sizeof call) == 0,
        "the call block is never written");
  for (const testing::LogLine& line : testing::Logged()) {
    Check(line.level == KAVI_LEVEL_EXCHANGE || line.level == KAVI_LEVEL_SETUP,
          "message level 8 or 32");
    Check(line.text.rfind("KAVIR> ", 0) == 0, "message begins KAVIR>");
  }
  // No handler, or a null record the handler would need: refused alike.
  const bool refused = (nulls & kNullCall) || !InTable(command) ||
                       (UsesInstance(command) && call.instance == nullptr) ||
                       (UsesParams(command) && call.params == nullptr);
  if (refused) {
    Check(result == KAVI_SEVERE && testing::Logged().size() == 1 &&
              testing::Logged()[0].text == "KAVIR> KaviMain() Internal error",
          "refused: internal error, result 2");
    return;
  }

  switch (command) {
    case KAVI_COLD_START:
    case KAVI_CHANGE_KAVI_PARAMS:
      Check(params->Copy() == recordBefore, "settings records are only read");
      break;
    case KAVI_SINGLE_ADDRESS_PARSER:
    case KAVI_BLOCK_ADDRESS_PARSER: {
      // address, reserved, dataType, blockSize are the host's.
      const std::vector<uint8_t> after = params->Copy();
      const size_t inputs = offsetof(ParseRequest, plcAddress);
      Check(std::memcmp(after.data(), recordBefore.data(), inputs) == 0,
            "parser leaves its inputs alone");
      Check(result != KAVI_SEVERE, "parsers never answer 2");
      break;
    }
    case KAVI_SINGLE_READ:
    case KAVI_BLOCK_READ:
    case KAVI_SINGLE_WRITE:
      Check(params->Copy() == recordBefore, "the request is never written");
      if (command == KAVI_SINGLE_WRITE || result != KAVI_OK) {
        Check(slot->Copy() == slotBefore,
              "a write, or a failed read, leaves the value slot alone");
      }
      break;
    default:
      break;
  }
  CheckBlock(*block);
}

}  // namespace
}  // namespace kavi::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavi::fuzz;
  FakePort& port = FakePort::Get();
  port.Reset();
  port.exclusive = true;
  kavi::testing::ClearLog();

  Input head(data, size);
  size_t commandBytes = head.Byte();
  commandBytes |= static_cast<size_t>(head.Byte()) << 8;
  const size_t start = size < 2 ? size : 2;
  if (commandBytes > size - start) commandBytes = size - start;
  Input commands(data + start, commandBytes);
  Input script(data + start + commandBytes, size - start - commandBytes);

  int32_t gateWidth = KAVI_GATE_16BIT;
  Line line(script, gateWidth);
  port.responder = [&line](const Bytes& request) {
    return line.Answer(request);
  };

  auto block = std::make_unique<InstanceBlock>();
  std::memset(block.get(), 0xA5, sizeof(InstanceBlock));
  ColdStartParams start_params{};
  std::memcpy(start_params.portName, "COM1", 5);
  start_params.usePort = 1;
  start_params.readTimeout = 50;
  start_params.line = {9600, 8, 0, 2};
  CallBlock call{block.get(), KAVI_COLD_START, {}, &start_params};
  Check(KaviMain(&call) == KAVI_OK, "cold start on the test double");

  for (int i = 0; i < kMostCommands && !commands.Empty(); ++i) {
    RunOne(commands, block.get(), gateWidth);
  }
  port.responder = nullptr;
  return 0;
}
