// Faults a real line and a real controller produce, applied to replies:
// from a script (one step per reply) or by chance with a seed, counted by
// kind. Safe to call from several threads.
#ifndef R2600SIM_FAULTS_H
#define R2600SIM_FAULTS_H

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "r2600sim/wire.h"

namespace r2600sim {

enum class FaultKind : uint8_t {
  kNone,      // the reply as it is
  kSilence,   // no reply at all
  kDelay,     // the reply, late (argument: milliseconds)
  kFlip,      // one bit flipped in one byte (argument: byte position)
  kChecksum,  // the checksum byte wrong
  kStation,   // another station's address, checksum fitting (argument: hex)
  kTruncate,  // the last bytes missing (argument: how many)
  kExtra,     // bytes after the reply (argument: how many)
  kGarbage,   // bytes before the reply (argument: how many)
  kDrop,      // bytes missing anywhere (argument: how many)
  kStatus,    // status bits set, checksum fitting (argument: hex bits)
};
inline constexpr size_t kFaultKinds = 11;

const char* FaultName(FaultKind kind);
std::optional<FaultKind> FaultFromName(std::string_view name);

struct FaultStep {
  FaultKind kind = FaultKind::kNone;
  std::optional<uint32_t> argument;
  friend bool operator==(const FaultStep&, const FaultStep&) = default;
};

// "ok,silence,flip:4,delay:1500,ok*3,status:80": one step per reply; "ok"
// (or "none") passes a reply unchanged; "*N" repeats a step. Arguments of
// station and status are hexadecimal, the others decimal (or 0x-prefixed).
bool ParseFaultScript(std::string_view text, std::vector<FaultStep>* steps,
                      std::string* error);

struct FaultOptions {
  // Chance of each kind per reply; their sum must not exceed 1.
  std::array<double, kFaultKinds> probability{};
  std::vector<FaultStep> script;
  // Start the script again when it ends; otherwise chance takes over.
  bool repeat_script = false;
  uint64_t seed = 1;
  // How late a delayed reply comes unless the step says otherwise.
  std::chrono::milliseconds delay{1500};
};

struct Injected {
  FaultKind kind = FaultKind::kNone;
  Bytes bytes;  // what goes on the line; empty when silent
  std::chrono::milliseconds delay{0};
  std::string detail;  // what was done, for logs
};

// Applies one step to a reply; uses `random` where the step leaves a
// choice open.
Injected InjectFault(const FaultStep& step, Bytes reply,
                     std::mt19937_64& random,
                     std::chrono::milliseconds default_delay);

class FaultInjector {
 public:
  explicit FaultInjector(FaultOptions options = {});

  // The next reply: the next script step, or a fault drawn by chance.
  Injected Apply(Bytes reply);

  void SetScript(std::vector<FaultStep> steps, bool repeat = false);
  // False (and nothing changed) when p is outside 0..1 or the sum of all
  // chances would exceed 1.
  bool SetProbability(FaultKind kind, double p);
  void ClearProbabilities();
  void SetDelay(std::chrono::milliseconds delay);

  uint64_t Count(FaultKind kind) const;
  std::array<uint64_t, kFaultKinds> Counts() const;
  // Faults injected, of every kind.
  uint64_t Total() const;
  // Replies that passed through, faulty or not.
  uint64_t Replies() const;
  // Script steps not yet used.
  size_t ScriptLeft() const;
  void ResetCounts();

 private:
  FaultStep Next();

  mutable std::mutex mutex_;
  FaultOptions options_;
  size_t script_at_ = 0;
  std::mt19937_64 random_;
  std::array<uint64_t, kFaultKinds> counts_{};
  uint64_t replies_ = 0;
};

}  // namespace r2600sim

#endif  // R2600SIM_FAULTS_H
