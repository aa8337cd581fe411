// The driver's side of the pseudo-terminal, as the tests use it.
#ifndef R2600SIM_TESTS_PTY_CLIENT_H
#define R2600SIM_TESTS_PTY_CLIENT_H

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "r2600sim/wire.h"

namespace r2600sim::testing {

class PtyClient {
 public:
  explicit PtyClient(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ >= 0) {
      termios tio{};
      tcgetattr(fd_, &tio);
      cfmakeraw(&tio);
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~PtyClient() {
    if (fd_ >= 0) close(fd_);
  }
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  bool Send(const Bytes& bytes) {
    return write(fd_, bytes.data(), bytes.size()) ==
           static_cast<ssize_t>(bytes.size());
  }

  // Up to `count` bytes; gives up after `guard` so a broken simulator
  // fails the test instead of hanging it.
  Bytes Receive(size_t count,
                std::chrono::milliseconds guard = std::chrono::seconds(10)) {
    Bytes got;
    const auto until = std::chrono::steady_clock::now() + guard;
    while (got.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      uint8_t buffer[64];
      const size_t want = std::min(sizeof buffer, count - got.size());
      const ssize_t n = read(fd_, buffer, want);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  // What the driver does before each request.
  void Discard() { tcflush(fd_, TCIFLUSH); }

  Bytes Transact(const Bytes& request, size_t reply_size) {
    if (!Send(request)) return {};
    return Receive(reply_size);
  }

 private:
  int fd_ = -1;
};

}  // namespace r2600sim::testing

#endif  // R2600SIM_TESTS_PTY_CLIENT_H
