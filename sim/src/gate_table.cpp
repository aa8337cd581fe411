#include "r2600sim/gate_table.h"

#include <array>

namespace r2600sim {
namespace {

constexpr uint8_t kByteIndices[] = {0x0D, 0x16, 0x1D, 0x1E, 0x22, 0x23,
                                    0x28, 0x30, 0x31, 0x32, 0x35, 0x36,
                                    0x39, 0x3A, 0xF2, 0xF4, 0xF5};
constexpr uint8_t kWordIndices[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                    0x07, 0x08, 0x09, 0x0C, 0x0E, 0x0F, 0x10,
                                    0x11, 0x12, 0x14, 0x15, 0x18, 0x20, 0x33,
                                    0x60, 0x64, 0xF0, 0xF1, 0xF3};
constexpr uint8_t kLongIndices[] = {0x21};

constexpr std::array<Width, 256> MakeTable() {
  std::array<Width, 256> table{};
  for (auto& w : table) w = Width::kNone;
  for (uint8_t i : kByteIndices) table[i] = Width::kByte;
  for (uint8_t i : kWordIndices) table[i] = Width::kWord;
  for (uint8_t i : kLongIndices) table[i] = Width::kLong;
  return table;
}

constexpr std::array<Width, 256> kTable = MakeTable();

}  // namespace

Width DefaultWidth(uint8_t index) { return kTable[index]; }

}  // namespace r2600sim
