// Reads a fuzzer's input from the front, so that seeds can be written by
// hand: fixed fields first, free bytes after. Past the end every field
// reads as zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kavi::fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return at_ >= size_; }
  size_t Left() const { return Empty() ? 0 : size_ - at_; }

  uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }

  uint32_t U32() {
    uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
      value |= static_cast<uint32_t>(Byte()) << shift;
    }
    return value;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }

  // Up to `count` bytes, fewer at the end.
  std::vector<uint8_t> Bytes(size_t count) {
    if (count > Left()) count = Left();
    std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + count);
    at_ += count;
    return bytes;
  }
  std::vector<uint8_t> Rest() { return Bytes(Left()); }

  // A length byte, then that many bytes.
  std::vector<uint8_t> Counted() { return Bytes(Byte()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A broken promise of the driver: say which, then crash so that libFuzzer
// keeps the input.
[[noreturn]] inline void Violated(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void Check(bool holds, const char* what) {
  if (!holds) Violated(what);
}

// A zero-terminated copy of the bytes in memory of exactly its size, so
// that the sanitizer sees any read past the terminator.
class Text {
 public:
  explicit Text(const std::vector<uint8_t>& bytes)
      : size_(bytes.size() + 1), text_(new char[size_]) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      text_[i] = static_cast<char>(bytes[i]);
    }
    text_[bytes.size()] = '\0';
  }
  ~Text() { delete[] text_; }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  const char* get() const { return text_; }
  // The characters up to the first zero, as the driver sees them.
  std::string str() const { return std::string(text_); }

 private:
  size_t size_;
  char* text_;
};

}  // namespace kavi::fuzz
