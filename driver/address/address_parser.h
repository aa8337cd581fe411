// The commands that declare variables from address strings.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

int32_t SingleAddressParser(CallBlock* call);  // command 3
int32_t BlockAddressParser(CallBlock* call);   // command 4

}  // namespace kavi
