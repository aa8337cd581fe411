// The Windows product under Wine, end to end: the host code linked into
// this program loads kaviros.dll, which imports err from MELBAX.dll, and
// the driver's Win32 backend talks through a COM port to a simulated
// controller. The Linux helper kaviros_wine_sim runs the simulators at this
// program's request (scripts/wine-e2e-run.sh starts it); each serves a
// pseudo-terminal linked into the Wine prefix as the COM port.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "melbax/driver.h"
#include "melbax/instance.h"

namespace melbax {

// Readable failures: a message prints as [level] "text".
void PrintTo(const Message& message, std::ostream* out);

}  // namespace melbax

namespace kaviros::wine {

using melbax::DataType;
using melbax::Message;
using Messages = std::vector<Message>;

// The COM ports the simulators serve: the first, and one to change to.
inline constexpr int kCom = 51;
inline constexpr int kSecondCom = 52;
// A COM port nobody serves.
inline constexpr int kMissingCom = 59;

// "COM51": the name a user gives.
std::string ComName(int com);

// One simulator on COM `com`, run by the helper with r2600-sim's options
// (e.g. "--stations 01,02 --freeze"); stopped when this goes.
class Sim {
 public:
  Sim(int com, const std::string& options);
  ~Sim();
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;

  bool started() const { return started_; }
  int com() const { return com_; }

  // What the controller holds (SS, PP as the controller counts).
  std::optional<uint32_t> Value(int station, int index);
  void SetValue(int station, int index, uint32_t value);
  // The faults of the next replies, in r2600-sim's script syntax.
  void Script(const std::string& faults);
  // Faults of `kind` ("silence", "flip", ...) injected so far.
  uint64_t Count(const std::string& kind);
  uint64_t Resets(int station);
  // Waits up to ten seconds until `count` telegrams have been handled.
  bool WaitForTelegrams(uint64_t count);
  // Waits up to ten seconds until `count` reply bytes went to the line.
  bool WaitForReplyBytes(uint64_t count);

 private:
  std::string Ask(const std::string& request);

  int com_;
  bool started_ = false;
};

// The driver beside this program, loaded once.
std::shared_ptr<melbax::Driver> TheDriver();

Message Msg8(std::string text);
Message Msg32(std::string text);
// One failed attempt: the receiver's message, then the retry message.
Messages ReadRetry(const std::string& receiverMessage, int attempt);
Messages WriteRetry(const std::string& receiverMessage, int attempt);
Messages Seq(std::initializer_list<Messages> parts);

inline const std::string kBanner =
    "KAVIR> Gossen Metrawatt R2600/R2601 32bit driver installed Version 1.00";

// What the driver put on the line and read from it, as "> 68 06 ..." and
// "< 68 08 ..." ("<" alone when nothing came): the telegram trace, which
// reaches the host through MELBAX.dll.
class LineRecord {
 public:
  void Attach(melbax::Instance& instance);
  std::vector<std::string> Take();
  uint64_t RequestsSent() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  uint64_t sent_ = 0;
};

// A simulator on kCom and a driver instance started on it, both ended by
// the fixture whatever the test's outcome.
class WineTest : public ::testing::Test {
 protected:
  // Use with ASSERT_NO_FATAL_FAILURE.
  void Begin(const std::string& simOptions = "--freeze",
             uint32_t readTimeoutMs = 1000);
  void TearDown() override;

  Sim& sim() { return *sim_; }
  melbax::Instance& instance() { return *instance_; }

  // Declares a variable; the test fails when the driver refuses.
  melbax::Variable Declare(const std::string& address, DataType type);
  std::vector<std::string> Line() { return line_.Take(); }
  // Until the simulator has answered every request the driver sent, so
  // that no late reply reaches a later exchange unpurged.
  void Settle();

  std::unique_ptr<Sim> sim_;
  std::unique_ptr<melbax::Instance> instance_;
  LineRecord line_;
};

}  // namespace kaviros::wine
