// Port names on Windows: the driver hands the name to CreateFileA, which
// knows COM1 to COM9 by their bare names only; \\.\COMn reaches every port.
#include <cctype>

#include "melbax/instance.h"

namespace melbax {
namespace {

constexpr size_t kMaxName = KAVI_PORT_NAME_SIZE - 1;
constexpr std::string_view kDevicePrefix = "\\\\.\\";

// The number n of "COMn" or "COMn:" in any case, without leading zeros;
// 0 when the name is no such port.
unsigned ComNumber(std::string_view name) {
  if (name.ends_with(':')) name.remove_suffix(1);
  if (name.size() < 4 || name.size() > 7) return 0;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
      return 0;
    }
  }
  if (name[3] == '0') return 0;
  unsigned number = 0;
  for (const char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  return number;
}

}  // namespace

std::string DriverPortName(const std::string& port, std::string& error) {
  if (port.empty()) {
    error = "the port name is empty";
    return {};
  }
  if (port.find('\0') != std::string::npos) {
    error = "the port name holds a zero byte";
    return {};
  }
  std::string name = port;
  if (const unsigned number = ComNumber(port); number != 0) {
    name = std::string(kDevicePrefix) + "COM" + std::to_string(number);
  }
  if (name.size() > kMaxName) {
    error = "port " + port + " is longer than the " + std::to_string(kMaxName) +
            " characters the driver takes";
    return {};
  }
  return name;
}

}  // namespace melbax
