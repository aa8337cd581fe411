#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "melbax/instance.h"

namespace melbax {
namespace {

constexpr size_t kMaxName = KAVI_PORT_NAME_SIZE - 1;
constexpr std::string_view kDev = "/dev/";

bool RelativeToHere(const std::string& port) {
  return port == "." || port == ".." || port.starts_with("./") ||
         port.starts_with("../");
}

}  // namespace

std::string DriverPortName(const std::string& port, std::string& error) {
  if (port.empty()) {
    error = "the port name is empty";
    return {};
  }
  const bool relative = RelativeToHere(port);
  if (!relative && port.size() <= kMaxName) return port;

  // The driver opens names without a leading '/' under /dev/.
  const std::string path =
      relative || port.front() == '/' ? port : std::string(kDev) + port;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) {
    error = "cannot find port " + port + ": " + std::strerror(errno);
    return {};
  }
  const std::string real = resolved;
  if (real.size() <= kMaxName) return real;
  if (real.starts_with(kDev) && real.size() - kDev.size() <= kMaxName) {
    return real.substr(kDev.size());
  }
  error = "port " + port + " is " + real + ", longer than the " +
          std::to_string(kMaxName) +
          " characters the driver takes; link it from a shorter name";
  return {};
}

}  // namespace melbax
