#include "r2600sim/controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

#include "bytes.h"

namespace r2600sim {
namespace {

using namespace std::chrono_literals;
using testing::B;

ControllerOptions Frozen(std::vector<uint8_t> stations = {0x01, 0x02, 0x05,
                                                          0xFA}) {
  ControllerOptions options;
  options.stations = std::move(stations);
  options.frozen = true;
  return options;
}

// ---- Reads, byte by byte, one case per kind of index -------------------

struct ReadCase {
  const char* name;
  uint8_t station;
  uint8_t index;
  uint32_t value;
  const char* request;
  const char* reply;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class SimReads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SimReads, AnswerByteForByte) {
  const ReadCase& c = GetParam();
  Controller controller(Frozen());
  ASSERT_TRUE(controller.SetValue(c.station, c.index, c.value));
  const Outcome out = controller.Handle(B(c.request));
  EXPECT_EQ(out.verdict, Verdict::kAnswered) << Describe(out);
  EXPECT_EQ(Hex(out.reply), Hex(B(c.reply)));
  EXPECT_EQ(out.station, c.station);
  EXPECT_EQ(out.index, c.index);
}

INSTANTIATE_TEST_SUITE_P(
    EveryIndexClass, SimReads,
    ::testing::Values(
        ReadCase{"Word", 0x01, 0x10, 0x1234,
                 "68 06 06 68 01 89 10 01 01 00 9C 16",
                 "68 08 08 68 01 00 10 01 01 00 34 12 59 16"},
        ReadCase{"Byte", 0x01, 0x0D, 0x85,
                 "68 06 06 68 01 89 0D 01 01 00 99 16",
                 "68 07 07 68 01 00 0D 01 01 00 85 95 16"},
        ReadCase{"Long", 0x01, 0x21, 123456,
                 "68 06 06 68 01 89 21 01 01 00 AD 16",
                 "68 0A 0A 68 01 00 21 01 01 00 40 E2 01 00 47 16"},
        ReadCase{"ByteWithoutExtension", 0x01, 0x35, 0x7F,
                 "68 03 03 68 01 89 35 BF 16", "68 04 04 68 01 00 35 7F B5 16"},
        ReadCase{"WordWithoutExtension", 0x02, 0x33, 0xBEEF,
                 "68 03 03 68 02 89 33 BE 16",
                 "68 05 05 68 02 00 33 EF BE E2 16"},
        ReadCase{"HighestStation", 0xFA, 0x64, 0x0102,
                 "68 06 06 68 FA 89 64 01 01 00 E9 16",
                 "68 08 08 68 FA 00 64 01 01 00 02 01 63 16"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimController, CycleValuesCarryAllFour) {
  Controller controller(Frozen());
  ASSERT_TRUE(controller.SetCycle(0x01, {0x1234, 0x5678, -100, 0x4321}));
  const Outcome out = controller.Handle(B("10 01 89 8A 16"));
  EXPECT_EQ(out.kind, RequestKind::kReadCycle);
  EXPECT_EQ(Hex(out.reply), "68 09 09 68 01 00 34 12 78 56 9C 21 43 15 16");
}

TEST(SimController, CycleValuesOfAnotherStation) {
  Controller controller(Frozen({0x0A}));
  ASSERT_TRUE(controller.SetCycle(0x0A, {-1, 0, 1, 2}));
  const Outcome out = controller.Handle(B("10 0A 89 93 16"));
  EXPECT_EQ(Hex(out.reply), "68 09 09 68 0A 00 FF FF 00 00 01 02 00 0B 16");
}

TEST(SimController, EquipmentStatusIsTheStatusByte) {
  Controller controller(Frozen());
  ASSERT_TRUE(controller.RaiseEquipmentFault(0x05, 0x40));
  const Outcome out = controller.Handle(B("10 05 29 2E 16"));
  EXPECT_EQ(out.kind, RequestKind::kReadStatus);
  EXPECT_EQ(out.value, 0x40u);
  EXPECT_EQ(Hex(out.reply), "10 05 40 45 16");
}

TEST(SimController, UnknownParameterIsAnsweredShortWithServiceRequestBit) {
  Controller controller(Frozen());
  const Outcome out =
      controller.Handle(B("68 06 06 68 FA 89 E0 01 01 00 65 16"));
  EXPECT_EQ(out.verdict, Verdict::kAnswered);
  EXPECT_EQ(Hex(out.reply), "10 FA 80 7A 16");
  EXPECT_FALSE(out.reason.empty());
}

TEST(SimController, CycleIndexIsNoParameterInALongRead) {
  Controller controller(Frozen());
  // F0 with extension bytes: 01 89 F0 01 01 00 sums to 0x17C.
  const Outcome out =
      controller.Handle(B("68 06 06 68 01 89 F0 01 01 00 7C 16"));
  EXPECT_EQ(Hex(out.reply), "10 01 80 81 16");
}

// ---- Writes ------------------------------------------------------------

struct WriteCase {
  const char* name;
  bool service_request;
  const char* request;
  const char* reply;
  uint8_t index;
  std::optional<uint32_t> stored;  // value kept afterwards
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class SimWrites : public ::testing::TestWithParam<WriteCase> {};

TEST_P(SimWrites, AcknowledgeAndKeep) {
  const WriteCase& c = GetParam();
  ControllerOptions options = Frozen();
  options.service_request = c.service_request;
  options.read_only = {0x60};
  Controller controller(options);
  const Outcome out = controller.Handle(B(c.request));
  EXPECT_EQ(out.verdict, Verdict::kAnswered) << Describe(out);
  EXPECT_EQ(out.kind, RequestKind::kWrite);
  EXPECT_EQ(Hex(out.reply), Hex(B(c.reply)));
  EXPECT_EQ(controller.Value(0x01, c.index), c.stored);
  // Other stations keep their own values.
  EXPECT_EQ(controller.Value(0x02, c.index),
            Controller(Frozen()).Value(0x02, c.index));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimWrites,
    ::testing::Values(WriteCase{"Word", false,
                                "68 08 08 68 01 69 10 01 01 00 34 12 C2 16",
                                "10 01 00 01 16", 0x10, 0x1234},
                      WriteCase{"ByteWithoutExtension", false,
                                "68 04 04 68 01 69 35 7F 1E 16",
                                "10 01 00 01 16", 0x35, 0x7F},
                      WriteCase{"ServiceRequest", true,
                                "68 08 08 68 01 69 10 01 01 00 34 12 C2 16",
                                "10 01 80 81 16", 0x10, 0x1234},
                      // The output limit lies within -100..100 %: kept at 100.
                      WriteCase{"ClampedToItsLimit", true,
                                "68 08 08 68 01 69 12 01 01 00 34 12 C4 16",
                                "10 01 80 81 16", 0x12, 100},
                      WriteCase{"ReadOnlyRefused", true,
                                "68 08 08 68 01 69 60 01 01 00 34 12 12 16",
                                "10 01 08 09 16", 0x60, 0x0210},
                      WriteCase{"WrongWidthRefused", false,
                                "68 07 07 68 01 69 10 01 01 00 7F FB 16",
                                "10 01 08 09 16", 0x10, 30},
                      WriteCase{"CycleValueRefused", false,
                                "68 08 08 68 01 69 F0 01 01 00 01 00 5D 16",
                                "10 01 08 09 16", 0xF0, 200},
                      WriteCase{"UnknownIndexRefused", false,
                                "68 07 07 68 01 69 0A 01 01 00 01 77 16",
                                "10 01 08 09 16", 0x0A, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimController, UnknownIndexHasNoValue) {
  Controller controller(Frozen());
  EXPECT_EQ(controller.Value(0x01, 0x0A), std::nullopt);
}

TEST(SimController, SetpointWriteIsClampedToTheSetpointLimits) {
  Controller controller(Frozen());
  ASSERT_TRUE(controller.SetValue(0x01, kParamSetpointHigh, 1000));
  // 0x1234 = 4660 > 1000.
  const Outcome out =
      controller.Handle(B("68 08 08 68 01 69 00 01 01 00 34 12 B2 16"));
  EXPECT_EQ(out.stored, 1000u);
  EXPECT_EQ(controller.Value(0x01, kParamSetpoint), 1000u);
  EXPECT_NE(Describe(out).find("limit"), std::string::npos);
}

TEST(SimController, NegativeSetpointWithinLimitsIsKept) {
  Controller controller(Frozen());
  ASSERT_TRUE(controller.SetValue(0x01, kParamSetpointLow, 0xFF00));  // -256
  // -50 = 0xFFCE.
  controller.Handle(B("68 08 08 68 01 69 00 01 01 00 CE FF 39 16"));
  EXPECT_EQ(controller.Value(0x01, kParamSetpoint), 0xFFCEu);
}

// ---- Requests that get no reply ------------------------------------------

TEST(SimController, ResetIsNotAnsweredAndClearsLatchedFaults) {
  Controller controller(Frozen());
  controller.RaiseEquipmentFault(0x01, 0x40);
  const Outcome out = controller.Handle(B("10 01 09 0A 16"));
  EXPECT_EQ(out.verdict, Verdict::kNotAnswered);
  EXPECT_EQ(out.kind, RequestKind::kReset);
  EXPECT_TRUE(out.reply.empty());
  EXPECT_EQ(controller.EquipmentStatus(0x01), 0x00);
  EXPECT_EQ(controller.Resets(0x01), 1u);
  EXPECT_EQ(controller.Resets(0x02), 0u);
}

TEST(SimController, BroadcastWriteReachesEveryStationWithoutReply) {
  Controller controller(Frozen());
  const Outcome out =
      controller.Handle(B("68 08 08 68 FF 69 10 01 01 00 34 12 C0 16"));
  EXPECT_EQ(out.verdict, Verdict::kNotAnswered);
  EXPECT_TRUE(out.reply.empty());
  for (uint8_t st : {0x01, 0x02, 0x05, 0xFA}) {
    EXPECT_EQ(controller.Value(st, 0x10), 0x1234u) << int{st};
  }
  EXPECT_EQ(controller.Counters().broadcasts, 1u);
}

TEST(SimController, BroadcastReadsAndResetsAreNotAnswered) {
  Controller controller(Frozen());
  controller.RaiseEquipmentFault(0x02, 0x40);
  for (const char* request : {"68 06 06 68 FF 89 10 01 01 00 9A 16",
                              "10 FF 89 88 16", "10 FF 29 28 16"}) {
    const Outcome out = controller.Handle(B(request));
    EXPECT_EQ(out.verdict, Verdict::kNotAnswered) << request;
    EXPECT_TRUE(out.reply.empty()) << request;
  }
  controller.Handle(B("10 FF 09 08 16"));
  EXPECT_EQ(controller.EquipmentStatus(0x02), 0x00);
  EXPECT_EQ(controller.Resets(0x05), 1u);
}

TEST(SimController, OtherStationsAreNotAnswered) {
  Controller controller(Frozen());
  const Outcome out =
      controller.Handle(B("68 06 06 68 07 89 10 01 01 00 A2 16"));
  EXPECT_EQ(out.verdict, Verdict::kOtherStation);
  EXPECT_TRUE(out.reply.empty());
  EXPECT_EQ(controller.Counters().other_station, 1u);
}

struct RejectCase {
  const char* name;
  const char* request;
};

void PrintTo(const RejectCase& c, std::ostream* os) { *os << c.name; }

class SimRejects : public ::testing::TestWithParam<RejectCase> {};

TEST_P(SimRejects, SilentlyIgnored) {
  Controller controller(Frozen());
  const Outcome out = controller.Handle(B(GetParam().request));
  EXPECT_EQ(out.verdict, Verdict::kRejected);
  EXPECT_TRUE(out.reply.empty());
  EXPECT_FALSE(out.reason.empty());
  EXPECT_EQ(controller.Counters().rejected, 1u);
  EXPECT_EQ(controller.Counters().requests, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SimRejects,
    ::testing::Values(
        RejectCase{"LongChecksumWrong", "68 06 06 68 01 89 10 01 01 00 9D 16"},
        RejectCase{"LongEndByteWrong", "68 06 06 68 01 89 10 01 01 00 9C 17"},
        RejectCase{"LengthBytesDiffer", "68 06 07 68 01 89 10 01 01 00 9C 16"},
        RejectCase{"SecondStartWrong", "68 06 06 69 01 89 10 01 01 00 9C 16"},
        RejectCase{"LengthDoesNotMatchSize",
                   "68 07 07 68 01 89 10 01 01 00 9C 16"},
        RejectCase{"ExtensionBytesWrong",
                   "68 06 06 68 01 89 10 01 01 01 9D 16"},
        RejectCase{"ExtensionMissing", "68 03 03 68 01 89 10 9A 16"},
        RejectCase{"ReadWithData", "68 07 07 68 01 89 10 01 01 00 05 A1 16"},
        RejectCase{"WriteWithoutData", "68 03 03 68 01 69 35 9F 16"},
        RejectCase{"UnknownLongControl", "68 06 06 68 01 49 10 01 01 00 5C 16"},
        RejectCase{"TooShort", "68 02 02 68 01 89 8A 16"},
        RejectCase{"ShortChecksumWrong", "10 01 89 8B 16"},
        RejectCase{"ShortEndByteWrong", "10 01 89 8A 17"},
        RejectCase{"UnknownShortControl", "10 01 49 4A 16"},
        RejectCase{"NoStartByte", "11 01 89 8A 16"}, RejectCase{"Empty", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The process ---------------------------------------------------------

TEST(SimProcess, FrozenStandsStill) {
  Controller controller(Frozen());
  const auto before = controller.Cycle(0x01);
  const auto hours = controller.Value(0x01, kParamOperatingSeconds);
  controller.Advance(10min);
  EXPECT_EQ(controller.Cycle(0x01), before);
  EXPECT_EQ(controller.Value(0x01, kParamOperatingSeconds), hours);
}

TEST(SimProcess, HeatsTowardsTheSetpoint) {
  Controller controller(ControllerOptions{});
  const CycleValues start = *controller.Cycle(0x01);
  EXPECT_EQ(start.actual, 200);
  controller.Advance(1min);
  const CycleValues ramping = *controller.Cycle(0x01);
  // 10.0 degC per minute from 20.0 degC.
  EXPECT_EQ(ramping.setpoint, 300);
  EXPECT_GT(ramping.output, 0);
  EXPECT_GT(ramping.actual, start.actual);
  controller.Advance(30min);
  const CycleValues settled = *controller.Cycle(0x01);
  EXPECT_EQ(settled.setpoint, 750);
  EXPECT_NEAR(settled.actual, 750, 10);
  EXPECT_NEAR(settled.deviation, settled.actual - settled.setpoint, 1);
}

TEST(SimProcess, OperatingTimeCountsSeconds) {
  Controller controller(ControllerOptions{});
  const uint32_t start = *controller.Value(0x01, kParamOperatingSeconds);
  controller.Advance(2500ms);
  controller.Advance(600ms);
  EXPECT_EQ(controller.Value(0x01, kParamOperatingSeconds), start + 3);
  controller.Advance(100h);
  EXPECT_EQ(controller.Value(0x01, kParamOperatingSeconds), start + 3 + 360000);
}

TEST(SimProcess, SameTimeInDifferentStepsGivesSameValues) {
  Controller once(ControllerOptions{});
  Controller often(ControllerOptions{});
  once.Advance(90s);
  for (int i = 0; i < 900; ++i) often.Advance(37ms);
  often.Advance(90s - 900 * 37ms);
  EXPECT_EQ(once.Cycle(0x01), often.Cycle(0x01));
}

TEST(SimProcess, AdvanceToStartsFromTheFirstCall) {
  Controller controller(ControllerOptions{});
  const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
  const auto before = controller.Cycle(0x01);
  controller.AdvanceTo(t0);
  EXPECT_EQ(controller.Cycle(0x01), before);
  controller.AdvanceTo(t0 + 1min);
  EXPECT_EQ(controller.Cycle(0x01)->setpoint, 300);
}

TEST(SimProcess, ControlOffStopsTheOutputAndShowsInTheStatus) {
  Controller controller(ControllerOptions{});
  controller.Handle(B("68 07 07 68 01 69 16 01 01 00 00 82 16"));
  controller.Advance(1min);
  EXPECT_EQ(controller.Cycle(0x01)->output, 0);
  EXPECT_EQ(*controller.EquipmentStatus(0x01) & kEquipmentControlOff,
            kEquipmentControlOff);
}

TEST(SimProcess, AlarmBitsFollowTheActualValue) {
  Controller controller(Frozen());
  controller.SetCycle(0x01, {1200, 750, 0, 450});
  EXPECT_EQ(controller.EquipmentStatus(0x01), kEquipmentAlarmHigh);
  controller.SetCycle(0x01, {50, 750, 0, -700});
  EXPECT_EQ(controller.EquipmentStatus(0x01), kEquipmentAlarmLow);
  controller.SetCycle(0x01, {500, 750, 0, -250});
  EXPECT_EQ(controller.EquipmentStatus(0x01), 0);
}

TEST(SimProcess, FreezeCanBeSwitched) {
  Controller controller(Frozen());
  controller.Advance(1min);
  EXPECT_EQ(controller.Cycle(0x01)->setpoint, 200);
  controller.SetFrozen(false);
  controller.Advance(1min);
  EXPECT_EQ(controller.Cycle(0x01)->setpoint, 300);
}

// ---- The value interface ---------------------------------------------------

TEST(SimController, StationsDifferSoMixUpsShow) {
  Controller controller(Frozen());
  EXPECT_NE(controller.Value(0x01, kParamSetpoint),
            controller.Value(0x02, kParamSetpoint));
  EXPECT_EQ(controller.Value(0x05, kParamSerialNumber), 24005u);
}

TEST(SimController, ValuesOfPseudoIndices) {
  Controller controller(Frozen());
  controller.SetCycle(0x01, {-2, 750, -5, 7});
  EXPECT_EQ(controller.Value(0x01, 0xF0), 0xFFFEu);
  EXPECT_EQ(controller.Value(0x01, 0xF1), 750u);
  EXPECT_EQ(controller.Value(0x01, 0xF2), 0xFBu);
  EXPECT_EQ(controller.Value(0x01, 0xF3), 7u);
  EXPECT_EQ(controller.Value(0x01, 0xF4), std::nullopt);
  EXPECT_EQ(controller.Value(0x01, 0xF5),
            0x02u);  // 0.0 degC is below the low alarm
  EXPECT_EQ(controller.Value(0x03, 0x10), std::nullopt);
}

TEST(SimController, SetValueMasksToTheWidthAndSetsCycleValues) {
  Controller controller(Frozen());
  EXPECT_TRUE(controller.SetValue(0x01, 0x35, 0x1FF));
  EXPECT_EQ(controller.Value(0x01, 0x35), 0xFFu);
  EXPECT_TRUE(controller.SetValue(0x01, 0xF2, 0x9C));
  EXPECT_EQ(controller.Cycle(0x01)->output, -100);
  EXPECT_FALSE(controller.SetValue(0x01, 0x0A, 1));
  EXPECT_FALSE(controller.SetValue(0x01, 0xF5, 1));
  EXPECT_FALSE(controller.SetValue(0x09, 0x10, 1));
}

TEST(SimController, SettingsCanChangeWhileRunning) {
  Controller controller(Frozen());
  controller.SetServiceRequest(true);
  controller.SetReadOnly(0x10, true);
  EXPECT_TRUE(controller.ServiceRequest());
  EXPECT_TRUE(controller.ReadOnly(0x10));
  EXPECT_EQ(
      Hex(controller.Handle(B("68 08 08 68 01 69 10 01 01 00 34 12 C2 16"))
              .reply),
      "10 01 08 09 16");
  controller.SetReadOnly(0x10, false);
  EXPECT_EQ(
      Hex(controller.Handle(B("68 08 08 68 01 69 10 01 01 00 34 12 C2 16"))
              .reply),
      "10 01 80 81 16");
}

TEST(SimController, CountersByKind) {
  Controller controller(Frozen());
  controller.Handle(B("68 06 06 68 01 89 10 01 01 00 9C 16"));
  controller.Handle(B("10 01 89 8A 16"));
  controller.Handle(B("68 08 08 68 01 69 10 01 01 00 34 12 C2 16"));
  controller.Handle(B("10 01 09 0A 16"));
  controller.Handle(B("10 01 89 8B 16"));
  const ControllerCounters c = controller.Counters();
  EXPECT_EQ(c.requests, 4u);
  EXPECT_EQ(c.replies, 3u);
  EXPECT_EQ(c.reads, 2u);
  EXPECT_EQ(c.writes, 1u);
  EXPECT_EQ(c.resets, 1u);
  EXPECT_EQ(c.rejected, 1u);
}

TEST(SimController, DescribeSaysWhatHappened) {
  Controller controller(Frozen());
  controller.SetValue(0x01, 0x10, 0x1234);
  EXPECT_EQ(
      Describe(controller.Handle(B("68 06 06 68 01 89 10 01 01 00 9C 16"))),
      "read st=01 PI=10 -> 0x1234");
  EXPECT_EQ(Describe(controller.Handle(B("10 01 09 0A 16"))),
            "reset st=01, not answered");
  EXPECT_EQ(Describe(controller.Handle(B("10 01 89 8B 16"))),
            "ignored: short frame with wrong checksum");
}

}  // namespace
}  // namespace r2600sim
