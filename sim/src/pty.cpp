#include "r2600sim/pty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace r2600sim {
namespace {

std::string Failed(const char* what, const std::string& on = {}) {
  std::string text = what;
  if (!on.empty()) text += " " + on;
  return text + ": " + std::strerror(errno);
}

}  // namespace

Pty::~Pty() { Close(); }

Pty::Pty(Pty&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slave_(std::exchange(other.slave_, -1)),
      path_(std::move(other.path_)) {}

Pty& Pty::operator=(Pty&& other) noexcept {
  if (this != &other) {
    Close();
    master_ = std::exchange(other.master_, -1);
    slave_ = std::exchange(other.slave_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

bool Pty::Open(std::string* error) {
  Close();
  std::string message;
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    *error = Failed("cannot open a pseudo-terminal");
    return false;
  }
  char name[128];
  int slave = -1;
  termios tio{};
  if (grantpt(master) != 0 || unlockpt(master) != 0) {
    message = Failed("cannot unlock the pseudo-terminal");
  } else if (ptsname_r(master, name, sizeof name) != 0) {
    message = Failed("cannot name the pseudo-terminal");
  } else if ((slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
    message = Failed("cannot open", name);
  } else if (tcgetattr(slave, &tio) != 0) {
    message = Failed("cannot read the line settings of", name);
  } else {
    // Raw: no echo, no line editing, no translation of CR, LF or
    // flow-control bytes; every byte passes as it is.
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    const int flags = fcntl(master, F_GETFL);
    if (tcsetattr(slave, TCSANOW, &tio) != 0) {
      message = Failed("cannot set raw mode on", name);
    } else if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
      message = Failed("cannot make the pseudo-terminal non-blocking");
    }
  }
  if (!message.empty()) {
    if (slave >= 0) close(slave);
    close(master);
    *error = message;
    return false;
  }
  master_ = master;
  slave_ = slave;
  path_ = name;
  return true;
}

void Pty::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
  path_.clear();
}

PtyLink::~PtyLink() { Remove(); }

bool PtyLink::Create(const std::string& link, const std::string& target,
                     std::string* error) {
  Remove();
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    *error = link + " exists and is not a symbolic link; not replacing it";
    return false;
  }
  // Made under a temporary name and renamed, so the link never dangles.
  const std::string temporary =
      link + ".tmp" + std::to_string(static_cast<long>(getpid()));
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) {
    *error = Failed("cannot create the link", link);
    return false;
  }
  if (rename(temporary.c_str(), link.c_str()) != 0) {
    *error = Failed("cannot create the link", link);
    unlink(temporary.c_str());
    return false;
  }
  link_ = link;
  target_ = target;
  return true;
}

void PtyLink::Remove() {
  if (link_.empty()) return;
  char buffer[PATH_MAX];
  const ssize_t n = readlink(link_.c_str(), buffer, sizeof buffer - 1);
  if (n >= 0 && std::string(buffer, static_cast<size_t>(n)) == target_) {
    unlink(link_.c_str());
  }
  link_.clear();
  target_.clear();
}

}  // namespace r2600sim
