// The real driver, loaded by libmelbax, on the port of an in-process
// controller simulator: what every end-to-end test of the driver shares.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "melbax/driver.h"
#include "melbax/instance.h"
#include "r2600sim/simulator.h"

namespace melbax {

// Readable failures: a message prints as [level] "text".
void PrintTo(const Message& message, std::ostream* out);

}  // namespace melbax

namespace kaviros::e2e {

using melbax::DataType;
using melbax::Message;
using Messages = std::vector<Message>;

// The driver library of this build, loaded once per test program.
std::shared_ptr<melbax::Driver> TheDriver();

// The messages exactly as the driver logs them.
Message Msg8(std::string text);   // level 8 (the exchange)
Message Msg32(std::string text);  // level 32 (set-up, definitions)

// "KAVIR> Read() error reading reply, retry N" after the receiver's
// message: what one failed attempt of a read leaves.
Messages ReadRetry(const std::string& receiverMessage, int attempt);
Messages WriteRetry(const std::string& receiverMessage, int attempt);

// The read time-out of tests that make the driver wait for a silent or
// late controller: short, so that each silence costs little, and still long
// enough that a busy machine gets a good reply across in time.
inline constexpr uint32_t kShortTimeoutMs = 300;

// A simulator whose process stands still, so that values stay as set.
r2600sim::SimulatorOptions Frozen(std::vector<uint8_t> stations = {0x01});

// The faults of the next replies, e.g. "silence,ok" (the simulator's
// script syntax). Fails the test on a typo.
std::vector<r2600sim::FaultStep> Script(const std::string& text);

// The name the driver takes for a simulator's terminal ("pts/7").
std::string DriverName(const r2600sim::Simulator& sim);

// What the driver put on the line and read from it, in order, as
// "> 68 06 06 ..." (sent) and "< 68 08 ..." (received; "<" alone when
// nothing came).
class LineRecord {
 public:
  void Attach(melbax::Instance& instance);
  std::vector<std::string> Take();
  // Requests sent since Attach, taken or not.
  uint64_t RequestsSent() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  uint64_t sent_ = 0;
};

// Waits up to ten seconds for a condition the simulator's thread brings
// about; false when it never came.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// One simulator and one driver instance started on its port, both ended
// by the fixture whatever the test's outcome.
class E2eTest : public ::testing::Test {
 protected:
  // Starts the simulator, then the instance with this read time-out. Use
  // with ASSERT_NO_FATAL_FAILURE.
  void Begin(r2600sim::SimulatorOptions options = Frozen(),
             uint32_t readTimeoutMs = 1000);
  void TearDown() override;

  r2600sim::Simulator& sim() { return *sim_; }
  r2600sim::Controller& controller() { return sim_->controller(); }
  melbax::Instance& instance() { return *instance_; }

  // Declares a variable; the test fails when the driver refuses.
  melbax::Variable Declare(const std::string& address, DataType type);

  // Telegrams on the line since the last call.
  std::vector<std::string> Line() { return line_.Take(); }

  // Waits until the simulator has handled every request the driver sent
  // and has written the replies, so that no late byte reaches a later
  // exchange of the test unpurged.
  void Settle();

  std::unique_ptr<r2600sim::Simulator> sim_;
  std::unique_ptr<melbax::Instance> instance_;
  LineRecord line_;
};

}  // namespace kaviros::e2e
