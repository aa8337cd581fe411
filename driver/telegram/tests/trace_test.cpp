// What the host's trace function sees: each request once it is written, each
// reply once a receiver has read it, exactly the bytes that crossed the line.
#include <gtest/gtest.h>

#include "entry/host_trace.h"
#include "telegram/receive.h"
#include "telegram/telegram.h"
#include "telegram_fixture.h"

namespace kavi::testing {
namespace {

using ::kavi::testing::PrintTo;

const Bytes kRead10{0x68, 0x06, 0x06, 0x68, 0x01, 0x89,
                    0x10, 0x01, 0x01, 0x00, 0x9C, 0x16};
const Bytes kReply10{0x68, 0x08, 0x08, 0x68, 0x01, 0x00, 0x10,
                     0x01, 0x01, 0x00, 0x34, 0x12, 0x59, 0x16};
const IoRequest k10 = Variable(0x01, 0x10, KAVI_GATE_16BIT);

class TraceTest : public TelegramTest {
 protected:
  int32_t SendRead10() {
    int32_t length = 0;
    BuildRequestLongSet(k10, block.txBuffer, length);
    return Send(block, block.txBuffer, length);
  }
};

TEST_F(TraceTest, HostFunctionIsFound) {
  EXPECT_NE(HostTraceFunction(), nullptr);
}

TEST_F(TraceTest, ExchangeIsTracedInOrder) {
  port().QueueReply(kReply10);
  ASSERT_EQ(SendRead10(), 0);
  ASSERT_EQ(ReceiveLongSet(k10, block, block.rxBuffer), 0);
  EXPECT_EQ(Traced(), (std::vector<TraceRecord>{{KAVI_TRACE_REQUEST, kRead10},
                                                {KAVI_TRACE_REPLY, kReply10}}));
}

TEST_F(TraceTest, BuildingAloneTracesNothing) {
  int32_t length = 0;
  BuildRequestLongSet(k10, block.txBuffer, length);
  const uint8_t data[2] = {0x34, 0x12};
  BuildRequestWrite(k10, data, 2, block.txBuffer, length);
  EXPECT_TRUE(Traced().empty());
}

// ---- Requests: the bytes the port took
// ----------------------------------------

struct SendTraceCase {
  std::string name;
  std::vector<int32_t> writeFailures;
  std::vector<uint32_t> shortWrites;
  size_t traced;
};

class SendTraceTest : public TraceTest,
                      public ::testing::WithParamInterface<SendTraceCase> {};

TEST_P(SendTraceTest, TracesWhatWentOut) {
  const SendTraceCase& c = GetParam();
  port().writeFailures.assign(c.writeFailures.begin(), c.writeFailures.end());
  port().shortWrites.assign(c.shortWrites.begin(), c.shortWrites.end());
  SendRead10();
  const Bytes sent(kRead10.begin(),
                   kRead10.begin() + static_cast<std::ptrdiff_t>(c.traced));
  EXPECT_EQ(Traced(), (std::vector<TraceRecord>{{KAVI_TRACE_REQUEST, sent}}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SendTraceTest,
    ::testing::Values(SendTraceCase{"Whole", {}, {}, 12},
                      SendTraceCase{"ShortWrite", {}, {5}, 5},
                      SendTraceCase{
                          "WriteCallFails", {kPortSystemFailed}, {}, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(TraceTest, RefusedLengthIsNotTraced) {
  EXPECT_EQ(Send(block, block.txBuffer, 0), 2);
  EXPECT_TRUE(Traced().empty());
}

// ---- Replies: the bytes that arrived, also when they are rejected
// -------------

struct ReceiveTraceCase {
  std::string name;
  bool shortReceiver;
  IoRequest request;
  Bytes line;
  size_t traced;
};

class ReceiveTraceTest
    : public TraceTest,
      public ::testing::WithParamInterface<ReceiveTraceCase> {};

TEST_P(ReceiveTraceTest, TracesOneReplyWithWhatCame) {
  const ReceiveTraceCase& c = GetParam();
  port().QueueInput(c.line);
  if (c.shortReceiver) {
    ReceiveShortSet(c.request, block, block.rxBuffer);
  } else {
    ReceiveLongSet(c.request, block, block.rxBuffer);
  }
  const Bytes came(c.line.begin(),
                   c.line.begin() + static_cast<std::ptrdiff_t>(c.traced));
  EXPECT_EQ(Traced(), (std::vector<TraceRecord>{{KAVI_TRACE_REPLY, came}}));
}

Bytes Flood() {
  Bytes bytes = kReply10;
  bytes.resize(100, 0xEE);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReceiveTraceTest,
    ::testing::Values(
        ReceiveTraceCase{"LongGood", false, k10, kReply10, 14},
        ReceiveTraceCase{"LongSilent", false, k10, {}, 0},
        ReceiveTraceCase{"LongPartial", false, k10,
                         Bytes(kReply10.begin(), kReply10.begin() + 6), 6},
        ReceiveTraceCase{"LongWrongStart", false, k10, {0x55, 0x68}, 1},
        ReceiveTraceCase{"LongWrongChecksum", false, k10,
                         With(kReply10, 12, 0x00), 14},
        ReceiveTraceCase{"LongGotShortTelegram", false, k10, Short(0x01, 0xA0),
                         3},
        ReceiveTraceCase{"LongFlooded", false, k10, Flood(), 14},
        ReceiveTraceCase{"ShortGood", true, k10, Short(0x01, 0x00), 5},
        ReceiveTraceCase{"ShortSilent", true, k10, {}, 0},
        ReceiveTraceCase{"ShortPartial", true, k10, {0x10, 0x01}, 2},
        ReceiveTraceCase{"ShortNotReady", true, k10, Short(0x01, 0x08), 5},
        ReceiveTraceCase{"ShortFlooded", true, k10, Flood(), 5}),
    [](const auto& info) { return info.param.name; });

TEST_F(TraceTest, ReadCallFailureTracesNothingReceived) {
  port().QueueInput(kReply10);
  port().readFailures.push_back(kPortSystemFailed);
  ReceiveLongSet(k10, block, block.rxBuffer);
  EXPECT_EQ(Traced(), (std::vector<TraceRecord>{{KAVI_TRACE_REPLY, {}}}));
}

TEST_F(TraceTest, NothingTracedWhenNothingIsRead) {
  port().QueueInput(kReply10);
  EXPECT_EQ(ReceiveLongSet(Variable(0x01, 0x10, KAVI_GATE_NONE), block,
                           block.rxBuffer),
            2);
  EXPECT_TRUE(Traced().empty());
}

}  // namespace
}  // namespace kavi::testing
