#include "r2600sim/frame_scanner.h"

#include <gtest/gtest.h>

#include <ostream>

#include "bytes.h"

namespace r2600sim {
namespace {

using namespace std::chrono_literals;
using testing::B;

const Bytes kRead = B("68 06 06 68 01 89 10 01 01 00 9C 16");
const Bytes kCycle = B("10 01 89 8A 16");
const FrameScanner::Clock::time_point t0{};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(SimFrameScanner, WholeRequest) {
  FrameScanner scanner;
  const auto frames = scanner.Push(kRead, t0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], kRead);
  EXPECT_EQ(scanner.Pending(), 0u);
}

TEST(SimFrameScanner, RequestSplitIntoSingleBytes) {
  FrameScanner scanner(100ms);
  for (size_t i = 0; i + 1 < kRead.size(); ++i) {
    EXPECT_TRUE(scanner.Push(std::span(&kRead[i], 1), t0 + i * 1ms).empty())
        << i;
  }
  const auto frames = scanner.Push(std::span(&kRead.back(), 1), t0 + 20ms);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], kRead);
}

TEST(SimFrameScanner, SeveralRequestsInOneRead) {
  FrameScanner scanner;
  const auto frames = scanner.Push(Join({kCycle, kRead, kCycle}), t0);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[1], kRead);
  EXPECT_EQ(scanner.Counters().frames, 3u);
}

TEST(SimFrameScanner, RequestAndAHalf) {
  FrameScanner scanner;
  const Bytes both = Join({kCycle, kRead});
  auto frames = scanner.Push(std::span(both).first(9), t0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(scanner.Pending(), 4u);
  frames = scanner.Push(std::span(both).subspan(9), t0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], kRead);
}

struct NoiseCase {
  const char* name;
  const char* noise;
};

void PrintTo(const NoiseCase& c, std::ostream* os) { *os << c.name; }

class SimNoise : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(SimNoise, ResynchronisesOnTheRequestBehind) {
  FrameScanner scanner;
  const Bytes stream = Join({B(GetParam().noise), kRead});
  // Whole, and in single bytes.
  auto frames = scanner.Push(stream, t0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], kRead);
  FrameScanner bytewise;
  std::vector<Bytes> found;
  for (uint8_t b : stream) {
    for (auto& f : bytewise.Push(std::span(&b, 1), t0)) found.push_back(f);
  }
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], kRead);
  EXPECT_EQ(bytewise.Pending(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, SimNoise,
    ::testing::Values(NoiseCase{"PlainBytes", "00 FF 16 33"},
                      NoiseCase{"LoneShortStart", "10 10 10"},
                      NoiseCase{"LoneLongStart", "68 68"},
                      NoiseCase{"ShortWithWrongSum", "10 01 89 8B 16"},
                      NoiseCase{"ShortWithoutEnd", "10 01 89 8A 15"},
                      NoiseCase{"LongHeaderOnly", "68 06 06 68 01"},
                      NoiseCase{"LongWithWrongSum",
                                "68 06 06 68 01 89 10 01 01 00 9D 16"},
                      NoiseCase{"LengthTooLarge", "68 40 40 68"},
                      NoiseCase{"LengthsDiffer", "68 06 05"},
                      NoiseCase{"StartsInsideStarts", "68 10 68 06"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimFrameScanner, CountsNoiseAndDamage) {
  FrameScanner scanner;
  scanner.Push(Join({B("00 11"), B("10 01 89 8B 16"), kCycle}), t0);
  EXPECT_EQ(scanner.Counters().noise, 6u);  // 00 11, then 01 89 8B 16
  EXPECT_EQ(scanner.Counters().damaged, 1u);
  EXPECT_EQ(scanner.Counters().frames, 1u);
}

TEST(SimFrameScanner, UnfinishedRequestIsDroppedAfterAPause) {
  FrameScanner scanner(100ms);
  // A long start whose length would swallow the next request.
  EXPECT_TRUE(scanner.Push(B("68 0A 0A 68 01"), t0).empty());
  const auto frames = scanner.Push(kRead, t0 + 500ms);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], kRead);
  EXPECT_EQ(scanner.Counters().stale, 1u);
}

TEST(SimFrameScanner, WithoutGapAPauseInsideARequestIsFine) {
  FrameScanner scanner;
  EXPECT_TRUE(scanner.Push(std::span(kRead).first(5), t0).empty());
  const auto frames = scanner.Push(std::span(kRead).subspan(5), t0 + 1h);
  ASSERT_EQ(frames.size(), 1u);
}

TEST(SimFrameScanner, ShortPauseKeepsTheRequest) {
  FrameScanner scanner(100ms);
  EXPECT_TRUE(scanner.Push(std::span(kRead).first(5), t0).empty());
  EXPECT_EQ(scanner.Push(std::span(kRead).subspan(5), t0 + 50ms).size(), 1u);
  EXPECT_EQ(scanner.Counters().stale, 0u);
}

}  // namespace
}  // namespace r2600sim
