// Soak under faults: the real driver, loaded by libmelbax, reads and writes
// known values of simulated controllers over a pseudo-terminal while the
// line damages replies by chance. The controllers stand still, so every
// value the host gets is checked against the model; wrong values are traced
// back to the reply that carried them and sorted by how many of its bytes
// were corrupted.
//
//   kaviros_soak [--transactions N] [--minutes M] [--seed S]
//                [--timeout-ms T] [--fault-rate P] [--driver PATH]
//                [--progress N] [--show-wrong]
//
// Exit status 0 when no wrong value came from a single corrupted byte, no
// transaction hung past its bound and nothing else broke; 1 otherwise; 2 for
// bad options or a rig that did not start.
#include <algorithm>
#include <array>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "faulty_line.h"
#include "melbax/driver.h"
#include "melbax/instance.h"

namespace kaviros::soak {
namespace {

using melbax::DataType;
using Millis = std::chrono::duration<double, std::milli>;

constexpr int kAttempts = 5;

struct Options {
  uint64_t transactions = 20000;
  double minutes = 0;  // 0: no limit
  uint64_t seed = 1;
  uint32_t timeoutMs = 25;
  double faultRate = 0.25;
  std::string driver;
  uint64_t progress = 0;
  bool showWrong = false;  // the telegrams behind every wrong value
};

// Relative weights of the faults; their sum is the fault rate.
constexpr std::array<double, kFaultKinds> kWeights = {
    0,    // none
    2,    // silence
    2,    // delay
    4,    // flip
    1,    // checksum
    1,    // station
    2,    // truncate
    1.5,  // extra
    1.5,  // garbage
    2,    // drop
    1.5,  // status
    3,    // burst
};

enum class Kind { kRead, kBlock, kStatus, kValueWrite, kBitWrite };
constexpr size_t kKinds = 5;
constexpr const char* kKindNames[kKinds] = {"read", "block read", "status read",
                                            "value write", "bit write"};
// Exchanges a transaction may make: a bit write reads, writes and may read
// back; a value write may read back.
constexpr int kExchanges[kKinds] = {1, 1, 1, 2, 3};

struct Var {
  std::string address;
  DataType type;
  bool writable;
  melbax::Variable v;
};

std::vector<Var> Variables() {
  return {
      {"0110", DataType::kUint16, true, {}},  // 16 bit, extension bytes
      {"0133", DataType::kInt16, true, {}},   // 16 bit, none
      {"0135", DataType::kUint16, true, {}},  // 8 bit, none
      {"010D", DataType::kInt16, true, {}},   // 8 bit, extension bytes
      {"0121", DataType::kInt32, false, {}},  // 32 bit
      {"0164", DataType::kUint16, false, {}},
      {"011003", DataType::kBit, true, {}},
      {"011015", DataType::kBit, true, {}},
      {"013505", DataType::kBit, true, {}},
      {"010D07", DataType::kBit, true, {}},
      {"012131", DataType::kBit, false, {}},
      {"01F0", DataType::kInt16, false, {}},
      {"01F1", DataType::kInt16, false, {}},
      {"01F2", DataType::kInt16, false, {}},
      {"01F3", DataType::kInt16, false, {}},
      {"0205", DataType::kUint16, true, {}},
      {"0228", DataType::kInt16, true, {}},
      {"023A", DataType::kUint16, true, {}},
      {"022801", DataType::kBit, true, {}},
  };
}

uint8_t StationOf(const melbax::Variable& v) {
  return static_cast<uint8_t>(v.station());
}
uint8_t IndexOf(const melbax::Variable& v) {
  return static_cast<uint8_t>(v.paramIndex());
}

// What the driver must leave in the slot for the model's value.
uint32_t Expected(const Var& var, uint32_t value) {
  const melbax::Variable& v = var.v;
  switch (var.type) {
    case DataType::kInt32:
      return value;
    case DataType::kBit:
      return (value >> v.bitNumber()) & 1u;
    default:
      break;
  }
  if (v.gateWidth() == KAVI_GATE_8BIT) {
    const uint32_t byte = value & 0xFFu;
    return var.type == DataType::kInt16 && (byte & 0x80u) ? 0xFF00u | byte
                                                          : byte;
  }
  return value & 0xFFFFu;
}

uint32_t Stored(const Var& var) {
  const ValueSlot& slot = var.v.slot();
  const bool dword =
      var.type == DataType::kInt32 ||
      (var.type == DataType::kBit && var.v.gateWidth() == KAVI_GATE_32BIT);
  return dword ? slot.dword : slot.single.word;
}

struct Exchange {
  Bytes request;
  std::vector<Bytes> replies;  // as read, one per attempt
};

struct Report {
  uint64_t transactions = 0;
  std::array<std::array<uint64_t, 3>, kKinds> results{};
  uint64_t valuesChecked = 0;
  uint64_t wrongSingle = 0;     // from a reply with one corrupted byte
  uint64_t wrongSeveral = 0;    // from a reply with several
  uint64_t wrongStale = 0;      // an earlier true reply, arriving late
  uint64_t wrongOther = 0;      // no damaged reply explains it
  uint64_t confirmedEarly = 0;  // writes acknowledged before they arrived
  std::array<double, kKinds> longestMs{};
  std::array<double, kKinds> boundMs{};
  uint64_t hangs = 0;
  uint64_t unsettled = 0;
  std::vector<std::string> problems;
};

class Soak {
 public:
  Soak(const Options& options, FaultyLine& line,
       std::shared_ptr<melbax::Driver> driver)
      : options_(options),
        line_(line),
        instance_(std::move(driver)),
        random_(options.seed ^ 0x9E3779B97F4A7C15ull) {
    instance_.SetTraceSink([this](const melbax::TraceEvent& event) {
      if (event.direction == melbax::TraceDirection::kSent) {
        ++sent_;
        exchanges_.push_back(
            {Bytes(event.bytes, event.bytes + event.count), {}});
      } else if (!exchanges_.empty()) {
        exchanges_.back().replies.emplace_back(event.bytes,
                                               event.bytes + event.count);
      }
    });
    instance_.SetMessageObserver([](const melbax::Message&) {});
  }

  bool Begin(std::string* error) {
    std::string why;
    const std::string name = melbax::DriverPortName(line_.Port(), why);
    if (name.empty()) {
      *error = why;
      return false;
    }
    melbax::PortConfig port;
    port.name = name;
    port.readTimeoutMs = options_.timeoutMs;
    const melbax::Outcome started = instance_.Start(port);
    if (!started.ok()) {
      *error = "the driver did not start on " + name;
      return false;
    }
    vars_ = Variables();
    for (Var& var : vars_) {
      if (!instance_.Declare(var.address, var.type, var.v).ok()) {
        *error = "the driver refused to declare " + var.address;
        return false;
      }
    }
    if (!instance_.Declare("01F0", DataType::kBlock, block_).ok()) {
      *error = "the driver refused to declare the block 01F0";
      return false;
    }
    // Known cycle values, F2 negative so that its sign extension shows.
    line_.controller().SetCycle(0x01, {1234, -567, -42, 1801});
    line_.controller().SetCycle(0x02, {-100, 250, 99, -350});
    const double bound = 2.0 * kAttempts * options_.timeoutMs;
    for (size_t k = 0; k < kKinds; ++k) {
      report_.boundMs[k] = bound * kExchanges[k];
    }
    return true;
  }

  void Step() {
    const Kind kind = Draw();
    exchanges_.clear();
    const auto started = Clock::now();
    int32_t result = 0;
    switch (kind) {
      case Kind::kRead:
        result = Read();
        break;
      case Kind::kBlock:
        result = BlockRead();
        break;
      case Kind::kStatus:
        result = StatusRead();
        break;
      case Kind::kValueWrite:
        result = ValueWrite();
        break;
      case Kind::kBitWrite:
        result = BitWrite();
        break;
    }
    const double ms = Millis(Clock::now() - started).count();
    const auto k = static_cast<size_t>(kind);
    ++report_.transactions;
    if (result >= 0 && result <= 2) {
      ++report_.results[k][static_cast<size_t>(result)];
    } else {
      Problem("result " + std::to_string(result) + " from a " + kKindNames[k]);
    }
    report_.longestMs[k] = std::max(report_.longestMs[k], ms);
    // A hang, not a slow machine: well past the bound.
    if (ms > 2 * report_.boundMs[k] + 2000) {
      ++report_.hangs;
      Problem(std::string(kKindNames[k]) + " took " + std::to_string(ms) +
              " ms, bound " + std::to_string(report_.boundMs[k]) + " ms");
    }
    Settle();
  }

  Report& report() { return report_; }

 private:
  Kind Draw() {
    const int u = std::uniform_int_distribution<int>(0, 99)(random_);
    if (u < 45) return Kind::kRead;
    if (u < 53) return Kind::kBlock;
    if (u < 60) return Kind::kStatus;
    if (u < 85) return Kind::kValueWrite;
    return Kind::kBitWrite;
  }

  Var& Pick(bool writable, std::optional<DataType> type = std::nullopt,
            bool notType = false) {
    std::vector<Var*> fit;
    for (Var& var : vars_) {
      if (writable && !var.writable) continue;
      if (type && ((var.type == *type) == notType)) continue;
      fit.push_back(&var);
    }
    return *fit[std::uniform_int_distribution<size_t>(0,
                                                      fit.size() - 1)(random_)];
  }

  uint32_t Truth(uint8_t station, uint8_t index) {
    const std::optional<uint32_t> value =
        line_.controller().Value(station, index);
    if (!value) Problem("the model has no value for a declared variable");
    return value.value_or(0);
  }

  // A wrong value: which reply carried it, and how damaged was that one. A
  // true reply that came late (to this request or to another: a write's
  // acknowledgement reads like an equipment status) is no damage.
  void Wrong(const std::string& what, bool lastReplyOnly) {
    size_t fewest = std::numeric_limits<size_t>::max();
    bool late = false;
    for (size_t i = 0; i < exchanges_.size(); ++i) {
      const Exchange& exchange = exchanges_[i];
      for (size_t j = 0; j < exchange.replies.size(); ++j) {
        const bool last =
            i + 1 == exchanges_.size() && j + 1 == exchange.replies.size();
        if (lastReplyOnly && !last) continue;
        const Bytes& reply = exchange.replies[j];
        const FaultyLine::Closest c = line_.Compare(exchange.request, reply);
        if (c.differences == 0 && c.latest) continue;
        if (c.differences == 0 || line_.Gave(reply)) {
          late = true;
        } else {
          fewest = std::min(fewest, c.differences);
        }
      }
    }
    if (fewest == 1) {
      ++report_.wrongSingle;
      Problem(what + " from a reply with one corrupted byte");
    } else if (late) {
      ++report_.wrongStale;
      if (options_.showWrong) Show(what);
    } else if (fewest != std::numeric_limits<size_t>::max()) {
      ++report_.wrongSeveral;
      if (options_.showWrong) Show(what);
    } else {
      ++report_.wrongOther;
      Problem(what + " with no damaged or late reply to explain it");
    }
  }

  int32_t Read() {
    Var& var = Pick(false);
    const uint32_t truth = Truth(StationOf(var.v), IndexOf(var.v));
    const melbax::Outcome outcome = instance_.Read(var.v);
    if (outcome.ok()) {
      ++report_.valuesChecked;
      if (Stored(var) != Expected(var, truth)) {
        Wrong("read of " + var.address + " gave a wrong value", true);
      }
    }
    return outcome.result;
  }

  int32_t BlockRead() {
    const uint8_t station = StationOf(block_);
    const melbax::Outcome outcome = instance_.Read(block_);
    if (outcome.ok()) {
      ++report_.valuesChecked;
      const std::array<uint16_t, 4> got = block_.block();
      const std::array<uint16_t, 4> want = {
          static_cast<uint16_t>(Truth(station, 0xF0)),
          static_cast<uint16_t>(Truth(station, 0xF1)),
          static_cast<uint16_t>(static_cast<int8_t>(Truth(station, 0xF2))),
          static_cast<uint16_t>(Truth(station, 0xF3))};
      if (got != want) Wrong("block read gave wrong values", true);
    }
    return outcome.result;
  }

  int32_t StatusRead() {
    const int station =
        std::uniform_int_distribution<int>(0, 3)(random_) == 0 ? 2 : 1;
    uint16_t status = 0;
    const uint32_t truth = Truth(static_cast<uint8_t>(station), 0xF5);
    const melbax::Outcome outcome = instance_.ReadStatus(station, status);
    if (outcome.ok()) {
      ++report_.valuesChecked;
      if (status != truth) Wrong("status read gave a wrong value", true);
    }
    return outcome.result;
  }

  void ServiceRequestByChance() {
    line_.controller().SetServiceRequest(
        std::uniform_int_distribution<int>(0, 9)(random_) < 3);
  }

  // Waits until the simulator has handled every request sent, so that the
  // model's values are final; late replies may still be on their way.
  void Settle() {
    if (!line_.WaitHandled(sent_, std::chrono::seconds(5))) {
      ++report_.unsettled;
    }
  }

  // After a write the driver reported done, the model must hold `want`.
  // Acknowledgements carry no more than the station, so a late one of an
  // earlier write can confirm this one before the controller has even
  // read it: counted, and the value checked once it has.
  void CheckWritten(const Var& var, uint32_t want, int32_t result) {
    if (result != KAVI_OK) return;
    ++report_.valuesChecked;
    const uint8_t station = StationOf(var.v);
    const uint8_t index = IndexOf(var.v);
    const bool early = Truth(station, index) != want;
    Settle();
    if (Truth(station, index) != want) {
      Wrong("write of " + var.address + " left a wrong value", false);
    } else if (early) {
      ++report_.confirmedEarly;
    }
  }

  int32_t ValueWrite() {
    Var& var = Pick(true, DataType::kBit, true);
    ServiceRequestByChance();
    int64_t value = 0;
    uint32_t mask = 0xFFFF;
    if (var.v.gateWidth() == KAVI_GATE_8BIT) {
      mask = 0xFF;
      value = var.type == DataType::kInt16
                  ? std::uniform_int_distribution<int64_t>(-128, 127)(random_)
                  : std::uniform_int_distribution<int64_t>(0, 255)(random_);
    } else {
      value =
          var.type == DataType::kInt16
              ? std::uniform_int_distribution<int64_t>(-32768, 32767)(random_)
              : std::uniform_int_distribution<int64_t>(0, 65535)(random_);
    }
    const melbax::Outcome outcome = instance_.Write(var.v, value);
    CheckWritten(var, static_cast<uint32_t>(value) & mask, outcome.result);
    return outcome.result;
  }

  int32_t BitWrite() {
    Var& var = Pick(true, DataType::kBit);
    ServiceRequestByChance();
    const uint32_t before = Truth(StationOf(var.v), IndexOf(var.v));
    const uint32_t bit = std::uniform_int_distribution<uint32_t>(0, 1)(random_);
    const int b = var.v.bitNumber();
    const uint32_t want = (before & ~(1u << b)) | (bit << b);
    const melbax::Outcome outcome = instance_.Write(var.v, bit);
    CheckWritten(var, want, outcome.result);
    return outcome.result;
  }

  // The telegrams of the transaction, for a wrong value worth a look.
  void Show(const std::string& what) const {
    std::printf("soak: %s:\n", what.c_str());
    for (const Exchange& exchange : exchanges_) {
      std::printf("soak:   >");
      for (uint8_t b : exchange.request) std::printf(" %02X", b);
      std::printf("\n");
      for (const Bytes& reply : exchange.replies) {
        std::printf("soak:   <");
        for (uint8_t b : reply) std::printf(" %02X", b);
        std::printf("\n");
      }
    }
  }

  void Problem(const std::string& text) {
    if (options_.showWrong) Show(text);
    if (report_.problems.size() < 20) report_.problems.push_back(text);
  }

  const Options& options_;
  FaultyLine& line_;
  melbax::Instance instance_;
  std::mt19937_64 random_;
  std::vector<Var> vars_;
  melbax::Variable block_;
  std::vector<Exchange> exchanges_;
  uint64_t sent_ = 0;
  Report report_;
};

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&](auto* out) {
      if (value == nullptr) return false;
      char* end = nullptr;
      const double parsed = std::strtod(value, &end);
      if (end == value || *end != '\0' || parsed < 0) return false;
      *out = static_cast<std::remove_pointer_t<decltype(out)>>(parsed);
      ++i;
      return true;
    };
    bool ok = false;
    if (arg == "--transactions") {
      ok = number(&options->transactions);
    } else if (arg == "--minutes") {
      ok = number(&options->minutes);
    } else if (arg == "--seed") {
      ok = number(&options->seed);
    } else if (arg == "--timeout-ms") {
      ok = number(&options->timeoutMs) && options->timeoutMs > 0;
    } else if (arg == "--fault-rate") {
      ok = number(&options->faultRate) && options->faultRate <= 1;
    } else if (arg == "--progress") {
      ok = number(&options->progress);
    } else if (arg == "--show-wrong") {
      options->showWrong = true;
      ok = true;
    } else if (arg == "--driver" && value != nullptr) {
      options->driver = value;
      ++i;
      ok = true;
    }
    if (!ok) {
      std::fprintf(stderr,
                   "usage: kaviros_soak [--transactions N] [--minutes M] "
                   "[--seed S] [--timeout-ms T] [--fault-rate P] "
                   "[--driver PATH] [--progress N] [--show-wrong]\n");
      return false;
    }
  }
  return true;
}

void Print(const Report& r, const FaultyLine& line, const Options& o,
           double seconds) {
  std::printf("soak: %" PRIu64
              " transactions in %.1f s (%.0f per second), "
              "read time-out %u ms, seed %" PRIu64 "\n",
              r.transactions, seconds, r.transactions / seconds, o.timeoutMs,
              o.seed);
  const auto faults = line.Faults();
  uint64_t injected = 0;
  for (size_t i = 1; i < kFaultKinds; ++i) injected += faults[i];
  std::printf("soak: %" PRIu64 " replies, %" PRIu64 " with a fault:",
              line.Replies(), injected);
  for (size_t i = 1; i < kFaultKinds; ++i) {
    std::printf(" %s %" PRIu64, FaultName(static_cast<Fault>(i)), faults[i]);
  }
  std::printf("\n");
  std::array<uint64_t, 3> total{};
  for (size_t k = 0; k < kKinds; ++k) {
    std::printf("soak: %-12s results 0/1/2: %" PRIu64 " / %" PRIu64
                " / %" PRIu64 "; longest %.1f ms of a bound of %.0f ms\n",
                kKindNames[k], r.results[k][0], r.results[k][1],
                r.results[k][2], r.longestMs[k], r.boundMs[k]);
    for (size_t i = 0; i < 3; ++i) total[i] += r.results[k][i];
  }
  std::printf("soak: all results 0/1/2: %" PRIu64 " / %" PRIu64 " / %" PRIu64
              "\n",
              total[0], total[1], total[2]);
  const BurstCounters b = line.Bursts();
  std::printf(
      "soak: %" PRIu64 " values checked; wrong values accepted: %" PRIu64
      " from one corrupted byte, %" PRIu64 " from several, %" PRIu64
      " from late true replies (to the same or another request), %" PRIu64
      " unexplained\n",
      r.valuesChecked, r.wrongSingle, r.wrongSeveral, r.wrongStale,
      r.wrongOther);
  std::printf("soak: replies with several corrupted bytes: %" PRIu64
              ", %" PRIu64
              " of them with two or more under the checksum, "
              "whose 8-bit sum still fitted in %" PRIu64
              " (%.2f%%; an 8-bit sum misses about 1/256 = 0.39%%); "
              "undetectable by every check of the telegram: %" PRIu64 "\n",
              b.replies, b.underSum, b.sumFits,
              b.underSum ? 100.0 * static_cast<double>(b.sumFits) /
                               static_cast<double>(b.underSum)
                         : 0.0,
              b.undetectable);
  std::printf(
      "soak: writes reported done before the controller had read "
      "them (a late acknowledgement of an earlier write): %" PRIu64 "\n",
      r.confirmedEarly);
  if (r.unsettled > 0) {
    std::printf("soak: %" PRIu64
                " transactions whose requests the simulator "
                "had not all handled after 5 s\n",
                r.unsettled);
  }
  for (const std::string& problem : r.problems) {
    std::printf("soak: problem: %s\n", problem.c_str());
  }
}

}  // namespace
}  // namespace kaviros::soak

int main(int argc, char** argv) {
  using namespace kaviros::soak;
  Options options;
#ifdef KAVIROS_SOAK_DRIVER
  options.driver = KAVIROS_SOAK_DRIVER;
#else
  options.driver = melbax::DefaultDriverPath();
#endif
  if (!ParseOptions(argc, argv, &options)) return 2;

  LineOptions lineOptions;
  lineOptions.readTimeout = std::chrono::milliseconds(options.timeoutMs);
  lineOptions.seed = options.seed;
  double weights = 0;
  for (double w : kWeights) weights += w;
  for (size_t i = 0; i < kFaultKinds; ++i) {
    lineOptions.chance[i] = options.faultRate * kWeights[i] / weights;
  }
  FaultyLine line(lineOptions);
  std::string error;
  if (!line.Start(&error)) {
    std::fprintf(stderr, "soak: no pseudo-terminal: %s\n", error.c_str());
    return 2;
  }
  melbax::SetStrayMessageSink(nullptr);
  std::shared_ptr<melbax::Driver> driver =
      melbax::Driver::Load(options.driver, error);
  if (!driver) {
    std::fprintf(stderr, "soak: cannot load %s: %s\n", options.driver.c_str(),
                 error.c_str());
    return 2;
  }

  const auto started = Clock::now();
  bool ok = true;
  {
    Soak soak(options, line, driver);
    if (!soak.Begin(&error)) {
      std::fprintf(stderr, "soak: %s\n", error.c_str());
      return 2;
    }
    const auto until =
        started + std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(options.minutes * 60));
    while (soak.report().transactions < options.transactions &&
           (options.minutes <= 0 || Clock::now() < until)) {
      soak.Step();
      const uint64_t n = soak.report().transactions;
      if (options.progress > 0 && n % options.progress == 0) {
        std::printf(
            "soak: %" PRIu64 " transactions, %.0f s\n", n,
            std::chrono::duration<double>(Clock::now() - started).count());
        std::fflush(stdout);
      }
    }
    const double seconds =
        std::chrono::duration<double>(Clock::now() - started).count();
    Report& report = soak.report();
    if (!line.Failure().empty()) report.problems.push_back(line.Failure());
    Print(report, line, options, seconds);
    ok = report.wrongSingle == 0 && report.wrongOther == 0 &&
         report.hangs == 0 && report.problems.empty() && line.Failure().empty();
  }
  line.Stop();
  std::printf("soak: %s\n", ok ? "PASSED" : "FAILED");
  return ok ? 0 : 1;
}
