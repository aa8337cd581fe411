// The host's log function for unit tests: every message the driver writes
// is kept, formatted, with its level, until ClearLog().
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kavi::testing {

struct LogLine {
  int32_t level;
  std::string text;
  bool operator==(const LogLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << "[" << line.level << "] \"" << line.text << "\"";
}

const std::vector<LogLine>& Logged();
void ClearLog();

}  // namespace kavi::testing
