#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace kavi::testing {

PtyPair::PtyPair(bool holdPort) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[64];
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    if (master_ >= 0) close(master_);
    master_ = -1;
    return;
  }
  path_ = name;
  // The port side is configured once here, so that every pair starts alike.
  port_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  Reset();
  if (!holdPort && port_ >= 0) {
    close(port_);
    port_ = -1;
  }
}

PtyPair::~PtyPair() {
  if (port_ >= 0) close(port_);
  if (master_ >= 0) close(master_);
}

std::string PtyPair::relativeName() const {
  return path_.substr(std::string("/dev/").size());
}

bool PtyPair::Send(const std::vector<uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::vector<uint8_t> PtyPair::Receive(std::size_t count, int waitMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  std::vector<uint8_t> got;
  while (got.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - Clock::now());
    pollfd waiter{master_, POLLIN, 0};
    const int ready =
        poll(&waiter, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (waiter.revents & POLLIN) == 0) break;
    uint8_t buffer[256];
    const std::size_t want = std::min(sizeof buffer, count - got.size());
    const ssize_t n = read(master_, buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

void PtyPair::Reset() {
  int port = port_;
  if (port < 0) port = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (port >= 0) {
    termios attributes;
    if (tcgetattr(port, &attributes) == 0) {
      cfmakeraw(&attributes);
      attributes.c_iflag &= ~static_cast<tcflag_t>(INPCK);
      attributes.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB);
      attributes.c_cflag |= CREAD | CLOCAL;
      // Nothing of a driver's earlier configuration stays behind.
      attributes.c_cc[VSWTC] = 0;
      attributes.c_cc[VEOL2 + 1] = 0;
      attributes.c_cc[VEOL2 + 2] = 0;
      cfsetspeed(&attributes, B9600);
      tcsetattr(port, TCSANOW, &attributes);
    }
    tcflush(port, TCIFLUSH);
    if (port != port_) close(port);
  }
  tcflush(master_, TCIFLUSH);
  while (!Receive(256, 0).empty()) {
  }
}

void PtyPair::HangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

}  // namespace kavi::testing
