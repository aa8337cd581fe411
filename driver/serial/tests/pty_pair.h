// A pseudo-terminal standing in for a serial line: the port side is the
// terminal the driver opens, the far end is the master a test drives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavi::testing {

class PtyPair {
 public:
  // holdPort: keep a descriptor of the port side open for the pair's life,
  // so that the far end never sees the line hung up between opens.
  explicit PtyPair(bool holdPort = true);
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  const std::string& path() const { return path_; }  // "/dev/pts/N"
  std::string relativeName() const;                  // "pts/N"
  int master() const { return master_; }
  int port() const { return port_; }  // the held port side, or -1

  // Writes every byte to the far end; false when the line refused.
  bool Send(const std::vector<uint8_t>& bytes);
  // Up to `count` bytes from the far end, waiting at most `waitMs`.
  std::vector<uint8_t> Receive(std::size_t count, int waitMs);
  // Nothing queued either way; the port side raw, 8 bits, no parity.
  void Reset();
  // Closes the far end: the port side sees the line hung up.
  void HangUp();

 private:
  int master_ = -1;
  int port_ = -1;
  std::string path_;
};

}  // namespace kavi::testing
