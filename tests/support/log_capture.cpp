#include "log_capture.h"

#include <cstdarg>
#include <cstdio>

#include "kaviros/kaviros.h"

namespace kavi::testing {
namespace {

std::vector<LogLine>& Lines() {
  static std::vector<LogLine> lines;
  return lines;
}

int32_t Capture(int32_t level, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  Lines().push_back({level, text});
  return 0;
}

}  // namespace

const std::vector<LogLine>& Logged() { return Lines(); }
void ClearLog() { Lines().clear(); }

}  // namespace kavi::testing

#if defined(_WIN32)
extern "C" int32_t err(int32_t level, const char* format, ...) {
#else
extern "C" int32_t melbax_err(int32_t level, const char* format, ...) {
#endif
  va_list args;
  va_start(args, format);
  const int32_t result = kavi::testing::Capture(level, format, args);
  va_end(args);
  return result;
}
