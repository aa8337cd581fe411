// Writing values to the controller, and its reset.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

int32_t SingleWrite(CallBlock* call);  // command 7

}  // namespace kavi
