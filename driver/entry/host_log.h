// The driver's one way out: every message goes to the host's log function
// (`err` from MELBAX.dll on Windows, `melbax_err` from the host process
// elsewhere). This file is the only place that names it.
#pragma once

#include <cstdint>
#include <type_traits>

#include "kaviros/kaviros.h"

#if defined(_WIN32)
extern "C" int32_t __cdecl err(int32_t level, const char* format, ...);
#define KAVI_HOST_LOG_FUNCTION err
#else
#define KAVI_HOST_LOG_FUNCTION melbax_err
#endif

namespace kavi {

inline constexpr int32_t kLevelExchange = KAVI_LEVEL_EXCHANGE;
inline constexpr int32_t kLevelSetup = KAVI_LEVEL_SETUP;

// The host formats; the driver passes only 32-bit integers, as it promises.
template <typename... Args>
inline void Log(int32_t level, const char* format, Args... args) {
  static_assert((std::is_same_v<Args, int32_t> && ...),
                "log arguments are 32-bit signed integers");
  KAVI_HOST_LOG_FUNCTION(level, format, args...);
}

}  // namespace kavi
