// What the reads and writes share: the attempts per exchange, the station
// that never answers, and the host's value slot. A slot is raw host memory
// of 4 bytes (8 for a block), so it is only ever touched by byte copies at
// the offsets it defines, never through a wider record.
#pragma once

#include <cstdint>
#include <cstring>

namespace kavi {

inline constexpr int32_t kAttempts = 5;

// Written to without awaiting a reply, never read from.
inline constexpr uint8_t kNoReplyStation = 0xFF;

// 8/16-bit values and bits of 8/16-bit parameters.
inline constexpr int32_t kSlotWordOffset = 2;
// 32-bit values and bits of 32-bit parameters.
inline constexpr int32_t kSlotDwordOffset = 0;
inline constexpr int32_t kSingleSlotBytes = 4;
inline constexpr int32_t kBlockSlotWords = 4;
static_assert(kSlotWordOffset + 2 <= kSingleSlotBytes);

inline uint16_t LoadSlotWord(const void* slot) {
  uint16_t word;
  std::memcpy(&word, static_cast<const uint8_t*>(slot) + kSlotWordOffset,
              sizeof word);
  return word;
}

inline void StoreSlotWord(void* slot, uint16_t word) {
  std::memcpy(static_cast<uint8_t*>(slot) + kSlotWordOffset, &word,
              sizeof word);
}

inline void StoreSlotDword(void* slot, uint32_t dword) {
  std::memcpy(static_cast<uint8_t*>(slot) + kSlotDwordOffset, &dword,
              sizeof dword);
}

inline void StoreSlotBlock(void* slot,
                           const uint16_t (&words)[kBlockSlotWords]) {
  std::memcpy(slot, words, sizeof words);
}

}  // namespace kavi
