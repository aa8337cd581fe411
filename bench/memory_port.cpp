// The port operations on a few bytes of memory: no system calls, no
// allocation, no record of calls.
#include <cstring>

#include "port_double.h"
#include "serial/port.h"

namespace kaviros::bench {
namespace {

constexpr uint32_t kMaxBytes = 64;
constexpr uint32_t kMaxReplies = 4;
constexpr kavi::PortHandle kHandle = 0x100;

struct MemoryLine {
  uint8_t input[kMaxBytes];
  uint32_t inputLength;
  uint32_t inputAt;
  uint8_t replies[kMaxReplies][kMaxBytes];
  uint32_t replyLengths[kMaxReplies];
  uint32_t replyCount;
  uint32_t nextReply;
};

MemoryLine line;

void SetInput(const uint8_t* bytes, uint32_t count) {
  std::memcpy(line.input, bytes, count);
  line.inputLength = count;
  line.inputAt = 0;
}

}  // namespace

const char* PortDoubleName() { return "memory"; }

void PortReset() { line = MemoryLine{}; }

void PortQueueInput(const Bytes& bytes) {
  SetInput(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void PortReplyToWrites(const std::vector<Bytes>& replies) {
  line.replyCount = 0;
  for (const Bytes& reply : replies) {
    const uint32_t at = line.replyCount++;
    std::memcpy(line.replies[at], reply.data(), reply.size());
    line.replyLengths[at] = static_cast<uint32_t>(reply.size());
  }
  line.nextReply = 0;
}

void PortOperationDone() {}

}  // namespace kaviros::bench

namespace kavi {

using kaviros::bench::line;

int32_t ComOpenDevice(const char*, const LineSettings&, uint16_t,
                      PortHandle* handleOut) {
  *handleOut = kaviros::bench::kHandle;
  return kPortOk;
}

int32_t ComClose(PortHandle) { return kPortOk; }

uint32_t ComSetReadTimeout(PortHandle, uint32_t) { return 1000; }

int32_t ComPurgeInput(PortHandle) {
  line.inputLength = 0;
  line.inputAt = 0;
  return kPortOk;
}

int32_t ComWrite(PortHandle, const uint8_t*, uint32_t count,
                 uint32_t* written) {
  if (written != nullptr) *written = count;
  if (line.replyCount != 0) {
    const uint32_t at = line.nextReply;
    line.nextReply = (at + 1) % line.replyCount;
    kaviros::bench::SetInput(line.replies[at], line.replyLengths[at]);
  }
  return kPortOk;
}

int32_t ComRead(PortHandle, uint8_t* buffer, uint32_t count,
                uint32_t* received) {
  uint32_t take = line.inputLength - line.inputAt;
  if (take > (count & 0xFFFFu)) take = count & 0xFFFFu;
  std::memcpy(buffer, line.input + line.inputAt, take);
  line.inputAt += take;
  if (received != nullptr) *received = take;
  return kPortOk;
}

}  // namespace kavi
