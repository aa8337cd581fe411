// Closing, reopening and changing the port between transactions, the
// exclusive hold on a port, and a controller line that goes away.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rig.h"

namespace kaviros::e2e {
namespace {

using ::testing::SizeIs;

const Message kInstalled = Msg32(
    "KAVIR> Gossen Metrawatt R2600/R2601 32bit driver installed Version 1.00");

class E2ePortCommands : public E2eTest {
 protected:
  // A second simulated line, told apart by its values.
  void BeginSecondLine() {
    other_ = std::make_unique<r2600sim::Simulator>(Frozen());
    std::string error;
    ASSERT_TRUE(other_->Start(&error)) << error;
    other_->controller().SetValue(0x01, 0x10, 0xBBBB);
  }

  void TearDown() override {
    E2eTest::TearDown();
    if (other_) other_->Stop();
  }

  // Reads 0110 and checks that it came from the line holding `expected`.
  void ExpectReads(uint16_t expected) {
    melbax::Variable word = Declare("0110", DataType::kUint16);
    const melbax::Outcome read = instance().Read(word);
    EXPECT_EQ(read.result, KAVI_OK);
    EXPECT_EQ(read.messages, Messages{});
    EXPECT_EQ(word.value(), expected);
  }

  std::unique_ptr<r2600sim::Simulator> other_;
};

TEST_F(E2ePortCommands, ClosedPortRefusesEveryTransaction) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0x10, 0xAAAA);
  ExpectReads(0xAAAA);
  Line();

  const melbax::Outcome closed = instance().ClosePort();
  EXPECT_EQ(closed.result, KAVI_OK);
  EXPECT_EQ(closed.messages, Messages{});

  melbax::Variable word = Declare("0110", DataType::kUint16);
  const melbax::Outcome read = instance().Read(word);
  EXPECT_EQ(read.result, KAVI_REFUSED);
  EXPECT_EQ(read.messages,
            Messages{Msg32("KAVIR> SingleRead() com-port is not open")});
  melbax::Variable block = Declare("01F0", DataType::kBlock);
  const melbax::Outcome blockRead = instance().Read(block);
  EXPECT_EQ(blockRead.result, KAVI_REFUSED);
  EXPECT_EQ(blockRead.messages,
            Messages{Msg32("KAVIR> BlockRead() com-port is not open")});
  const melbax::Outcome written = instance().Write(word, 1);
  EXPECT_EQ(written.result, KAVI_REFUSED);
  EXPECT_EQ(written.messages,
            Messages{Msg32("KAVIR> SingleWrite() com-port is not open")});
  EXPECT_EQ(instance().Reset(0x01).result, KAVI_REFUSED);
  EXPECT_THAT(Line(), SizeIs(0));
  EXPECT_EQ(controller().Value(0x01, 0x10), 0xAAAAu);

  // Closing a closed port is no fault.
  const melbax::Outcome again = instance().ClosePort();
  EXPECT_EQ(again.result, KAVI_OK);
  EXPECT_EQ(again.messages, Messages{});
}

TEST_F(E2ePortCommands, ReopenAfterCloseReachesTheSameLine) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0x10, 0xAAAA);
  ASSERT_TRUE(instance().ClosePort().ok());

  const melbax::Outcome reopened = instance().ReopenPort();
  EXPECT_EQ(reopened.result, KAVI_OK);
  EXPECT_EQ(reopened.messages, Messages{});
  ExpectReads(0xAAAA);

  // And once more, with a write in between.
  melbax::Variable word = Declare("0110", DataType::kUint16);
  ASSERT_TRUE(instance().Write(word, 0x0C0C).ok());
  ASSERT_TRUE(instance().ClosePort().ok());
  ASSERT_TRUE(instance().ReopenPort().ok());
  ExpectReads(0x0C0C);
}

TEST_F(E2ePortCommands, ReopenWhileOpenFailsAndTheOpenPortStaysInUse) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0x10, 0xAAAA);
  const melbax::Outcome reopened = instance().ReopenPort();
  EXPECT_EQ(reopened.result, KAVI_SEVERE);
  EXPECT_EQ(reopened.messages,
            Messages{Msg8("KAVIR> ReOpenCom() opening COM port failed")});
  ExpectReads(0xAAAA);
}

TEST_F(E2ePortCommands, ChangeToASecondLine) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  ASSERT_NO_FATAL_FAILURE(BeginSecondLine());
  controller().SetValue(0x01, 0x10, 0xAAAA);
  ExpectReads(0xAAAA);
  const uint64_t onFirst = sim().Telegrams();

  melbax::PortChange change;
  change.name = DriverName(*other_);
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_OK);
  EXPECT_EQ(changed.messages, Messages{});
  ExpectReads(0xBBBB);
  melbax::Variable word = Declare("0110", DataType::kUint16);
  ASSERT_TRUE(instance().Write(word, 0x0B0B).ok());
  EXPECT_EQ(other_->controller().Value(0x01, 0x10), 0x0B0Bu);
  EXPECT_EQ(controller().Value(0x01, 0x10), 0xAAAAu);
  EXPECT_EQ(sim().Telegrams(), onFirst);

  // The first line was released: the instance can go back to it.
  change.name = DriverName(sim());
  ASSERT_TRUE(instance().ChangePort(change).ok());
  ExpectReads(0xAAAA);
  // The stored settings are the new ones: a reopen goes to the same line.
  ASSERT_TRUE(instance().ClosePort().ok());
  ASSERT_TRUE(instance().ReopenPort().ok());
  ExpectReads(0xAAAA);
}

TEST_F(E2ePortCommands, ChangeFromAClosedPort) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  ASSERT_NO_FATAL_FAILURE(BeginSecondLine());
  ASSERT_TRUE(instance().ClosePort().ok());
  melbax::PortChange change;
  change.name = DriverName(*other_);
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_OK);
  EXPECT_EQ(changed.messages, Messages{});
  ExpectReads(0xBBBB);
}

TEST_F(E2ePortCommands, ChangeWithNewLineSettingsAndReadTimeOut) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen(), 5000));
  ASSERT_NO_FATAL_FAILURE(BeginSecondLine());
  melbax::PortChange change;
  change.name = DriverName(*other_);
  change.line = LineSettings{19200, 8, 2, 0};
  change.readTimeoutMs = kShortTimeoutMs;
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_OK);
  EXPECT_EQ(changed.messages, Messages{});
  ExpectReads(0xBBBB);

  // The new time-out is in force: five silent attempts end the read.
  other_->faults().SetScript(Script("silence*5"));
  melbax::Variable word = Declare("0110", DataType::kUint16);
  EXPECT_EQ(instance().Read(word).result, KAVI_SEVERE);
}

TEST_F(E2ePortCommands, ChangeToAPortThatDoesNotOpen) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0x10, 0xAAAA);
  melbax::PortChange change;
  change.name = "ttyNONE7";
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_SEVERE);
  EXPECT_EQ(
      changed.messages,
      Messages{Msg32("KAVIR> ChangeKaviParams() open new COM port failed")});

  // The old port was closed first; the bad name is now the stored one.
  melbax::Variable word = Declare("0110", DataType::kUint16);
  EXPECT_EQ(instance().Read(word).messages,
            Messages{Msg32("KAVIR> SingleRead() com-port is not open")});
  const melbax::Outcome reopened = instance().ReopenPort();
  EXPECT_EQ(reopened.result, KAVI_SEVERE);
  EXPECT_EQ(reopened.messages,
            Messages{Msg8("KAVIR> ReOpenCom() opening COM port failed")});

  change.name = DriverName(sim());
  ASSERT_TRUE(instance().ChangePort(change).ok());
  ExpectReads(0xAAAA);
}

TEST_F(E2ePortCommands, ChangeToLineSettingsThePortRefuses) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  melbax::PortChange change;
  change.name = DriverName(sim());
  change.line = LineSettings{12345, 8, 0, 2};  // no such rate
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_SEVERE);
  EXPECT_EQ(
      changed.messages,
      Messages{Msg32("KAVIR> ChangeKaviParams() open new COM port failed")});
  change.line = LineSettings{9600, 8, 0, 2};
  ASSERT_TRUE(instance().ChangePort(change).ok());
  controller().SetValue(0x01, 0x10, 0xAAAA);
  ExpectReads(0xAAAA);
}

TEST_F(E2ePortCommands, PortHeldByAnotherInstanceDoesNotOpen) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0x10, 0xAAAA);
  melbax::Instance second(TheDriver());
  melbax::PortConfig port;
  port.name = DriverName(sim());
  const melbax::Outcome started = second.Start(port);
  EXPECT_EQ(started.result, KAVI_SEVERE);
  EXPECT_EQ(started.messages,
            Messages{Msg32("KAVIR> ColdStart() error opening COM port")});
  // The holder is not disturbed.
  ExpectReads(0xAAAA);

  // Released, the port opens for the other instance, with the settings
  // its failed start kept.
  ASSERT_TRUE(instance().ClosePort().ok());
  const melbax::Outcome reopened = second.ReopenPort();
  EXPECT_EQ(reopened.result, KAVI_OK);
  melbax::Variable word;
  ASSERT_TRUE(second.Declare("0110", DataType::kUint16, word).ok());
  ASSERT_TRUE(second.Read(word).ok());
  EXPECT_EQ(word.value(), 0xAAAA);
  // Now the first one is kept out, by start, reopen or change alike.
  EXPECT_EQ(instance().ReopenPort().result, KAVI_SEVERE);
  melbax::PortChange change;
  change.name = DriverName(sim());
  EXPECT_EQ(instance().ChangePort(change).result, KAVI_SEVERE);
}

TEST_F(E2ePortCommands, StartOnAPortThatDoesNotExist) {
  ASSERT_NE(TheDriver(), nullptr);
  melbax::Instance lone(TheDriver());
  melbax::PortConfig port;
  port.name = "ttyNONE7";
  const melbax::Outcome started = lone.Start(port);
  EXPECT_EQ(started.result, KAVI_SEVERE);
  EXPECT_EQ(started.messages,
            Messages{Msg32("KAVIR> ColdStart() error opening COM port")});
  melbax::Variable word;
  ASSERT_TRUE(lone.Declare("0110", DataType::kUint16, word).ok());
  EXPECT_EQ(lone.Read(word).messages,
            Messages{Msg32("KAVIR> SingleRead() com-port is not open")});
}

TEST_F(E2ePortCommands, EndReleasesThePortForAnotherInstance) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  controller().SetValue(0x01, 0x10, 0xAAAA);
  const melbax::Outcome ended = instance().End();
  EXPECT_EQ(ended.result, KAVI_OK);
  EXPECT_EQ(ended.messages, Messages{});
  melbax::Instance second(TheDriver());
  melbax::PortConfig port;
  port.name = DriverName(sim());
  const melbax::Outcome started = second.Start(port);
  EXPECT_EQ(started.result, KAVI_OK);
  EXPECT_EQ(started.messages, Messages{kInstalled});
}

// The controller's line goes away in the middle of a run: the read fails
// within its attempts, never hangs, and the instance moves on to a new line.
TEST_F(E2ePortCommands, LineGoneMidRun) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen(), kShortTimeoutMs));
  controller().SetValue(0x01, 0x10, 0xAAAA);
  melbax::Variable word = Declare("0110", DataType::kUint16);
  ASSERT_TRUE(instance().Read(word).ok());
  sim().Stop();

  const Message unsent = Msg8("KAVIR> SEND> Unable to send message.");
  const melbax::Outcome read = instance().Read(word);
  EXPECT_EQ(read.result, KAVI_SEVERE);
  Messages expected;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    expected.push_back(unsent);
    expected.push_back(Msg8("KAVIR> Read() error sending request, retry " +
                            std::to_string(attempt)));
  }
  expected.push_back(Msg8("KAVIR> SingleRead() error while reading PI=10"));
  EXPECT_EQ(read.messages, expected);
  EXPECT_EQ(word.value(), 0xAAAA) << "the value of the last good read stays";

  const melbax::Outcome written = instance().Write(word, 1);
  EXPECT_EQ(written.result, KAVI_SEVERE);
  expected.clear();
  for (int attempt = 1; attempt <= 5; ++attempt) {
    expected.push_back(unsent);
    expected.push_back(
        Msg8("KAVIR> WriteParameter() error sending request, retry " +
             std::to_string(attempt)));
  }
  expected.push_back(Msg8("KAVIR> SingleWrite() error while writing PI=0x10"));
  EXPECT_EQ(written.messages, expected);

  const melbax::Outcome reset = instance().Reset(0x01);
  EXPECT_EQ(reset.result, KAVI_SEVERE);
  EXPECT_EQ(
      reset.messages,
      (Messages{unsent, Msg8("KAVIR> ResetEquipment() error sending request"),
                Msg8("KAVIR> SingleWrite() error while writing PI=0xf4")}));

  ASSERT_NO_FATAL_FAILURE(BeginSecondLine());
  melbax::PortChange change;
  change.name = DriverName(*other_);
  const melbax::Outcome changed = instance().ChangePort(change);
  EXPECT_EQ(changed.result, KAVI_OK);
  ExpectReads(0xBBBB);
}

}  // namespace
}  // namespace kaviros::e2e
