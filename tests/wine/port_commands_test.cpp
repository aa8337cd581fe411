// Closing, reopening and changing the COM port between transactions, the
// null device, and a controller line that goes away, through the Win32
// backend.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include "rig.h"

namespace kaviros::wine {
namespace {

using ::testing::SizeIs;

const Message kNotOpen = Msg32("KAVIR> SingleRead() com-port is not open");

std::string DriverName(int com) {
  std::string error;
  std::string name = melbax::DriverPortName(ComName(com), error);
  EXPECT_FALSE(name.empty()) << error;
  return name;
}

class PortCommands : public WineTest {
 protected:
  // A second simulated line, told apart by its values.
  void BeginSecondLine() {
    other_ = std::make_unique<Sim>(kSecondCom, "--freeze");
    ASSERT_TRUE(other_->started());
    other_->SetValue(0x01, 0x10, 0xBBBB);
  }

  void TearDown() override {
    WineTest::TearDown();
    other_.reset();
  }

  // Reads 0110 and checks that it came from the line holding `expected`.
  void ExpectReads(uint16_t expected) {
    melbax::Variable word = Declare("0110", DataType::kUint16);
    const melbax::Outcome read = instance().Read(word);
    EXPECT_EQ(read.result, KAVI_OK);
    EXPECT_EQ(read.messages, Messages{});
    EXPECT_EQ(word.value(), expected);
  }

  std::unique_ptr<Sim> other_;
};

TEST_F(PortCommands, ClosedPortRefusesEveryTransaction) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  sim().SetValue(0x01, 0x10, 0xAAAA);
  ExpectReads(0xAAAA);
  Line();

  const melbax::Outcome closed = instance().ClosePort();
  EXPECT_EQ(closed.result, KAVI_OK);
  EXPECT_EQ(closed.messages, Messages{});

  melbax::Variable word = Declare("0110", DataType::kUint16);
  const melbax::Outcome read = instance().Read(word);
  EXPECT_EQ(read.result, KAVI_REFUSED);
  EXPECT_EQ(read.messages, Messages{kNotOpen});
  const melbax::Outcome written = instance().Write(word, 1);
  EXPECT_EQ(written.result, KAVI_REFUSED);
  EXPECT_EQ(written.messages,
            Messages{Msg32("KAVIR> SingleWrite() com-port is not open")});
  EXPECT_THAT(Line(), SizeIs(0));
  EXPECT_EQ(sim().Value(0x01, 0x10), 0xAAAAu);

  const melbax::Outcome again = instance().ClosePort();
  EXPECT_EQ(again.result, KAVI_OK);
  EXPECT_EQ(again.messages, Messages{});
}

TEST_F(PortCommands, ReopenAfterCloseReachesTheSameLine) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  sim().SetValue(0x01, 0x10, 0xAAAA);
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(instance().ClosePort().ok());
    const melbax::Outcome reopened = instance().ReopenPort();
    EXPECT_EQ(reopened.result, KAVI_OK) << round;
    EXPECT_EQ(reopened.messages, Messages{});
    ExpectReads(0xAAAA);
  }
  melbax::Variable word = Declare("0110", DataType::kUint16);
  ASSERT_TRUE(instance().Write(word, 0x0C0C).ok());
  ASSERT_TRUE(instance().ClosePort().ok());
  ASSERT_TRUE(instance().ReopenPort().ok());
  ExpectReads(0x0C0C);
}

TEST_F(PortCommands, ChangeToASecondLineAndBack) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  ASSERT_NO_FATAL_FAILURE(BeginSecondLine());
  sim().SetValue(0x01, 0x10, 0xAAAA);
  ExpectReads(0xAAAA);

  melbax::PortChange change;
  change.name = DriverName(kSecondCom);
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_OK);
  EXPECT_EQ(changed.messages, Messages{});
  ExpectReads(0xBBBB);
  melbax::Variable word = Declare("0110", DataType::kUint16);
  ASSERT_TRUE(instance().Write(word, 0x0B0B).ok());
  EXPECT_EQ(other_->Value(0x01, 0x10), 0x0B0Bu);
  EXPECT_EQ(sim().Value(0x01, 0x10), 0xAAAAu);

  change.name = DriverName(kCom);
  ASSERT_TRUE(instance().ChangePort(change).ok());
  ExpectReads(0xAAAA);
  // The stored settings are the new ones: a reopen goes to the same line.
  ASSERT_TRUE(instance().ClosePort().ok());
  ASSERT_TRUE(instance().ReopenPort().ok());
  ExpectReads(0xAAAA);
}

TEST_F(PortCommands, ChangeWithNewLineSettingsAndReadTimeOut) {
  ASSERT_NO_FATAL_FAILURE(Begin("--freeze", 5000));
  ASSERT_NO_FATAL_FAILURE(BeginSecondLine());
  melbax::PortChange change;
  change.name = DriverName(kSecondCom);
  change.line = LineSettings{19200, 8, 2, 0};
  change.readTimeoutMs = 100;
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_OK);
  EXPECT_EQ(changed.messages, Messages{});
  ExpectReads(0xBBBB);

  // The new time-out is in force: five silent attempts end the read.
  other_->Script("silence*5");
  melbax::Variable word = Declare("0110", DataType::kUint16);
  EXPECT_EQ(instance().Read(word).result, KAVI_SEVERE);
}

TEST_F(PortCommands, ChangeToAPortThatDoesNotOpen) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  sim().SetValue(0x01, 0x10, 0xAAAA);
  melbax::PortChange change;
  change.name = DriverName(kMissingCom);
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_SEVERE);
  EXPECT_EQ(
      changed.messages,
      Messages{Msg32("KAVIR> ChangeKaviParams() open new COM port failed")});

  // The old port was closed first; the bad name is now the stored one.
  melbax::Variable word = Declare("0110", DataType::kUint16);
  EXPECT_EQ(instance().Read(word).messages, Messages{kNotOpen});
  const melbax::Outcome reopened = instance().ReopenPort();
  EXPECT_EQ(reopened.result, KAVI_SEVERE);
  EXPECT_EQ(reopened.messages,
            Messages{Msg8("KAVIR> ReOpenCom() opening COM port failed")});

  change.name = DriverName(kCom);
  ASSERT_TRUE(instance().ChangePort(change).ok());
  ExpectReads(0xAAAA);
}

TEST_F(PortCommands, StartOnAPortThatDoesNotExist) {
  ASSERT_NE(TheDriver(), nullptr);
  melbax::Instance lone(TheDriver());
  melbax::PortConfig port;
  port.name = DriverName(kMissingCom);
  const melbax::Outcome started = lone.Start(port);
  EXPECT_EQ(started.result, KAVI_SEVERE);
  EXPECT_EQ(started.messages,
            Messages{Msg32("KAVIR> ColdStart() error opening COM port")});
  melbax::Variable word;
  ASSERT_TRUE(lone.Declare("0110", DataType::kUint16, word).ok());
  EXPECT_EQ(lone.Read(word).messages, Messages{kNotOpen});
}

TEST_F(PortCommands, EndReleasesThePortForAnotherInstance) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  sim().SetValue(0x01, 0x10, 0xAAAA);
  const melbax::Outcome ended = instance().End();
  EXPECT_EQ(ended.result, KAVI_OK);
  EXPECT_EQ(ended.messages, Messages{});

  melbax::Instance second(TheDriver());
  melbax::PortConfig port;
  port.name = DriverName(kCom);
  ASSERT_TRUE(second.Start(port).ok());
  melbax::Variable word;
  ASSERT_TRUE(second.Declare("0110", DataType::kUint16, word).ok());
  ASSERT_TRUE(second.Read(word).ok());
  EXPECT_EQ(word.value(), 0xAAAA);
}

// The controller's line goes away in the middle of a run: the exchange
// fails within its attempts, never hangs, and the instance moves on to a
// new line.
TEST_F(PortCommands, LineGoneMidRun) {
  ASSERT_NO_FATAL_FAILURE(Begin("--freeze", 100));
  sim().SetValue(0x01, 0x10, 0xAAAA);
  melbax::Variable word = Declare("0110", DataType::kUint16);
  ASSERT_TRUE(instance().Read(word).ok());
  sim_.reset();

  const melbax::Outcome read = instance().Read(word);
  EXPECT_EQ(read.result, KAVI_SEVERE);
  ASSERT_FALSE(read.messages.empty());
  EXPECT_EQ(read.messages.back(),
            Msg8("KAVIR> SingleRead() error while reading PI=10"));
  EXPECT_EQ(word.value(), 0xAAAA) << "the value of the last good read stays";

  ASSERT_NO_FATAL_FAILURE(BeginSecondLine());
  melbax::PortChange change;
  change.name = DriverName(kSecondCom);
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_OK);
  ExpectReads(0xBBBB);
}

// "NUL" is opened and never configured: writes vanish and reads find
// nothing, so every exchange fails after its attempts; the port commands
// work on it as on any port.
class NullDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(TheDriver(), nullptr);
    instance_ = std::make_unique<melbax::Instance>(TheDriver());
    melbax::PortConfig port;
    port.name = "NUL";
    port.readTimeoutMs = 100;
    const melbax::Outcome started = instance_->Start(port);
    ASSERT_EQ(started.result, KAVI_OK);
    ASSERT_EQ(started.messages, Messages{Msg32(kBanner)});
  }

  std::unique_ptr<melbax::Instance> instance_;
};

TEST_F(NullDevice, ReadGetsNoReplyInFiveAttempts) {
  melbax::Variable word;
  ASSERT_TRUE(instance_->Declare("0110", DataType::kUint16, word).ok());
  const melbax::Outcome read = instance_->Read(word);
  EXPECT_EQ(read.result, KAVI_SEVERE);
  Messages expected;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    expected = Seq({expected, ReadRetry("KAVIR> ReceiveLongSet() wrong "
                                        "length reading",
                                        attempt)});
  }
  expected.push_back(Msg8("KAVIR> SingleRead() error while reading PI=10"));
  EXPECT_EQ(read.messages, expected);
}

TEST_F(NullDevice, StationFFWriteIsSentAndNotWaitedFor) {
  melbax::Variable all;
  ASSERT_TRUE(instance_->Declare("FF10", DataType::kUint16, all).ok());
  const melbax::Outcome written = instance_->Write(all, 0x4242);
  EXPECT_EQ(written.result, KAVI_OK);
  EXPECT_EQ(written.messages, Messages{});
}

DWORD HandlesOfThisProcess() {
  DWORD count = 0;
  EXPECT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &count));
  return count;
}

TEST_F(NullDevice, ReopenWhileOpenKeepsOneHandle) {
  // The null device opens a second time, unlike a held serial port; the
  // first handle is closed, not lost.
  const DWORD handles = HandlesOfThisProcess();
  for (int round = 0; round < 3; ++round) {
    const melbax::Outcome reopened = instance_->ReopenPort();
    EXPECT_EQ(reopened.result, KAVI_OK);
    EXPECT_EQ(reopened.messages, Messages{});
  }
  EXPECT_EQ(HandlesOfThisProcess(), handles);
  EXPECT_TRUE(instance_->ClosePort().ok());
  EXPECT_TRUE(instance_->ReopenPort().ok());
  EXPECT_TRUE(instance_->ClosePort().ok());
}

TEST_F(NullDevice, ChangeFromNulToASimulatedLine) {
  Sim line(kCom, "--freeze");
  ASSERT_TRUE(line.started());
  line.SetValue(0x01, 0x10, 0x4321);
  melbax::PortChange change;
  change.name = DriverName(kCom);
  ASSERT_TRUE(instance_->ChangePort(change).ok());
  melbax::Variable word;
  ASSERT_TRUE(instance_->Declare("0110", DataType::kUint16, word).ok());
  ASSERT_TRUE(instance_->Read(word).ok());
  EXPECT_EQ(word.value(), 0x4321);
  EXPECT_TRUE(instance_->ClosePort().ok());
}

}  // namespace
}  // namespace kaviros::wine
