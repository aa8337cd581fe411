#include "melbax/driver.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "fake_driver_fixture.h"

namespace melbax::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Collects stray messages for the length of a test.
class StrayCapture {
 public:
  StrayCapture() {
    SetStrayMessageSink([this](const Message& message) {
      std::lock_guard lock(mutex_);
      messages_.push_back(message);
    });
  }
  ~StrayCapture() { SetStrayMessageSink({}); }
  std::vector<Message> messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  std::mutex mutex_;
  std::vector<Message> messages_;
};

TEST(DriverLoad, CopiesWhatGetKaviInfoReports) {
  auto driver = LoadFake();
  ASSERT_NE(driver, nullptr);
  const DriverInfo& info = driver->info();
  EXPECT_EQ(info.fixedA, 70u);
  EXPECT_EQ(info.fixedB, 4u);
  EXPECT_EQ(info.fixedC, 1u);
  EXPECT_GT(info.instanceSize, 512u);
  EXPECT_EQ(info.line.baudRate, 4800);
  EXPECT_EQ(info.line.byteSize, 7);
  EXPECT_EQ(info.line.stopBits, 2);
  EXPECT_EQ(info.line.parity, 1);
  EXPECT_EQ(driver->deviceName(), "Fake controller");
  EXPECT_STREQ(info.deviceName, "Fake controller");
  EXPECT_EQ(driver->banner(), "\n-- fake driver --\n");
  EXPECT_EQ(driver->path(), MELBAX_FAKE_DRIVER);
}

TEST(DriverLoad, MissingFileIsReportedWithItsPath) {
  std::string error;
  EXPECT_EQ(Driver::Load("/nonexistent/libkaviros.so", error), nullptr);
  EXPECT_THAT(error, HasSubstr("/nonexistent/libkaviros.so"));
}

TEST(DriverLoad, LibraryWithoutEntryIsRefused) {
  std::string error;
  EXPECT_EQ(Driver::Load(MELBAX_LIBRARY, error), nullptr);
  EXPECT_THAT(error, HasSubstr("does not export KaviMain"));
}

// The driver's log import must bind to the host library's function, not to
// another definition somewhere in the process.
TEST(DriverLoad, DriverImportsResolveToThisLibrary) {
  auto driver = LoadFake();
  void* library = dlopen(MELBAX_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "melbax_err"), dlsym(library, "melbax_err"));
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "melbax_trace"),
            dlsym(library, "melbax_trace"));
  dlclose(library);
}

TEST(DriverCall, ResultAndMessagesComeBackUnchanged) {
  auto driver = LoadFake();
  const Outcome outcome = driver->Call(nullptr, 9, nullptr);
  EXPECT_EQ(outcome.result, KAVI_SEVERE);
  EXPECT_THAT(outcome.messages,
              ElementsAre(Message{KAVI_LEVEL_SETUP,
                                  "FAKE> command 9 before ColdStart"}));
}

TEST(DriverCall, ObserverSeesEachMessageAsItArrives) {
  auto driver = LoadFake();
  std::vector<Message> seen;
  const MessageSink observer = [&](const Message& m) { seen.push_back(m); };
  const Outcome outcome = driver->Call(nullptr, 9, nullptr, &observer);
  EXPECT_EQ(seen, outcome.messages);
}

TEST(DriverCall, ThrowingObserverDoesNotUnwindThroughTheDriver) {
  auto driver = LoadFake();
  const MessageSink observer = [](const Message&) {
    throw std::runtime_error("sink failed");
  };
  const Outcome outcome = driver->Call(nullptr, 9, nullptr, &observer);
  EXPECT_EQ(outcome.result, KAVI_SEVERE);
}

TEST(StrayMessages, FromADriverThreadGoToTheStraySink) {
  StrayCapture stray;
  auto driver = LoadFake();
  const Outcome outcome = driver->Call(nullptr, KAVI_WARM_START, nullptr);
  EXPECT_EQ(outcome.result, KAVI_OK);
  EXPECT_TRUE(outcome.messages.empty());
  EXPECT_THAT(
      stray.messages(),
      ElementsAre(Message{KAVI_LEVEL_EXCHANGE, "FAKE> from a driver thread"}));
}

TEST(StrayMessages, OutsideAnyCallGoToTheStraySink) {
  StrayCapture stray;
  melbax_err(KAVI_LEVEL_SETUP, "KAVIR> PI=%x retry %d ", 0x12, 3);
  EXPECT_THAT(stray.messages(),
              ElementsAre(Message{KAVI_LEVEL_SETUP, "KAVIR> PI=12 retry 3 "}));
}

TEST(StrayMessages, LongTextsAreNotCut) {
  StrayCapture stray;
  const std::string text(1000, 'x');
  melbax_err(KAVI_LEVEL_EXCHANGE, "%s", text.c_str());
  ASSERT_EQ(stray.messages().size(), 1u);
  EXPECT_EQ(stray.messages()[0].text, text);
}

TEST(StrayMessages, EmptySinkDropsThem) {
  SetStrayMessageSink({});
  melbax_err(KAVI_LEVEL_EXCHANGE, "dropped");
  melbax_err(KAVI_LEVEL_EXCHANGE, nullptr);
}

TEST(Trace, OutsideAnyCallIsIgnored) {
  const uint8_t bytes[] = {0x10, 0x01};
  melbax_trace(0, bytes, sizeof bytes);
  melbax_trace(1, nullptr, 5);
}

TEST(Trace, ReachesTheSinkOfTheCall) {
  auto driver = LoadFake();
  ColdStartParams start{};
  std::strcpy(start.portName, "fake1");
  start.usePort = 1;
  std::vector<std::max_align_t> block(
      driver->info().instanceSize / sizeof(std::max_align_t) + 1);
  ASSERT_TRUE(driver->Call(block.data(), KAVI_COLD_START, &start).ok());

  ValueSlot slot{};
  const char* address = "0210";
  IoRequest request{address, 0, 2, 2, 0x10, -1, 16, 0, {}, &slot};
  std::vector<std::pair<TraceDirection, std::vector<uint8_t>>> seen;
  const TraceSink trace = [&](const TraceEvent& event) {
    seen.emplace_back(
        event.direction,
        std::vector<uint8_t>(event.bytes, event.bytes + event.count));
  };
  ASSERT_TRUE(
      driver->Call(block.data(), KAVI_SINGLE_READ, &request, nullptr, &trace)
          .ok());
  EXPECT_THAT(
      seen, ElementsAre(
                std::pair(TraceDirection::kSent,
                          std::vector<uint8_t>{0x10, 0x02, 0x89, 0x10, 0x16}),
                std::pair(TraceDirection::kReceived,
                          std::vector<uint8_t>{0x10, 0x02, 0x00, 0x00, 0x16})));
}

class DefaultPath : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* set = std::getenv("KAVIROS_DRIVER")) saved_ = set;
  }
  void TearDown() override {
    if (saved_) {
      setenv("KAVIROS_DRIVER", saved_->c_str(), 1);
    } else {
      unsetenv("KAVIROS_DRIVER");
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(DefaultPath, IsTheEnvironmentVariableWhenSet) {
  setenv("KAVIROS_DRIVER", "/opt/driver.so", 1);
  EXPECT_EQ(DefaultDriverPath(), "/opt/driver.so");
}

TEST_F(DefaultPath, IsBesideTheHostLibraryOtherwise) {
  unsetenv("KAVIROS_DRIVER");
  const auto beside =
      std::filesystem::path(MELBAX_LIBRARY).parent_path() / "libkaviros.so";
  EXPECT_EQ(DefaultDriverPath(), beside.string());
}

}  // namespace
}  // namespace melbax::testing
