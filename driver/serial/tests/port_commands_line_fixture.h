// A driver instance whose port commands reach the platform's real lines.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kaviros/kaviros.h"
#include "log_capture.h"
#include "port_line_fixture.h"

namespace kavi::testing {

class CommandLineTest : public PortLineTest {
 protected:
  void SetUp() override {
    PortLineTest::SetUp();
    ClearLog();
    std::memset(&block, 0xA5, sizeof block);
  }

  void TearDown() override {
    if (block.portHandle != 0 && rig().HandleIsOpen(block.portHandle)) {
      ComClose(block.portHandle);
    }
    PortLineTest::TearDown();
  }

  int32_t Call(uint32_t command, void* params) {
    CallBlock call{};
    call.instance = &block;
    call.command = command;
    call.params = params;
    return KaviMain(&call);
  }

  int32_t ColdStart(const std::string& name, uint32_t readTimeout) {
    ColdStartParams params;
    std::memset(&params, 0, sizeof params);
    std::strncpy(params.portName, name.c_str(), sizeof params.portName - 1);
    params.usePort = 1;
    params.readTimeout = readTimeout;
    params.line = kPlainLine;
    return Call(KAVI_COLD_START, &params);
  }

  int32_t Change(const std::string& name, uint32_t readTimeout) {
    ChangeParams params;
    std::memset(&params, 0, sizeof params);
    std::strncpy(params.portName, name.c_str(), sizeof params.portName - 1);
    params.readTimeout = readTimeout;
    return Call(KAVI_CHANGE_KAVI_PARAMS, &params);
  }

  // The open port's total read time-out, left as it is.
  uint32_t TimeoutInForce() { return ComSetReadTimeout(block.portHandle, 0); }

  InstanceBlock block;
};

}  // namespace kavi::testing
