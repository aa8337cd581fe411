#include "r2600sim/simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace r2600sim {
namespace {

constexpr int kBitsPerCharacter = 11;

void Signal(int fd) {
  const uint64_t one = 1;
  // An eventfd write only fails when the counter would overflow.
  [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
}

}  // namespace

Simulator::Simulator(SimulatorOptions options)
    : options_(std::move(options)),
      controller_(options_.controller),
      faults_(options_.faults),
      scanner_(options_.frame_gap) {
  done_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (options_.baud > 0) {
    char_time_ = std::chrono::nanoseconds(int64_t{kBitsPerCharacter} *
                                          1'000'000'000 / options_.baud);
  }
}

Simulator::~Simulator() {
  Stop();
  if (done_fd_ >= 0) close(done_fd_);
}

bool Simulator::Start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (thread_.joinable()) {
    *error = "the simulator is already running";
    return false;
  }
  if (done_fd_ < 0) {
    *error = "cannot create an event for the end of the simulator";
    return false;
  }
  uint64_t ended = 0;  // an earlier run's end, if any
  [[maybe_unused]] const ssize_t n = read(done_fd_, &ended, sizeof ended);
  if (!pty_.Open(error)) return false;
  if (!options_.link.empty() &&
      !link_.Create(options_.link, pty_.path(), error)) {
    pty_.Close();
    return false;
  }
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    *error = std::string("cannot create an event: ") + std::strerror(errno);
    link_.Remove();
    pty_.Close();
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    failure_.clear();
    counters_ = {};
  }
  telegrams_ = 0;
  scanner_ = FrameScanner(options_.frame_gap);
  output_.clear();
  started_ = Clock::now();
  line_free_ = started_;
  controller_.AdvanceTo(started_);
  thread_ = std::thread(&Simulator::Run, this);
  return true;
}

void Simulator::Stop() {
  if (!thread_.joinable()) return;
  Signal(wake_fd_);
  thread_.join();
  close(wake_fd_);
  wake_fd_ = -1;
  link_.Remove();
  pty_.Close();
}

bool Simulator::Running() const {
  std::lock_guard lock(mutex_);
  return thread_.joinable() && failure_.empty();
}

TransportCounters Simulator::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

std::string Simulator::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

bool Simulator::WaitForTelegrams(uint64_t count,
                                 std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return handled_.wait_for(lock, timeout,
                           [&] { return telegrams_.load() >= count; });
}

void Simulator::Fail(const std::string& what) {
  {
    std::lock_guard lock(mutex_);
    failure_ = what;
  }
  Signal(done_fd_);
}

void Simulator::Trace(Clock::time_point now, const std::string& text) {
  if (!options_.trace) return;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%10.3f ", seconds);
  options_.trace(stamp + text);
}

void Simulator::Schedule(const Bytes& bytes, Clock::time_point earliest) {
  Clock::time_point at = std::max(earliest, line_free_);
  for (uint8_t b : bytes) {
    // A byte has arrived once its stop bit is through.
    at += char_time_;
    output_.push_back({at, b});
  }
  line_free_ = at;
}

void Simulator::Serve(const Bytes& frame, Clock::time_point now) {
  controller_.AdvanceTo(now);
  Outcome outcome = controller_.Handle(frame);
  if (options_.trace) Trace(now, "rx " + Hex(frame) + "  " + Describe(outcome));
  if (!outcome.reply.empty()) {
    Injected sent = faults_.Apply(std::move(outcome.reply));
    // On a real line the request takes its time to arrive.
    const auto request_time = char_time_ * static_cast<int64_t>(frame.size());
    Schedule(sent.bytes, now + request_time + options_.turnaround + sent.delay);
    if (options_.trace) {
      std::string line =
          sent.bytes.empty() ? "tx (nothing)" : "tx " + Hex(sent.bytes);
      if (sent.kind != FaultKind::kNone) {
        line +=
            "  fault " + std::string(FaultName(sent.kind)) + ": " + sent.detail;
      }
      Trace(now, line);
    }
  }
  {
    std::lock_guard lock(mutex_);
    ++telegrams_;
  }
  handled_.notify_all();
}

bool Simulator::Flush(Clock::time_point now) {
  std::array<uint8_t, 256> chunk;
  while (!output_.empty() && output_.front().due <= now) {
    size_t n = 0;
    while (n < chunk.size() && n < output_.size() && output_[n].due <= now) {
      chunk[n] = output_[n].byte;
      ++n;
    }
    ssize_t written = write(pty_.master(), chunk.data(), n);
    if (written < 0 && errno == EINTR) continue;
    bool lost = false;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Nobody reads the other side and its queue is full. On a line
      // these bytes would be lost, so they are here too: the simulator
      // never stalls on a client.
      written = static_cast<ssize_t>(n);
      lost = true;
    } else if (written < 0) {
      Fail(std::string("writing to the terminal failed: ") +
           std::strerror(errno));
      return false;
    }
    output_.erase(output_.begin(), output_.begin() + written);
    std::lock_guard lock(mutex_);
    (lost ? counters_.bytes_lost : counters_.bytes_out) +=
        static_cast<uint64_t>(written);
  }
  return true;
}

void Simulator::Run() {
  std::array<uint8_t, 512> buffer;
  while (true) {
    Clock::time_point now = Clock::now();
    if (!Flush(now)) return;

    pollfd fds[2] = {{pty_.master(), POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    timespec ts{};
    timespec* wait_for = nullptr;  // nothing to send: wait for input
    if (!output_.empty()) {
      const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::max(Clock::duration::zero(), output_.front().due - now));
      ts.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
      ts.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
      wait_for = &ts;
    }
    const int ready = ppoll(fds, 2, wait_for, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      Fail(std::string("waiting for the terminal failed: ") +
           std::strerror(errno));
      return;
    }
    if (fds[1].revents != 0) return;  // Stop()
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;

    while (true) {
      const ssize_t n = read(pty_.master(), buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n <= 0) {
        Fail(n == 0 ? std::string("the terminal was closed")
                    : std::string("reading the terminal failed: ") +
                          std::strerror(errno));
        return;
      }
      now = Clock::now();
      const ScannerCounters before = scanner_.Counters();
      const auto frames =
          scanner_.Push(std::span(buffer.data(), static_cast<size_t>(n)), now);
      const ScannerCounters& after = scanner_.Counters();
      {
        std::lock_guard lock(mutex_);
        counters_.bytes_in += static_cast<uint64_t>(n);
        counters_.scanner = after;
      }
      if (options_.trace &&
          (after.noise != before.noise || after.damaged != before.damaged ||
           after.stale != before.stale)) {
        char line[128];
        std::snprintf(
            line, sizeof line,
            "rx skipped: %llu noise bytes, %llu damaged starts, "
            "%llu stale telegrams",
            static_cast<unsigned long long>(after.noise - before.noise),
            static_cast<unsigned long long>(after.damaged - before.damaged),
            static_cast<unsigned long long>(after.stale - before.stale));
        Trace(now, line);
      }
      for (const Bytes& frame : frames) Serve(frame, now);
    }
  }
}

}  // namespace r2600sim
