// What the Windows line rig asks of the Linux peer that drives the far ends
// of its COM ports: a 16-byte request header and `length` payload bytes,
// answered by a 4-byte length and that many bytes. Both ends little-endian.
#pragma once

#include <cstdint>

namespace kavi::testing {

enum PeerOp : uint8_t {
  kPeerSend = 'S',     // a: delay in ms; payload: the bytes
  kPeerReceive = 'R',  // a: count; b: wait in ms; answer: the bytes
  kPeerReset = 'Z',    // the line back to fresh
};

struct PeerRequest {
  uint8_t op;
  uint8_t line;
  uint16_t reserved;
  uint32_t a;
  uint32_t b;
  uint32_t length;
};
static_assert(sizeof(PeerRequest) == 16);

}  // namespace kavi::testing
