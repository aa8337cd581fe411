#include "rig.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace kaviros::bench {
namespace {

int32_t messages = 0;
char lastMessage[256] = "";

bool recording = false;
std::vector<TracedExchange> recorded;

}  // namespace

void StartRecording() {
  recorded.clear();
  recording = true;
}

std::vector<TracedExchange> StopRecording() {
  recording = false;
  return std::move(recorded);
}

int32_t LoggedMessages() { return messages; }
std::string LastMessage() { return lastMessage; }
void ClearMessages() {
  messages = 0;
  lastMessage[0] = '\0';
}

bool Instance::Start(const std::string& portName, uint32_t readTimeoutMs,
                     std::string* error) {
  ColdStartParams params{};
  if (portName.size() >= sizeof params.portName) {
    *error = "port name too long for the driver: " + portName;
    return false;
  }
  std::memcpy(params.portName, portName.c_str(), portName.size() + 1);
  params.usePort = 1;
  params.readTimeout = readTimeoutMs;
  params.line = {9600, 8, 0, 2};
  ClearMessages();
  if (Call(KAVI_COLD_START, &params) != KAVI_OK) {
    *error = "ColdStart on " + portName + " failed: " + LastMessage();
    return false;
  }
  ClearMessages();
  return true;
}

int32_t Instance::Call(uint32_t command, void* params) {
  CallBlock call{};
  call.instance = &block_;
  call.command = command;
  call.params = params;
  return KaviMain(&call);
}

void Instance::Close() { Call(KAVI_CLOSE_COM, nullptr); }

bool Declare(Instance& instance, const char* address, uint32_t dataType,
             bool block, Variable* variable) {
  ParseRequest parse{};
  parse.address = address;
  parse.dataType = dataType;
  parse.blockSize = block ? 4 : 0;
  const uint32_t command =
      block ? KAVI_BLOCK_ADDRESS_PARSER : KAVI_SINGLE_ADDRESS_PARSER;
  if (instance.Call(command, &parse) != KAVI_OK) return false;
  IoRequest& request = variable->request;
  request = IoRequest{};
  request.address = address;
  request.plcAddress = parse.plcAddress;
  request.gateWidth = parse.gateWidth;
  request.paramIndex = parse.paramIndex;
  request.bitNumber = parse.bitNumber;
  request.valueBits = parse.valueBits;
  request.dataType = static_cast<int32_t>(dataType);
  request.value = variable->slot;
  return true;
}

const std::vector<ExchangeKind>& ExchangeKinds() {
  // Bytes: request + reply. A long read request is 12 bytes (9 for PI
  // 0x30-0x3F), a short one 5; a long reply is L + 6.
  static const std::vector<ExchangeKind> kinds = {
      {"parameter16", KAVI_SINGLE_READ, "0110", KAVI_TYPE_UINT16, false, 0,
       12 + 14},
      {"parameter8", KAVI_SINGLE_READ, "0135", KAVI_TYPE_UINT16, false, 0,
       9 + 10},
      {"parameter32", KAVI_SINGLE_READ, "0121", KAVI_TYPE_INT32, false, 0,
       12 + 16},
      {"bit", KAVI_SINGLE_READ, "011003", KAVI_TYPE_BIT, false, 0, 12 + 14},
      {"cycle_value", KAVI_SINGLE_READ, "01F0", KAVI_TYPE_INT16, false, 0,
       5 + 15},
      {"status", KAVI_SINGLE_READ, "01F5", KAVI_TYPE_UINT16, false, 0, 5 + 5},
      {"block", KAVI_BLOCK_READ, "01F0", KAVI_TYPE_INT16, true, 0, 5 + 15},
      {"write16", KAVI_SINGLE_WRITE, "0110", KAVI_TYPE_UINT16, false, 0x1234,
       14 + 5},
      // Reads the parameter, then writes it with the bit merged.
      {"write_bit", KAVI_SINGLE_WRITE, "011003", KAVI_TYPE_BIT, false, 1,
       (12 + 14) + (14 + 5)},
  };
  return kinds;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle]
                                : (values[middle - 1] + values[middle]) / 2;
}

double NowSeconds() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t ThreadSleeps() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nvcsw;
}

void SyscallMarker(const std::string& kind, const char* edge, int count) {
  const std::string path =
      "/kaviros-bench/" + kind + "/" + edge + "/" + std::to_string(count);
  [[maybe_unused]] const int ignored = access(path.c_str(), F_OK);
}

void Figure(const std::string& name, double value, int decimals) {
  std::printf("%s: %.*f\n", name.c_str(), decimals, value);
  std::fflush(stdout);
}

std::string DriverPortName(const std::string& path) {
  const std::string dev = "/dev/";
  return path.rfind(dev, 0) == 0 ? path.substr(dev.size()) : path;
}

MinimalResponder::MinimalResponder(std::vector<uint8_t> request,
                                   std::vector<uint8_t> reply)
    : request_(std::move(request)), reply_(std::move(reply)) {}

MinimalResponder::~MinimalResponder() { Stop(); }

bool MinimalResponder::Start(std::string* error) {
  if (!pty_.Open(error)) return false;
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) {
    *error = std::string("eventfd: ") + std::strerror(errno);
    pty_.Close();
    return false;
  }
  thread_ = std::thread(&MinimalResponder::Run, this);
  return true;
}

void MinimalResponder::Stop() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(stopFd_, &one, sizeof one);
  thread_.join();
  close(stopFd_);
  stopFd_ = -1;
  pty_.Close();
}

void MinimalResponder::Answer() {
  size_t done = 0;
  while (done < reply_.size()) {
    const ssize_t w =
        write(pty_.master(), reply_.data() + done, reply_.size() - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
    } else if (w < 0 && errno != EINTR && errno != EAGAIN) {
      return;
    }
  }
  answered_.fetch_add(1);
}

void MinimalResponder::Run() {
  std::array<uint8_t, 256> in;
  size_t have = 0;
  while (true) {
    pollfd fds[2] = {{pty_.master(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const ssize_t n = read(pty_.master(), in.data() + have, in.size() - have);
    if (n <= 0) continue;
    have += static_cast<size_t>(n);
    while (have > 0) {
      const bool atRequest =
          have >= request_.size() &&
          std::equal(request_.begin(), request_.end(), in.begin());
      if (atRequest) {
        Answer();
        have -= request_.size();
        std::memmove(in.data(), in.data() + request_.size(), have);
      } else if (in[0] != request_[0] || have >= request_.size()) {
        // Not the start of the request: resynchronise byte by byte.
        std::memmove(in.data(), in.data() + 1, --have);
      } else {
        break;  // the start of a request; wait for the rest
      }
    }
  }
}

}  // namespace kaviros::bench

// The host's log function: counts and keeps the last message. Runs on the
// thread that calls KaviMain.
extern "C" int32_t melbax_err(int32_t level, const char* format, ...) {
  using namespace kaviros::bench;
  (void)level;
  va_list args;
  va_start(args, format);
  std::vsnprintf(lastMessage, sizeof lastMessage, format, args);
  va_end(args);
  ++messages;
  return 0;
}

// The host's trace function; the driver calls it with every request it
// wrote and every reply it read.
extern "C" void melbax_trace(int32_t direction, const uint8_t* bytes,
                             uint32_t count) {
  using namespace kaviros::bench;
  if (!recording) return;
  if (direction == KAVI_TRACE_REQUEST) {
    recorded.push_back({std::vector<uint8_t>(bytes, bytes + count), 0});
  } else if (!recorded.empty()) {
    recorded.back().replyBytes = count;
  }
}
