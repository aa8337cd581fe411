// Commands that describe, start and end an instance.
#pragma once

#include <cstdint>

#include "kaviros/kaviros.h"

namespace kavi {

inline constexpr uint32_t kDriverInfoFixedA = 70;
inline constexpr uint32_t kDriverInfoFixedB = 4;
inline constexpr uint32_t kDriverInfoFixedC = 1;
inline constexpr char kDeviceName[] = "Gossen Metrawatt R2600";
extern const char kBanner[];

int32_t GetKaviInfo(CallBlock* call);  // command 14
int32_t ColdStart(CallBlock* call);    // command 1
int32_t WarmStart(CallBlock* call);    // command 2
int32_t EndKavi(CallBlock* call);      // command 11

// The controller's default width of every parameter index.
void FillDefaultGateTypes(uint16_t (&gateTypes)[KAVI_GATE_COUNT]);

}  // namespace kavi
