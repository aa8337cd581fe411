// The controllers on a pseudo-terminal, served by a thread of their own:
// start it, give the driver Port(), check what the driver got against
// controller(), stop it. Several may run in one process.
#ifndef R2600SIM_SIMULATOR_H
#define R2600SIM_SIMULATOR_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "r2600sim/controller.h"
#include "r2600sim/faults.h"
#include "r2600sim/frame_scanner.h"
#include "r2600sim/pty.h"

namespace r2600sim {

struct SimulatorOptions {
  ControllerOptions controller;
  FaultOptions faults;
  // Paces replies as a line at this speed would, 11 bits per character
  // (start, 8 data, parity, stop). 0: as fast as the pseudo-terminal goes.
  uint32_t baud = 0;
  // The controller's think time before each reply.
  std::chrono::milliseconds turnaround{0};
  // See FrameScanner.
  std::chrono::milliseconds frame_gap{100};
  // Also make this path a symbolic link to the port. Empty: none.
  std::string link;
  // One line per event (request, reply, fault, noise), called from the
  // simulator's thread.
  std::function<void(const std::string&)> trace;
};

struct TransportCounters {
  uint64_t bytes_in = 0;
  uint64_t bytes_out = 0;
  // Reply bytes lost because nobody read the other side.
  uint64_t bytes_lost = 0;
  ScannerCounters scanner;
};

class Simulator {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Simulator(SimulatorOptions options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens the pseudo-terminal (and the link) and starts serving.
  bool Start(std::string* error = nullptr);
  // Stops serving, closes the terminal and removes the link. Idempotent.
  void Stop();
  bool Running() const;

  // The path to give the driver, e.g. /dev/pts/3; empty when stopped.
  const std::string& Port() const { return pty_.path(); }
  const std::string& Link() const { return link_.path(); }

  Controller& controller() { return controller_; }
  FaultInjector& faults() { return faults_; }

  TransportCounters Counters() const;
  // Telegrams handled since Start (valid or not, for any station).
  uint64_t Telegrams() const { return telegrams_.load(); }
  // Waits until at least `count` telegrams have been handled.
  bool WaitForTelegrams(uint64_t count, std::chrono::milliseconds timeout);

  // Readable once the serving thread has ended on its own (a failure).
  int DoneFd() const { return done_fd_; }
  std::string Failure() const;

 private:
  struct Pending {
    Clock::time_point due;
    uint8_t byte;
  };

  void Run();
  void Serve(const Bytes& frame, Clock::time_point now);
  void Schedule(const Bytes& bytes, Clock::time_point earliest);
  // Writes the bytes that are due; false on a failure of the terminal.
  bool Flush(Clock::time_point now);
  void Trace(Clock::time_point now, const std::string& text);
  void Fail(const std::string& what);

  SimulatorOptions options_;
  Controller controller_;
  FaultInjector faults_;
  Pty pty_;
  PtyLink link_;
  std::thread thread_;
  int wake_fd_ = -1;
  int done_fd_ = -1;
  Clock::time_point started_;
  std::chrono::nanoseconds char_time_{0};

  // Owned by the serving thread while it runs.
  FrameScanner scanner_;
  std::deque<Pending> output_;
  Clock::time_point line_free_;

  mutable std::mutex mutex_;
  std::condition_variable handled_;
  TransportCounters counters_;
  std::string failure_;
  std::atomic<uint64_t> telegrams_{0};
};

}  // namespace r2600sim

#endif  // R2600SIM_SIMULATOR_H
