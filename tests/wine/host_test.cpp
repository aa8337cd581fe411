// What only the Windows host shows: COM port names, the binding through
// MELBAX.dll, and messages of instances on several threads kept apart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "rig.h"

namespace kaviros::wine {
namespace {

using ::testing::HasSubstr;

struct NameCase {
  const char* name;
  const char* port;
  const char* driverName;  // empty: refused
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << c.name; }

const NameCase kNames[] = {
    {"Com1", "COM1", "\\\\.\\COM1"},
    {"TwoDigits", "COM12", "\\\\.\\COM12"},
    {"SmallLetters", "com7", "\\\\.\\COM7"},
    {"WithColon", "COM3:", "\\\\.\\COM3"},
    {"FourDigits", "COM1234", "\\\\.\\COM1234"},
    {"DeviceNameAsItIs", "\\\\.\\COM41", "\\\\.\\COM41"},
    {"NullDevice", "NUL", "NUL"},
    {"OtherDevice", "LPT1", "LPT1"},
    {"LeadingZeroIsNoComNumber", "COM007", "COM007"},
    {"ComZeroIsNoPort", "COM0", "COM0"},
    {"Empty", "", ""},
    {"FiveDigitsTooLong", "\\\\.\\COM12345", ""},
    {"LongerThanTheDriverTakes", "ABCDEFGHIJKL", ""},
};

class PortNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNames, AsTheDriverOpensThem) {
  const NameCase& c = GetParam();
  std::string error;
  const std::string name = melbax::DriverPortName(c.port, error);
  EXPECT_EQ(name, c.driverName);
  if (name.empty()) {
    EXPECT_NE(error, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, PortNames, ::testing::ValuesIn(kNames),
                         [](const auto& info) {
                           return std::string(info.param.name);
                         });

std::string FolderOf(HMODULE module) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  const std::string full(path, length);
  return full.substr(0, full.find_last_of("\\/"));
}

TEST(Binding, MelbaxDllBesideTheProgramExportsWhatTheDriverNeeds) {
  ASSERT_NE(TheDriver(), nullptr);
  const HMODULE host = GetModuleHandleA("MELBAX.dll");
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(FolderOf(host), FolderOf(nullptr));
  for (const char* name : {"err", "melbax_trace", "melbax_bind"}) {
    EXPECT_NE(GetProcAddress(host, name), nullptr) << name;
  }
}

using ErrFunction = int32_t(__cdecl*)(int32_t, const char*, ...);

TEST(Binding, ErrOutsideACommandReachesTheStraySink) {
  ASSERT_NE(TheDriver(), nullptr);
  const auto err = reinterpret_cast<ErrFunction>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("MELBAX.dll"), "err")));
  ASSERT_NE(err, nullptr);
  std::vector<Message> stray;
  melbax::SetStrayMessageSink(
      [&](const Message& message) { stray.push_back(message); });
  err(32, "KAVIR> Test() PI=0x%x, retry %d", 0xF4, 3);
  melbax::SetStrayMessageSink({});
  EXPECT_EQ(stray, Messages{Msg32("KAVIR> Test() PI=0xf4, retry 3")});
}

TEST(Binding, LibraryWithoutTheEntryIsNoDriver) {
  std::string error;
  const std::string path = FolderOf(GetModuleHandleA(nullptr)) + "\\MELBAX.dll";
  EXPECT_EQ(melbax::Driver::Load(path, error), nullptr);
  EXPECT_THAT(error, HasSubstr("does not export KaviMain"));
}

TEST(Binding, MissingLibraryIsNamed) {
  std::string error;
  EXPECT_EQ(melbax::Driver::Load("C:\\nowhere\\kaviros.dll", error), nullptr);
  EXPECT_THAT(error, HasSubstr("cannot load C:\\nowhere\\kaviros.dll"));
}

// Two instances on two lines, each read on its own thread: every message
// reaches the command that caused it, through the one MELBAX.dll.
TEST(Threads, MessagesOfInstancesOnTwoLinesStayApart) {
  ASSERT_NE(TheDriver(), nullptr);
  Sim faulty(kCom, "--freeze --script-repeat --script silence,ok");
  Sim clean(kSecondCom, "--freeze");
  ASSERT_TRUE(faulty.started() && clean.started());
  faulty.SetValue(0x01, 0x10, 0x1111);
  clean.SetValue(0x01, 0x10, 0x2222);

  const auto run = [](int com, uint16_t expected, bool retries) {
    melbax::Instance instance(TheDriver());
    std::string error;
    melbax::PortConfig port;
    port.name = melbax::DriverPortName(ComName(com), error);
    port.readTimeoutMs = 100;
    ASSERT_TRUE(instance.Start(port).ok());
    melbax::Variable word;
    ASSERT_TRUE(instance.Declare("0110", DataType::kUint16, word).ok());
    for (int round = 0; round < 10; ++round) {
      const melbax::Outcome read = instance.Read(word);
      ASSERT_EQ(read.result, KAVI_OK);
      EXPECT_EQ(word.value(), expected);
      EXPECT_EQ(read.messages,
                retries ? ReadRetry("KAVIR> ReceiveLongSet() wrong length "
                                    "reading",
                                    1)
                        : Messages{});
    }
  };
  std::thread first(run, kCom, 0x1111, true);
  std::thread second(run, kSecondCom, 0x2222, false);
  first.join();
  second.join();
}

}  // namespace
}  // namespace kaviros::wine
