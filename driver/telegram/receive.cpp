#include "telegram/receive.h"

#include "entry/host_log.h"
#include "entry/host_trace.h"
#include "serial/port.h"

namespace kavi {
namespace {

// The longest L the receivers ever ask for; counts come from here, never
// from the line.
constexpr int32_t kLongestL = 6 + 4;
static_assert(kLongestL + kLongFrameBytes == kLongestReply);
static_assert(kCycleValuesL <= kLongestL);

// Reads count bytes at offset and logs the receiver's own message when they
// do not all come. Offset and count are the receiver's constants, checked
// against the buffer here again so that no slip can overrun it; `received`
// grows by what came, never by more than was asked.
struct Reader {
  PortHandle handle;
  ReplyBuffer& reply;
  const char* timeoutMessage;
  const char* wrongLengthMessage;
  uint32_t received = 0;

  bool Read(int32_t offset, int32_t count) {
    if (offset < 0 || count <= 0 || offset + count > kLongestReply) {
      Log(kLevelExchange, wrongLengthMessage);
      return false;
    }
    uint32_t got = 0;
    const uint32_t asked = static_cast<uint32_t>(count);
    if (ComRead(handle, &reply[offset], asked, &got) != kPortOk) {
      Log(kLevelExchange, timeoutMessage);
      return false;
    }
    received += got < asked ? got : asked;
    if (got < asked) {
      Log(kLevelExchange, wrongLengthMessage);
      return false;
    }
    return true;
  }
};

int32_t ReceiveLong(const IoRequest& request, int32_t l, Reader& reader) {
  ReplyBuffer& reply = reader.reply;

  if (!reader.Read(0, 1)) return kReplyRetry;

  if (reply[0] == kShortStart) {
    // A short telegram where a long one was due: its status says why. Its
    // checksum and end byte stay on the line for the next purge.
    if (!reader.Read(1, 2)) return kReplyRetry;
    const uint8_t status = reply[kShortStatusByte];
    if (status & kStatusTransmissionError) {
      Log(kLevelExchange, "KAVIR> ReceiveLongSet() Internal error");
    }
    if (status & kStatusServiceRequest) {
      Log(kLevelExchange,
          "KAVIR> ReceiveLongSet() error, perhaps wrong value ranges");
    }
    Log(kLevelExchange,
        "KAVIR> ReceiveLongSet() received wrong start character");
    return kReplyRetry;
  }
  if (reply[0] != kLongStart) {
    Log(kLevelExchange,
        "KAVIR> ReceiveLongSet() received wrong start character");
    return kReplyRetry;
  }

  if (!reader.Read(1, l + kLongFrameBytes - 1)) return kReplyRetry;

  if (reply[3] != kLongStart) {
    Log(kLevelExchange, "KAVIR> ReceiveLongSet() wrong length reading");
    return kReplyRetry;
  }
  if (reply[1] != l || reply[2] != l ||
      reply[kLongStationByte] != StationByte(request)) {
    Log(kLevelExchange, "KAVIR> ReceiveLongSet() error checking telegram");
    return kReplyRetry;
  }

  const uint8_t status = reply[kLongStatusByte];
  if (status & kStatusNotReady) {
    Log(kLevelExchange,
        "KAVIR> ReceiveLongSet() error bit set : request disable, equipment "
        "not ready ");
    return kReplyNoRetry;
  }
  if (status & kStatusAcknowledge) {
    Log(kLevelExchange,
        "KAVIR> ReceiveLongSet() error bit set : instruction acknowledgement ");
    return kReplyRetry;
  }
  if (status & kStatusTransmissionError) {
    Log(kLevelExchange,
        "KAVIR> ReceiveLongSet() error bit set : transmission error ");
    return kReplyRetry;
  }

  const uint8_t index = IndexByte(request);
  bool intact = true;
  if (!IsCycleValueIndex(index)) {
    intact = reply[kLongIndexByte] == index;
    if (HasExtensionBytes(index)) {
      for (int32_t i = 0; i < 3; ++i) {
        intact = intact && reply[kLongIndexByte + 1 + i] == kExtensionBytes[i];
      }
    }
  }
  intact = intact &&
           TelegramChecksum(&reply[kLongStationByte], l) ==
               reply[kLongHeadBytes + l] &&
           reply[kLongHeadBytes + l + 1] == kEndByte;
  if (!intact) {
    Log(kLevelExchange, "KAVIR> ReceiveLongSet() error checking telegram");
    return kReplyRetry;
  }
  return kReplyOk;
}

int32_t ReceiveShort(const IoRequest& request, Reader& reader) {
  ReplyBuffer& reply = reader.reply;

  if (!reader.Read(0, kShortLength)) return kReplyRetry;

  if (reply[0] != kShortStart ||
      reply[kShortStationByte] != StationByte(request)) {
    Log(kLevelExchange, "KAVIR> ReceiveShortSet() error checking telegram");
    return kReplyRetry;
  }

  // The equipment status is the value read, not a complaint.
  if (IndexByte(request) != kIndexStatus) {
    const uint8_t status = reply[kShortStatusByte];
    if (status & kStatusNotReady) {
      Log(kLevelExchange,
          "KAVIR> ReceiveShortSet() error bit set : request disable, "
          "equipment not ready ");
      return kReplyNoRetry;
    }
    if (status & kStatusAcknowledge) {
      Log(kLevelExchange,
          "KAVIR> ReceiveShortSet() error bit set : instruction "
          "acknowledgement ");
      return kReplyRetry;
    }
    if (status & kStatusTransmissionError) {
      Log(kLevelExchange,
          "KAVIR> ReceiveShortSet() error bit set : transmission error ");
      return kReplyRetry;
    }
    if (status & kStatusServiceRequest) {
      Log(kLevelExchange,
          "KAVIR> ReceiveShortSet() warning: error bit set : Sevice request ");
      return kReplyNoRetry;
    }
  }

  if (TelegramChecksum(&reply[kShortStationByte], 2) != reply[3] ||
      reply[4] != kEndByte) {
    Log(kLevelExchange, "KAVIR> ReceiveShortSet() error checking telegram");
    return kReplyRetry;
  }
  return kReplyOk;
}

}  // namespace

int32_t ExpectedReplyL(const IoRequest& request) {
  const uint8_t index = IndexByte(request);
  if (IsCycleValueIndex(index)) return kCycleValuesL;
  const int32_t width = ValueWidth(request.gateWidth);
  if (width == 0) return 0;
  return (HasExtensionBytes(index) ? 6 : 3) + width;
}

int32_t ReceiveLongSet(const IoRequest& request, const InstanceBlock& block,
                       ReplyBuffer& reply) {
  const int32_t l = ExpectedReplyL(request);
  if (l == 0) {
    Log(kLevelExchange, "KAVIR> ReceiveLongSet() Internal error");
    return kReplyNoRetry;
  }
  Reader reader{block.portHandle, reply, "KAVIR> ReceiveLongSet() timeout",
                "KAVIR> ReceiveLongSet() wrong length reading"};
  const int32_t result = ReceiveLong(request, l, reader);
  Trace(kTraceReply, reply, reader.received);
  return result;
}

int32_t ReceiveShortSet(const IoRequest& request, const InstanceBlock& block,
                        ReplyBuffer& reply) {
  Reader reader{block.portHandle, reply, "KAVIR> ReceiveShortSet() timeout",
                "KAVIR> ReceiveShortSet() wrong length reading"};
  const int32_t result = ReceiveShort(request, reader);
  Trace(kTraceReply, reply, reader.received);
  return result;
}

}  // namespace kavi
