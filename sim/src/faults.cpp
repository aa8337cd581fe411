#include "r2600sim/faults.h"

#include <algorithm>
#include <charconv>
#include <numeric>

namespace r2600sim {
namespace {

constexpr const char* kNames[kFaultKinds] = {
    "ok",       "silence", "delay",   "flip", "checksum", "station",
    "truncate", "extra",   "garbage", "drop", "status"};

// More would only fill the port's queue.
constexpr uint32_t kMaxAddedBytes = 64;
constexpr uint32_t kMaxRepeat = 100000;

size_t Index(FaultKind kind) { return static_cast<size_t>(kind); }

uint32_t Pick(std::mt19937_64& random, uint32_t low, uint32_t high) {
  return std::uniform_int_distribution<uint32_t>(low, high)(random);
}

uint8_t RandomByte(std::mt19937_64& random) {
  return static_cast<uint8_t>(Pick(random, 0, 255));
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool ParseNumber(std::string_view text, int base, uint32_t* value) {
  if (base == 10 && text.size() > 2 && text[0] == '0' &&
      (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  } else if (base == 16 && text.size() > 2 && text[0] == '0' &&
             (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value, base);
  return ec == std::errc() && ptr == end;
}

}  // namespace

const char* FaultName(FaultKind kind) { return kNames[Index(kind)]; }

std::optional<FaultKind> FaultFromName(std::string_view name) {
  if (name == "none") return FaultKind::kNone;
  for (size_t i = 0; i < kFaultKinds; ++i) {
    if (name == kNames[i]) return static_cast<FaultKind>(i);
  }
  return std::nullopt;
}

bool ParseFaultScript(std::string_view text, std::vector<FaultStep>* steps,
                      std::string* error) {
  std::vector<FaultStep> parsed;
  while (true) {
    const size_t comma = text.find(',');
    std::string_view item = Trim(text.substr(0, comma));
    std::string quoted(1, '\'');
    quoted.append(item).push_back('\'');
    uint32_t repeat = 1;
    if (const size_t star = item.find('*'); star != std::string_view::npos) {
      if (!ParseNumber(Trim(item.substr(star + 1)), 10, &repeat) ||
          repeat == 0 || repeat > kMaxRepeat) {
        *error = "bad repeat count in fault step " + quoted;
        return false;
      }
      item = Trim(item.substr(0, star));
    }
    FaultStep step;
    std::string_view name = item;
    const size_t colon = item.find(':');
    if (colon != std::string_view::npos) name = Trim(item.substr(0, colon));
    const auto kind = FaultFromName(name);
    if (!kind) {
      *error = "unknown fault " + quoted +
               " (known: ok silence delay flip checksum station truncate "
               "extra garbage drop status)";
      return false;
    }
    step.kind = *kind;
    if (colon != std::string_view::npos) {
      const bool hex =
          step.kind == FaultKind::kStation || step.kind == FaultKind::kStatus;
      const bool takes = step.kind != FaultKind::kNone &&
                         step.kind != FaultKind::kSilence &&
                         step.kind != FaultKind::kChecksum;
      uint32_t value = 0;
      if (!takes) {
        *error = "fault step " + quoted + " takes no argument";
        return false;
      }
      if (!ParseNumber(Trim(item.substr(colon + 1)), hex ? 16 : 10, &value) ||
          (hex && value > 0xFF)) {
        *error = "bad argument in fault step " + quoted;
        return false;
      }
      step.argument = value;
    }
    parsed.insert(parsed.end(), repeat, step);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  *steps = std::move(parsed);
  return true;
}

Injected InjectFault(const FaultStep& step, Bytes reply,
                     std::mt19937_64& random,
                     std::chrono::milliseconds default_delay) {
  Injected out;
  out.kind = step.kind;
  const auto n = static_cast<uint32_t>(reply.size());
  const std::optional<uint32_t>& arg = step.argument;
  // Every fault below needs a frame to work on.
  if (n < kShortFrameSize && step.kind != FaultKind::kSilence &&
      step.kind != FaultKind::kDelay) {
    out.kind = FaultKind::kNone;
    out.bytes = std::move(reply);
    return out;
  }
  switch (step.kind) {
    case FaultKind::kNone:
      break;
    case FaultKind::kSilence:
      reply.clear();
      out.detail = "no reply";
      break;
    case FaultKind::kDelay:
      out.delay = arg ? std::chrono::milliseconds(*arg) : default_delay;
      out.detail = "late by " + std::to_string(out.delay.count()) + " ms";
      break;
    case FaultKind::kFlip: {
      const uint32_t at = arg ? std::min(*arg, n - 1) : Pick(random, 0, n - 1);
      const uint32_t bit = Pick(random, 0, 7);
      reply[at] = static_cast<uint8_t>(reply[at] ^ (1u << bit));
      out.detail = "bit " + std::to_string(bit) + " of byte " +
                   std::to_string(at) + " flipped";
      break;
    }
    case FaultKind::kChecksum:
      reply[n - 2] = static_cast<uint8_t>(reply[n - 2] + Pick(random, 1, 255));
      out.detail = "checksum wrong";
      break;
    case FaultKind::kStation: {
      const size_t at = StationOffset(reply[0]);
      uint8_t other = static_cast<uint8_t>(reply[at] + Pick(random, 1, 255));
      if (arg && *arg != reply[at]) other = static_cast<uint8_t>(*arg);
      reply[at] = other;
      FixChecksum(reply);
      out.detail = "from station " + Hex(std::span(&other, 1));
      break;
    }
    case FaultKind::kTruncate: {
      const uint32_t k =
          std::clamp<uint32_t>(arg ? *arg : Pick(random, 1, n - 1), 1, n - 1);
      reply.resize(n - k);
      out.detail = std::to_string(k) + " bytes cut off";
      break;
    }
    case FaultKind::kExtra: {
      const uint32_t k = std::clamp<uint32_t>(arg ? *arg : Pick(random, 1, 4),
                                              1, kMaxAddedBytes);
      for (uint32_t i = 0; i < k; ++i) reply.push_back(RandomByte(random));
      out.detail = std::to_string(k) + " bytes added";
      break;
    }
    case FaultKind::kGarbage: {
      const uint32_t k = std::clamp<uint32_t>(arg ? *arg : Pick(random, 1, 4),
                                              1, kMaxAddedBytes);
      Bytes noise;
      while (noise.size() < k) {
        // No start bytes: the receiver must see a wrong start at once.
        const uint8_t b = RandomByte(random);
        if (b != kShortStart && b != kLongStart) noise.push_back(b);
      }
      reply.insert(reply.begin(), noise.begin(), noise.end());
      out.detail = std::to_string(k) + " bytes before";
      break;
    }
    case FaultKind::kDrop: {
      const uint32_t k = std::clamp<uint32_t>(arg ? *arg : 1, 1, n - 1);
      for (uint32_t i = 0; i < k; ++i) {
        const uint32_t at =
            Pick(random, 0, static_cast<uint32_t>(reply.size()) - 1);
        reply.erase(reply.begin() + at);
      }
      out.detail = std::to_string(k) + " bytes dropped";
      break;
    }
    case FaultKind::kStatus: {
      const auto bits =
          static_cast<uint8_t>(arg ? *arg : kStatusTransmissionError);
      reply[StatusOffset(reply[0])] |= bits;
      FixChecksum(reply);
      out.detail = "status bits " + Hex(std::span(&bits, 1)) + " set";
      break;
    }
  }
  out.bytes = std::move(reply);
  return out;
}

FaultInjector::FaultInjector(FaultOptions options)
    : options_(std::move(options)), random_(options_.seed) {}

FaultStep FaultInjector::Next() {
  const auto& script = options_.script;
  if (script_at_ == script.size() && options_.repeat_script) script_at_ = 0;
  if (script_at_ < script.size()) return script[script_at_++];
  const auto& p = options_.probability;
  if (std::all_of(p.begin(), p.end(), [](double x) { return x <= 0; })) {
    return {};
  }
  const double u = std::uniform_real_distribution<double>(0, 1)(random_);
  double sum = 0;
  for (size_t i = 0; i < kFaultKinds; ++i) {
    sum += p[i];
    if (u < sum) return FaultStep{static_cast<FaultKind>(i), std::nullopt};
  }
  return {};
}

Injected FaultInjector::Apply(Bytes reply) {
  std::lock_guard lock(mutex_);
  Injected out = InjectFault(Next(), std::move(reply), random_, options_.delay);
  ++replies_;
  if (out.kind != FaultKind::kNone) ++counts_[Index(out.kind)];
  return out;
}

void FaultInjector::SetScript(std::vector<FaultStep> steps, bool repeat) {
  std::lock_guard lock(mutex_);
  options_.script = std::move(steps);
  options_.repeat_script = repeat;
  script_at_ = 0;
}

bool FaultInjector::SetProbability(FaultKind kind, double p) {
  if (!(p >= 0 && p <= 1)) return false;
  std::lock_guard lock(mutex_);
  auto chances = options_.probability;
  chances[Index(kind)] = kind == FaultKind::kNone ? 0 : p;
  if (std::accumulate(chances.begin(), chances.end(), 0.0) > 1 + 1e-9) {
    return false;
  }
  options_.probability = chances;
  return true;
}

void FaultInjector::ClearProbabilities() {
  std::lock_guard lock(mutex_);
  options_.probability.fill(0);
}

void FaultInjector::SetDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  options_.delay = delay;
}

uint64_t FaultInjector::Count(FaultKind kind) const {
  std::lock_guard lock(mutex_);
  return counts_[Index(kind)];
}

std::array<uint64_t, kFaultKinds> FaultInjector::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

uint64_t FaultInjector::Total() const {
  std::lock_guard lock(mutex_);
  return std::accumulate(counts_.begin(), counts_.end(), uint64_t{0});
}

uint64_t FaultInjector::Replies() const {
  std::lock_guard lock(mutex_);
  return replies_;
}

size_t FaultInjector::ScriptLeft() const {
  std::lock_guard lock(mutex_);
  return options_.script.size() - script_at_;
}

void FaultInjector::ResetCounts() {
  std::lock_guard lock(mutex_);
  counts_.fill(0);
  replies_ = 0;
}

}  // namespace r2600sim
