#include "r2600sim/faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "bytes.h"

namespace r2600sim {
namespace {

using namespace std::chrono_literals;
using testing::B;

const Bytes kReply = B("68 08 08 68 01 00 10 01 01 00 34 12 59 16");
const Bytes kAck = B("10 01 00 01 16");

bool ChecksumFits(const Bytes& frame) {
  Bytes copy = frame;
  FixChecksum(copy);
  return copy == frame;
}

size_t DifferingBytes(const Bytes& a, const Bytes& b) {
  size_t n = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) n += a[i] != b[i];
  return n;
}

// ---- Each kind, as a script step with its argument -----------------------

struct KindCase {
  const char* name;
  const char* step;
  void (*check)(const Bytes& reply, const Injected& out);
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class SimFaultKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(SimFaultKinds, ChangeTheReplyAndAreCounted) {
  const KindCase& c = GetParam();
  std::vector<FaultStep> steps;
  std::string error;
  ASSERT_TRUE(ParseFaultScript(c.step, &steps, &error)) << error;
  ASSERT_EQ(steps.size(), 1u);
  for (const Bytes& reply : {kReply, kAck}) {
    FaultOptions options;
    options.script = steps;
    FaultInjector injector(options);
    const Injected out = injector.Apply(reply);
    EXPECT_EQ(out.kind, steps[0].kind);
    SCOPED_TRACE(Hex(out.bytes));
    c.check(reply, out);
    EXPECT_FALSE(out.detail.empty());
    EXPECT_EQ(injector.Count(steps[0].kind), 1u);
    EXPECT_EQ(injector.Total(), 1u);
    // The script is used up: the next reply passes unchanged.
    EXPECT_EQ(injector.Apply(reply).bytes, reply);
    EXPECT_EQ(injector.Total(), 1u);
    EXPECT_EQ(injector.Replies(), 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, SimFaultKinds,
    ::testing::Values(
        KindCase{"Silence", "silence",
                 [](const Bytes&, const Injected& out) {
                   EXPECT_TRUE(out.bytes.empty());
                 }},
        KindCase{"Delay", "delay:250",
                 [](const Bytes& reply, const Injected& out) {
                   EXPECT_EQ(out.bytes, reply);
                   EXPECT_EQ(out.delay, 250ms);
                 }},
        KindCase{"Flip", "flip:3",
                 [](const Bytes& reply, const Injected& out) {
                   ASSERT_EQ(out.bytes.size(), reply.size());
                   EXPECT_EQ(DifferingBytes(out.bytes, reply), 1u);
                   const unsigned diff = out.bytes[3] ^ reply[3];
                   EXPECT_EQ(diff & (diff - 1), 0u) << "one bit only";
                   EXPECT_NE(diff, 0u);
                 }},
        KindCase{"Checksum", "checksum",
                 [](const Bytes& reply, const Injected& out) {
                   ASSERT_EQ(out.bytes.size(), reply.size());
                   EXPECT_EQ(DifferingBytes(out.bytes, reply), 1u);
                   EXPECT_NE(out.bytes[reply.size() - 2],
                             reply[reply.size() - 2]);
                 }},
        KindCase{"Station", "station:05",
                 [](const Bytes& reply, const Injected& out) {
                   ASSERT_EQ(out.bytes.size(), reply.size());
                   EXPECT_EQ(out.bytes[StationOffset(reply[0])], 0x05);
                   EXPECT_TRUE(ChecksumFits(out.bytes));
                   EXPECT_EQ(DifferingBytes(out.bytes, reply), 2u);
                 }},
        KindCase{"Truncate", "truncate:3",
                 [](const Bytes& reply, const Injected& out) {
                   EXPECT_EQ(out.bytes, Bytes(reply.begin(), reply.end() - 3));
                 }},
        KindCase{"Extra", "extra:2",
                 [](const Bytes& reply, const Injected& out) {
                   ASSERT_EQ(out.bytes.size(), reply.size() + 2);
                   EXPECT_TRUE(std::equal(reply.begin(), reply.end(),
                                          out.bytes.begin()));
                 }},
        KindCase{"Garbage", "garbage:3",
                 [](const Bytes& reply, const Injected& out) {
                   ASSERT_EQ(out.bytes.size(), reply.size() + 3);
                   EXPECT_TRUE(std::equal(reply.begin(), reply.end(),
                                          out.bytes.begin() + 3));
                   for (int i = 0; i < 3; ++i) {
                     EXPECT_NE(out.bytes[i], 0x10);
                     EXPECT_NE(out.bytes[i], 0x68);
                   }
                 }},
        KindCase{"Drop", "drop:2",
                 [](const Bytes& reply, const Injected& out) {
                   ASSERT_EQ(out.bytes.size(), reply.size() - 2);
                   // What is left keeps its order.
                   size_t at = 0;
                   for (uint8_t b : reply) {
                     if (at < out.bytes.size() && out.bytes[at] == b) ++at;
                   }
                   EXPECT_EQ(at, out.bytes.size());
                 }},
        KindCase{"Status", "status:08",
                 [](const Bytes& reply, const Injected& out) {
                   ASSERT_EQ(out.bytes.size(), reply.size());
                   EXPECT_EQ(out.bytes[StatusOffset(reply[0])] & 0x08, 0x08);
                   EXPECT_TRUE(ChecksumFits(out.bytes));
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimFaults, DefaultsOfTheArguments) {
  std::mt19937_64 random(3);
  const Injected late =
      InjectFault({FaultKind::kDelay, std::nullopt}, kReply, random, 900ms);
  EXPECT_EQ(late.delay, 900ms);
  const Injected status =
      InjectFault({FaultKind::kStatus, std::nullopt}, kAck, random, 0ms);
  EXPECT_EQ(status.bytes, B("10 01 20 21 16"));
  for (int i = 0; i < 50; ++i) {
    const Injected cut =
        InjectFault({FaultKind::kTruncate, std::nullopt}, kAck, random, 0ms);
    EXPECT_GE(cut.bytes.size(), 1u);
    EXPECT_LT(cut.bytes.size(), kAck.size());
    const Injected other =
        InjectFault({FaultKind::kStation, std::nullopt}, kAck, random, 0ms);
    EXPECT_NE(other.bytes[1], 0x01);
  }
}

TEST(SimFaults, ArgumentsAreKeptWithinTheReply) {
  std::mt19937_64 random(3);
  EXPECT_EQ(InjectFault({FaultKind::kTruncate, 99}, kAck, random, 0ms).bytes,
            B("10"));
  EXPECT_EQ(InjectFault({FaultKind::kDrop, 99}, kAck, random, 0ms).bytes.size(),
            1u);
  const Injected flip = InjectFault({FaultKind::kFlip, 99}, kAck, random, 0ms);
  EXPECT_EQ(DifferingBytes(flip.bytes, kAck), 1u);
  EXPECT_NE(flip.bytes[4], kAck[4]);
}

// ---- Scripts ------------------------------------------------------------

TEST(SimFaults, ScriptStepsComeInOrder) {
  FaultOptions options;
  std::string error;
  ASSERT_TRUE(
      ParseFaultScript("ok, silence*2 ,checksum", &options.script, &error));
  FaultInjector injector(options);
  EXPECT_EQ(injector.ScriptLeft(), 4u);
  EXPECT_EQ(injector.Apply(kAck).kind, FaultKind::kNone);
  EXPECT_EQ(injector.Apply(kAck).kind, FaultKind::kSilence);
  EXPECT_EQ(injector.Apply(kAck).kind, FaultKind::kSilence);
  EXPECT_EQ(injector.Apply(kAck).kind, FaultKind::kChecksum);
  EXPECT_EQ(injector.Apply(kAck).kind, FaultKind::kNone);
  EXPECT_EQ(injector.Count(FaultKind::kSilence), 2u);
  EXPECT_EQ(injector.Total(), 3u);
}

TEST(SimFaults, RepeatedScriptStartsAgain) {
  FaultInjector injector;
  injector.SetScript({{FaultKind::kSilence, {}}, {FaultKind::kNone, {}}}, true);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(injector.Apply(kAck).kind,
              i % 2 == 0 ? FaultKind::kSilence : FaultKind::kNone);
  }
  EXPECT_EQ(injector.Count(FaultKind::kSilence), 3u);
}

TEST(SimFaults, ChanceTakesOverAfterTheScript) {
  FaultOptions options;
  options.script = {{FaultKind::kNone, {}}};
  options.probability[static_cast<size_t>(FaultKind::kSilence)] = 1;
  FaultInjector injector(options);
  EXPECT_EQ(injector.Apply(kAck).kind, FaultKind::kNone);
  EXPECT_EQ(injector.Apply(kAck).kind, FaultKind::kSilence);
}

struct ScriptCase {
  const char* name;
  const char* text;
  bool ok;
  size_t steps;
};

void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }

class SimScripts : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(SimScripts, Parse) {
  const ScriptCase& c = GetParam();
  std::vector<FaultStep> steps{{FaultKind::kDrop, 1}};
  std::string error;
  EXPECT_EQ(ParseFaultScript(c.text, &steps, &error), c.ok) << error;
  if (c.ok) {
    EXPECT_EQ(steps.size(), c.steps);
  } else {
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(steps.size(), 1u) << "left as it was";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SimScripts,
    ::testing::Values(ScriptCase{"OneStep", "silence", true, 1},
                      ScriptCase{"EveryKind",
                                 "ok,none,silence,delay,flip,checksum,station,"
                                 "truncate,extra,garbage,drop,status",
                                 true, 12},
                      ScriptCase{"Arguments",
                                 "delay:2000,flip:0x3,station:0A,status:80",
                                 true, 4},
                      ScriptCase{"Repeat", "ok*3,silence*2", true, 5},
                      ScriptCase{"UnknownKind", "ok,fire", false, 0},
                      ScriptCase{"EmptyStep", "ok,,silence", false, 0},
                      ScriptCase{"Empty", "", false, 0},
                      ScriptCase{"BadArgument", "delay:soon", false, 0},
                      ScriptCase{"StationTooBig", "station:100", false, 0},
                      ScriptCase{"ArgumentNotTaken", "silence:3", false, 0},
                      ScriptCase{"ZeroRepeat", "ok*0", false, 0},
                      ScriptCase{"BadRepeat", "ok*x", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimFaults, HexArgumentsForStationAndStatus) {
  std::vector<FaultStep> steps;
  std::string error;
  ASSERT_TRUE(
      ParseFaultScript("status:80,station:10,delay:10", &steps, &error));
  EXPECT_EQ(steps[0].argument, 0x80u);
  EXPECT_EQ(steps[1].argument, 0x10u);
  EXPECT_EQ(steps[2].argument, 10u);
}

TEST(SimFaults, NamesRoundTrip) {
  for (size_t i = 0; i < kFaultKinds; ++i) {
    const auto kind = static_cast<FaultKind>(i);
    EXPECT_EQ(FaultFromName(FaultName(kind)), kind);
  }
  EXPECT_EQ(FaultFromName("fire"), std::nullopt);
}

// ---- Chance -------------------------------------------------------------

std::vector<FaultKind> Draw(uint64_t seed, int count) {
  FaultOptions options;
  options.seed = seed;
  options.probability[static_cast<size_t>(FaultKind::kSilence)] = 0.2;
  options.probability[static_cast<size_t>(FaultKind::kFlip)] = 0.1;
  FaultInjector injector(options);
  std::vector<FaultKind> kinds;
  for (int i = 0; i < count; ++i) kinds.push_back(injector.Apply(kReply).kind);
  return kinds;
}

TEST(SimFaults, SameSeedSameFaults) {
  EXPECT_EQ(Draw(7, 500), Draw(7, 500));
  EXPECT_NE(Draw(7, 500), Draw(8, 500));
}

TEST(SimFaults, ChancesShowInTheCounts) {
  const auto kinds = Draw(11, 10000);
  const auto silent =
      std::count(kinds.begin(), kinds.end(), FaultKind::kSilence);
  const auto flipped = std::count(kinds.begin(), kinds.end(), FaultKind::kFlip);
  EXPECT_NEAR(static_cast<double>(silent), 2000, 200);
  EXPECT_NEAR(static_cast<double>(flipped), 1000, 150);
}

TEST(SimFaults, ChancesMustBeValid) {
  FaultInjector injector;
  EXPECT_TRUE(injector.SetProbability(FaultKind::kSilence, 0.6));
  EXPECT_FALSE(injector.SetProbability(FaultKind::kFlip, 0.5)) << "sum above 1";
  EXPECT_FALSE(injector.SetProbability(FaultKind::kFlip, -0.1));
  EXPECT_FALSE(injector.SetProbability(FaultKind::kFlip, 1.5));
  EXPECT_TRUE(injector.SetProbability(FaultKind::kSilence, 0.5));
  EXPECT_TRUE(injector.SetProbability(FaultKind::kFlip, 0.5));
  injector.ClearProbabilities();
  EXPECT_EQ(injector.Apply(kReply).kind, FaultKind::kNone);
}

TEST(SimFaults, CountsCanBeReset) {
  FaultInjector injector;
  injector.SetScript({{FaultKind::kSilence, {}}});
  injector.Apply(kAck);
  injector.ResetCounts();
  EXPECT_EQ(injector.Total(), 0u);
  EXPECT_EQ(injector.Replies(), 0u);
}

}  // namespace
}  // namespace r2600sim
