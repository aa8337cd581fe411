// Reading values from the controller into the host's value slots.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"
#include "telegram/telegram.h"

namespace kavi {

// The exchange a read makes, chosen from the parameter index.
enum class ReadKind : int32_t {
  Status = 0,      // F5: short request, the short reply's status byte
  CycleValue = 1,  // one of F0-F3 out of the cycle-value reply
  Parameter = 2,   // long read request and reply
  Block = 3,       // all four cycle values at once
};

int32_t SingleRead(CallBlock* call);  // command 5
int32_t BlockRead(CallBlock* call);   // command 6

// Builds the request once, makes up to five attempts of purge, send and
// receive, and stores the value. 0 stored, 1 refused or failed without
// retry, 2 no valid reply in five attempts.
int32_t Read(CallBlock* call, ReadKind kind);

// Stores the value whose first byte is reply[position] into the request's
// value slot. 0, or 1 (logged, nothing stored) for a request the slot table
// has no row for.
int32_t StoreSingleData(const IoRequest& request, const ReplyBuffer& reply,
                        int32_t position);

// Stores the four cycle values starting at reply[position] (byte 6 of the
// cycle-value reply) into the request's 8-byte value slot. 0, or 1 (logged)
// when there is no slot or the position does not fit the buffer.
int32_t StoreBlockData(const IoRequest& request, const ReplyBuffer& reply,
                       int32_t position);

}  // namespace kavi
