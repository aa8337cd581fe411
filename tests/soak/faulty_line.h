// The simulator's controllers served on a pseudo-terminal by a thread, with
// faults drawn by chance for every reply: the simulator's own kinds, and
// bursts that corrupt several bytes of one reply. Every reply is kept as it
// left the controller, so that what the driver accepted can be compared
// with the truth byte by byte.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "r2600sim/controller.h"
#include "r2600sim/faults.h"
#include "r2600sim/frame_scanner.h"
#include "r2600sim/pty.h"

namespace kaviros::soak {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// The simulator's fault kinds, then the soak's own.
enum class Fault : uint8_t {
  kNone,
  kSilence,
  kDelay,
  kFlip,
  kChecksum,
  kStation,
  kTruncate,
  kExtra,
  kGarbage,
  kDrop,
  kStatus,
  kBurst,  // 2 to 4 bytes of the reply replaced by other values
};
inline constexpr size_t kFaultKinds = 12;
const char* FaultName(Fault fault);

struct LineOptions {
  std::vector<uint8_t> stations{0x01, 0x02};
  std::array<double, kFaultKinds> chance{};  // per reply, by kind
  std::chrono::milliseconds readTimeout{25};
  uint64_t seed = 1;
};

// What happened to the replies that carried several corrupted bytes.
struct BurstCounters {
  uint64_t replies = 0;
  // Two or more of the corrupted bytes lie under the checksum (the summed
  // bytes or the checksum itself): an 8-bit sum misses such damage with a
  // chance of about 1/256.
  uint64_t underSum = 0;
  uint64_t sumFits = 0;  // of those, the sum still matches
  // Sum matches and every byte a receiver checks besides is intact, and
  // the value changed: what no check of the telegram can catch.
  uint64_t undetectable = 0;
};

class FaultyLine {
 public:
  explicit FaultyLine(LineOptions options);
  ~FaultyLine();
  FaultyLine(const FaultyLine&) = delete;
  FaultyLine& operator=(const FaultyLine&) = delete;

  bool Start(std::string* error);
  void Stop();
  const std::string& Port() const { return pty_.path(); }
  r2600sim::Controller& controller() { return controller_; }

  // Request telegrams handled so far; waits until `count` are.
  uint64_t Handled() const { return handled_.load(); }
  bool WaitHandled(uint64_t count, std::chrono::milliseconds timeout);

  // How near a received reply comes to what the controller really said to
  // this request, at any time: the fewest bytes in which it differs from
  // one of those replies (SIZE_MAX when none has its length), and whether
  // that one is the latest.
  struct Closest {
    size_t differences;
    bool latest;
  };
  Closest Compare(const Bytes& request, const Bytes& reply) const;
  // Whether the controller ever gave this reply, to any request.
  bool Gave(const Bytes& reply) const;

  std::array<uint64_t, kFaultKinds> Faults() const;
  uint64_t Replies() const;
  BurstCounters Bursts() const;
  std::string Failure() const;

 private:
  struct Pending {
    Clock::time_point due;
    Bytes bytes;
  };

  void Run();
  void Serve(const Bytes& frame, Clock::time_point now);
  Fault Draw();
  Bytes Burst(const Bytes& clean);

  LineOptions options_;
  r2600sim::Controller controller_;
  r2600sim::Pty pty_;
  r2600sim::FrameScanner scanner_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> handled_{0};
  std::mt19937_64 random_;
  std::deque<Pending> output_;  // the serving thread's only

  mutable std::mutex mutex_;
  std::condition_variable handledChanged_;
  // Keyed by the request's bytes as text: GCC 12 sees false overreads in
  // comparisons of byte vectors at -O3.
  std::map<std::string, std::string> latest_;
  std::map<std::string, std::set<std::string>> clean_;  // every reply
  std::set<std::string> given_;
  std::array<uint64_t, kFaultKinds> faults_{};
  uint64_t replies_ = 0;
  BurstCounters bursts_;
  std::string failure_;
};

}  // namespace kaviros::soak
