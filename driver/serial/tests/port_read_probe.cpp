// Measures ComRead on a pseudo-terminal; not a test. Run it under
// `strace -f -c -e trace=!nanosleep` to count the system calls.
//
//   port_read_probe replies N    N reads of a 14-byte reply that is waiting
//   port_read_probe split N      N reads of 1 byte then 13, as a receiver
//   port_read_probe late N       N reads of 14 bytes sent while the read waits
//   port_read_probe silent N     N reads of a silent line, 100 ms time-out
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "serial/port.h"

namespace {

const std::vector<uint8_t> kReply = {0x68, 0x08, 0x08, 0x68, 0x08, 0x01, 0x10,
                                     0x01, 0x01, 0x00, 0x34, 0x12, 0x69, 0x16};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s replies|split|late|silent N\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const int rounds = std::atoi(argv[2]);
  kavi::testing::PtyPair pair;
  kavi::PortHandle handle = 0;
  if (!pair.ok() ||
      kavi::ComOpenDevice(pair.relativeName().c_str(), {9600, 8, 0, 2}, 0x0303,
                          &handle) != kavi::kPortOk) {
    std::fprintf(stderr, "no port\n");
    return 1;
  }
  kavi::ComSetReadTimeout(handle, mode == "silent" ? 100 : 2000);

  uint8_t buffer[64];
  uint32_t total = 0;
  std::chrono::nanoseconds longest{0};
  std::chrono::nanoseconds sum{0};
  for (int i = 0; i < rounds; ++i) {
    uint32_t received = 0;
    std::thread sender;
    if (mode == "replies" || mode == "split") pair.Send(kReply);
    if (mode == "late") {
      sender = std::thread([&pair] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pair.Send(kReply);
      });
    }
    const auto start = std::chrono::steady_clock::now();
    if (mode == "split") {
      kavi::ComRead(handle, buffer, 1, &received);
      total += received;
      kavi::ComRead(handle, buffer + 1, 13, &received);
    } else {
      kavi::ComRead(handle, buffer, 14, &received);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    if (sender.joinable()) sender.join();
    total += received;
    sum += took;
    if (took > longest) longest = took;
  }
  std::printf("%s: %d rounds, %u bytes, mean %.3f ms, longest %.3f ms\n",
              mode.c_str(), rounds, total,
              std::chrono::duration<double, std::milli>(sum).count() / rounds,
              std::chrono::duration<double, std::milli>(longest).count());
  kavi::ComClose(handle);
  return 0;
}
