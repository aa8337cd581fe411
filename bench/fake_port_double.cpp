// The micro-benchmarks on the unit tests' scripted fake port.
#include <memory>
#include <optional>

#include "port_double.h"
#include "serial/testing/fake_port.h"

namespace kaviros::bench {

using kavi::testing::FakePort;

const char* PortDoubleName() { return "fake_port"; }

void PortReset() { FakePort::Get().Reset(); }

void PortQueueInput(const Bytes& bytes) { FakePort::Get().QueueInput(bytes); }

void PortReplyToWrites(const std::vector<Bytes>& replies) {
  auto next = std::make_shared<size_t>(0);
  FakePort::Get().responder = [replies,
                               next](const Bytes&) -> std::optional<Bytes> {
    const Bytes& reply = replies[*next];
    *next = (*next + 1) % replies.size();
    return reply;
  };
}

void PortOperationDone() { FakePort::Get().events.clear(); }

}  // namespace kaviros::bench
