#include "address/address_parser.h"

#include "address/address_string.h"
#include "entry/call_block.h"
#include "entry/host_log.h"

namespace kavi {
namespace {

constexpr int32_t kFirstCycleValue = 0xF0;
constexpr int32_t kLastCycleValue = 0xF3;
constexpr int32_t kBlockSize = 4;

}  // namespace

int32_t SingleAddressParser(CallBlock* call) {
  ParseRequest& request = ParamsOf<ParseRequest>(call);
  if (ParseAddress(InstanceOf(call).gateTypes, request,
                   KAVI_SINGLE_ADDRESS_PARSER) != KAVI_OK) {
    return KAVI_REFUSED;
  }
  // A single cycle value is read only as a signed 16-bit value.
  if (request.paramIndex >= kFirstCycleValue &&
      request.paramIndex <= kLastCycleValue &&
      request.dataType != KAVI_TYPE_INT16) {
    Log(kLevelExchange,
        "KAVIR> SingleAddressParser() wrong data type for block definition");
    return KAVI_REFUSED;
  }
  return KAVI_OK;
}

int32_t BlockAddressParser(CallBlock* call) {
  ParseRequest& request = ParamsOf<ParseRequest>(call);
  if (request.blockSize != kBlockSize) {
    Log(kLevelSetup, "KAVIR> BlockAddressParser() only blocksize 4 is allowed");
    return KAVI_REFUSED;
  }
  if (ParseAddress(InstanceOf(call).gateTypes, request,
                   KAVI_BLOCK_ADDRESS_PARSER) != KAVI_OK) {
    return KAVI_REFUSED;
  }
  if (request.paramIndex != kFirstCycleValue) {
    Log(kLevelSetup,
        "KAVIR> BlockAddressParser() only a block beginning at F0 is allowed");
    return KAVI_REFUSED;
  }
  // Four 16-bit values. The gate table is left alone: the entry of F2 keeps
  // its 8-bit width, so single reads of F2 still take one byte.
  request.gateWidth = KAVI_GATE_16BIT;
  request.valueBits = 16;
  request.bitNumber = -1;
  return KAVI_OK;
}

}  // namespace kavi
