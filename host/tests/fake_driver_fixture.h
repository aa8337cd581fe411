// The fake driver loaded through the host library, and what it remembers.
#pragma once

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "melbax/driver.h"
#include "melbax/instance.h"

namespace melbax {

inline std::ostream& operator<<(std::ostream& out, const Message& message) {
  return out << "[" << message.level << "] \"" << message.text << "\"";
}

namespace testing {

inline std::shared_ptr<Driver> LoadFake(
    const std::string& path = MELBAX_FAKE_DRIVER) {
  std::string error;
  auto driver = Driver::Load(path, error);
  EXPECT_NE(driver, nullptr) << error;
  return driver;
}

// The commands the fake ran since the last ClearJournal, oldest first.
inline std::vector<uint32_t> Journal() {
  void* fake = dlopen(MELBAX_FAKE_DRIVER, RTLD_NOW | RTLD_NOLOAD);
  if (fake == nullptr) return {};
  using JournalFunction = size_t (*)(uint32_t*, size_t);
  auto read = reinterpret_cast<JournalFunction>(dlsym(fake, "FakeJournal"));
  std::vector<uint32_t> commands(read(nullptr, 0));
  commands.resize(read(commands.data(), commands.size()));
  dlclose(fake);
  return commands;
}

inline void ClearJournal() {
  void* fake = dlopen(MELBAX_FAKE_DRIVER, RTLD_NOW | RTLD_NOLOAD);
  if (fake == nullptr) return;
  reinterpret_cast<void (*)()>(dlsym(fake, "FakeJournalClear"))();
  dlclose(fake);
}

inline const Message kInstalledOnFake1{
    KAVI_LEVEL_SETUP,
    "FAKE> ColdStart() opened fake1 baud=4800 bits=7 stop=2 parity=1 "
    "timeout=1000"};

// An instance of the fake driver started on port "fake1".
class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver = LoadFake();
    ASSERT_NE(driver, nullptr);
    instance = std::make_unique<Instance>(driver);
    const Outcome started =
        instance->Start(PortConfig{"fake1", driver->info().line, 1000});
    ASSERT_EQ(started.result, KAVI_OK);
    ClearJournal();
  }

  Variable Declared(const std::string& address, DataType type) {
    Variable variable;
    const Outcome outcome = instance->Declare(address, type, variable);
    EXPECT_EQ(outcome.result, KAVI_OK) << address;
    return variable;
  }

  std::shared_ptr<Driver> driver;
  std::unique_ptr<Instance> instance;
};

}  // namespace testing
}  // namespace melbax
