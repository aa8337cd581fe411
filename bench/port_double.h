// The port as the micro-benchmarks see it: replies held in memory, handed to
// the driver's port operations by a test double. Two doubles implement it:
// memory_port.cpp, which costs next to nothing and allocates nothing, so that
// the figures are the driver's; and the unit tests' scripted fake port, which
// records every call, so that its figures show what the double adds.
#pragma once

#include <cstdint>
#include <vector>

namespace kaviros::bench {

using Bytes = std::vector<uint8_t>;

// Which double this program links.
const char* PortDoubleName();

// No input waiting, no replies scripted, nothing recorded.
void PortReset();

// Bytes already waiting on the line, for a receiver to read.
void PortQueueInput(const Bytes& bytes);

// From now on every complete write makes the next of these replies arrive,
// round and round.
void PortReplyToWrites(const std::vector<Bytes>& replies);

// Called once per timed operation: a double that records calls forgets
// them here, so that its record does not grow without end.
void PortOperationDone();

}  // namespace kaviros::bench
