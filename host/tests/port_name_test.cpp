#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "melbax/instance.h"

namespace melbax {
namespace {

namespace fs = std::filesystem;

struct NameCase {
  const char* name;
  const char* port;
  const char* driverName;
};

class DriverPortNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DriverPortNameTest, NamesThatFitPassUnchanged) {
  std::string error;
  EXPECT_EQ(DriverPortName(GetParam().port, error), GetParam().driverName);
  EXPECT_EQ(error, "");
}

INSTANTIATE_TEST_SUITE_P(
    Names, DriverPortNameTest,
    ::testing::Values(NameCase{"NullDevice", "NUL", "NUL"},
                      NameCase{"UnderDev", "pts/7", "pts/7"},
                      NameCase{"AbsoluteEleven", "/dev/ttyS10", "/dev/ttyS10"},
                      NameCase{"MissingButShort", "ttyUSB9", "ttyUSB9"},
                      NameCase{"LongDevicePath", "/dev/pts/ptmx", "pts/ptmx"},
                      NameCase{"LongNameUnderDev", "pts/../pts/ptmx",
                               "pts/ptmx"}),
    [](const auto& info) { return info.param.name; });

// Links in a temporary folder, as a simulator's --link makes them.
class PortLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("melbax-port-name-test-" + std::to_string(getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path folder_;
};

TEST_F(PortLinkTest, LinkToAPseudoTerminalBecomesItsDevName) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  const fs::path link = folder_ / "controller-port";
  fs::create_symlink(slave, link);

  std::string error;
  const std::string name = DriverPortName(link.string(), error);
  close(master);
  EXPECT_EQ(error, "");
  ASSERT_LE(slave.size(), 11u);
  EXPECT_EQ(name, slave);
}

TEST_F(PortLinkTest, RelativePathIsResolved) {
  const fs::path link = folder_ / "null";
  fs::create_symlink("/dev/null", link);
  const fs::path saved = fs::current_path();
  fs::current_path(folder_);
  std::string error;
  const std::string name = DriverPortName("./null", error);
  fs::current_path(saved);
  EXPECT_EQ(name, "/dev/null");
}

TEST_F(PortLinkTest, PathThatResolvesToNothingShortIsRefused) {
  const fs::path file = folder_ / "a-regular-file-with-a-long-name";
  { std::ofstream(file) << "x"; }
  std::string error;
  EXPECT_EQ(DriverPortName(file.string(), error), "");
  EXPECT_NE(error.find("longer than the 11 characters"), std::string::npos)
      << error;
}

TEST_F(PortLinkTest, MissingLongPathIsRefused) {
  std::string error;
  EXPECT_EQ(DriverPortName((folder_ / "no-such-port").string(), error), "");
  EXPECT_NE(error.find("cannot find port"), std::string::npos) << error;
}

TEST(DriverPortName, EmptyNameIsRefused) {
  std::string error;
  EXPECT_EQ(DriverPortName("", error), "");
  EXPECT_NE(error, "");
}

}  // namespace
}  // namespace melbax
