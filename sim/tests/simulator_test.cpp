#include "r2600sim/simulator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "bytes.h"
#include "pty_client.h"

namespace r2600sim {
namespace {

using namespace std::chrono_literals;
using testing::B;
using testing::PtyClient;

const Bytes kRead10 = B("68 06 06 68 01 89 10 01 01 00 9C 16");
const Bytes kCycle = B("10 01 89 8A 16");

std::string TempPath(const std::string& name) {
  static std::atomic<int> counter{0};
  return ::testing::TempDir() + "r2600sim-" + std::to_string(getpid()) + "-" +
         std::to_string(counter++) + "-" + name;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Waits for a condition the simulator's thread brings about.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

uint32_t Word(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8);
}

SimulatorOptions FrozenOptions() {
  SimulatorOptions options;
  options.controller.frozen = true;
  return options;
}

class SimulatorTest : public ::testing::Test {
 protected:
  void StartWith(SimulatorOptions options) {
    sim_ = std::make_unique<Simulator>(std::move(options));
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    client_ = std::make_unique<PtyClient>(sim_->Port());
    ASSERT_TRUE(client_->IsOpen());
  }
  void SetUp() override { StartWith(FrozenOptions()); }

  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<PtyClient> client_;
};

TEST_F(SimulatorTest, AnswersOnThePseudoTerminal) {
  EXPECT_EQ(sim_->Port().rfind("/dev/pts/", 0), 0u) << sim_->Port();
  sim_->controller().SetValue(0x01, 0x10, 0x1234);
  EXPECT_EQ(Hex(client_->Transact(kRead10, 14)),
            "68 08 08 68 01 00 10 01 01 00 34 12 59 16");
  EXPECT_TRUE(sim_->Running());
}

TEST_F(SimulatorTest, EveryKindOfExchange) {
  sim_->controller().SetCycle(0x01, {0x1234, 0x5678, -100, 0x4321});
  EXPECT_EQ(Hex(client_->Transact(kCycle, 15)),
            "68 09 09 68 01 00 34 12 78 56 9C 21 43 15 16");
  // 466.0 degC is above the high alarm.
  EXPECT_EQ(Hex(client_->Transact(B("10 01 29 2A 16"), 5)), "10 01 01 02 16");
  EXPECT_EQ(Hex(client_->Transact(B("68 04 04 68 01 69 35 7F 1E 16"), 5)),
            "10 01 00 01 16");
  EXPECT_EQ(sim_->controller().Value(0x01, 0x35), 0x7Fu);
  EXPECT_EQ(Hex(client_->Transact(B("68 03 03 68 01 89 35 BF 16"), 10)),
            "68 04 04 68 01 00 35 7F B5 16");
  // Reset: nothing comes back; the next reply is the next request's.
  ASSERT_TRUE(client_->Send(B("10 01 09 0A 16")));
  EXPECT_EQ(Hex(client_->Transact(B("10 01 29 2A 16"), 5)), "10 01 01 02 16");
  EXPECT_EQ(sim_->controller().Resets(0x01), 1u);
}

TEST_F(SimulatorTest, RequestSplitAcrossWrites) {
  ASSERT_TRUE(client_->Send(Bytes(kRead10.begin(), kRead10.begin() + 5)));
  ASSERT_TRUE(Eventually([&] { return sim_->Counters().bytes_in >= 5; }));
  ASSERT_TRUE(client_->Send(Bytes(kRead10.begin() + 5, kRead10.end())));
  EXPECT_EQ(client_->Receive(14).size(), 14u);
  EXPECT_EQ(sim_->Counters().scanner.frames, 1u);
}

TEST_F(SimulatorTest, NoiseBeforeARequest) {
  Bytes stream = B("00 FF 68 68 10");
  stream.insert(stream.end(), kRead10.begin(), kRead10.end());
  EXPECT_EQ(client_->Transact(stream, 14).size(), 14u);
  EXPECT_GT(sim_->Counters().scanner.noise + sim_->Counters().scanner.damaged,
            0u);
}

TEST_F(SimulatorTest, SilenceSendsNothing) {
  sim_->faults().SetScript({{FaultKind::kSilence, {}}});
  ASSERT_TRUE(client_->Send(kRead10));
  ASSERT_TRUE(sim_->WaitForTelegrams(1, 10s));
  // Had anything been sent, it would come before this reply.
  EXPECT_EQ(Hex(client_->Transact(B("10 01 29 2A 16"), 5)), "10 01 00 01 16");
  EXPECT_EQ(sim_->faults().Count(FaultKind::kSilence), 1u);
}

TEST_F(SimulatorTest, FaultyReplyOnTheLine) {
  sim_->faults().SetScript(
      {{FaultKind::kGarbage, 2}, {FaultKind::kStation, 0x07}});
  const Bytes noisy = client_->Transact(B("10 01 29 2A 16"), 7);
  ASSERT_EQ(noisy.size(), 7u);
  EXPECT_EQ(Hex(std::span(noisy).subspan(2)), "10 01 00 01 16");
  EXPECT_EQ(Hex(client_->Transact(B("10 01 29 2A 16"), 5)), "10 07 00 07 16");
  EXPECT_EQ(sim_->faults().Total(), 2u);
}

TEST_F(SimulatorTest, LateReplyStillComes) {
  sim_->faults().SetScript({{FaultKind::kDelay, 30}});
  EXPECT_EQ(client_->Transact(kRead10, 14).size(), 14u);
  EXPECT_EQ(sim_->faults().Count(FaultKind::kDelay), 1u);
}

TEST_F(SimulatorTest, RepliesKeepTheOrderOfRequests) {
  sim_->faults().SetScript({{FaultKind::kDelay, 50}});
  ASSERT_TRUE(client_->Send(kRead10));
  ASSERT_TRUE(client_->Send(B("10 01 29 2A 16")));
  const Bytes both = client_->Receive(19);
  ASSERT_EQ(both.size(), 19u);
  EXPECT_EQ(both[0], 0x68);
  EXPECT_EQ(Hex(std::span(both).subspan(14)), "10 01 00 01 16");
}

TEST_F(SimulatorTest, ValuesTheHostGetsAreTheTrueValues) {
  SimulatorOptions running;  // not frozen
  StartWith(running);
  for (int i = 0; i < 5; ++i) {
    const Bytes reply = client_->Transact(kCycle, 15);
    ASSERT_EQ(reply.size(), 15u);
    // The model moves only when a request comes, so right after the reply
    // it still holds the values it sent.
    EXPECT_EQ(Word(reply, 6), sim_->controller().Value(0x01, 0xF0));
    EXPECT_EQ(Word(reply, 8), sim_->controller().Value(0x01, 0xF1));
    EXPECT_EQ(uint32_t{reply[10]}, sim_->controller().Value(0x01, 0xF2));
    EXPECT_EQ(Word(reply, 11), sim_->controller().Value(0x01, 0xF3));
  }
}

TEST_F(SimulatorTest, PacedRepliesAreIntact) {
  SimulatorOptions paced = FrozenOptions();
  paced.baud = 9600;
  paced.turnaround = 1ms;
  StartWith(paced);
  sim_->controller().SetValue(0x01, 0x10, 0x1234);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(Hex(client_->Transact(kRead10, 14)),
              "68 08 08 68 01 00 10 01 01 00 34 12 59 16");
  }
  // Counted just after the write that the client may already have read.
  EXPECT_TRUE(Eventually([&] { return sim_->Counters().bytes_out == 140u; }));
}

TEST_F(SimulatorTest, ClientThatNeverReadsDoesNotStallTheSimulator) {
  constexpr int kRequests = 10000;  // 150 kB of replies, more than a pty holds
  for (int i = 0; i < kRequests; ++i) ASSERT_TRUE(client_->Send(kCycle));
  ASSERT_TRUE(sim_->WaitForTelegrams(kRequests, 20s));
  ASSERT_TRUE(Eventually([&] {
    const TransportCounters c = sim_->Counters();
    return c.bytes_out + c.bytes_lost == 15u * kRequests;
  }));
  EXPECT_GT(sim_->Counters().bytes_lost, 0u);
  client_->Discard();
  EXPECT_EQ(Hex(client_->Transact(B("10 01 29 2A 16"), 5)), "10 01 00 01 16");
}

TEST_F(SimulatorTest, ThePortCanBeClosedAndOpenedAgain) {
  EXPECT_EQ(client_->Transact(kCycle, 15).size(), 15u);
  client_.reset();
  client_ = std::make_unique<PtyClient>(sim_->Port());
  ASSERT_TRUE(client_->IsOpen());
  EXPECT_EQ(client_->Transact(kCycle, 15).size(), 15u);
  EXPECT_TRUE(sim_->Running());
}

TEST_F(SimulatorTest, StopsWithAReplyStillPending) {
  sim_->faults().SetScript({{FaultKind::kDelay, 60000}});
  ASSERT_TRUE(client_->Send(kRead10));
  ASSERT_TRUE(sim_->WaitForTelegrams(1, 10s));
  sim_->Stop();
  EXPECT_FALSE(sim_->Running());
  EXPECT_TRUE(sim_->Port().empty());
}

TEST_F(SimulatorTest, StartsAgainOnANewTerminal) {
  sim_->Stop();
  std::string error;
  ASSERT_TRUE(sim_->Start(&error)) << error;
  PtyClient again(sim_->Port());
  EXPECT_EQ(again.Transact(kCycle, 15).size(), 15u);
  EXPECT_FALSE(sim_->Start(&error));
  EXPECT_NE(error.find("already"), std::string::npos);
}

TEST_F(SimulatorTest, TracesRequestsAndReplies) {
  std::vector<std::string> lines;
  std::mutex mutex;
  SimulatorOptions traced = FrozenOptions();
  traced.trace = [&](const std::string& line) {
    std::lock_guard lock(mutex);
    lines.push_back(line);
  };
  StartWith(traced);
  sim_->faults().SetScript({{FaultKind::kChecksum, {}}});
  ASSERT_EQ(client_->Transact(kRead10, 14).size(), 14u);
  std::lock_guard lock(mutex);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(
      lines[0].find("rx 68 06 06 68 01 89 10 01 01 00 9C 16  read st=01 PI=10"),
      std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("tx 68 08 08 68"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("fault checksum"), std::string::npos) << lines[1];
}

TEST(SimulatorLink, MadeAtStartAndRemovedAtStop) {
  SimulatorOptions options = FrozenOptions();
  options.link = TempPath("link");
  Simulator sim(options);
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;
  char target[256] = {};
  ASSERT_GT(readlink(options.link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(sim.Port(), target);
  PtyClient client(options.link);
  EXPECT_EQ(client.Transact(kCycle, 15).size(), 15u);
  sim.Stop();
  EXPECT_FALSE(Exists(options.link));
}

TEST(SimulatorLink, ReplacesAStaleLink) {
  SimulatorOptions options = FrozenOptions();
  options.link = TempPath("stale");
  ASSERT_EQ(symlink("/dev/pts/nothing", options.link.c_str()), 0);
  Simulator sim(options);
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;
  char target[256] = {};
  ASSERT_GT(readlink(options.link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(sim.Port(), target);
  sim.Stop();
  EXPECT_FALSE(Exists(options.link));
}

TEST(SimulatorLink, NeverReplacesAFile) {
  SimulatorOptions options = FrozenOptions();
  options.link = TempPath("file");
  std::ofstream(options.link) << "keep me";
  Simulator sim(options);
  std::string error;
  EXPECT_FALSE(sim.Start(&error));
  EXPECT_NE(error.find(options.link), std::string::npos) << error;
  EXPECT_TRUE(sim.Port().empty());
  EXPECT_FALSE(sim.Running());
  std::ifstream kept(options.link);
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "keep me");
  unlink(options.link.c_str());
}

TEST(SimulatorLink, LeftAloneWhenSomeoneElseTookThePath) {
  SimulatorOptions options = FrozenOptions();
  options.link = TempPath("taken");
  Simulator sim(options);
  ASSERT_TRUE(sim.Start());
  ASSERT_EQ(unlink(options.link.c_str()), 0);
  ASSERT_EQ(symlink("/somewhere/else", options.link.c_str()), 0);
  sim.Stop();
  EXPECT_TRUE(Exists(options.link));
  unlink(options.link.c_str());
}

TEST(Simulators, SideBySideWithoutMixingUp) {
  SimulatorOptions a = FrozenOptions();
  a.controller.stations = {0x01};
  SimulatorOptions b = FrozenOptions();
  b.controller.stations = {0x02};
  Simulator first(a);
  Simulator second(b);
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  EXPECT_NE(first.Port(), second.Port());
  first.controller().SetValue(0x01, 0x10, 0x1111);
  second.controller().SetValue(0x02, 0x10, 0x2222);
  PtyClient one(first.Port());
  PtyClient two(second.Port());
  EXPECT_EQ(Hex(one.Transact(kRead10, 14)),
            "68 08 08 68 01 00 10 01 01 00 11 11 35 16");
  EXPECT_EQ(Hex(two.Transact(B("68 06 06 68 02 89 10 01 01 00 9D 16"), 14)),
            "68 08 08 68 02 00 10 01 01 00 22 22 58 16");
  // Station 01 is not played on the second terminal.
  ASSERT_TRUE(two.Send(kRead10));
  ASSERT_TRUE(second.WaitForTelegrams(2, 10s));
  EXPECT_EQ(second.controller().Counters().other_station, 1u);
}

TEST(Simulators, DestroyedWhileRunning) {
  std::string port;
  {
    Simulator sim(FrozenOptions());
    ASSERT_TRUE(sim.Start());
    port = sim.Port();
    PtyClient client(port);
    ASSERT_TRUE(client.Send(kRead10));
  }
  SUCCEED();
}

}  // namespace
}  // namespace r2600sim
