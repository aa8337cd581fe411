// Telegrams written as hex text in tests: B("68 06 06 68").
#ifndef R2600SIM_TESTS_BYTES_H
#define R2600SIM_TESTS_BYTES_H

#include <cstdlib>
#include <string>
#include <string_view>

#include "r2600sim/wire.h"

namespace r2600sim::testing {

inline Bytes B(std::string_view hex) {
  Bytes out;
  std::string digits;
  for (char c : hex) {
    if (c == ' ') continue;
    digits.push_back(c);
    if (digits.size() == 2) {
      out.push_back(
          static_cast<uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
      digits.clear();
    }
  }
  if (!digits.empty()) std::abort();  // odd number of digits in a test
  return out;
}

}  // namespace r2600sim::testing

#endif  // R2600SIM_TESTS_BYTES_H
