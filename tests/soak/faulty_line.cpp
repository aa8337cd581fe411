#include "faulty_line.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "r2600sim/wire.h"

namespace kaviros::soak {
namespace {

constexpr const char* kNames[kFaultKinds] = {
    "none",     "silence", "delay",   "flip", "checksum", "station",
    "truncate", "extra",   "garbage", "drop", "status",   "burst"};

// The bytes of a reply that carry its value or status, and its checksum:
// the only ones a corruption may touch and still pass every other check.
struct Layout {
  size_t status;
  size_t valueFirst;
  size_t valueEnd;
  size_t checksum;
  size_t sumFirst;
};

std::optional<Layout> LayoutOf(const Bytes& request, const Bytes& reply) {
  if (reply.size() == 5 && reply[0] == r2600sim::kShortStart) {
    return Layout{2, 2, 2, 3, 1};
  }
  if (reply.size() < 9 || reply[0] != r2600sim::kLongStart) {
    return std::nullopt;
  }
  const size_t l = reply[1];
  size_t first = 0;
  if (request.size() == 5) {
    first = 6;  // the cycle values
  } else if (request.size() > 6) {
    first = r2600sim::HasExtension(request[6]) ? 10 : 7;
  } else {
    return std::nullopt;
  }
  return Layout{5, first, 4 + l, 4 + l, 4};
}

std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

const char* FaultName(Fault fault) {
  return kNames[static_cast<size_t>(fault)];
}

FaultyLine::FaultyLine(LineOptions options)
    : options_(std::move(options)),
      controller_([&] {
        r2600sim::ControllerOptions c;
        c.stations = options_.stations;
        c.frozen = true;  // values change only by the writes of the soak
        return c;
      }()),
      scanner_(std::chrono::milliseconds(100)),
      random_(options_.seed) {}

FaultyLine::~FaultyLine() { Stop(); }

bool FaultyLine::Start(std::string* error) {
  if (!pty_.Open(error)) return false;
  stop_ = false;
  thread_ = std::thread(&FaultyLine::Run, this);
  return true;
}

void FaultyLine::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  thread_.join();
  pty_.Close();
}

bool FaultyLine::WaitHandled(uint64_t count,
                             std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return handledChanged_.wait_for(lock, timeout,
                                  [&] { return handled_.load() >= count; });
}

FaultyLine::Closest FaultyLine::Compare(const Bytes& request,
                                        const Bytes& reply) const {
  std::lock_guard lock(mutex_);
  Closest closest{std::numeric_limits<size_t>::max(), false};
  const std::string key = Text(request);
  const auto found = clean_.find(key);
  if (found == clean_.end()) return closest;
  const std::string& latest = latest_.at(key);
  for (const std::string& clean : found->second) {
    if (clean.size() != reply.size()) continue;
    size_t differences = 0;
    for (size_t i = 0; i < clean.size(); ++i) {
      differences += static_cast<uint8_t>(clean[i]) != reply[i] ? 1 : 0;
    }
    if (differences < closest.differences ||
        (differences == closest.differences && clean == latest)) {
      closest = {differences, clean == latest};
    }
  }
  return closest;
}

bool FaultyLine::Gave(const Bytes& reply) const {
  std::lock_guard lock(mutex_);
  return given_.count(Text(reply)) > 0;
}

std::array<uint64_t, kFaultKinds> FaultyLine::Faults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

uint64_t FaultyLine::Replies() const {
  std::lock_guard lock(mutex_);
  return replies_;
}

BurstCounters FaultyLine::Bursts() const {
  std::lock_guard lock(mutex_);
  return bursts_;
}

std::string FaultyLine::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

Fault FaultyLine::Draw() {
  const double u = std::uniform_real_distribution<double>(0, 1)(random_);
  double sum = 0;
  for (size_t i = 1; i < kFaultKinds; ++i) {
    sum += options_.chance[i];
    if (u < sum) return static_cast<Fault>(i);
  }
  return Fault::kNone;
}

Bytes FaultyLine::Burst(const Bytes& clean) {
  Bytes bytes = clean;
  const auto count = std::uniform_int_distribution<size_t>(
      2, std::min<size_t>(4, bytes.size()))(random_);
  std::vector<size_t> positions(bytes.size());
  for (size_t i = 0; i < positions.size(); ++i) positions[i] = i;
  std::shuffle(positions.begin(), positions.end(), random_);
  for (size_t i = 0; i < count; ++i) {
    const auto change = std::uniform_int_distribution<int>(1, 255)(random_);
    bytes[positions[i]] = static_cast<uint8_t>(bytes[positions[i]] + change);
  }
  return bytes;
}

void FaultyLine::Serve(const Bytes& frame, Clock::time_point now) {
  r2600sim::Outcome outcome = controller_.Handle(frame);
  if (!outcome.reply.empty()) {
    const Bytes clean = outcome.reply;
    Fault fault = Draw();
    // The equipment status is the value read: status bits set by the
    // controller are a different value, not a damaged one.
    const bool statusRead = frame.size() == 5 && frame[2] == 0x29;
    if (fault == Fault::kStatus && statusRead) fault = Fault::kNone;
    Bytes sent;
    std::chrono::milliseconds delay{0};
    BurstCounters burst;
    if (fault == Fault::kBurst) {
      sent = Burst(clean);
      burst.replies = 1;
      if (const auto layout = LayoutOf(frame, clean)) {
        const size_t l = layout->checksum - layout->sumFirst;
        unsigned sum = 0;
        for (size_t i = 0; i < l; ++i) sum += sent[layout->sumFirst + i];
        const bool fits = static_cast<uint8_t>(sum) == sent[layout->checksum];
        bool others = true;
        bool valueChanged = false;
        size_t summed = 0;
        for (size_t i = 0; i < sent.size(); ++i) {
          if (i >= layout->sumFirst && i <= layout->checksum &&
              sent[i] != clean[i]) {
            ++summed;
          }
          const bool value = i >= layout->valueFirst && i < layout->valueEnd;
          if (value && sent[i] != clean[i]) valueChanged = true;
          if (!value && i != layout->status && i != layout->checksum &&
              sent[i] != clean[i]) {
            others = false;
          }
        }
        const uint8_t status = sent[layout->status];
        const bool statusPasses =
            sent.size() == 5 ? (status & 0xB8) == 0 : (status & 0x38) == 0;
        const bool f5 = statusRead;
        if (f5) valueChanged = status != clean[layout->status];
        burst.underSum = summed >= 2 ? 1 : 0;
        burst.sumFits = summed >= 2 && fits ? 1 : 0;
        burst.undetectable =
            fits && others && valueChanged && (f5 || statusPasses) ? 1 : 0;
      }
    } else {
      r2600sim::FaultStep step{static_cast<r2600sim::FaultKind>(fault), {}};
      const auto timeout = static_cast<uint32_t>(options_.readTimeout.count());
      if (fault == Fault::kDelay) {
        // From well inside one read time-out to past two of them.
        step.argument = std::uniform_int_distribution<uint32_t>(
            timeout / 4, 3 * timeout)(random_);
      } else if (fault == Fault::kStatus) {
        constexpr uint8_t kBits[] = {0x08, 0x10, 0x20, 0x80, 0x01, 0x40};
        step.argument = kBits[std::uniform_int_distribution<size_t>(
            0, std::size(kBits) - 1)(random_)];
      } else if (fault == Fault::kDrop) {
        step.argument = std::uniform_int_distribution<uint32_t>(1, 3)(random_);
      }
      r2600sim::Injected injected =
          r2600sim::InjectFault(step, clean, random_, std::chrono::seconds(1));
      sent = std::move(injected.bytes);
      delay = injected.delay;
    }
    {
      std::lock_guard lock(mutex_);
      ++replies_;
      ++faults_[static_cast<size_t>(fault)];
      bursts_.replies += burst.replies;
      bursts_.underSum += burst.underSum;
      bursts_.sumFits += burst.sumFits;
      bursts_.undetectable += burst.undetectable;
      latest_[Text(frame)] = Text(clean);
      clean_[Text(frame)].insert(Text(clean));
      given_.insert(Text(clean));
    }
    if (!sent.empty()) {
      // One controller, one line: a late reply holds up the ones after it.
      Clock::time_point due = now + delay;
      if (!output_.empty()) due = std::max(due, output_.back().due);
      output_.push_back({due, std::move(sent)});
    }
  }
  {
    std::lock_guard lock(mutex_);
    ++handled_;
  }
  handledChanged_.notify_all();
}

void FaultyLine::Run() {
  uint8_t buffer[512];
  while (!stop_) {
    Clock::time_point now = Clock::now();
    while (!output_.empty() && output_.front().due <= now) {
      const Bytes& bytes = output_.front().bytes;
      // A full queue means nobody reads: those bytes are lost, as on a line.
      const ssize_t n = write(pty_.master(), bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      output_.pop_front();
    }
    int wait = 5;
    if (!output_.empty()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          output_.front().due - now);
      wait = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 5));
    }
    pollfd fd{pty_.master(), POLLIN, 0};
    const int ready = poll(&fd, 1, wait);
    if (ready < 0 && errno != EINTR) {
      std::lock_guard lock(mutex_);
      failure_ = std::string("poll: ") + std::strerror(errno);
      return;
    }
    if (ready <= 0) continue;
    while (true) {
      const ssize_t n = read(pty_.master(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // nothing more for now (or the other side closed)
      now = Clock::now();
      for (const Bytes& frame :
           scanner_.Push(std::span(buffer, static_cast<size_t>(n)), now)) {
        Serve(frame, now);
      }
    }
  }
}

}  // namespace kaviros::soak
