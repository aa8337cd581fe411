// The driver's attempts through the Win32 backend under each fault the
// simulated line and controller produce: the result, and the messages in
// their order.
#include <gtest/gtest.h>

#include "rig.h"

namespace kaviros::wine {
namespace {

const std::string kLongWrongLength =
    "KAVIR> ReceiveLongSet() wrong length reading";
const std::string kLongWrongStart =
    "KAVIR> ReceiveLongSet() received wrong start character";
const std::string kLongChecking =
    "KAVIR> ReceiveLongSet() error checking telegram";
const std::string kLongTransmission =
    "KAVIR> ReceiveLongSet() error bit set : transmission error ";
const std::string kLongNotReady =
    "KAVIR> ReceiveLongSet() error bit set : request disable, equipment not "
    "ready ";
const std::string kShortWrongLength =
    "KAVIR> ReceiveShortSet() wrong length reading";
const std::string kShortChecking =
    "KAVIR> ReceiveShortSet() error checking telegram";
const std::string kShortNotReady =
    "KAVIR> ReceiveShortSet() error bit set : request disable, equipment not "
    "ready ";
const std::string kShortServiceRequest =
    "KAVIR> ReceiveShortSet() warning: error bit set : Sevice request ";

Messages FiveReadRetries(const std::string& receiverMessage) {
  Messages all;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    all = Seq({all, ReadRetry(receiverMessage, attempt)});
  }
  return all;
}

Messages FiveWriteRetries(const std::string& receiverMessage) {
  Messages all;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    all = Seq({all, WriteRetry(receiverMessage, attempt)});
  }
  return all;
}

// Every exchange is with station 01 and, where it reads or writes a
// parameter, PI 10 (16 bits, 0x1234 in the controller).
enum class Kind {
  kParameter,      // read 0110
  kStatus,         // read the equipment status
  kBlock,          // read the block 01F0
  kWrite,          // write 0x4321 to 0110
  kBitWrite,       // set bit 3 of 0110
  kVerifiedWrite,  // write 0x4321 to 0110, the controller asks to read back
};

constexpr uint32_t kHeld = 0x1234;
constexpr int64_t kWritten = 0x4321;
constexpr uint32_t kWithBit3 = 0x123C;

struct FaultCase {
  const char* name;
  Kind kind;
  const char* script;  // faults of the replies in turn, then none
  int32_t result;
  Messages messages;
  uint32_t readTimeoutMs = 100;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

const FaultCase kFaults[] = {
    {"Silence", Kind::kParameter, "silence", KAVI_OK,
     ReadRetry(kLongWrongLength, 1)},
    {"LateWithinTheTimeOut", Kind::kParameter, "delay:50", KAVI_OK, {}, 3000},
    {"CorruptedStartByte", Kind::kParameter, "flip:0", KAVI_OK,
     ReadRetry(kLongWrongStart, 1)},
    {"CorruptedValue", Kind::kParameter, "flip:10", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"WrongChecksum", Kind::kParameter, "checksum", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"WrongStation", Kind::kParameter, "station:02", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"Truncated", Kind::kParameter, "truncate:1", KAVI_OK,
     ReadRetry(kLongWrongLength, 1)},
    {"ExtraBytesAfter", Kind::kParameter, "extra:4", KAVI_OK, {}},
    {"GarbageBefore", Kind::kParameter, "garbage:3", KAVI_OK,
     ReadRetry(kLongWrongStart, 1)},
    {"TransmissionErrorBit", Kind::kParameter, "status:20", KAVI_OK,
     ReadRetry(kLongTransmission, 1)},
    {"NotReadyEndsTheRead",
     Kind::kParameter,
     "status:08",
     KAVI_REFUSED,
     {Msg8(kLongNotReady), Msg8("KAVIR> Read() error reading reply"),
      Msg8("KAVIR> SingleRead() error while reading PI=10")}},
    {"FourFaultsThenAReply", Kind::kParameter,
     "silence,checksum,truncate:2,garbage:2", KAVI_OK,
     Seq({ReadRetry(kLongWrongLength, 1), ReadRetry(kLongChecking, 2),
          ReadRetry(kLongWrongLength, 3), ReadRetry(kLongWrongStart, 4)})},
    {"FiveSilences", Kind::kParameter, "silence*5", KAVI_SEVERE,
     Seq({FiveReadRetries(kLongWrongLength),
          {Msg8("KAVIR> SingleRead() error while reading PI=10")}})},

    {"StatusSilence", Kind::kStatus, "silence", KAVI_OK,
     ReadRetry(kShortWrongLength, 1)},
    {"StatusWrongChecksum", Kind::kStatus, "checksum", KAVI_OK,
     ReadRetry(kShortChecking, 1)},
    {"StatusFiveSilences", Kind::kStatus, "silence*5", KAVI_SEVERE,
     Seq({FiveReadRetries(kShortWrongLength),
          {Msg8("KAVIR> SingleRead() error while reading PI=f5")}})},

    {"BlockWrongChecksum", Kind::kBlock, "checksum", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"BlockNotReady",
     Kind::kBlock,
     "status:08",
     KAVI_REFUSED,
     {Msg8(kLongNotReady), Msg8("KAVIR> Read() error reading reply")}},

    {"WriteSilence", Kind::kWrite, "silence", KAVI_OK,
     WriteRetry(kShortWrongLength, 1)},
    {"WriteWrongStation", Kind::kWrite, "station:02", KAVI_OK,
     WriteRetry(kShortChecking, 1)},
    {"WriteGarbageBefore", Kind::kWrite, "garbage:1", KAVI_OK,
     WriteRetry(kShortChecking, 1)},
    {"WriteNotReady",
     Kind::kWrite,
     "status:08",
     KAVI_REFUSED,
     {Msg8(kShortNotReady),
      Msg8("KAVIR> WriteParameter() device not able or ready to do this job"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}},
    {"WriteFiveSilences", Kind::kWrite, "silence*5", KAVI_SEVERE,
     Seq({FiveWriteRetries(kShortWrongLength),
          {Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}})},

    {"BitWriteAcknowledgementLost", Kind::kBitWrite, "ok,silence", KAVI_OK,
     WriteRetry(kShortWrongLength, 1)},
    {"BitWriteReadFails", Kind::kBitWrite, "silence*5", KAVI_SEVERE,
     Seq({FiveReadRetries(kLongWrongLength),
          {Msg8("KAVIR> SingleRead() error while reading PI=10"),
           Msg8("KAVIR> WriteParameter() error SingleRead() for spec. dig. "
                "gate, rc=2"),
           Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}})},

    {"VerifiedWriteReadBackRetried", Kind::kVerifiedWrite, "ok,checksum",
     KAVI_OK, Seq({{Msg8(kShortServiceRequest)}, ReadRetry(kLongChecking, 1)})},
    {"VerifiedWriteReadBackFails", Kind::kVerifiedWrite, "ok,silence*5",
     KAVI_REFUSED,
     Seq({{Msg8(kShortServiceRequest)},
          FiveReadRetries(kLongWrongLength),
          {Msg8("KAVIR> SingleRead() error while reading PI=10"),
           Msg8("KAVIR> WriteParameter() error while reading PI=10"),
           Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}})},
};

class Faults : public WineTest,
               public ::testing::WithParamInterface<FaultCase> {
 protected:
  // Runs the case's exchange; checks the value where it succeeded.
  melbax::Outcome Exchange(Kind kind) {
    switch (kind) {
      case Kind::kParameter: {
        melbax::Variable word = Declare("0110", DataType::kUint16);
        melbax::Outcome outcome = instance().Read(word);
        if (outcome.ok()) {
          EXPECT_EQ(word.value(), kHeld);
        }
        return outcome;
      }
      case Kind::kStatus: {
        uint16_t status = 0xFFFF;
        melbax::Outcome outcome = instance().ReadStatus(0x01, status);
        if (outcome.ok()) {
          EXPECT_EQ(status, sim().Value(0x01, 0xF5));
        }
        return outcome;
      }
      case Kind::kBlock: {
        melbax::Variable block = Declare("01F0", DataType::kBlock);
        melbax::Outcome outcome = instance().Read(block);
        if (outcome.ok()) {
          EXPECT_EQ(block.block()[0], sim().Value(0x01, 0xF0));
          EXPECT_EQ(block.block()[1], sim().Value(0x01, 0xF1));
        }
        return outcome;
      }
      case Kind::kWrite:
      case Kind::kVerifiedWrite: {
        const melbax::Variable word = Declare("0110", DataType::kUint16);
        melbax::Outcome outcome = instance().Write(word, kWritten);
        if (outcome.ok()) {
          EXPECT_EQ(sim().Value(0x01, 0x10), kWritten);
        }
        return outcome;
      }
      case Kind::kBitWrite: {
        const melbax::Variable bit = Declare("011003", DataType::kBit);
        melbax::Outcome outcome = instance().Write(bit, 1);
        if (outcome.ok()) {
          EXPECT_EQ(sim().Value(0x01, 0x10), kWithBit3);
        }
        return outcome;
      }
    }
    return {};
  }
};

TEST_P(Faults, ResultAndMessagesInOrder) {
  const FaultCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Begin(c.kind == Kind::kVerifiedWrite
                                    ? "--stations 01,02 --freeze "
                                      "--service-request"
                                    : "--stations 01,02 --freeze",
                                c.readTimeoutMs));
  sim().SetValue(0x01, 0x10, kHeld);
  sim().SetValue(0x01, 0xF0, 0x0123);
  sim().Script(c.script);

  const melbax::Outcome outcome = Exchange(c.kind);

  EXPECT_EQ(outcome.result, c.result);
  EXPECT_EQ(outcome.messages, c.messages);

  // Whatever the fault left on the line does not disturb the next read.
  ASSERT_NO_FATAL_FAILURE(Settle());
  sim().SetValue(0x01, 0x10, 0x0BAD);
  melbax::Variable word = Declare("0110", DataType::kUint16);
  const melbax::Outcome next = instance().Read(word);
  EXPECT_EQ(next.result, KAVI_OK);
  EXPECT_EQ(next.messages, Messages{});
  EXPECT_EQ(word.value(), 0x0BAD);
}

INSTANTIATE_TEST_SUITE_P(Wine, Faults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) {
                           return std::string(info.param.name);
                         });

class LateReplies : public WineTest {};

// A reply later than all five attempts: the replies to the later attempts
// queue up behind it and arrive when the read has long given up. The next
// read must not take them for its own.
TEST_F(LateReplies, BeyondEveryAttemptTheReadFailsAndTheNextIsNotMisled) {
  ASSERT_NO_FATAL_FAILURE(Begin("--freeze", 100));
  sim().SetValue(0x01, 0x10, kHeld);
  sim().Script("delay:2000");
  melbax::Variable word = Declare("0110", DataType::kUint16);

  const melbax::Outcome read = instance().Read(word);

  EXPECT_EQ(read.result, KAVI_SEVERE);
  EXPECT_EQ(read.messages,
            Seq({FiveReadRetries(kLongWrongLength),
                 {Msg8("KAVIR> SingleRead() error while reading PI=10")}}));

  sim().SetValue(0x01, 0x10, 0x5678);
  ASSERT_TRUE(sim().WaitForReplyBytes(5 * 14));
  const melbax::Outcome next = instance().Read(word);
  EXPECT_EQ(next.result, KAVI_OK);
  EXPECT_EQ(next.messages, Messages{});
  EXPECT_EQ(word.value(), 0x5678);
}

// A reply later than one time-out: one attempt or more fail, and a later
// one takes it; how many depends on the machine's pace.
TEST_F(LateReplies, BeyondOneTimeOutALaterAttemptTakesTheReply) {
  ASSERT_NO_FATAL_FAILURE(Begin("--freeze", 100));
  sim().SetValue(0x01, 0x10, kHeld);
  sim().Script("delay:250");
  melbax::Variable word = Declare("0110", DataType::kUint16);

  const melbax::Outcome read = instance().Read(word);

  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(word.value(), kHeld);
  const size_t failed = read.messages.size() / 2;
  ASSERT_GE(failed, 1u);
  ASSERT_LE(failed, 4u);
  Messages expected;
  for (size_t attempt = 1; attempt <= failed; ++attempt) {
    expected =
        Seq({expected, ReadRetry(kLongWrongLength, static_cast<int>(attempt))});
  }
  EXPECT_EQ(read.messages, expected);
}

}  // namespace
}  // namespace kaviros::wine
