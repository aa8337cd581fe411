// Reading values from the controller into the host's value slots.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

int32_t SingleRead(CallBlock* call);  // command 5
int32_t BlockRead(CallBlock* call);   // command 6

}  // namespace kavi
