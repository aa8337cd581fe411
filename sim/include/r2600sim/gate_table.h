// The controller's parameter table: which indices exist and how wide their
// values are, as delivered from the factory.
#ifndef R2600SIM_GATE_TABLE_H
#define R2600SIM_GATE_TABLE_H

#include <cstddef>
#include <cstdint>

namespace r2600sim {

enum class Width : uint8_t { kNone = 0, kByte = 1, kWord = 2, kLong = 3 };

// Width of a parameter index (cycle values, reset and status included).
Width DefaultWidth(uint8_t index);

// Value bytes on the wire: 0, 1, 2 or 4.
constexpr size_t ValueSize(Width width) {
  switch (width) {
    case Width::kByte:
      return 1;
    case Width::kWord:
      return 2;
    case Width::kLong:
      return 4;
    case Width::kNone:
      break;
  }
  return 0;
}

// Mask of the bits a value of this width holds.
constexpr uint32_t ValueMask(Width width) {
  switch (width) {
    case Width::kByte:
      return 0xFFu;
    case Width::kWord:
      return 0xFFFFu;
    case Width::kLong:
      return 0xFFFFFFFFu;
    case Width::kNone:
      break;
  }
  return 0;
}

}  // namespace r2600sim

#endif  // R2600SIM_GATE_TABLE_H
