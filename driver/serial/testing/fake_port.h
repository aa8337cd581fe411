// A scripted serial port for the unit tests of everything above the port
// layer. It stands in for the platform backend at link time.
//
// The line is modelled as an input queue: a read takes what is queued (up to
// its count and the per-read chunk limit) and returns at once with what it
// got, as a real read does at its time-out. A peer is scripted as replies:
// each complete write appends the next queued reply to the input.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serial/port.h"

namespace kavi::testing {

using Bytes = std::vector<uint8_t>;

enum class PortCall { Open, Close, SetReadTimeout, Purge, Write, Read };

struct PortEvent {
  PortCall call;
  PortHandle handle;
  Bytes bytes;     // written, or received by a read
  uint32_t count;  // asked for (read, write) or the time-out given
};

struct OpenRecord {
  std::string name;
  LineSettings line;
  uint16_t lineFlags;
};

class FakePort {
 public:
  static FakePort& Get();  // the one port the backend functions talk to

  // Back to: opens succeed, no input, no replies, every call succeeds.
  void Reset();

  // --- Scripting --------------------------------------------------------
  int32_t openResult = kPortOk;  // what ComOpenDevice returns
  // Held without sharing, as a serial port: an open while a handle is open
  // fails with code 1. Off, the port opens any number of times ("NUL").
  bool exclusive = false;
  PortHandle nextHandle = 0x100;  // handle of the next successful open
  int32_t closeResult = kPortOk;
  int32_t purgeResult = kPortOk;
  uint32_t readTimeoutInForce = 1000;
  bool readTimeoutsFail = false;  // ComSetReadTimeout returns 0

  void QueueInput(const Bytes& bytes);  // already waiting on the line
  void QueueReply(const Bytes& reply);  // sent after the next write
  void QueueSilence();                  // the next write gets no reply
  // Computes the reply to every write that has no queued reply.
  std::function<std::optional<Bytes>(const Bytes& request)> responder;

  // Per-call faults, consumed in order by the next calls of that kind.
  std::deque<int32_t> writeFailures;  // results of next writes; 0: as usual
  std::deque<uint32_t> shortWrites;   // bytes taken by next writes
  std::deque<int32_t> readFailures;   // results of next reads; 0: as usual
  std::optional<uint32_t> readChunkLimit;  // most bytes one read delivers
  std::deque<uint32_t> readLimits;         // most bytes each next read delivers
                                           // (reads that do not fail)

  // --- Observation ------------------------------------------------------
  std::vector<PortEvent> events;
  std::vector<OpenRecord> opens;
  std::set<PortHandle> openHandles;  // opened and not yet closed
  const Bytes& Input() const { return input_; }

  std::vector<Bytes> Written() const;  // every telegram written, in order
  int Count(PortCall call) const;

  // Backend side, called by the Com* functions.
  int32_t Open(const char* name, const LineSettings& line, uint16_t flags,
               PortHandle* handleOut);
  int32_t Close(PortHandle handle);
  uint32_t SetReadTimeout(PortHandle handle, uint32_t timeout);
  int32_t Purge(PortHandle handle);
  int32_t Write(PortHandle handle, const uint8_t* buffer, uint32_t count,
                uint32_t* written);
  int32_t Read(PortHandle handle, uint8_t* buffer, uint32_t count,
               uint32_t* received);

 private:
  Bytes input_;
  std::deque<std::optional<Bytes>> replies_;
};

}  // namespace kavi::testing
