// Cuts the byte stream from the line into request telegrams: finds the
// start, waits for requests split across reads, and resynchronises byte by
// byte after noise or a damaged telegram.
#ifndef R2600SIM_FRAME_SCANNER_H
#define R2600SIM_FRAME_SCANNER_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "r2600sim/wire.h"

namespace r2600sim {

struct ScannerCounters {
  uint64_t frames = 0;   // telegrams found
  uint64_t noise = 0;    // bytes skipped while looking for a start byte
  uint64_t damaged = 0;  // starts that did not lead to a valid telegram
  uint64_t stale = 0;    // unfinished telegrams dropped after a pause
};

class FrameScanner {
 public:
  using Clock = std::chrono::steady_clock;

  // A telegram is sent without pauses; once the line has been quiet for
  // `gap`, an unfinished one is dropped. Zero: never.
  explicit FrameScanner(std::chrono::nanoseconds gap = {});

  // Bytes received at `now`; returns the telegrams they complete.
  std::vector<Bytes> Push(std::span<const uint8_t> bytes,
                          Clock::time_point now);

  // Bytes waiting for the rest of a telegram.
  size_t Pending() const { return buffer_.size(); }
  const ScannerCounters& Counters() const { return counters_; }

 private:
  // 0: need more bytes; >0: a telegram of that size at the front; <0: the
  // front byte starts nothing valid.
  long Check() const;

  std::chrono::nanoseconds gap_;
  Bytes buffer_;
  std::optional<Clock::time_point> last_;
  ScannerCounters counters_;
};

}  // namespace r2600sim

#endif  // R2600SIM_FRAME_SCANNER_H
