// The driver allocates nothing: every command, on its paths that succeed
// and on those that fail, runs through KaviMain with the real port backend
// on the simulator's terminal while the heap counts what the calling thread
// allocates. Any allocation fails the case.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "counting_heap.h"
#include "kaviros/kaviros.h"
#include "r2600sim/simulator.h"

namespace kaviros::alloc {
namespace {

// ---- The host ---------------------------------------------------------------

int32_t messages = 0;

// The driver's messages: counted, and formatted as a host would, outside
// the count.
int32_t HostLog(int32_t, const char* format, va_list args) {
  CountingPause pause;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  ++messages;
  return 0;
}

// ---- A driver instance on the simulator's terminal --------------------------

// A controller that keeps silent costs five read time-outs: short ones for
// the cases that expect silence, the port's usual second for the others, so
// that a loaded machine cannot turn a late reply into a retry.
constexpr uint32_t kReadTimeoutMs = 1000;
constexpr uint32_t kShortReadTimeoutMs = 50;

class Rig {
 public:
  explicit Rig(r2600sim::Simulator& sim) : sim_(sim) {}

  r2600sim::Simulator& sim() { return sim_; }

  // The name the driver takes for the terminal: "pts/7".
  std::string PortName() const {
    const std::string path = sim_.Port();
    const std::string dev = "/dev/";
    return path.rfind(dev, 0) == 0 ? path.substr(dev.size()) : path;
  }

  ColdStartParams StartParams(const std::string& portName,
                              uint32_t readTimeoutMs = kReadTimeoutMs) const {
    ColdStartParams params{};
    std::snprintf(params.portName, sizeof params.portName, "%s",
                  portName.c_str());
    params.usePort = 1;
    params.readTimeout = readTimeoutMs;
    params.line = {9600, 8, 0, 2};
    return params;
  }

  // Outside the count: the set-up of a case.
  int32_t Call(uint32_t command, void* params) {
    CallBlock call{};
    call.instance = &block_;
    call.command = command;
    call.params = params;
    return KaviMain(&call);
  }

  // The command under test, counted.
  int32_t Counted(uint32_t command, void* params) {
    CallBlock call{};
    call.instance = &block_;
    call.command = command;
    call.params = params;
    messages = 0;
    StartCounting();
    const int32_t result = KaviMain(&call);
    allocations_ += StopCounting();
    loggedMessages_ += messages;
    ++countedCalls_;
    return result;
  }

  // A variable as the host declares it; its value slot lives in the rig.
  IoRequest Declare(const char* address, uint32_t dataType,
                    bool blockRead = false) {
    ParseRequest parse{};
    parse.address = address;
    parse.dataType = dataType;
    parse.blockSize = blockRead ? 4 : 0;
    const int32_t parsed =
        Call(blockRead ? KAVI_BLOCK_ADDRESS_PARSER : KAVI_SINGLE_ADDRESS_PARSER,
             &parse);
    EXPECT_EQ(parsed, KAVI_OK) << "declaring " << address;
    IoRequest request{};
    request.address = address;
    request.plcAddress = parse.plcAddress;
    request.gateWidth = parse.gateWidth;
    request.paramIndex = parse.paramIndex;
    request.bitNumber = parse.bitNumber;
    request.valueBits = parse.valueBits;
    request.dataType = static_cast<int32_t>(dataType);
    request.value = slot_;
    return request;
  }

  void SetValue(uint16_t word) { std::memcpy(slot_ + 2, &word, sizeof word); }

  // The faults of the next replies, in the simulator's script syntax.
  void Script(const char* text) {
    std::vector<r2600sim::FaultStep> steps;
    std::string error;
    ASSERT_TRUE(r2600sim::ParseFaultScript(text, &steps, &error)) << error;
    sim_.faults().SetScript(steps);
  }

  int64_t allocations() const { return allocations_; }
  int32_t countedCalls() const { return countedCalls_; }
  int32_t loggedMessages() const { return loggedMessages_; }

 private:
  r2600sim::Simulator& sim_;
  alignas(8) InstanceBlock block_{};
  alignas(4) uint8_t slot_[8] = {};
  int64_t allocations_ = 0;
  int32_t countedCalls_ = 0;
  int32_t loggedMessages_ = 0;
};

// ---- The cases
// ---------------------------------------------------------------

struct Case {
  const char* name;
  std::function<int32_t(Rig&)> run;  // set-up, then counted commands
  int32_t result;                    // of the last counted command
  bool logs;                         // whether the commands log anything
  uint32_t readTimeoutMs = kReadTimeoutMs;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

int32_t ReadOf(Rig& rig, const char* address, uint32_t dataType) {
  IoRequest request = rig.Declare(address, dataType);
  return rig.Counted(KAVI_SINGLE_READ, &request);
}

int32_t WriteOf(Rig& rig, const char* address, uint32_t dataType,
                uint16_t value) {
  IoRequest request = rig.Declare(address, dataType);
  rig.SetValue(value);
  return rig.Counted(KAVI_SINGLE_WRITE, &request);
}

int32_t ParseOf(Rig& rig, uint32_t command, const char* address,
                uint32_t dataType, int32_t blockSize) {
  ParseRequest parse{};
  parse.address = address;
  parse.dataType = dataType;
  parse.blockSize = blockSize;
  return rig.Counted(command, &parse);
}

std::vector<Case> Cases() {
  return {
      // Lifecycle.
      {"GetKaviInfo",
       [](Rig& rig) {
         DriverInfo info{};
         return rig.Counted(KAVI_GET_KAVI_INFO, &info);
       },
       KAVI_OK, false},
      {"ColdStartOnPort",
       [](Rig& rig) {
         rig.Call(KAVI_CLOSE_COM, nullptr);
         ColdStartParams params = rig.StartParams(rig.PortName());
         return rig.Counted(KAVI_COLD_START, &params);
       },
       KAVI_OK, true},
      {"ColdStartWithoutPort",
       [](Rig& rig) {
         rig.Call(KAVI_CLOSE_COM, nullptr);
         ColdStartParams params = rig.StartParams("");
         params.usePort = 0;
         return rig.Counted(KAVI_COLD_START, &params);
       },
       KAVI_OK, false},
      {"ColdStartOnMissingPort",
       [](Rig& rig) {
         rig.Call(KAVI_CLOSE_COM, nullptr);
         ColdStartParams params = rig.StartParams("ttyKAVI99");
         return rig.Counted(KAVI_COLD_START, &params);
       },
       KAVI_SEVERE, true},
      {"WarmStart",
       [](Rig& rig) { return rig.Counted(KAVI_WARM_START, nullptr); }, KAVI_OK,
       false},
      {"EndKavi", [](Rig& rig) { return rig.Counted(KAVI_END_KAVI, nullptr); },
       KAVI_OK, false},

      // Address strings.
      {"ParseParameter",
       [](Rig& rig) {
         return ParseOf(rig, KAVI_SINGLE_ADDRESS_PARSER, "0110",
                        KAVI_TYPE_UINT16, 0);
       },
       KAVI_OK, false},
      {"ParseBit",
       [](Rig& rig) {
         return ParseOf(rig, KAVI_SINGLE_ADDRESS_PARSER, "011003",
                        KAVI_TYPE_BIT, 0);
       },
       KAVI_OK, false},
      {"ParseBadDigit",
       [](Rig& rig) {
         return ParseOf(rig, KAVI_SINGLE_ADDRESS_PARSER, "01X0",
                        KAVI_TYPE_UINT16, 0);
       },
       KAVI_REFUSED, true},
      {"ParseIndexWithoutParameter",
       [](Rig& rig) {
         return ParseOf(rig, KAVI_SINGLE_ADDRESS_PARSER, "0113",
                        KAVI_TYPE_UINT16, 0);
       },
       KAVI_REFUSED, true},
      {"ParseBlock",
       [](Rig& rig) {
         return ParseOf(rig, KAVI_BLOCK_ADDRESS_PARSER, "01F0", KAVI_TYPE_INT16,
                        4);
       },
       KAVI_OK, false},
      {"ParseBlockOfWrongSize",
       [](Rig& rig) {
         return ParseOf(rig, KAVI_BLOCK_ADDRESS_PARSER, "01F0", KAVI_TYPE_INT16,
                        3);
       },
       KAVI_REFUSED, true},

      // Reads of every kind.
      {"ReadParameter16",
       [](Rig& rig) { return ReadOf(rig, "0110", KAVI_TYPE_UINT16); }, KAVI_OK,
       false},
      {"ReadParameter8WithoutExtension",
       [](Rig& rig) { return ReadOf(rig, "0135", KAVI_TYPE_INT16); }, KAVI_OK,
       false},
      {"ReadParameter32",
       [](Rig& rig) { return ReadOf(rig, "0121", KAVI_TYPE_INT32); }, KAVI_OK,
       false},
      {"ReadBit", [](Rig& rig) { return ReadOf(rig, "011003", KAVI_TYPE_BIT); },
       KAVI_OK, false},
      {"ReadCycleValue",
       [](Rig& rig) { return ReadOf(rig, "01F2", KAVI_TYPE_INT16); }, KAVI_OK,
       false},
      {"ReadEquipmentStatus",
       [](Rig& rig) { return ReadOf(rig, "01F5", KAVI_TYPE_UINT16); }, KAVI_OK,
       false},
      {"ReadOfReset",
       [](Rig& rig) { return ReadOf(rig, "01F4", KAVI_TYPE_UINT16); }, KAVI_OK,
       true},
      {"BlockRead",
       [](Rig& rig) {
         IoRequest request = rig.Declare("01F0", KAVI_TYPE_INT16, true);
         return rig.Counted(KAVI_BLOCK_READ, &request);
       },
       KAVI_OK, false},
      {"ReadFromStationFF",
       [](Rig& rig) { return ReadOf(rig, "FF10", KAVI_TYPE_UINT16); },
       KAVI_REFUSED, true},
      {"ReadWithPortClosed",
       [](Rig& rig) {
         IoRequest request = rig.Declare("0110", KAVI_TYPE_UINT16);
         rig.Call(KAVI_CLOSE_COM, nullptr);
         return rig.Counted(KAVI_SINGLE_READ, &request);
       },
       KAVI_REFUSED, true},

      // Reads the line spoils.
      {"ReadNeverAnswered",
       [](Rig& rig) {
         rig.Script("silence*5");
         return ReadOf(rig, "0110", KAVI_TYPE_UINT16);
       },
       KAVI_SEVERE, true, kShortReadTimeoutMs},
      {"ReadAfterBadChecksum",
       [](Rig& rig) {
         rig.Script("checksum,ok");
         return ReadOf(rig, "0110", KAVI_TYPE_UINT16);
       },
       KAVI_OK, true},
      {"ReadAfterGarbage",
       [](Rig& rig) {
         rig.Script("garbage:3,ok");
         return ReadOf(rig, "0121", KAVI_TYPE_INT32);
       },
       KAVI_OK, true},
      {"ReadAfterTruncatedReply",
       [](Rig& rig) {
         rig.Script("truncate:4,ok");
         return ReadOf(rig, "01F0", KAVI_TYPE_INT16);
       },
       KAVI_OK, true, kShortReadTimeoutMs},
      {"ReadNotReady",
       [](Rig& rig) {
         rig.Script("status:08");
         return ReadOf(rig, "0110", KAVI_TYPE_UINT16);
       },
       KAVI_REFUSED, true},
      {"ReadAnsweredShort",
       [](Rig& rig) {
         // An index the controller has no parameter for: it answers
         // 10 01 80 cs 16 where a long reply was due.
         IoRequest request = rig.Declare("0110", KAVI_TYPE_UINT16);
         request.paramIndex = 0x13;
         return rig.Counted(KAVI_SINGLE_READ, &request);
       },
       KAVI_SEVERE, true},
      {"BlockReadAfterSilence",
       [](Rig& rig) {
         rig.Script("silence,ok");
         IoRequest request = rig.Declare("01F0", KAVI_TYPE_INT16, true);
         return rig.Counted(KAVI_BLOCK_READ, &request);
       },
       KAVI_OK, true, kShortReadTimeoutMs},

      // Writes.
      {"WriteParameter16",
       [](Rig& rig) { return WriteOf(rig, "0110", KAVI_TYPE_UINT16, 0x1234); },
       KAVI_OK, false},
      {"WriteParameter8",
       [](Rig& rig) { return WriteOf(rig, "0135", KAVI_TYPE_UINT16, 0x7F); },
       KAVI_OK, false},
      {"WriteBit",
       [](Rig& rig) { return WriteOf(rig, "011003", KAVI_TYPE_BIT, 1); },
       KAVI_OK, false},
      {"WriteVerifiedByReadBack",
       [](Rig& rig) {
         rig.sim().controller().SetServiceRequest(true);
         return WriteOf(rig, "0110", KAVI_TYPE_UINT16, 0x0042);
       },
       KAVI_OK, true},
      {"WriteReset",
       [](Rig& rig) { return WriteOf(rig, "01F4", KAVI_TYPE_UINT16, 0); },
       KAVI_OK, false},
      {"WriteToStationFF",
       [](Rig& rig) { return WriteOf(rig, "FF10", KAVI_TYPE_UINT16, 0x10); },
       KAVI_OK, false},
      {"WriteCycleValueRefused",
       [](Rig& rig) { return WriteOf(rig, "01F0", KAVI_TYPE_INT16, 1); },
       KAVI_REFUSED, true},
      {"Write32BitRefused",
       [](Rig& rig) { return WriteOf(rig, "0121", KAVI_TYPE_INT32, 1); },
       KAVI_REFUSED, true},
      {"Write8BitOutOfRange",
       [](Rig& rig) { return WriteOf(rig, "0135", KAVI_TYPE_UINT16, 0x0100); },
       KAVI_REFUSED, true},
      {"WriteRefusedByController",
       [](Rig& rig) {
         rig.sim().controller().SetReadOnly(0x10, true);
         return WriteOf(rig, "0110", KAVI_TYPE_UINT16, 0x1234);
       },
       KAVI_REFUSED, true},
      {"WriteNeverAnswered",
       [](Rig& rig) {
         rig.Script("silence*5");
         return WriteOf(rig, "0110", KAVI_TYPE_UINT16, 0x1234);
       },
       KAVI_SEVERE, true, kShortReadTimeoutMs},

      // Port commands.
      {"CloseCom",
       [](Rig& rig) { return rig.Counted(KAVI_CLOSE_COM, nullptr); }, KAVI_OK,
       false},
      {"CloseComWhenClosed",
       [](Rig& rig) {
         rig.Call(KAVI_CLOSE_COM, nullptr);
         return rig.Counted(KAVI_CLOSE_COM, nullptr);
       },
       KAVI_OK, false},
      {"ReOpenCom",
       [](Rig& rig) {
         rig.Call(KAVI_CLOSE_COM, nullptr);
         return rig.Counted(KAVI_REOPEN_COM, nullptr);
       },
       KAVI_OK, false},
      {"ReOpenComWhileOpen",
       [](Rig& rig) { return rig.Counted(KAVI_REOPEN_COM, nullptr); },
       KAVI_SEVERE, true},
      {"ChangeKaviParams",
       [](Rig& rig) {
         ChangeParams params{};
         std::snprintf(params.portName, sizeof params.portName, "%s",
                       rig.PortName().c_str());
         params.readTimeout = 80;
         params.line = {9600, 8, 0, 2};
         return rig.Counted(KAVI_CHANGE_KAVI_PARAMS, &params);
       },
       KAVI_OK, false},
      {"ChangeKaviParamsToMissingPort",
       [](Rig& rig) {
         ChangeParams params{};
         std::strcpy(params.portName, "ttyKAVI99");
         return rig.Counted(KAVI_CHANGE_KAVI_PARAMS, &params);
       },
       KAVI_SEVERE, true},

      // What the entry refuses.
      {"CommandZero", [](Rig& rig) { return rig.Counted(0, nullptr); },
       KAVI_SEVERE, true},
      {"EmptySlot", [](Rig& rig) { return rig.Counted(8, nullptr); },
       KAVI_SEVERE, true},
      {"CommandBeyondTable", [](Rig& rig) { return rig.Counted(17, nullptr); },
       KAVI_SEVERE, true},
      {"ReadWithoutRecord",
       [](Rig& rig) { return rig.Counted(KAVI_SINGLE_READ, nullptr); },
       KAVI_SEVERE, true},
  };
}

// One simulator per test program; each case gets a fresh instance on it and
// a controller with nothing scripted.
class DriverAllocations : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    r2600sim::SimulatorOptions options;
    options.controller.stations = {0x01};
    options.controller.frozen = true;
    sim_ = std::make_unique<r2600sim::Simulator>(options);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
  }
  static void TearDownTestSuite() { sim_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(sim_ != nullptr && sim_->Running());
    sim_->faults().SetScript({});
    sim_->controller().SetServiceRequest(false);
    sim_->controller().SetReadOnly(0x10, false);
    rig_ = std::make_unique<Rig>(*sim_);
    ColdStartParams params =
        rig_->StartParams(rig_->PortName(), GetParam().readTimeoutMs);
    ASSERT_EQ(rig_->Call(KAVI_COLD_START, &params), KAVI_OK);
  }

  void TearDown() override {
    if (rig_ != nullptr) rig_->Call(KAVI_CLOSE_COM, nullptr);
  }

  static std::unique_ptr<r2600sim::Simulator> sim_;
  std::unique_ptr<Rig> rig_;
};

std::unique_ptr<r2600sim::Simulator> DriverAllocations::sim_;

TEST_P(DriverAllocations, AllocateNothing) {
  const Case& c = GetParam();
  const int32_t result = c.run(*rig_);
  ASSERT_GT(rig_->countedCalls(), 0) << "no command was counted";
  EXPECT_EQ(result, c.result);
  // A case that should fail and logs nothing has missed the path it names.
  EXPECT_EQ(rig_->loggedMessages() > 0, c.logs);
  EXPECT_EQ(rig_->allocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, DriverAllocations,
                         ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.name;
                         });

// ---- The count itself
// ----------------------------------------------------------

// Calls through these cannot be seen through, so no allocation is elided.
void* (*volatile allocate)(size_t) = std::malloc;
void (*volatile release)(void*) = std::free;
void* volatile sink = nullptr;

TEST(CountingHeap, CountsEveryKindOfAllocationOfThisThread) {
  StartCounting();
  void* block = allocate(24);
  int* number = new int(7);
  sink = number;
  std::string text(100, 'x');
  sink = text.data();
  const int64_t counted = StopCounting();
  delete number;
  release(block);
  EXPECT_EQ(counted, 3);
}

TEST(CountingHeap, LeavesOutOtherThreadsAndPauses) {
  std::atomic<int> stage{0};
  std::thread other([&stage] {
    while (stage.load() != 1) {
    }
    release(allocate(64));
    stage.store(2);
  });
  StartCounting();
  stage.store(1);
  while (stage.load() != 2) {
  }
  {
    CountingPause pause;
    release(allocate(16));
  }
  EXPECT_EQ(StopCounting(), 0);
  other.join();
}

}  // namespace
}  // namespace kaviros::alloc

extern "C" int32_t melbax_err(int32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t result = kaviros::alloc::HostLog(level, format, args);
  va_end(args);
  return result;
}
