#include <gtest/gtest.h>

#include <cstring>

#include "driver_fixture.h"

namespace kavi::testing {
namespace {

const LogLine kInternalError{32, "KAVIR> KaviMain() Internal error"};

class DispatchTest : public DriverTest {};

// Codes without a handler: out of range (also negative as signed) and the
// empty slots. Nothing runs, nothing is touched.
class NoHandlerTest : public DispatchTest,
                      public ::testing::WithParamInterface<uint32_t> {};

TEST_P(NoHandlerTest, AnswersInternalErrorAndTouchesNothing) {
  InstanceBlock before;
  std::memcpy(&before, &block, sizeof block);
  uint8_t params[64];
  std::memset(params, 0x5A, sizeof params);

  EXPECT_EQ(Call(GetParam(), params), 2);

  EXPECT_EQ(Logged(), Lines({kInternalError}));
  EXPECT_EQ(std::memcmp(&before, &block, sizeof block), 0);
  for (uint8_t byte : params) EXPECT_EQ(byte, 0x5A);
  EXPECT_TRUE(port().events.empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, NoHandlerTest,
                         ::testing::Values(0u, 8u, 9u, 10u, 16u, 17u, 255u,
                                           0x7FFFFFFFu, 0x80000000u,
                                           0xFFFFFFFFu));

TEST_F(DispatchTest, NullCallBlockIsRefused) {
  EXPECT_EQ(KaviMain(nullptr), 2);
  EXPECT_EQ(Logged(), Lines({kInternalError}));
}

// Commands that need a record or an instance refuse a null one before any
// handler runs; commands that need neither do not care.
struct NullCase {
  uint32_t command;
  bool nullInstance;
  bool nullParams;
  int32_t result;
};

class NullPointerTest : public DispatchTest,
                        public ::testing::WithParamInterface<NullCase> {};

TEST_P(NullPointerTest, IsRefusedOnlyWhereTheCommandNeedsThePointer) {
  const NullCase& c = GetParam();
  InstanceBlock before;
  std::memcpy(&before, &block, sizeof block);
  uint8_t params[64] = {};

  CallBlock call{};
  call.instance = c.nullInstance ? nullptr : &block;
  call.command = c.command;
  call.params = c.nullParams ? nullptr : params;
  EXPECT_EQ(KaviMain(&call), c.result);

  if (c.result == 2) {
    EXPECT_EQ(Logged(), Lines({kInternalError}));
    EXPECT_EQ(std::memcmp(&before, &block, sizeof block), 0);
  } else {
    EXPECT_TRUE(Logged().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, NullPointerTest,
    ::testing::Values(NullCase{KAVI_COLD_START, true, false, 2},
                      NullCase{KAVI_COLD_START, false, true, 2},
                      NullCase{KAVI_SINGLE_ADDRESS_PARSER, true, false, 2},
                      NullCase{KAVI_SINGLE_ADDRESS_PARSER, false, true, 2},
                      NullCase{KAVI_BLOCK_ADDRESS_PARSER, true, false, 2},
                      NullCase{KAVI_BLOCK_ADDRESS_PARSER, false, true, 2},
                      NullCase{KAVI_SINGLE_READ, true, false, 2},
                      NullCase{KAVI_SINGLE_READ, false, true, 2},
                      NullCase{KAVI_BLOCK_READ, true, false, 2},
                      NullCase{KAVI_BLOCK_READ, false, true, 2},
                      NullCase{KAVI_SINGLE_WRITE, true, false, 2},
                      NullCase{KAVI_SINGLE_WRITE, false, true, 2},
                      NullCase{KAVI_CLOSE_COM, true, true, 2},
                      NullCase{KAVI_REOPEN_COM, true, true, 2},
                      NullCase{KAVI_GET_KAVI_INFO, true, true, 2},
                      NullCase{KAVI_CHANGE_KAVI_PARAMS, true, false, 2},
                      NullCase{KAVI_CHANGE_KAVI_PARAMS, false, true, 2},
                      // Commands that use neither pointer.
                      NullCase{KAVI_WARM_START, true, true, 0},
                      NullCase{KAVI_END_KAVI, true, true, 0},
                      NullCase{KAVI_GET_KAVI_INFO, true, false, 0}));

TEST_F(DispatchTest, WarmStartAndEndKaviAnswerZeroSilentlyInAnyState) {
  EXPECT_EQ(Call(KAVI_WARM_START, nullptr), 0);  // before ColdStart
  EXPECT_EQ(Call(KAVI_END_KAVI, nullptr), 0);
  ASSERT_EQ(ColdStartWithPort(), 0);
  EXPECT_EQ(Call(KAVI_WARM_START, nullptr), 0);
  EXPECT_EQ(Call(KAVI_END_KAVI, nullptr), 0);
  EXPECT_TRUE(Logged().empty());
  EXPECT_EQ(block.portOpen, 1u);  // EndKavi leaves the port to CloseCom
  EXPECT_TRUE(port().events.empty());
}

TEST_F(DispatchTest, HandlerResultComesBackUnchangedWithoutExtraMessage) {
  port().openResult = kPortOpenFailed;
  ColdStartParams params{};
  std::strcpy(params.portName, "COM9");
  params.usePort = 1;
  EXPECT_EQ(Call(KAVI_COLD_START, &params), 2);
  EXPECT_EQ(Logged(),
            Lines({{32, "KAVIR> ColdStart() error opening COM port"}}));
}

TEST_F(DispatchTest, HostBytesOfTheCallBlockInfluenceNothing) {
  DriverInfo a, b;
  std::memset(&a, 0, sizeof a);
  std::memset(&b, 0, sizeof b);
  CallBlock call{};
  call.command = KAVI_GET_KAVI_INFO;
  call.params = &a;
  ASSERT_EQ(KaviMain(&call), 0);
  std::memset(call.hostReserved, 0xFF, sizeof call.hostReserved);
  call.params = &b;
  ASSERT_EQ(KaviMain(&call), 0);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

}  // namespace
}  // namespace kavi::testing
