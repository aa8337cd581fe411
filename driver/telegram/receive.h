// Reception and checking of the controller's replies. A receiver reads
// exactly the bytes it expects (never more, whatever the line offers), checks
// all of them before any value is used, and leaves what it read in the reply
// buffer whatever the result.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"
#include "telegram/telegram.h"

namespace kavi {

enum ReceiveResult : int32_t {
  kReplyOk = 0,
  kReplyRetry = 1,    // no, incomplete or malformed reply: may be repeated
  kReplyNoRetry = 2,  // the controller refuses, or nothing to expect
};

// L of the long reply the variable gets: 9 for F0-F3, else by index class
// and gate width; 0 when the gate width has no value.
int32_t ExpectedReplyL(const IoRequest& request);

// The long reply to a parameter read or a cycle-value read.
int32_t ReceiveLongSet(const IoRequest& request, const InstanceBlock& block,
                       ReplyBuffer& reply);

// The short reply to a write or to the equipment-status read.
int32_t ReceiveShortSet(const IoRequest& request, const InstanceBlock& block,
                        ReplyBuffer& reply);

}  // namespace kavi
