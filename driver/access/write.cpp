#include "access/write.h"

#include "access/read.h"
#include "access/value_slot.h"
#include "entry/call_block.h"
#include "entry/host_log.h"
#include "serial/port.h"
#include "telegram/receive.h"
#include "telegram/telegram.h"

namespace kavi {
namespace {

// The data bytes of a write, and what a read-back must then show.
struct WriteData {
  uint8_t bytes[kLongestWriteValue];
  int32_t count;
  uint16_t expected;
};

void InternalError() {
  Log(kLevelExchange, "KAVIR> WriteParameter() Internal error");
}

void NoThirtyTwoBit() {
  Log(kLevelExchange,
      "KAVIR> WriteParameter() Error: Writing to 32-bit gates is not "
      "supported");
}

void SetData(WriteData& data, uint16_t word, int32_t gateWidth) {
  data.bytes[0] = static_cast<uint8_t>(word & 0xFF);
  data.bytes[1] = static_cast<uint8_t>(word >> 8);
  data.count = gateWidth == KAVI_GATE_8BIT ? 1 : 2;
}

// Runs SingleRead on a request of the write's own, with the caller's
// instance, into a 4-byte slot of its own.
int32_t ReadInto(const CallBlock* call, IoRequest& request,
                 uint8_t (&slot)[kSingleSlotBytes]) {
  request.value = slot;
  CallBlock read{};
  read.instance = call->instance;
  read.command = KAVI_SINGLE_READ;
  read.params = &request;
  return SingleRead(&read);
}

int32_t ValueData(const IoRequest& request, uint16_t value, WriteData& data) {
  switch (request.gateWidth) {
    case KAVI_GATE_8BIT:
      // A byte, or a byte's sign extension: anything else would reach the
      // controller as a different number.
      if (value > 0x00FF && value < 0xFF80) {
        Log(kLevelExchange, "KAVIR> WriteParameter() Only 8 bit can be stored");
        return KAVI_REFUSED;
      }
      break;
    case KAVI_GATE_16BIT:
      break;
    case KAVI_GATE_32BIT:
      NoThirtyTwoBit();
      return KAVI_REFUSED;
    default:
      InternalError();
      return KAVI_REFUSED;
  }
  SetData(data, value, request.gateWidth);
  data.expected = value;
  return KAVI_OK;
}

int32_t BitData(const CallBlock* call, const IoRequest& request, uint16_t value,
                WriteData& data) {
  if (StationByte(request) == kNoReplyStation) {
    Log(kLevelExchange,
        "KAVIR> WriteParameter() Error: Writing special digital gates to "
        "PLC-Address 0xFF is not possible");
    return KAVI_REFUSED;
  }
  if (request.gateWidth == KAVI_GATE_32BIT) {
    NoThirtyTwoBit();
    return KAVI_REFUSED;
  }
  if (request.gateWidth != KAVI_GATE_8BIT &&
      request.gateWidth != KAVI_GATE_16BIT) {
    InternalError();
    return KAVI_REFUSED;
  }
  // A bit outside the parameter would leave it as it is, and report success.
  const int32_t bits = ValueWidth(request.gateWidth) * 8;
  if (request.bitNumber < 0 || request.bitNumber >= bits) {
    InternalError();
    return KAVI_REFUSED;
  }

  IoRequest current = request;
  current.bitNumber = -1;
  current.valueBits = 16;
  current.dataType = KAVI_TYPE_UINT16;
  uint8_t slot[kSingleSlotBytes] = {};
  const int32_t read = ReadInto(call, current, slot);
  if (read != KAVI_OK) {
    Log(kLevelExchange,
        "KAVIR> WriteParameter() error SingleRead() for spec. dig. gate, "
        "rc=%d",
        read);
    return read;
  }

  // The host's value is a boolean: any other word must not reach the
  // neighbouring bits.
  const uint16_t bit = value != 0 ? 1 : 0;
  const uint16_t mask = static_cast<uint16_t>(1u << request.bitNumber);
  const uint16_t merged = static_cast<uint16_t>((LoadSlotWord(slot) & ~mask) |
                                                (bit << request.bitNumber));
  SetData(data, merged, request.gateWidth);
  data.expected = bit;
  return KAVI_OK;
}

// The controller asked for attention after the write: what it holds now
// decides.
int32_t Verify(const CallBlock* call, const IoRequest& request, uint8_t status,
               uint16_t expected) {
  if ((status & (kStatusNotReady | kStatusAcknowledge |
                 kStatusTransmissionError)) != 0) {
    Log(kLevelExchange,
        "KAVIR> WriteParameter() device not able or ready to do this job");
    return KAVI_REFUSED;
  }
  IoRequest readBack = request;
  uint8_t slot[kSingleSlotBytes] = {};
  if (ReadInto(call, readBack, slot) != KAVI_OK) {
    Log(kLevelExchange, "KAVIR> WriteParameter() error while reading PI=%x",
        request.paramIndex);
    return KAVI_REFUSED;
  }
  if (LoadSlotWord(slot) != expected) {
    Log(kLevelExchange,
        "KAVIR> WriteParameter() writing was not successful at the moment");
    return KAVI_REFUSED;
  }
  return KAVI_OK;
}

}  // namespace

int32_t SingleWrite(CallBlock* call) {
  const InstanceBlock& block = InstanceOf(call);
  const IoRequest& request = ParamsOf<IoRequest>(call);
  if (block.portOpen == 0) {
    Log(kLevelSetup, "KAVIR> SingleWrite() com-port is not open");
    return KAVI_REFUSED;
  }
  const uint8_t index = IndexByte(request);
  int32_t result;
  if (IsCycleValueIndex(index)) {
    Log(kLevelExchange, "KAVIR> SingleWrite() Error:Try to write cycle data");
    result = KAVI_REFUSED;
  } else if (index == kIndexReset) {
    result = ResetEquipment(call);
  } else if (index == kIndexStatus) {
    Log(kLevelExchange, "KAVIR> SingleWrite() Error:Try to write equipment ok");
    result = KAVI_REFUSED;
  } else {
    result = WriteParameter(call);
  }
  if (result != KAVI_OK) {
    Log(kLevelExchange, "KAVIR> SingleWrite() error while writing PI=0x%x",
        request.paramIndex);
  }
  return result;
}

int32_t WriteParameter(CallBlock* call) {
  InstanceBlock& block = InstanceOf(call);
  const IoRequest& request = ParamsOf<IoRequest>(call);
  if (request.value == nullptr) {
    InternalError();
    return KAVI_REFUSED;
  }
  const uint16_t value = LoadSlotWord(request.value);

  WriteData data{};
  int32_t prepared;
  switch (request.valueBits) {
    case 1:
      prepared = BitData(call, request, value, data);
      break;
    case 16:
      prepared = ValueData(request, value, data);
      break;
    case 32:
      NoThirtyTwoBit();
      return KAVI_REFUSED;
    default:
      InternalError();
      return KAVI_REFUSED;
  }
  if (prepared != KAVI_OK) return prepared;

  // Built once, in a buffer of its own: the reads of a bit write and of a
  // verification go through txBuffer and rxBuffer.
  RequestBuffer telegram;
  int32_t length = 0;
  if (BuildRequestWrite(request, data.bytes, data.count, telegram, length) !=
      0) {
    return KAVI_REFUSED;  // the builder has logged
  }

  for (int32_t attempt = 1; attempt <= kAttempts; ++attempt) {
    ComPurgeInput(block.portHandle);
    if (Send(block, telegram, length) != 0) {
      Log(kLevelExchange,
          "KAVIR> WriteParameter() error sending request, retry %d", attempt);
      continue;
    }
    if (StationByte(request) == kNoReplyStation) return KAVI_OK;
    const int32_t received = ReceiveShortSet(request, block, block.rxBuffer);
    if (received == kReplyOk) return KAVI_OK;
    if (received == kReplyRetry) {
      Log(kLevelExchange,
          "KAVIR> WriteParameter() error reading reply, retry %d", attempt);
      continue;
    }
    return Verify(call, request, block.rxBuffer[kShortStatusByte],
                  data.expected);
  }
  return KAVI_SEVERE;
}

int32_t ResetEquipment(CallBlock* call) {
  InstanceBlock& block = InstanceOf(call);
  const IoRequest& request = ParamsOf<IoRequest>(call);
  int32_t length = 0;
  if (BuildRequestShortSet(request, block.txBuffer, length) != 0) {
    return KAVI_REFUSED;  // the builder has logged
  }
  const int32_t sent = Send(block, block.txBuffer, length);
  if (sent != 0) {
    Log(kLevelExchange, "KAVIR> ResetEquipment() error sending request");
  }
  return sent;
}

}  // namespace kavi
