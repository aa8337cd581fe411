#include "address/address_string.h"

#include <cstddef>

#include "entry/host_log.h"

namespace kavi {
namespace {

constexpr int kMaxAddressLength = 6;

// Allowed characters by position; the one after the last digit must be the
// end of the string.
constexpr const char* kAllowed[kMaxAddressLength + 1] = {"0123456789ABCDEF",
                                                         "0123456789ABCDEF",
                                                         "0123456789ABCDEF",
                                                         "0123456789ABCDEF",
                                                         "0123",
                                                         "0123456789",
                                                         ""};

constexpr int32_t kStationFirstInvalid = 0xFB;
constexpr int32_t kStationLastInvalid = 0xFE;
constexpr int32_t kStationNoReply = 0xFF;  // written to, never read from

bool Contains(const char* set, char c) {
  for (; *set != '\0'; ++set) {
    if (*set == c) return true;
  }
  return false;
}

char ToUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

int32_t DigitValue(char c, char mode) {
  if (c >= '0' && c <= '9') return c - '0';
  if (mode != kDecimalDigits && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int32_t HighestBit(uint16_t gateType) {
  switch (gateType) {
    case KAVI_GATE_8BIT:
      return 7;
    case KAVI_GATE_16BIT:
      return 15;
    case KAVI_GATE_32BIT:
      return 31;
    default:
      return -1;
  }
}

int32_t InternalError() {
  Log(kLevelExchange, "KAVIR> Parse Address() Internal error");
  return KAVI_REFUSED;
}

int32_t GateTypeInvalid() {
  Log(kLevelSetup, "KAVIR> ParseAddress() gate type invalid");
  return KAVI_REFUSED;
}

}  // namespace

int32_t ParseDigits(const char* text, int32_t count, char mode) {
  if (count <= 0) return 0;
  if (text == nullptr) return -1;
  const int32_t base = mode == kDecimalDigits ? 10 : 16;
  int32_t value = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t digit = DigitValue(text[i], mode);
    if (digit < 0) return -1;
    // Callers pass two digits; longer texts must not overflow.
    if (value > (INT32_MAX - digit) / base) return -1;
    value = value * base + digit;
  }
  return value;
}

int32_t ParseAddress(const uint16_t (&gateTypes)[KAVI_GATE_COUNT],
                     ParseRequest& request, uint32_t command) {
  if (request.address == nullptr) return InternalError();

  // Bounded copy: a longer address keeps its first characters and fails
  // the character check at the seventh.
  char work[kAddressBufferSize] = {};
  for (int i = 0; i < kAddressBufferSize - 1 && request.address[i] != '\0';
       ++i) {
    work[i] = ToUpper(request.address[i]);
  }

  for (int pos = 0; work[pos] != '\0'; ++pos) {
    const char* allowed = pos <= kMaxAddressLength ? kAllowed[pos] : "";
    if (!Contains(allowed, work[pos])) {
      Log(kLevelSetup,
          "KAVIR> ParseAddress() found illegal character in address string");
      return KAVI_REFUSED;
    }
  }

  const int32_t station = ParseDigits(&work[0], 2, kHexDigits);
  if (station < 0) {
    Log(kLevelSetup,
        "KAVIR> ParseAddress() unable to read the PLC-address form the "
        "address string");
    return KAVI_REFUSED;
  }
  if (station >= kStationFirstInvalid && station <= kStationLastInvalid) {
    Log(kLevelSetup, "KAVIR> ParseAddress() PLC-address invalid");
    return KAVI_REFUSED;
  }
  request.plcAddress = station;
  request.gateWidth = KAVI_GATE_NONE;

  const int32_t paramIndex = ParseDigits(&work[2], 2, kHexDigits);
  if (paramIndex < 0) {
    Log(kLevelSetup,
        "KAVIR> ParseAddress() unable to read parameter-index form the "
        "address string");
    return KAVI_REFUSED;
  }
  request.paramIndex = paramIndex;

  if (command != KAVI_SINGLE_ADDRESS_PARSER) return KAVI_OK;

  const uint16_t gateType = gateTypes[static_cast<std::size_t>(paramIndex)];
  switch (request.dataType) {
    case 0:
    case 1:
      if (gateType != KAVI_GATE_8BIT && gateType != KAVI_GATE_16BIT) {
        return GateTypeInvalid();
      }
      request.gateWidth = gateType;
      request.valueBits = 16;
      break;
    case 3:
    case 4:
    case 5:
      if (gateType != KAVI_GATE_32BIT) return GateTypeInvalid();
      request.gateWidth = gateType;
      request.valueBits = 32;
      break;
    case KAVI_TYPE_BIT:
      if (gateType == KAVI_GATE_NONE) return GateTypeInvalid();
      if (station == kStationNoReply) {
        Log(kLevelSetup,
            "KAVIR> ParseAddress() Digital gates for PLC-Address 0xFF are not "
            "allowed");
        return KAVI_REFUSED;
      }
      request.gateWidth = gateType;
      request.valueBits = 1;
      break;
    default:
      return InternalError();
  }

  if (request.dataType != KAVI_TYPE_BIT) {
    if (work[4] != '\0') {
      Log(kLevelSetup,
          "KAVIR> ParseAddress() there is a bit number in the address string "
          "although using an analog gate");
      return KAVI_REFUSED;
    }
    request.bitNumber = -1;
    return KAVI_OK;
  }

  const int32_t bitNumber = ParseDigits(&work[4], 2, kDecimalDigits);
  if (bitNumber < 0) {
    Log(kLevelSetup,
        "KAVIR> ParseAddress() unable to read the bit number from the address "
        "string");
    return KAVI_REFUSED;
  }
  const int32_t highestBit = HighestBit(gateType);
  if (highestBit < 0) return InternalError();
  if (bitNumber > highestBit) {
    Log(kLevelSetup, "KAVIR> ParseAddress() invalid bit-number");
    return KAVI_REFUSED;
  }
  request.bitNumber = bitNumber;
  return KAVI_OK;
}

}  // namespace kavi
