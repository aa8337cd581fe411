#include "r2600sim/frame_scanner.h"

namespace r2600sim {

FrameScanner::FrameScanner(std::chrono::nanoseconds gap) : gap_(gap) {}

long FrameScanner::Check() const {
  const Bytes& b = buffer_;
  const size_t n = b.size();
  if (b[0] == kShortStart) {
    if (n < kShortFrameSize) return 0;
    const bool ok =
        b[4] == kEnd && b[3] == Checksum(std::span(b).subspan(1, 2));
    return ok ? static_cast<long>(kShortFrameSize) : -1;
  }
  // A long start.
  if (n >= 2 && (b[1] < kMinRequestLength || b[1] > kMaxRequestLength)) {
    return -1;
  }
  if (n >= 3 && b[2] != b[1]) return -1;
  if (n >= 4 && b[3] != kLongStart) return -1;
  if (n < 4) return 0;
  const size_t length = b[1];
  if (n < length + 6) return 0;
  const bool ok = b[length + 5] == kEnd &&
                  b[length + 4] == Checksum(std::span(b).subspan(4, length));
  return ok ? static_cast<long>(length + 6) : -1;
}

std::vector<Bytes> FrameScanner::Push(std::span<const uint8_t> bytes,
                                      Clock::time_point now) {
  std::vector<Bytes> frames;
  if (bytes.empty()) return frames;
  if (!buffer_.empty() && last_ && gap_.count() > 0 && now - *last_ > gap_) {
    ++counters_.stale;
    buffer_.clear();
  }
  last_ = now;
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());

  size_t start = 0;  // consumed bytes, erased once at the end
  while (start < buffer_.size()) {
    const uint8_t first = buffer_[start];
    if (first != kShortStart && first != kLongStart) {
      ++counters_.noise;
      ++start;
      continue;
    }
    if (start > 0) {
      buffer_.erase(buffer_.begin(),
                    buffer_.begin() + static_cast<long>(start));
      start = 0;
    }
    const long size = Check();
    if (size == 0) break;
    if (size < 0) {
      // Try again from the next byte: a real start may hide inside.
      ++counters_.damaged;
      ++start;
      continue;
    }
    const auto end = buffer_.begin() + size;
    frames.emplace_back(buffer_.begin(), end);
    ++counters_.frames;
    start = static_cast<size_t>(size);
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(start));
  return frames;
}

}  // namespace r2600sim
