// Micro-benchmarks of the driver's own work, with the port replaced by a
// test double that holds replies in memory: address parsing, the telegram
// builders, the receivers checking a reply, and whole commands through
// KaviMain. Prints "micro.<double>.<name>.ns: <ns per operation>".
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "address/address_string.h"
#include "entry/lifecycle.h"
#include "kaviros/kaviros.h"
#include "port_double.h"
#include "telegram/receive.h"
#include "telegram/telegram.h"

namespace kaviros::bench {
namespace {

int32_t messages = 0;
char lastMessage[256] = "";

// ---- Telegrams the controller sends -----------------------------------------

uint8_t Sum(const Bytes& bytes, size_t from, size_t count) {
  uint32_t sum = 0;
  for (size_t i = from; i < from + count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum);
}

// 68 L L 68 01 00 data... cs 16 from station 1 with status 0.
Bytes LongReply(const Bytes& data) {
  const auto l = static_cast<uint8_t>(2 + data.size());
  Bytes reply = {0x68, l, l, 0x68, 0x01, 0x00};
  reply.insert(reply.end(), data.begin(), data.end());
  reply.push_back(Sum(reply, 4, l));
  reply.push_back(0x16);
  return reply;
}

Bytes ShortReply(uint8_t status) {
  return {0x10, 0x01, status, static_cast<uint8_t>(0x01 + status), 0x16};
}

const Bytes kReply16 = LongReply({0x10, 0x01, 0x01, 0x00, 0x34, 0x12});
const Bytes kReply8 = LongReply({0x35, 0x7F});
const Bytes kReply32 =
    LongReply({0x21, 0x01, 0x01, 0x00, 0x40, 0xE2, 0x01, 0x00});
const Bytes kReplyCycle = LongReply({0x34, 0x12, 0x78, 0x56, 0x9C, 0x43, 0x21});
const Bytes kReplyStatus = ShortReply(0x04);
const Bytes kReplyAck = ShortReply(0x00);

// ---- A driver instance on the double ----------------------------------------

struct Driver {
  alignas(8) InstanceBlock block{};

  int32_t Call(uint32_t command, void* params) {
    CallBlock call{};
    call.instance = &block;
    call.command = command;
    call.params = params;
    return KaviMain(&call);
  }

  // ColdStart on the double; false when refused.
  bool Start() {
    PortReset();
    ColdStartParams params{};
    std::strcpy(params.portName, "COM1");
    params.usePort = 1;
    params.readTimeout = 1000;
    params.line = {9600, 8, 0, 2};
    const bool ok = Call(KAVI_COLD_START, &params) == KAVI_OK;
    messages = 0;
    PortOperationDone();
    return ok;
  }
};

// A variable as the host holds it after declaring `address`.
struct Variable {
  IoRequest request{};
  alignas(4) uint8_t slot[8] = {};
};

bool Declare(Driver& driver, const char* address, uint32_t dataType, bool block,
             Variable& variable) {
  ParseRequest parse{};
  parse.address = address;
  parse.dataType = dataType;
  parse.blockSize = block ? 4 : 0;
  if (driver.Call(
          block ? KAVI_BLOCK_ADDRESS_PARSER : KAVI_SINGLE_ADDRESS_PARSER,
          &parse) != KAVI_OK) {
    return false;
  }
  variable.request = IoRequest{};
  variable.request.address = address;
  variable.request.plcAddress = parse.plcAddress;
  variable.request.gateWidth = parse.gateWidth;
  variable.request.paramIndex = parse.paramIndex;
  variable.request.bitNumber = parse.bitNumber;
  variable.request.valueBits = parse.valueBits;
  variable.request.dataType = static_cast<int32_t>(dataType);
  variable.request.value = variable.slot;
  return true;
}

// Ends a benchmark whose operations did not all succeed without a word.
void CheckQuiet(benchmark::State& state, bool ok) {
  if (!ok || messages != 0) {
    state.SkipWithError(messages != 0 ? lastMessage : "operation failed");
  }
}

// ---- Address parsing --------------------------------------------------------

void ParseAddressBench(benchmark::State& state, const char* address,
                       uint32_t dataType, uint32_t command) {
  uint16_t gateTypes[KAVI_GATE_COUNT];
  kavi::FillDefaultGateTypes(gateTypes);
  ParseRequest request{};
  request.address = address;
  request.dataType = dataType;
  request.blockSize = 4;
  bool ok = true;
  for (auto _ : state) {
    ok &= kavi::ParseAddress(gateTypes, request, command) == KAVI_OK;
    benchmark::DoNotOptimize(request);
  }
  CheckQuiet(state, ok);
}

void ParserCommandBench(benchmark::State& state, const char* address,
                        uint32_t dataType) {
  Driver driver;
  ParseRequest request{};
  request.address = address;
  request.dataType = dataType;
  bool ok = driver.Start();
  for (auto _ : state) {
    ok &= driver.Call(KAVI_SINGLE_ADDRESS_PARSER, &request) == KAVI_OK;
    benchmark::DoNotOptimize(request);
  }
  CheckQuiet(state, ok);
}

// ---- Builders ---------------------------------------------------------------

IoRequest RequestFor(int32_t index, int32_t gateWidth) {
  IoRequest request{};
  request.plcAddress = 0x01;
  request.paramIndex = index;
  request.gateWidth = gateWidth;
  return request;
}

void ChecksumBench(benchmark::State& state) {
  const Bytes bytes = kReply32;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        kavi::TelegramChecksum(bytes.data() + 4, static_cast<int32_t>(10)));
  }
}

void BuildLongBench(benchmark::State& state, int32_t index) {
  const IoRequest request = RequestFor(index, KAVI_GATE_16BIT);
  kavi::RequestBuffer telegram;
  int32_t length = 0;
  bool ok = true;
  for (auto _ : state) {
    ok &= kavi::BuildRequestLongSet(request, telegram, length) == 0;
    benchmark::DoNotOptimize(telegram);
  }
  CheckQuiet(state, ok);
}

void BuildShortBench(benchmark::State& state, int32_t index) {
  const IoRequest request = RequestFor(index, KAVI_GATE_16BIT);
  kavi::RequestBuffer telegram;
  int32_t length = 0;
  bool ok = true;
  for (auto _ : state) {
    ok &= kavi::BuildRequestShortSet(request, telegram, length) == 0;
    benchmark::DoNotOptimize(telegram);
  }
  CheckQuiet(state, ok);
}

void BuildWriteBench(benchmark::State& state, int32_t index, int32_t count) {
  const IoRequest request = RequestFor(index, count);
  const uint8_t data[2] = {0x34, 0x12};
  kavi::RequestBuffer telegram;
  int32_t length = 0;
  bool ok = true;
  for (auto _ : state) {
    ok &= kavi::BuildRequestWrite(request, data, count, telegram, length) == 0;
    benchmark::DoNotOptimize(telegram);
  }
  CheckQuiet(state, ok);
}

// ---- Receivers --------------------------------------------------------------

void ReceiveBench(benchmark::State& state, int32_t index, int32_t gateWidth,
                  const Bytes* reply, bool shortReply) {
  Driver driver;
  bool ok = driver.Start();
  const IoRequest request = RequestFor(index, gateWidth);
  for (auto _ : state) {
    PortQueueInput(*reply);
    const int32_t result = shortReply
                               ? kavi::ReceiveShortSet(request, driver.block,
                                                       driver.block.rxBuffer)
                               : kavi::ReceiveLongSet(request, driver.block,
                                                      driver.block.rxBuffer);
    ok &= result == kavi::kReplyOk;
    PortOperationDone();
  }
  CheckQuiet(state, ok);
}

// ---- Whole commands through KaviMain ----------------------------------------

void CommandBench(benchmark::State& state, uint32_t command,
                  const char* address, uint32_t dataType, bool block,
                  uint16_t writeValue, std::vector<const Bytes*> replies) {
  Driver driver;
  Variable variable;
  bool ok =
      driver.Start() && Declare(driver, address, dataType, block, variable);
  std::memcpy(variable.slot + 2, &writeValue, sizeof writeValue);
  std::vector<Bytes> lineReplies;
  for (const Bytes* reply : replies) lineReplies.push_back(*reply);
  PortReplyToWrites(lineReplies);
  for (auto _ : state) {
    ok &= driver.Call(command, &variable.request) == KAVI_OK;
    benchmark::DoNotOptimize(variable.slot);
    PortOperationDone();
  }
  CheckQuiet(state, ok);
}

void Register() {
  using benchmark::RegisterBenchmark;
  // Address strings.
  RegisterBenchmark("address.parse_16bit", ParseAddressBench, "0110",
                    KAVI_TYPE_UINT16, KAVI_SINGLE_ADDRESS_PARSER);
  RegisterBenchmark("address.parse_bit", ParseAddressBench, "011003",
                    KAVI_TYPE_BIT, KAVI_SINGLE_ADDRESS_PARSER);
  RegisterBenchmark("address.parse_32bit", ParseAddressBench, "0121",
                    KAVI_TYPE_INT32, KAVI_SINGLE_ADDRESS_PARSER);
  RegisterBenchmark("address.parse_block", ParseAddressBench, "01F0",
                    KAVI_TYPE_INT16, KAVI_BLOCK_ADDRESS_PARSER);
  RegisterBenchmark("address.single_parser_command", ParserCommandBench, "0110",
                    KAVI_TYPE_UINT16);
  // Telegrams.
  RegisterBenchmark("telegram.checksum_10_bytes", ChecksumBench);
  RegisterBenchmark("telegram.build_read_long", BuildLongBench, 0x10);
  RegisterBenchmark("telegram.build_read_long_no_extension", BuildLongBench,
                    0x35);
  RegisterBenchmark("telegram.build_short_cycle_value", BuildShortBench, 0xF0);
  RegisterBenchmark("telegram.build_short_reset", BuildShortBench, 0xF4);
  RegisterBenchmark("telegram.build_short_status", BuildShortBench, 0xF5);
  RegisterBenchmark("telegram.build_write_16bit", BuildWriteBench, 0x10, 2);
  RegisterBenchmark("telegram.build_write_8bit", BuildWriteBench, 0x35, 1);
  // Receivers, a correct reply waiting in memory.
  RegisterBenchmark("receive.long_parameter16", ReceiveBench, 0x10,
                    KAVI_GATE_16BIT, &kReply16, false);
  RegisterBenchmark("receive.long_parameter8", ReceiveBench, 0x35,
                    KAVI_GATE_8BIT, &kReply8, false);
  RegisterBenchmark("receive.long_parameter32", ReceiveBench, 0x21,
                    KAVI_GATE_32BIT, &kReply32, false);
  RegisterBenchmark("receive.long_cycle_values", ReceiveBench, 0xF0,
                    KAVI_GATE_16BIT, &kReplyCycle, false);
  RegisterBenchmark("receive.short_status", ReceiveBench, 0xF5, KAVI_GATE_8BIT,
                    &kReplyStatus, true);
  RegisterBenchmark("receive.short_write_ack", ReceiveBench, 0x10,
                    KAVI_GATE_16BIT, &kReplyAck, true);
  // Whole commands: purge, send, receive, store.
  RegisterBenchmark("command.single_read_parameter16", CommandBench,
                    KAVI_SINGLE_READ, "0110", KAVI_TYPE_UINT16, false, 0,
                    std::vector<const Bytes*>{&kReply16});
  RegisterBenchmark("command.single_read_parameter8", CommandBench,
                    KAVI_SINGLE_READ, "0135", KAVI_TYPE_UINT16, false, 0,
                    std::vector<const Bytes*>{&kReply8});
  RegisterBenchmark("command.single_read_parameter32", CommandBench,
                    KAVI_SINGLE_READ, "0121", KAVI_TYPE_INT32, false, 0,
                    std::vector<const Bytes*>{&kReply32});
  RegisterBenchmark("command.single_read_bit", CommandBench, KAVI_SINGLE_READ,
                    "011003", KAVI_TYPE_BIT, false, 0,
                    std::vector<const Bytes*>{&kReply16});
  RegisterBenchmark("command.single_read_cycle_value", CommandBench,
                    KAVI_SINGLE_READ, "01F0", KAVI_TYPE_INT16, false, 0,
                    std::vector<const Bytes*>{&kReplyCycle});
  RegisterBenchmark("command.single_read_status", CommandBench,
                    KAVI_SINGLE_READ, "01F5", KAVI_TYPE_UINT16, false, 0,
                    std::vector<const Bytes*>{&kReplyStatus});
  RegisterBenchmark("command.block_read", CommandBench, KAVI_BLOCK_READ, "01F0",
                    KAVI_TYPE_INT16, true, 0,
                    std::vector<const Bytes*>{&kReplyCycle});
  RegisterBenchmark("command.single_write_16bit", CommandBench,
                    KAVI_SINGLE_WRITE, "0110", KAVI_TYPE_UINT16, false, 0x1234,
                    std::vector<const Bytes*>{&kReplyAck});
  RegisterBenchmark("command.single_write_bit", CommandBench, KAVI_SINGLE_WRITE,
                    "011003", KAVI_TYPE_BIT, false, 1,
                    std::vector<const Bytes*>{&kReply16, &kReplyAck});
}

// "micro.<double>.<name>.ns: <value>" per benchmark; errors to stderr.
class NameValueReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) {
        std::fprintf(stderr, "%s: %s\n", run.benchmark_name().c_str(),
                     run.error_message.c_str());
        failed = true;
        continue;
      }
      std::printf("micro.%s.%s.ns: %.1f\n", PortDoubleName(),
                  run.benchmark_name().c_str(),
                  run.GetAdjustedRealTime() *
                      benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                      benchmark::GetTimeUnitMultiplier(run.time_unit));
      std::fflush(stdout);
    }
  }

  bool failed = false;
};

}  // namespace
}  // namespace kaviros::bench

extern "C" int32_t melbax_err(int32_t, const char* format, ...) {
  using namespace kaviros::bench;
  va_list args;
  va_start(args, format);
  std::vsnprintf(lastMessage, sizeof lastMessage, format, args);
  va_end(args);
  ++messages;
  return 0;
}

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  kaviros::bench::Register();
  kaviros::bench::NameValueReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.failed ? 1 : 0;
}
