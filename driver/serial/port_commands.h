// Commands that close, reopen and reconfigure the port at run time.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

int32_t CloseCom(CallBlock* call);          // command 12
int32_t ReOpenCom(CallBlock* call);         // command 13
int32_t ChangeKaviParams(CallBlock* call);  // command 15

}  // namespace kavi
