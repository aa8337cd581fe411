// The port operations on a POSIX terminal (Linux), with the contract the
// Win32 backend has as seen from above: the same result codes, the port held
// exclusively, one read that ends with the count or at the port's total read
// time-out, writes without time-out.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>

#include "serial/port.h"
#include "serial/port_config.h"
#include "serial/port_termios.h"

namespace kavi {
namespace {

// An open port's handle is its descriptor + 1, so that it is never 0.
int Descriptor(PortHandle handle) { return static_cast<int>(handle) - 1; }
PortHandle HandleOf(int fd) { return static_cast<PortHandle>(fd) + 1; }

constexpr std::size_t kLongestName = KAVI_PORT_NAME_SIZE - 1;
constexpr char kDeviceDirectory[] = "/dev/";
constexpr char kNullDevice[] = "/dev/null";
using DevicePathBuffer = char[sizeof kDeviceDirectory + kLongestName];

// An absolute name as it stands, "NUL" the null device, any other name a
// device under /dev/ ("ttyUSB0", "pts/7"). Empty names and names longer than
// a port setting carries name nothing.
bool DevicePath(const char* name, DevicePathBuffer& path) {
  std::size_t length = 0;
  while (length <= kLongestName && name[length] != '\0') ++length;
  if (length == 0 || length > kLongestName) return false;
  if (IsNullDeviceName(name)) {
    std::memcpy(path, kNullDevice, sizeof kNullDevice);
    return true;
  }
  std::size_t at = 0;
  if (name[0] != '/') {
    std::memcpy(path, kDeviceDirectory, sizeof kDeviceDirectory - 1);
    at = sizeof kDeviceDirectory - 1;
  }
  std::memcpy(path + at, name, length);
  path[at + length] = '\0';
  return true;
}

// Non-blocking, so that a read can collect what arrived short of its count
// once the time-out has passed; no controlling terminal; not inherited by
// programs the host starts.
int OpenDevice(const char* path) {
  int fd;
  do {
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// No sharing, as CreateFileA without share mode: flock keeps out every
// other open through this driver, root's too (root passes TIOCEXCL), and
// TIOCEXCL keeps out other programs that do not lock.
bool HoldExclusively(int fd) {
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return false;
  // Fails on a file that is no terminal, whose state query fails next.
  ioctl(fd, TIOCEXCL);
  return true;
}

// The terminal keeps TIOCEXCL after the last close, so every other user
// would find the port busy for good; only root passes it.
void CloseHeld(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);
}

// glibc's tcsetattr reads the attributes back after each write to report
// framing the terminal dropped, a second system call per change. Callers
// here know what they changed and check it themselves, so where glibc's
// termios record begins with the kernel's, a bare TCSETS does.
bool WriteAttributes(int fd, const termios& attributes) {
#if defined(TCSETS) &&                                                   \
    (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || \
     defined(__arm__) || defined(__riscv))
  int result;
  do {
    result = ioctl(fd, TCSETS, &attributes);
  } while (result != 0 && errno == EINTR);
  return result == 0;
#else
  return tcsetattr(fd, TCSANOW, &attributes) == 0;
#endif
}

// A pseudo-terminal, for one, keeps 8 bits without parity whatever it is
// told, and a repeated write whose only change it drops is refused; what
// counts is what the port holds afterwards.
bool ApplyAttributes(int fd, const termios& wanted) {
  if (!WriteAttributes(fd, wanted) && errno != EINVAL) return false;
  termios actual;
  return tcgetattr(fd, &actual) == 0 && AppliedApartFromFraming(wanted, actual);
}

struct ModemLines {
  bool present;  // false: the device has none (a pseudo-terminal)
  bool dtr;
  bool rts;
};

ModemLines ReadModemLines(int fd) {
  int bits = 0;
  if (ioctl(fd, TIOCMGET, &bits) != 0) return {false, false, false};
  return {true, (bits & TIOCM_DTR) != 0, (bits & TIOCM_RTS) != 0};
}

void SetModemLines(int fd, const TerminalControl& control) {
  int raise = 0;
  int drop = 0;
  const auto sort = [&](ModemLine line, int bit) {
    if (line == ModemLine::kRaise) raise |= bit;
    if (line == ModemLine::kDrop) drop |= bit;
  };
  sort(control.dtr, TIOCM_DTR);
  sort(control.rts, TIOCM_RTS);
  // A port that refuses to move a line still carries data; nothing to undo.
  if (raise != 0) ioctl(fd, TIOCMBIS, &raise);
  if (drop != 0) ioctl(fd, TIOCMBIC, &drop);
}

int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// One read, on after a signal; -1 with errno as read left it.
ssize_t ReadOnce(int fd, uint8_t* buffer, uint32_t count) {
  ssize_t n;
  do {
    n = read(fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool NothingToRead() { return errno == EAGAIN || errno == EWOULDBLOCK; }

}  // namespace

int32_t ComOpenDevice(const char* name, const LineSettings& line,
                      uint16_t lineFlags, PortHandle* handleOut) {
  *handleOut = 0;
  DevicePathBuffer path;
  if (!DevicePath(name, path)) return kPortOpenFailed;
  const int fd = OpenDevice(path);
  if (fd < 0) return kPortOpenFailed;
  if (IsNullDeviceName(name)) {
    *handleOut = HandleOf(fd);
    return kPortOk;
  }
  if (!HoldExclusively(fd)) {
    close(fd);
    return kPortOpenFailed;
  }
  termios attributes;
  if (tcgetattr(fd, &attributes) != 0) {
    CloseHeld(fd);
    return kPortStateFailed;
  }
  if (lineFlags == 0) {
    *handleOut = HandleOf(fd);
    return kPortOk;
  }

  const ModemLines modem = ReadModemLines(fd);
  const uint32_t flags = ConfiguredDcbFlags(
      DcbFlagsFromTermios(attributes, modem.dtr, modem.rts), line, lineFlags);
  const TerminalControl control = TerminalControlFromDcbFlags(flags);
  termios wanted = attributes;
  if (!ConfigureTermios(line, control, &wanted) ||
      !ApplyAttributes(fd, wanted)) {
    CloseHeld(fd);
    return kPortConfigFailed;
  }
  if (modem.present) SetModemLines(fd, control);
  *handleOut = HandleOf(fd);
  return kPortOk;
}

int32_t ComClose(PortHandle handle) {
  // Linux releases the descriptor whatever close reports, except for one
  // that was not open; reporting anything else as a failure would leave the
  // caller holding a number the system may hand out again.
  const int fd = Descriptor(handle);
  ioctl(fd, TIOCNXCL);  // fails harmlessly on the null device
  if (close(fd) != 0 && errno == EBADF) {
    return kPortSystemFailed;
  }
  return kPortOk;
}

uint32_t ComSetReadTimeout(PortHandle handle, uint32_t timeout) {
  const int fd = Descriptor(handle);
  termios attributes;
  if (tcgetattr(fd, &attributes) != 0) return 0;
  const uint32_t inForce = StoredReadTimeout(attributes);
  if (ReadTimeoutChanges(inForce, timeout)) {
    StoreReadTimeout(&attributes, timeout);
    if (!WriteAttributes(fd, attributes)) return 0;
  }
  return inForce;
}

int32_t ComPurgeInput(PortHandle handle) {
  return tcflush(Descriptor(handle), TCIFLUSH) == 0 ? kPortOk
                                                    : kPortPurgeFailed;
}

int32_t ComWrite(PortHandle handle, const uint8_t* buffer, uint32_t count,
                 uint32_t* written) {
  const int fd = Descriptor(handle);
  uint32_t done = 0;
  bool failed = false;
  while (done < count) {
    const ssize_t n = write(fd, buffer + done, count - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The output queue is full: wait for room, as a write has no
      // time-out.
      pollfd waiter{fd, POLLOUT, 0};
      if (poll(&waiter, 1, -1) >= 0 || errno == EINTR) continue;
    }
    failed = true;
    break;
  }
  if (failed && done == 0) return kPortSystemFailed;
  if (written != nullptr) *written = done;
  return done == count ? kPortOk : kPortShortWrite;
}

int32_t ComRead(PortHandle handle, uint8_t* buffer, uint32_t count,
                uint32_t* received) {
  if (received != nullptr) *received = 0;
  const int fd = Descriptor(handle);
  const uint32_t wanted = count & 0xFFFFu;

  // What has arrived already is taken at once, without a wait and without
  // asking the terminal for its settings: on a fast line the rest of a
  // reply is in by the time its first byte has been read.
  uint32_t got = 0;
  if (wanted > 0) {
    const ssize_t first = ReadOnce(fd, buffer, wanted);
    if (first > 0) {
      got = static_cast<uint32_t>(first);
    } else if (first < 0 && !NothingToRead()) {
      return kPortSystemFailed;
    }
    if (got == wanted) {
      if (received != nullptr) *received = got;
      return kPortOk;
    }
  }

  // The time-out and VMIN come with the attributes in one call.
  termios attributes;
  if (tcgetattr(fd, &attributes) != 0) {
    // Only the null device is open without being a terminal: it has
    // nothing to read and says so at once.
    if (errno != ENOTTY) return kPortSystemFailed;
    const ssize_t n = ReadOnce(fd, buffer + got, wanted - got);
    if (n < 0 && !NothingToRead()) return kPortSystemFailed;
    if (n > 0) got += static_cast<uint32_t>(n);
    if (received != nullptr) *received = got;
    return kPortOk;
  }

  const int64_t deadline =
      MonotonicNanoseconds() +
      static_cast<int64_t>(StoredReadTimeout(attributes)) * 1'000'000;
  while (got < wanted) {
    // With VTIME 0 the terminal reports the port readable only once VMIN
    // bytes are in: one wake-up for a whole reply, not one per byte.
    const auto minimum = static_cast<cc_t>(std::min(wanted - got, 255u));
    if (attributes.c_cc[VMIN] != minimum || attributes.c_cc[VTIME] != 0) {
      attributes.c_cc[VMIN] = minimum;
      attributes.c_cc[VTIME] = 0;
      if (!WriteAttributes(fd, attributes)) return kPortSystemFailed;
    }
    const int64_t left = deadline - MonotonicNanoseconds();
    bool expired = left <= 0;
    if (!expired) {
      pollfd waiter{fd, POLLIN, 0};
      const timespec wait{static_cast<time_t>(left / 1'000'000'000),
                          static_cast<long>(left % 1'000'000'000)};
      const int ready = ppoll(&waiter, 1, &wait, nullptr);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return kPortSystemFailed;
      }
      expired = ready == 0;
    }
    // After the time-out too: bytes short of VMIN are part of the answer.
    const ssize_t n = ReadOnce(fd, buffer + got, wanted - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
    } else if (n == 0 || !NothingToRead()) {
      // End of file on a terminal: the line was hung up.
      return kPortSystemFailed;
    }
    if (expired) break;
  }
  if (received != nullptr) *received = got;
  return kPortOk;
}

}  // namespace kavi
