#include "rig.h"

#include <cstdio>

namespace melbax {

void PrintTo(const Message& message, std::ostream* out) {
  *out << "[" << message.level << "] \"" << message.text << "\"";
}

}  // namespace melbax

namespace kaviros::e2e {
namespace {

std::string HexLine(const char* direction, const uint8_t* bytes,
                    uint32_t count) {
  std::string text = direction;
  char byte[4];
  for (uint32_t i = 0; i < count; ++i) {
    std::snprintf(byte, sizeof byte, " %02X", bytes[i]);
    text += byte;
  }
  return text;
}

}  // namespace

std::shared_ptr<melbax::Driver> TheDriver() {
  static std::shared_ptr<melbax::Driver> driver = [] {
    std::string error;
    auto loaded = melbax::Driver::Load(KAVIROS_E2E_DRIVER, error);
    if (!loaded) ADD_FAILURE() << "cannot load the driver: " << error;
    return loaded;
  }();
  return driver;
}

Message Msg8(std::string text) {
  return {KAVI_LEVEL_EXCHANGE, std::move(text)};
}

Message Msg32(std::string text) { return {KAVI_LEVEL_SETUP, std::move(text)}; }

Messages ReadRetry(const std::string& receiverMessage, int attempt) {
  return {Msg8(receiverMessage),
          Msg8("KAVIR> Read() error reading reply, retry " +
               std::to_string(attempt))};
}

Messages WriteRetry(const std::string& receiverMessage, int attempt) {
  return {Msg8(receiverMessage),
          Msg8("KAVIR> WriteParameter() error reading reply, retry " +
               std::to_string(attempt))};
}

r2600sim::SimulatorOptions Frozen(std::vector<uint8_t> stations) {
  r2600sim::SimulatorOptions options;
  options.controller.stations = std::move(stations);
  options.controller.frozen = true;
  return options;
}

std::vector<r2600sim::FaultStep> Script(const std::string& text) {
  std::vector<r2600sim::FaultStep> steps;
  std::string error;
  if (!r2600sim::ParseFaultScript(text, &steps, &error)) {
    ADD_FAILURE() << "fault script \"" << text << "\": " << error;
  }
  return steps;
}

std::string DriverName(const r2600sim::Simulator& sim) {
  std::string error;
  std::string name = melbax::DriverPortName(sim.Port(), error);
  if (name.empty()) ADD_FAILURE() << sim.Port() << ": " << error;
  return name;
}

void LineRecord::Attach(melbax::Instance& instance) {
  instance.SetTraceSink([this](const melbax::TraceEvent& event) {
    const bool sent = event.direction == melbax::TraceDirection::kSent;
    std::lock_guard lock(mutex_);
    lines_.push_back(HexLine(sent ? ">" : "<", event.bytes, event.count));
    if (sent) ++sent_;
  });
}

std::vector<std::string> LineRecord::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(lines_, {});
}

uint64_t LineRecord::RequestsSent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

void E2eTest::Begin(r2600sim::SimulatorOptions options,
                    uint32_t readTimeoutMs) {
  ASSERT_NE(TheDriver(), nullptr);
  sim_ = std::make_unique<r2600sim::Simulator>(std::move(options));
  std::string error;
  ASSERT_TRUE(sim_->Start(&error)) << error;
  instance_ = std::make_unique<melbax::Instance>(TheDriver());
  line_.Attach(*instance_);
  melbax::PortConfig port;
  port.name = DriverName(*sim_);
  port.readTimeoutMs = readTimeoutMs;
  const melbax::Outcome started = instance_->Start(port);
  ASSERT_EQ(started.result, KAVI_OK);
  ASSERT_EQ(started.messages,
            Messages{Msg32("KAVIR> Gossen Metrawatt R2600/R2601 32bit driver "
                           "installed Version 1.00")});
}

void E2eTest::TearDown() {
  // The port first, then its simulator.
  instance_.reset();
  if (sim_) sim_->Stop();
}

melbax::Variable E2eTest::Declare(const std::string& address, DataType type) {
  melbax::Variable variable;
  const melbax::Outcome declared = instance_->Declare(address, type, variable);
  EXPECT_EQ(declared.result, KAVI_OK)
      << address << " as " << melbax::DataTypeName(type);
  EXPECT_EQ(declared.messages, Messages{});
  return variable;
}

void E2eTest::Settle() {
  ASSERT_TRUE(
      sim_->WaitForTelegrams(line_.RequestsSent(), std::chrono::seconds(10)));
  // The reply leaves the simulator's thread right after the request was
  // handled; give it time to reach the terminal.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace kaviros::e2e
