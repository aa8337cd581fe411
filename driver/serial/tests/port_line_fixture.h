// A test on the platform's real lines; every port it opens is closed after.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "line_rig.h"
#include "serial/port.h"

namespace kavi::testing {

// 8 bits without parity. A pseudo-terminal has no parity, and Wine fails a
// port configuration whose only change is parity the terminal drops, which
// a reopen with even parity would be; parity has its own cases.
inline constexpr LineSettings kPlainLine = {9600, 8, 0, 0};

class PortLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig_ = &Rig();
    ASSERT_FALSE(HasFailure());
    rig_->ResetLine(0);
    rig_->ResetLine(1);
  }

  void TearDown() override {
    for (const PortHandle handle : open_) ComClose(handle);
  }

  LineRig& rig() { return *rig_; }

  PortHandle Open(int line, const LineSettings& settings = kPlainLine,
                  uint16_t lineFlags = 0x0303) {
    const std::string name = rig_->PortName(line);
    PortHandle handle = 0;
    EXPECT_EQ(ComOpenDevice(name.c_str(), settings, lineFlags, &handle),
              kPortOk)
        << name;
    if (handle != 0) open_.push_back(handle);
    return handle;
  }

  void Close(PortHandle handle) {
    EXPECT_EQ(ComClose(handle), kPortOk);
    open_.erase(std::remove(open_.begin(), open_.end(), handle), open_.end());
  }

 private:
  LineRig* rig_ = nullptr;
  std::vector<PortHandle> open_;
};

}  // namespace kavi::testing
