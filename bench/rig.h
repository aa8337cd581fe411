// What the exchange benchmarks share: a driver instance called through
// KaviMain as a host calls it, the kinds of exchange they time, a minimal
// responder on a pseudo-terminal, and `name: value` output.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kaviros/kaviros.h"
#include "r2600sim/pty.h"

namespace kaviros::bench {

// ---- The host's side ------------------------------------------------------

// Messages the driver logged since the last call; the benchmarks time
// exchanges that succeed, so any message means a broken measurement.
int32_t LoggedMessages();
std::string LastMessage();
void ClearMessages();

// One driver instance in host memory, driven through KaviMain.
class Instance {
 public:
  // ColdStart on `portName` (as the driver takes it, e.g. "pts/3"); false,
  // with the reason, when the driver refuses.
  bool Start(const std::string& portName, uint32_t readTimeoutMs,
             std::string* error);
  int32_t Call(uint32_t command, void* params);
  void Close();
  InstanceBlock& block() { return block_; }

 private:
  alignas(8) InstanceBlock block_{};
};

// A declared variable: the parser's outputs and its value slot.
struct Variable {
  IoRequest request{};
  alignas(4) uint8_t slot[8] = {};
};

// Declares `address` with the single or block parser; false when refused.
bool Declare(Instance& instance, const char* address, uint32_t dataType,
             bool block, Variable* variable);

// ---- What went over the line ----------------------------------------------

// One request as the driver wrote it and how many reply bytes it read.
struct TracedExchange {
  std::vector<uint8_t> request;
  uint32_t replyBytes = 0;
};

// The driver hands every telegram to the host's trace function; while
// recording, the host keeps them.
void StartRecording();
std::vector<TracedExchange> StopRecording();

// ---- What is timed --------------------------------------------------------

// One kind of exchange: the command, the variable, and how many bytes go
// over the line each way (every exchange of a kind moves the same bytes).
struct ExchangeKind {
  const char* name;
  uint32_t command;  // KAVI_SINGLE_READ, KAVI_BLOCK_READ, KAVI_SINGLE_WRITE
  const char* address;
  uint32_t dataType;
  bool block;
  uint16_t writeValue;  // SingleWrite only
  int32_t lineBytes;    // requests and replies, all characters on the line
};

const std::vector<ExchangeKind>& ExchangeKinds();

// ---- Measuring ------------------------------------------------------------

double Median(std::vector<double> values);
double NowSeconds();  // steady clock
// Voluntary context switches of the calling thread: how often it slept
// and was woken again.
int64_t ThreadSleeps();

// A call strace shows with its argument and that nothing else makes:
// access("/kaviros-bench/<kind>/<edge>/<count>"), where edge is "begin" or
// "end", around `count` exchanges of one kind whose system calls are counted.
void SyscallMarker(const std::string& kind, const char* edge, int count);

// "name: value" on standard output, one line.
void Figure(const std::string& name, double value, int decimals);

// "/dev/pts/3" -> "pts/3": the driver takes names under /dev/ without it,
// and a port name has at most 11 characters.
std::string DriverPortName(const std::string& path);

// ---- A minimal responder ----------------------------------------------------

// Answers a fixed request with a fixed reply on a pseudo-terminal of its
// own, from a thread, as fast as the terminal goes: the least any protocol
// peer can cost. Bytes that do not make up the request are dropped.
class MinimalResponder {
 public:
  MinimalResponder(std::vector<uint8_t> request, std::vector<uint8_t> reply);
  ~MinimalResponder();
  MinimalResponder(const MinimalResponder&) = delete;
  MinimalResponder& operator=(const MinimalResponder&) = delete;

  bool Start(std::string* error);
  void Stop();
  const std::string& Port() const { return pty_.path(); }
  uint64_t Answered() const { return answered_.load(); }

 private:
  void Run();
  void Answer();

  std::vector<uint8_t> request_;
  std::vector<uint8_t> reply_;
  r2600sim::Pty pty_;
  int stopFd_ = -1;
  std::thread thread_;
  std::atomic<uint64_t> answered_{0};
};

}  // namespace kaviros::bench
