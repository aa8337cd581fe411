// What every command handler is, and typed access to the records of its call.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

using CommandHandler = int32_t (*)(CallBlock* call);

// KaviMain has checked that the pointers a handler uses are not null.
inline InstanceBlock& InstanceOf(const CallBlock* call) {
  return *static_cast<InstanceBlock*>(call->instance);
}

template <typename Record>
inline Record& ParamsOf(const CallBlock* call) {
  return *static_cast<Record*>(call->params);
}

}  // namespace kavi
