// Writing values to the controller, and its reset.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

int32_t SingleWrite(CallBlock* call);  // command 7

// Writes an 8- or 16-bit parameter, or one bit of it (read, merge, write),
// in up to five attempts, reading it back when the controller asks for
// attention. 0 written; 1 refused, or not kept by the controller; 2 no
// valid reply in five attempts; or the failed result of the read of the
// current value (bit write).
int32_t WriteParameter(CallBlock* call);

// Sends the reset telegram once, no purge, no reply: 0, or Send's 2.
int32_t ResetEquipment(CallBlock* call);

}  // namespace kavi
