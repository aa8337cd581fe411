// A driver instance on the fake port, for unit tests of the commands.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kaviros/kaviros.h"
#include "log_capture.h"
#include "serial/testing/fake_port.h"

namespace kavi::testing {

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakePort::Get().Reset();
    ClearLog();
    // Recognisable garbage, as a host's fresh allocation may hold.
    std::memset(&block, 0xA5, sizeof block);
  }

  FakePort& port() { return FakePort::Get(); }

  int32_t Call(uint32_t command, void* params) {
    CallBlock call{};
    call.instance = &block;
    call.command = command;
    call.params = params;
    return KaviMain(&call);
  }

  // ColdStart with the "NUL"-like fake port open (or none), log cleared.
  int32_t ColdStartWithPort(bool usePort = true, uint32_t readTimeout = 0) {
    ColdStartParams params{};
    std::strcpy(params.portName, "COM1");
    params.usePort = usePort ? 1 : 0;
    params.readTimeout = readTimeout;
    params.line = {9600, 8, 0, 2};
    const int32_t result = Call(KAVI_COLD_START, &params);
    ClearLog();
    port().events.clear();
    return result;
  }

  static std::vector<LogLine> Lines(std::initializer_list<LogLine> lines) {
    return lines;
  }

  InstanceBlock block;
};

}  // namespace kavi::testing
