#include "telegram/telegram.h"

#include "entry/host_log.h"
#include "entry/host_trace.h"
#include "serial/port.h"

namespace kavi {
namespace {

// The one layout of long requests, read and write alike. The caller has
// checked that dataCount fits.
int32_t BuildLongRequest(const IoRequest& request, uint8_t control,
                         const uint8_t* data, int32_t dataCount,
                         RequestBuffer& telegram) {
  const uint8_t index = IndexByte(request);
  int32_t at = kLongStationByte;
  telegram[0] = kLongStart;
  telegram[3] = kLongStart;
  telegram[at++] = StationByte(request);
  telegram[at++] = control;
  telegram[at++] = index;
  if (HasExtensionBytes(index)) {
    for (const uint8_t extension : kExtensionBytes) telegram[at++] = extension;
  }
  for (int32_t i = 0; i < dataCount; ++i) telegram[at++] = data[i];
  const int32_t l = at - kLongHeadBytes;
  telegram[1] = static_cast<uint8_t>(l);
  telegram[2] = static_cast<uint8_t>(l);
  telegram[at++] = TelegramChecksum(&telegram[kLongStationByte], l);
  telegram[at++] = kEndByte;
  return at;
}

}  // namespace

uint8_t TelegramChecksum(const uint8_t* bytes, int32_t count) {
  if (bytes == nullptr || count <= 0) return 0;
  uint32_t sum = 0;
  for (int32_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

int32_t BuildRequestLongSet(const IoRequest& request, RequestBuffer& telegram,
                            int32_t& length) {
  length = BuildLongRequest(request, kControlRead, nullptr, 0, telegram);
  return 0;
}

int32_t BuildRequestShortSet(const IoRequest& request, RequestBuffer& telegram,
                             int32_t& length) {
  telegram[0] = kShortStart;
  telegram[1] = StationByte(request);
  const uint8_t index = IndexByte(request);
  uint8_t control;
  if (IsCycleValueIndex(index)) {
    control = kControlRead;
  } else if (index == kIndexReset) {
    control = kControlReset;
  } else if (index == kIndexStatus) {
    control = kControlStatus;
  } else {
    Log(kLevelExchange, "KAVIR> BuildRequestShortSet() Internal error");
    return 1;
  }
  telegram[2] = control;
  telegram[3] = TelegramChecksum(&telegram[1], 2);
  telegram[4] = kEndByte;
  length = kShortLength;
  return 0;
}

int32_t BuildRequestWrite(const IoRequest& request, const uint8_t* data,
                          int32_t count, RequestBuffer& telegram,
                          int32_t& length) {
  if (data == nullptr || count < 1 || count > kLongestWriteValue) {
    Log(kLevelExchange, "KAVIR> BuildRequestWrite() Internal error");
    return 1;
  }
  length = BuildLongRequest(request, kControlWrite, data, count, telegram);
  return 0;
}

int32_t Send(const InstanceBlock& block, const RequestBuffer& telegram,
             int32_t length) {
  if (length <= 0 || length > KAVI_TX_BUFFER_SIZE) {
    Log(kLevelExchange, "KAVIR> SEND> Unable to send message.");
    return 2;
  }
  const uint32_t count = static_cast<uint32_t>(length);
  uint32_t written = 0;
  const int32_t result = ComWrite(block.portHandle, telegram, count, &written);
  // What went out, as far as the port says; never past the telegram.
  Trace(kTraceRequest, telegram, written < count ? written : count);
  if (result != kPortOk || written != count) {
    Log(kLevelExchange, "KAVIR> SEND> Unable to send message.");
    return 2;
  }
  return 0;
}

}  // namespace kavi
