#include "serial/testing/fake_port.h"

#include <algorithm>
#include <cstring>

namespace kavi::testing {

FakePort& FakePort::Get() {
  static FakePort port;
  return port;
}

void FakePort::Reset() { *this = FakePort{}; }

void FakePort::QueueInput(const Bytes& bytes) {
  input_.insert(input_.end(), bytes.begin(), bytes.end());
}

void FakePort::QueueReply(const Bytes& reply) { replies_.emplace_back(reply); }

void FakePort::QueueSilence() { replies_.emplace_back(std::nullopt); }

std::vector<Bytes> FakePort::Written() const {
  std::vector<Bytes> written;
  for (const PortEvent& event : events) {
    if (event.call == PortCall::Write) written.push_back(event.bytes);
  }
  return written;
}

int FakePort::Count(PortCall call) const {
  return static_cast<int>(std::count_if(
      events.begin(), events.end(),
      [call](const PortEvent& event) { return event.call == call; }));
}

int32_t FakePort::Open(const char* name, const LineSettings& line,
                       uint16_t flags, PortHandle* handleOut) {
  opens.push_back({name, line, flags});
  events.push_back({PortCall::Open, 0, {}, 0});
  if (openResult != kPortOk) {
    *handleOut = 0;
    return openResult;
  }
  if (exclusive && !openHandles.empty()) {
    *handleOut = 0;
    return kPortOpenFailed;
  }
  *handleOut = nextHandle;
  openHandles.insert(nextHandle);
  ++nextHandle;
  return kPortOk;
}

int32_t FakePort::Close(PortHandle handle) {
  events.push_back({PortCall::Close, handle, {}, 0});
  if (closeResult != kPortOk) return closeResult;
  openHandles.erase(handle);
  return kPortOk;
}

uint32_t FakePort::SetReadTimeout(PortHandle handle, uint32_t timeout) {
  events.push_back({PortCall::SetReadTimeout, handle, {}, timeout});
  if (readTimeoutsFail) return 0;
  const uint32_t before = readTimeoutInForce;
  if (timeout != 0 && timeout != 0xFFFFFFFFu) readTimeoutInForce = timeout;
  return before;
}

int32_t FakePort::Purge(PortHandle handle) {
  events.push_back({PortCall::Purge, handle, {}, 0});
  if (purgeResult != kPortOk) return purgeResult;
  input_.clear();
  return kPortOk;
}

int32_t FakePort::Write(PortHandle handle, const uint8_t* buffer,
                        uint32_t count, uint32_t* written) {
  Bytes bytes(buffer, buffer + count);
  events.push_back({PortCall::Write, handle, bytes, count});
  if (!writeFailures.empty()) {
    const int32_t result = writeFailures.front();
    writeFailures.pop_front();
    if (result != kPortOk) return result;
  }
  uint32_t taken = count;
  if (!shortWrites.empty()) {
    taken = std::min(count, shortWrites.front());
    shortWrites.pop_front();
  }
  if (written != nullptr) *written = taken;
  if (taken != count) return kPortShortWrite;

  std::optional<Bytes> reply;
  if (!replies_.empty()) {
    reply = replies_.front();
    replies_.pop_front();
  } else if (responder) {
    reply = responder(bytes);
  }
  if (reply) QueueInput(*reply);
  return kPortOk;
}

int32_t FakePort::Read(PortHandle handle, uint8_t* buffer, uint32_t count,
                       uint32_t* received) {
  if (received != nullptr) *received = 0;
  if (!readFailures.empty()) {
    const int32_t result = readFailures.front();
    readFailures.pop_front();
    if (result != kPortOk) {
      events.push_back({PortCall::Read, handle, {}, count});
      return result;
    }
  }
  uint32_t take =
      std::min<uint32_t>(count & 0xFFFFu, static_cast<uint32_t>(input_.size()));
  if (readChunkLimit) take = std::min(take, *readChunkLimit);
  if (!readLimits.empty()) {
    take = std::min(take, readLimits.front());
    readLimits.pop_front();
  }
  if (take > 0) std::memcpy(buffer, input_.data(), take);
  Bytes got(input_.begin(), input_.begin() + take);
  input_.erase(input_.begin(), input_.begin() + take);
  events.push_back({PortCall::Read, handle, got, count});
  if (received != nullptr) *received = take;
  return kPortOk;
}

}  // namespace kavi::testing

// The backend functions, routed to the fake.
namespace kavi {

int32_t ComOpenDevice(const char* name, const LineSettings& line,
                      uint16_t lineFlags, PortHandle* handleOut) {
  return testing::FakePort::Get().Open(name, line, lineFlags, handleOut);
}
int32_t ComClose(PortHandle handle) {
  return testing::FakePort::Get().Close(handle);
}
uint32_t ComSetReadTimeout(PortHandle handle, uint32_t timeout) {
  return testing::FakePort::Get().SetReadTimeout(handle, timeout);
}
int32_t ComPurgeInput(PortHandle handle) {
  return testing::FakePort::Get().Purge(handle);
}
int32_t ComWrite(PortHandle handle, const uint8_t* buffer, uint32_t count,
                 uint32_t* written) {
  return testing::FakePort::Get().Write(handle, buffer, count, written);
}
int32_t ComRead(PortHandle handle, uint8_t* buffer, uint32_t count,
                uint32_t* received) {
  return testing::FakePort::Get().Read(handle, buffer, count, received);
}

}  // namespace kavi
