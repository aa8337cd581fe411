// Several instances on several simulated lines at once, each on a thread
// of its own: values and messages never cross from one to another.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "rig.h"

namespace kaviros::e2e {
namespace {

struct LinePlan {
  uint8_t station;
  const char* faults;  // repeated for every reply of the run
  // The only messages this line's faults can cause.
  std::set<std::string> expected;
};

const LinePlan kPlans[] = {
    {0x01, "ok", {}},
    {0x02,
     "ok,silence",
     {"KAVIR> ReceiveLongSet() wrong length reading",
      "KAVIR> ReceiveShortSet() wrong length reading",
      "KAVIR> Read() error reading reply, retry 1",
      "KAVIR> WriteParameter() error reading reply, retry 1"}},
    {0x03,
     "ok,ok,checksum",
     {"KAVIR> ReceiveLongSet() error checking telegram",
      "KAVIR> ReceiveShortSet() error checking telegram",
      "KAVIR> Read() error reading reply, retry 1",
      "KAVIR> WriteParameter() error reading reply, retry 1"}},
};

constexpr int kRounds = 12;

struct LineRun {
  std::unique_ptr<r2600sim::Simulator> sim;
  std::unique_ptr<melbax::Instance> instance;
  std::atomic<int> observed{0};
  int collected = 0;
};

class E2eConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    melbax::SetStrayMessageSink([this](const Message& message) {
      ++stray_;
      ADD_FAILURE() << "stray message: " << message.text;
    });
  }
  void TearDown() override {
    for (LineRun& run : runs_) {
      run.instance.reset();
      if (run.sim) run.sim->Stop();
    }
    melbax::SetStrayMessageSink([](const Message& message) {
      std::fprintf(stderr, "%s\n", message.text.c_str());
    });
  }

  std::atomic<int> stray_{0};
  std::array<LineRun, std::size(kPlans)> runs_;
};

// One thread's work: reads, writes and block reads of its own station on
// its own line, every value checked against its own simulator.
void Work(const LinePlan& plan, LineRun& run) {
  r2600sim::Controller& controller = run.sim->controller();
  const std::string port = DriverName(*run.sim);
  melbax::Instance& instance = *run.instance;
  char address[8];
  std::snprintf(address, sizeof address, "%02X10", plan.station);
  melbax::Variable word;
  ASSERT_TRUE(instance.Declare(address, DataType::kUint16, word).ok());
  std::snprintf(address, sizeof address, "%02X11", plan.station);
  melbax::Variable target;
  ASSERT_TRUE(instance.Declare(address, DataType::kUint16, target).ok());
  std::snprintf(address, sizeof address, "%02XF0", plan.station);
  melbax::Variable block;
  ASSERT_TRUE(instance.Declare(address, DataType::kBlock, block).ok());

  const auto check = [&](const melbax::Outcome& outcome, const char* what) {
    EXPECT_EQ(outcome.result, KAVI_OK) << what;
    for (const Message& message : outcome.messages) {
      EXPECT_TRUE(plan.expected.count(message.text))
          << "station " << int{plan.station} << " got \"" << message.text
          << "\"";
    }
    run.collected += static_cast<int>(outcome.messages.size());
  };
  for (int round = 0; round < kRounds; ++round) {
    const uint16_t mark =
        static_cast<uint16_t>(plan.station << 12 | round << 4);
    controller.SetValue(plan.station, 0x10, mark);
    controller.SetValue(plan.station, 0xF1, mark + 1u);

    check(instance.Read(word), "read");
    EXPECT_EQ(word.value(), mark);
    check(instance.Write(target, mark + 2), "write");
    EXPECT_EQ(controller.Value(plan.station, 0x11), mark + 2u);
    check(instance.Read(block), "block");
    EXPECT_EQ(block.block()[1], mark + 1);
    // Port commands between transactions now and then. A reopened port
    // waits the open's own time-out; a changed one the instance's.
    if (round % 5 == 4) {
      check(instance.ClosePort(), "close");
      check(instance.ReopenPort(), "reopen");
      check(instance.ChangePort({port, std::nullopt, std::nullopt}), "change");
    }
  }
}

TEST_F(E2eConcurrency, InstancesOnSeveralLinesNeverMixUp) {
  ASSERT_NE(TheDriver(), nullptr);
  for (size_t i = 0; i < std::size(kPlans); ++i) {
    LineRun& run = runs_[i];
    run.sim =
        std::make_unique<r2600sim::Simulator>(Frozen({kPlans[i].station}));
    std::string error;
    ASSERT_TRUE(run.sim->Start(&error)) << error;
    run.sim->faults().SetScript(Script(kPlans[i].faults), true);
    run.instance = std::make_unique<melbax::Instance>(TheDriver());
    run.instance->SetMessageObserver(
        [&run](const Message&) { ++run.observed; });
    melbax::PortConfig port;
    port.name = DriverName(*run.sim);
    port.readTimeoutMs = kShortTimeoutMs;
    ASSERT_TRUE(run.instance->Start(port).ok());
    run.observed = 0;
  }

  std::vector<std::thread> threads;
  for (size_t i = 0; i < std::size(kPlans); ++i) {
    threads.emplace_back(Work, std::cref(kPlans[i]), std::ref(runs_[i]));
  }
  for (std::thread& thread : threads) thread.join();

  for (size_t i = 0; i < std::size(kPlans); ++i) {
    SCOPED_TRACE("station " + std::to_string(kPlans[i].station));
    const LineRun& run = runs_[i];
    // Each line saw requests for its own station only.
    EXPECT_EQ(run.sim->controller().Counters().other_station, 0u);
    // Every message reached the observer of the instance that caused it.
    EXPECT_EQ(run.observed.load(), run.collected);
    if (kPlans[i].expected.empty()) {
      EXPECT_EQ(run.collected, 0);
    } else {
      EXPECT_GT(run.collected, 0);
    }
  }
  EXPECT_EQ(stray_.load(), 0);
}

}  // namespace
}  // namespace kaviros::e2e
