#include "access/read.h"

#include "access/value_slot.h"
#include "entry/call_block.h"
#include "entry/host_log.h"
#include "serial/port.h"
#include "telegram/receive.h"

namespace kavi {
namespace {

// A row of the slot table: how many reply bytes a single value takes and
// where in the slot it goes.
struct SingleLayout {
  int32_t sourceBytes;
  int32_t slotOffset;  // kSlotWordOffset (16 bits) or kSlotDwordOffset
  bool bit;            // store (value >> bitNumber) AND 1
  bool signExtend;     // an 8-bit value into a signed 16-bit word
};

// Only the combinations the address parser produces have a row: anything
// else would store bytes that are not the value (a 32-bit value out of a
// 16-bit reply, a bit beyond the parameter's width).
bool SingleLayoutOf(const IoRequest& request, SingleLayout& layout) {
  const int32_t width = ValueWidth(request.gateWidth);
  switch (request.valueBits) {
    case 16:
      if (width != 1 && width != 2) return false;
      layout = {width, kSlotWordOffset, false,
                width == 1 && request.dataType == KAVI_TYPE_INT16};
      return true;
    case 32:
      if (width != 4) return false;
      layout = {width, kSlotDwordOffset, false, false};
      return true;
    case 1:
      if (width == 0 || request.bitNumber < 0 ||
          request.bitNumber >= width * 8) {
        return false;
      }
      layout = {width, width == 4 ? kSlotDwordOffset : kSlotWordOffset, true,
                false};
      return true;
    default:
      return false;
  }
}

// Where the kind's reply carries the value, and how many bytes it has there.
struct ReplyValue {
  int32_t position;
  int32_t bytes;
};

bool ReplyValueOf(ReadKind kind, const IoRequest& request, ReplyValue& value) {
  const uint8_t index = IndexByte(request);
  switch (kind) {
    case ReadKind::Status:
      value = {kStatusValueOffset, 1};
      return true;
    case ReadKind::CycleValue:
      if (!IsCycleValueIndex(index)) return false;
      value = {CycleValueOffset(index), CycleValueWidth(index)};
      return true;
    case ReadKind::Parameter:
      value = {ParameterValueOffset(index), ValueWidth(request.gateWidth)};
      return true;
    case ReadKind::Block:
      value = {kCycleValuesOffset, kCycleValuesBytes};
      return true;
  }
  return false;
}

// Refuses, before anything is sent, every request whose value could not be
// stored from the reply the kind brings.
bool Storable(ReadKind kind, const IoRequest& request, ReplyValue& value) {
  if (request.value == nullptr || !ReplyValueOf(kind, request, value)) {
    Log(kLevelExchange, "KAVIR> Read() Internal error");
    return false;
  }
  if (kind == ReadKind::Block) return true;
  SingleLayout layout;
  if (!SingleLayoutOf(request, layout)) {
    Log(kLevelExchange, "KAVIR> StoreSingleData() Internal error");
    return false;
  }
  // E.g. two bytes of F2, which the cycle-value reply carries in one.
  if (layout.sourceBytes != value.bytes) {
    Log(kLevelExchange, "KAVIR> Read() Internal error");
    return false;
  }
  return true;
}

bool FitsReply(int32_t position, int32_t count) {
  return position >= 0 && count >= 0 && position + count <= KAVI_RX_BUFFER_SIZE;
}

uint16_t LowFirst(uint8_t low, uint8_t high) {
  return static_cast<uint16_t>(low | (high << 8));
}

int32_t ReadOnce(const IoRequest& request, ReadKind kind,
                 InstanceBlock& block) {
  return kind == ReadKind::Status
             ? ReceiveShortSet(request, block, block.rxBuffer)
             : ReceiveLongSet(request, block, block.rxBuffer);
}

// What both read commands refuse before any exchange; each names itself
// when the port is closed, while station 0xFF has one message for both.
bool RefusedBeforeExchange(const InstanceBlock& block, const IoRequest& request,
                           const char* portClosedMessage) {
  if (block.portOpen == 0) {
    Log(kLevelSetup, portClosedMessage);
    return true;
  }
  if (StationByte(request) == kNoReplyStation) {
    Log(kLevelSetup,
        "KAVIR> SingleRead() Error: trying to read although PLC-Address is "
        "0xFF");
    return true;
  }
  return false;
}

}  // namespace

int32_t SingleRead(CallBlock* call) {
  const InstanceBlock& block = InstanceOf(call);
  const IoRequest& request = ParamsOf<IoRequest>(call);
  if (RefusedBeforeExchange(block, request,
                            "KAVIR> SingleRead() com-port is not open")) {
    return KAVI_REFUSED;
  }
  const uint8_t index = IndexByte(request);
  int32_t result;
  if (IsCycleValueIndex(index)) {
    result = Read(call, ReadKind::CycleValue);
  } else if (index == kIndexReset) {
    Log(kLevelExchange, "KAVIR> Single Read() Warning:Try to read reset");
    return KAVI_OK;
  } else if (index == kIndexStatus) {
    result = Read(call, ReadKind::Status);
  } else {
    result = Read(call, ReadKind::Parameter);
  }
  if (result != KAVI_OK) {
    Log(kLevelExchange, "KAVIR> SingleRead() error while reading PI=%x",
        request.paramIndex);
  }
  return result;
}

int32_t BlockRead(CallBlock* call) {
  const InstanceBlock& block = InstanceOf(call);
  const IoRequest& request = ParamsOf<IoRequest>(call);
  if (RefusedBeforeExchange(block, request,
                            "KAVIR> BlockRead() com-port is not open")) {
    return KAVI_REFUSED;
  }
  // Any other index would make the short request a reset or status request.
  if (!IsCycleValueIndex(IndexByte(request))) {
    Log(kLevelExchange, "KAVIR> BlockRead() Internal error");
    return KAVI_REFUSED;
  }
  return Read(call, ReadKind::Block);
}

int32_t Read(CallBlock* call, ReadKind kind) {
  InstanceBlock& block = InstanceOf(call);
  const IoRequest& request = ParamsOf<IoRequest>(call);

  ReplyValue value;
  if (!Storable(kind, request, value)) return KAVI_REFUSED;

  int32_t length = 0;
  const int32_t built =
      kind == ReadKind::Parameter
          ? BuildRequestLongSet(request, block.txBuffer, length)
          : BuildRequestShortSet(request, block.txBuffer, length);
  if (built != 0) return KAVI_REFUSED;  // the builder has logged

  for (int32_t attempt = 1; attempt <= kAttempts; ++attempt) {
    // Whatever a late reply left on the line must not pass for this one.
    ComPurgeInput(block.portHandle);
    if (Send(block, block.txBuffer, length) != 0) {
      Log(kLevelExchange, "KAVIR> Read() error sending request, retry %d",
          attempt);
      continue;
    }
    const int32_t received = ReadOnce(request, kind, block);
    if (received == kReplyOk) {
      const int32_t stored =
          kind == ReadKind::Block
              ? StoreBlockData(request, block.rxBuffer, value.position)
              : StoreSingleData(request, block.rxBuffer, value.position);
      // No value arrived in the slot: the host must not think one did.
      return stored == 0 ? KAVI_OK : KAVI_REFUSED;
    }
    if (received == kReplyRetry) {
      Log(kLevelExchange, "KAVIR> Read() error reading reply, retry %d",
          attempt);
      continue;
    }
    Log(kLevelExchange, "KAVIR> Read() error reading reply");
    return KAVI_REFUSED;
  }
  return KAVI_SEVERE;
}

int32_t StoreSingleData(const IoRequest& request, const ReplyBuffer& reply,
                        int32_t position) {
  SingleLayout layout;
  if (request.value == nullptr || !SingleLayoutOf(request, layout) ||
      !FitsReply(position, layout.sourceBytes)) {
    Log(kLevelExchange, "KAVIR> StoreSingleData() Internal error");
    return KAVI_REFUSED;
  }
  uint32_t source = 0;
  for (int32_t i = layout.sourceBytes - 1; i >= 0; --i) {
    source = (source << 8) | reply[position + i];
  }
  if (layout.bit) {
    source = (source >> request.bitNumber) & 1u;
  } else if (layout.signExtend && (source & 0x80u) != 0) {
    source |= 0xFF00u;
  }
  if (layout.slotOffset == kSlotDwordOffset) {
    StoreSlotDword(request.value, source);
  } else {
    StoreSlotWord(request.value, static_cast<uint16_t>(source));
  }
  return KAVI_OK;
}

int32_t StoreBlockData(const IoRequest& request, const ReplyBuffer& reply,
                       int32_t position) {
  if (request.value == nullptr || !FitsReply(position, kCycleValuesBytes)) {
    Log(kLevelExchange, "KAVIR> StoreBlockData() Internal error");
    return KAVI_REFUSED;
  }
  const uint8_t* source = &reply[position];
  // F2 is an 8-bit value; the block holds it as a signed 16-bit word.
  const uint8_t f2 = source[4];
  const uint16_t words[kBlockSlotWords] = {
      LowFirst(source[0], source[1]), LowFirst(source[2], source[3]),
      LowFirst(f2, (f2 & 0x80) != 0 ? 0xFF : 0x00),
      LowFirst(source[5], source[6])};
  StoreSlotBlock(request.value, words);
  return KAVI_OK;
}

}  // namespace kavi
