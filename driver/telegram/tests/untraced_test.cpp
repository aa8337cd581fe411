// A host without a trace function: the driver finds none and works as ever.
#include <gtest/gtest.h>

#include "entry/host_trace.h"
#include "log_capture.h"
#include "serial/testing/fake_port.h"
#include "telegram/receive.h"
#include "telegram/telegram.h"

namespace kavi::testing {
namespace {

TEST(UntracedTest, HostHasNoTraceFunction) {
  EXPECT_EQ(HostTraceFunction(), nullptr);
  Trace(KAVI_TRACE_REQUEST, nullptr, 0);  // nothing to call, nothing happens
}

TEST(UntracedTest, ExchangeWorksWithoutTrace) {
  FakePort& port = FakePort::Get();
  port.Reset();
  ClearLog();
  InstanceBlock block{};
  block.portHandle = 0x100;
  IoRequest request{};
  request.plcAddress = 0x01;
  request.paramIndex = 0x10;
  request.gateWidth = KAVI_GATE_16BIT;
  port.QueueReply({0x68, 0x08, 0x08, 0x68, 0x01, 0x00, 0x10, 0x01, 0x01, 0x00,
                   0x34, 0x12, 0x59, 0x16});

  int32_t length = 0;
  ASSERT_EQ(BuildRequestLongSet(request, block.txBuffer, length), 0);
  EXPECT_EQ(Send(block, block.txBuffer, length), 0);
  EXPECT_EQ(ReceiveLongSet(request, block, block.rxBuffer), 0);
  EXPECT_EQ(block.rxBuffer[ParameterValueOffset(0x10)], 0x34);
  EXPECT_TRUE(Logged().empty());
}

}  // namespace
}  // namespace kavi::testing
