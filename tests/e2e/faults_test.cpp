// The driver's attempts under every fault the simulated line and controller
// can produce: the result, and the driver's messages in their order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rig.h"

namespace kaviros::e2e {
namespace {

using ::testing::SizeIs;

// The receivers' messages.
const std::string kLongWrongLength =
    "KAVIR> ReceiveLongSet() wrong length reading";
const std::string kLongWrongStart =
    "KAVIR> ReceiveLongSet() received wrong start character";
const std::string kLongChecking =
    "KAVIR> ReceiveLongSet() error checking telegram";
const std::string kLongAcknowledge =
    "KAVIR> ReceiveLongSet() error bit set : instruction acknowledgement ";
const std::string kLongTransmission =
    "KAVIR> ReceiveLongSet() error bit set : transmission error ";
const std::string kLongNotReady =
    "KAVIR> ReceiveLongSet() error bit set : request disable, equipment not "
    "ready ";
const std::string kShortWrongLength =
    "KAVIR> ReceiveShortSet() wrong length reading";
const std::string kShortChecking =
    "KAVIR> ReceiveShortSet() error checking telegram";
const std::string kShortAcknowledge =
    "KAVIR> ReceiveShortSet() error bit set : instruction acknowledgement ";
const std::string kShortTransmission =
    "KAVIR> ReceiveShortSet() error bit set : transmission error ";
const std::string kShortNotReady =
    "KAVIR> ReceiveShortSet() error bit set : request disable, equipment not "
    "ready ";
const std::string kShortServiceRequest =
    "KAVIR> ReceiveShortSet() warning: error bit set : Sevice request ";

Messages Seq(std::initializer_list<Messages> parts) {
  Messages all;
  for (const Messages& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Five failed attempts of a read, each with the receiver's message.
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

// The exchange a case makes: always with station 01 and, where it reads or
// writes a parameter, PI 10 (16 bits, 0x1234 in the controller).
enum class Kind {
  kParameter,      // read 0110
  kStatus,         // read the equipment status
  kCycleValue,     // read 01F0 alone
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
  uint32_t readTimeoutMs = kShortTimeoutMs;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

const FaultCase kFaults[] = {
    // A parameter read, under each fault once and then a good reply.
    {"Silence", Kind::kParameter, "silence", KAVI_OK,
     ReadRetry(kLongWrongLength, 1)},
    {"LateWithinTheTimeOut", Kind::kParameter, "delay:50", KAVI_OK, {}, 3000},
    {"CorruptedStartByte", Kind::kParameter, "flip:0", KAVI_OK,
     ReadRetry(kLongWrongStart, 1)},
    {"CorruptedLength", Kind::kParameter, "flip:1", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"CorruptedSecondStartByte", Kind::kParameter, "flip:3", KAVI_OK,
     ReadRetry(kLongWrongLength, 1)},
    {"CorruptedStation", Kind::kParameter, "flip:4", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"CorruptedIndexEcho", Kind::kParameter, "flip:6", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"CorruptedExtension", Kind::kParameter, "flip:8", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"CorruptedValue", Kind::kParameter, "flip:10", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"CorruptedEndByte", Kind::kParameter, "flip:13", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"WrongChecksum", Kind::kParameter, "checksum", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"WrongStation", Kind::kParameter, "station:02", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"TruncatedByOne", Kind::kParameter, "truncate:1", KAVI_OK,
     ReadRetry(kLongWrongLength, 1)},
    {"TruncatedToTheStartByte", Kind::kParameter, "truncate:13", KAVI_OK,
     ReadRetry(kLongWrongLength, 1)},
    {"ExtraBytesAfter", Kind::kParameter, "extra:4", KAVI_OK, {}},
    {"GarbageBefore", Kind::kParameter, "garbage:3", KAVI_OK,
     ReadRetry(kLongWrongStart, 1)},
    {"InstructionAcknowledgementBit", Kind::kParameter, "status:10", KAVI_OK,
     ReadRetry(kLongAcknowledge, 1)},
    {"TransmissionErrorBit", Kind::kParameter, "status:20", KAVI_OK,
     ReadRetry(kLongTransmission, 1)},
    {"ServiceRequestBitIsNoError", Kind::kParameter, "status:80", KAVI_OK, {}},
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
    {"FiveDifferentFaults", Kind::kParameter,
     "flip:0,checksum,station:02,truncate:1,status:20", KAVI_SEVERE,
     Seq({ReadRetry(kLongWrongStart, 1),
          ReadRetry(kLongChecking, 2),
          ReadRetry(kLongChecking, 3),
          ReadRetry(kLongWrongLength, 4),
          ReadRetry(kLongTransmission, 5),
          {Msg8("KAVIR> SingleRead() error while reading PI=10")}})},

    // The equipment status: a short reply.
    {"StatusSilence", Kind::kStatus, "silence", KAVI_OK,
     ReadRetry(kShortWrongLength, 1)},
    {"StatusLateWithinTheTimeOut",
     Kind::kStatus,
     "delay:50",
     KAVI_OK,
     {},
     3000},
    {"StatusWrongChecksum", Kind::kStatus, "checksum", KAVI_OK,
     ReadRetry(kShortChecking, 1)},
    {"StatusWrongStation", Kind::kStatus, "station:02", KAVI_OK,
     ReadRetry(kShortChecking, 1)},
    {"StatusCorruptedEndByte", Kind::kStatus, "flip:4", KAVI_OK,
     ReadRetry(kShortChecking, 1)},
    {"StatusTruncated", Kind::kStatus, "truncate:1", KAVI_OK,
     ReadRetry(kShortWrongLength, 1)},
    {"StatusExtraBytesAfter", Kind::kStatus, "extra:3", KAVI_OK, {}},
    {"StatusGarbageBefore", Kind::kStatus, "garbage:1", KAVI_OK,
     ReadRetry(kShortChecking, 1)},
    {"StatusFiveSilences", Kind::kStatus, "silence*5", KAVI_SEVERE,
     Seq({FiveReadRetries(kShortWrongLength),
          {Msg8("KAVIR> SingleRead() error while reading PI=f5")}})},

    // One cycle value, and the block: long replies without an index.
    {"CycleValueSilence", Kind::kCycleValue, "silence", KAVI_OK,
     ReadRetry(kLongWrongLength, 1)},
    {"CycleValueCorrupted", Kind::kCycleValue, "flip:6", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"CycleValueWrongStation", Kind::kCycleValue, "station:02", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"CycleValueTruncated", Kind::kCycleValue, "truncate:2", KAVI_OK,
     ReadRetry(kLongWrongLength, 1)},
    {"CycleValueNotReady",
     Kind::kCycleValue,
     "status:08",
     KAVI_REFUSED,
     {Msg8(kLongNotReady), Msg8("KAVIR> Read() error reading reply"),
      Msg8("KAVIR> SingleRead() error while reading PI=f0")}},
    {"BlockWrongChecksum", Kind::kBlock, "checksum", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"BlockGarbageBefore", Kind::kBlock, "garbage:2", KAVI_OK,
     ReadRetry(kLongWrongStart, 1)},
    // The block read adds no summary of its own.
    {"BlockNotReady",
     Kind::kBlock,
     "status:08",
     KAVI_REFUSED,
     {Msg8(kLongNotReady), Msg8("KAVIR> Read() error reading reply")}},
    {"BlockFiveSilences", Kind::kBlock, "silence*5", KAVI_SEVERE,
     FiveReadRetries(kLongWrongLength)},

    // A value write: its short acknowledgement.
    {"WriteSilence", Kind::kWrite, "silence", KAVI_OK,
     WriteRetry(kShortWrongLength, 1)},
    {"WriteLateWithinTheTimeOut", Kind::kWrite, "delay:50", KAVI_OK, {}, 3000},
    {"WriteWrongChecksum", Kind::kWrite, "checksum", KAVI_OK,
     WriteRetry(kShortChecking, 1)},
    {"WriteWrongStation", Kind::kWrite, "station:02", KAVI_OK,
     WriteRetry(kShortChecking, 1)},
    {"WriteTruncated", Kind::kWrite, "truncate:2", KAVI_OK,
     WriteRetry(kShortWrongLength, 1)},
    {"WriteGarbageBefore", Kind::kWrite, "garbage:1", KAVI_OK,
     WriteRetry(kShortChecking, 1)},
    {"WriteExtraBytesAfter", Kind::kWrite, "extra:2", KAVI_OK, {}},
    {"WriteInstructionAcknowledgementBit", Kind::kWrite, "status:10", KAVI_OK,
     WriteRetry(kShortAcknowledge, 1)},
    {"WriteTransmissionErrorBit", Kind::kWrite, "status:20", KAVI_OK,
     WriteRetry(kShortTransmission, 1)},
    {"WriteNotReady",
     Kind::kWrite,
     "status:08",
     KAVI_REFUSED,
     {Msg8(kShortNotReady),
      Msg8("KAVIR> WriteParameter() device not able or ready to do this job"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}},
    // A service request that comes unasked still makes the driver read back.
    {"WriteServiceRequestBit",
     Kind::kWrite,
     "status:80",
     KAVI_OK,
     {Msg8(kShortServiceRequest)}},
    {"WriteFiveSilences", Kind::kWrite, "silence*5", KAVI_SEVERE,
     Seq({FiveWriteRetries(kShortWrongLength),
          {Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}})},

    // A bit write: the read of the present value, then the write.
    {"BitWriteReadRetried", Kind::kBitWrite, "checksum", KAVI_OK,
     ReadRetry(kLongChecking, 1)},
    {"BitWriteAcknowledgementLost", Kind::kBitWrite, "ok,silence", KAVI_OK,
     WriteRetry(kShortWrongLength, 1)},
    {"BitWriteReadNotReady",
     Kind::kBitWrite,
     "status:08",
     KAVI_REFUSED,
     {Msg8(kLongNotReady), Msg8("KAVIR> Read() error reading reply"),
      Msg8("KAVIR> SingleRead() error while reading PI=10"),
      Msg8("KAVIR> WriteParameter() error SingleRead() for spec. dig. gate, "
           "rc=1"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}},
    {"BitWriteReadFails", Kind::kBitWrite, "silence*5", KAVI_SEVERE,
     Seq({FiveReadRetries(kLongWrongLength),
          {Msg8("KAVIR> SingleRead() error while reading PI=10"),
           Msg8("KAVIR> WriteParameter() error SingleRead() for spec. dig. "
                "gate, rc=2"),
           Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}})},

    // A write the controller asks to read back.
    {"VerifiedWriteAcknowledgementLost", Kind::kVerifiedWrite, "silence",
     KAVI_OK,
     Seq({WriteRetry(kShortWrongLength, 1), {Msg8(kShortServiceRequest)}})},
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

class Faults : public E2eTest, public ::testing::WithParamInterface<FaultCase> {
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
          EXPECT_EQ(status, controller().EquipmentStatus(0x01));
        }
        return outcome;
      }
      case Kind::kCycleValue: {
        melbax::Variable f0 = Declare("01F0", DataType::kInt16);
        melbax::Outcome outcome = instance().Read(f0);
        if (outcome.ok()) {
          EXPECT_EQ(f0.value(), controller().Cycle(1)->actual);
        }
        return outcome;
      }
      case Kind::kBlock: {
        melbax::Variable block = Declare("01F0", DataType::kBlock);
        melbax::Outcome outcome = instance().Read(block);
        if (outcome.ok()) {
          const r2600sim::CycleValues held = *controller().Cycle(0x01);
          const auto words = block.block();
          EXPECT_EQ(static_cast<int16_t>(words[0]), held.actual);
          EXPECT_EQ(static_cast<int16_t>(words[1]), held.setpoint);
          EXPECT_EQ(static_cast<int16_t>(words[2]), held.output);
          EXPECT_EQ(static_cast<int16_t>(words[3]), held.deviation);
        }
        return outcome;
      }
      case Kind::kWrite:
      case Kind::kVerifiedWrite: {
        const melbax::Variable word = Declare("0110", DataType::kUint16);
        melbax::Outcome outcome = instance().Write(word, kWritten);
        if (outcome.ok()) {
          EXPECT_EQ(controller().Value(0x01, 0x10), kWritten);
        }
        return outcome;
      }
      case Kind::kBitWrite: {
        const melbax::Variable bit = Declare("011003", DataType::kBit);
        melbax::Outcome outcome = instance().Write(bit, 1);
        if (outcome.ok()) {
          EXPECT_EQ(controller().Value(0x01, 0x10), kWithBit3);
        }
        return outcome;
      }
    }
    return {};
  }
};

TEST_P(Faults, ResultAndMessagesInOrder) {
  const FaultCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen({0x01, 0x02}), c.readTimeoutMs));
  controller().SetValue(0x01, 0x10, kHeld);
  controller().SetValue(0x01, 0xF0, 0x0123);
  controller().SetValue(0x01, 0xF2, 0xF6);
  controller().SetServiceRequest(c.kind == Kind::kVerifiedWrite);
  sim().faults().SetScript(Script(c.script));

  const melbax::Outcome outcome = Exchange(c.kind);

  EXPECT_EQ(outcome.result, c.result);
  EXPECT_EQ(outcome.messages, c.messages);
  EXPECT_EQ(sim().faults().ScriptLeft(), 0u) << "not every fault was met";

  // Whatever the fault left on the line does not disturb the next read.
  ASSERT_NO_FATAL_FAILURE(Settle());
  controller().SetServiceRequest(false);
  controller().SetValue(0x01, 0x10, 0x0BAD);
  melbax::Variable word = Declare("0110", DataType::kUint16);
  const melbax::Outcome next = instance().Read(word);
  EXPECT_EQ(next.result, KAVI_OK);
  EXPECT_EQ(next.messages, Messages{});
  EXPECT_EQ(word.value(), 0x0BAD);
}

INSTANTIATE_TEST_SUITE_P(E2e, Faults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           return std::string(info.param.name);
                         });

class E2eLateReplies : public E2eTest {
 protected:
  // Waits until the simulator has put `bytes` reply bytes on the line.
  void WaitForReplyBytes(uint64_t bytes) {
    ASSERT_TRUE(Eventually([&] {
      const r2600sim::TransportCounters c = sim().Counters();
      return c.bytes_out + c.bytes_lost >= bytes;
    }));
  }
};

constexpr uint64_t kParameterReplyBytes = 14;

// A reply later than all five attempts (1.5 s): the replies to the later
// attempts queue up behind it on the line, and all of them arrive when the read
// has long given up. The next read must not take them for its own.
TEST_F(E2eLateReplies, BeyondEveryAttemptTheReadFailsAndTheNextIsNotMisled) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen(), kShortTimeoutMs));
  controller().SetValue(0x01, 0x10, kHeld);
  sim().faults().SetScript(Script("delay:3000"));
  melbax::Variable word = Declare("0110", DataType::kUint16);

  const melbax::Outcome read = instance().Read(word);

  EXPECT_EQ(read.result, KAVI_SEVERE);
  EXPECT_EQ(read.messages,
            Seq({FiveReadRetries(kLongWrongLength),
                 {Msg8("KAVIR> SingleRead() error while reading PI=10")}}));

  controller().SetValue(0x01, 0x10, 0x5678);
  ASSERT_NO_FATAL_FAILURE(WaitForReplyBytes(5 * kParameterReplyBytes));
  const melbax::Outcome next = instance().Read(word);
  EXPECT_EQ(next.result, KAVI_OK);
  EXPECT_EQ(next.messages, Messages{});
  EXPECT_EQ(word.value(), 0x5678);
}

// A reply a little later than one time-out: an attempt or more fail, and
// a later attempt takes it. How many attempts that takes depends on the
// machine's pace; each failed one is logged in order.
TEST_F(E2eLateReplies, BeyondOneTimeOutALaterAttemptTakesTheReply) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen(), kShortTimeoutMs));
  controller().SetValue(0x01, 0x10, kHeld);
  sim().faults().SetScript(Script("delay:750"));
  melbax::Variable word = Declare("0110", DataType::kUint16);

  const melbax::Outcome read = instance().Read(word);

  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(word.value(), kHeld);
  const size_t failed = read.messages.size() / 2;
  EXPECT_GE(failed, 1u);
  EXPECT_LE(failed, 4u);
  Messages expected;
  for (size_t attempt = 1; attempt <= failed; ++attempt) {
    expected =
        Seq({expected, ReadRetry(kLongWrongLength, static_cast<int>(attempt))});
  }
  EXPECT_EQ(read.messages, expected);

  const uint64_t requests = line_.RequestsSent();
  ASSERT_NO_FATAL_FAILURE(WaitForReplyBytes(requests * kParameterReplyBytes));
  controller().SetValue(0x01, 0x10, 0x5678);
  const melbax::Outcome next = instance().Read(word);
  EXPECT_EQ(next.result, KAVI_OK);
  EXPECT_EQ(next.messages, Messages{});
  EXPECT_EQ(word.value(), 0x5678);
}

// The late replies of a read that gave up arrive while the next read, of
// another parameter of the same width, waits for its own: they differ only
// in the index echo and the value, and must not pass for its reply.
TEST_F(E2eLateReplies, ALateReplyOfAnotherParameterIsNotTakenForThisOne) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen(), kShortTimeoutMs));
  controller().SetValue(0x01, 0x10, 0x1111);
  controller().SetValue(0x01, 0x11, 0x2222);
  sim().faults().SetScript(Script("delay:2000"));
  melbax::Variable first = Declare("0110", DataType::kUint16);
  melbax::Variable second = Declare("0111", DataType::kUint16);
  ASSERT_EQ(instance().Read(first).result, KAVI_SEVERE);

  const melbax::Outcome read = instance().Read(second);

  EXPECT_EQ(read.result, KAVI_OK);
  EXPECT_EQ(second.value(), 0x2222);
  for (const Message& message : read.messages) {
    EXPECT_THAT(
        message.text,
        ::testing::AnyOf(kLongWrongLength, kLongChecking,
                         ::testing::StartsWith(
                             "KAVIR> Read() error reading reply, retry ")));
  }
}

TEST_F(E2eLateReplies, AWriteAcknowledgedTooLateIsRepeated) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen(), kShortTimeoutMs));
  sim().faults().SetScript(Script("delay:3000"));
  const melbax::Variable word = Declare("0110", DataType::kUint16);
  const melbax::Outcome written = instance().Write(word, kWritten);
  EXPECT_EQ(written.result, KAVI_SEVERE);
  EXPECT_EQ(written.messages,
            Seq({FiveWriteRetries(kShortWrongLength),
                 {Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}}));
  // Five times the same telegram: the controller holds the value anyway.
  EXPECT_THAT(Line(), SizeIs(10));
  ASSERT_TRUE(sim().WaitForTelegrams(5, std::chrono::seconds(10)));
  EXPECT_EQ(controller().Value(0x01, 0x10), kWritten);
}

class E2eFaultRuns : public E2eTest {};

TEST_F(E2eFaultRuns, ABitWhoseReadFailsIsNotWritten) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen(), kShortTimeoutMs));
  controller().SetValue(0x01, 0x10, kHeld);
  sim().faults().SetScript(Script("silence*5"));
  const melbax::Variable bit = Declare("011003", DataType::kBit);
  EXPECT_EQ(instance().Write(bit, 1).result, KAVI_SEVERE);
  for (const std::string& telegram : Line()) {
    EXPECT_EQ(telegram.find("> 68 04"), std::string::npos) << telegram;
    EXPECT_EQ(telegram.find(" 69 "), std::string::npos) << telegram;
  }
  EXPECT_EQ(controller().Counters().writes, 0u);
  EXPECT_EQ(controller().Value(0x01, 0x10), kHeld);
}

// Faults by chance, many exchanges: every read that succeeds has the
// controller's value, and the failures are the driver's own results.
TEST_F(E2eFaultRuns, RandomFaultsNeverGiveAWrongValue) {
  r2600sim::SimulatorOptions options = Frozen();
  options.faults.seed = 20260101;
  ASSERT_NO_FATAL_FAILURE(Begin(options, kShortTimeoutMs));
  using r2600sim::FaultKind;
  for (const FaultKind kind :
       {FaultKind::kSilence, FaultKind::kFlip, FaultKind::kChecksum,
        FaultKind::kStation, FaultKind::kTruncate, FaultKind::kExtra,
        FaultKind::kGarbage, FaultKind::kDrop}) {
    ASSERT_TRUE(sim().faults().SetProbability(kind, 0.05));
  }
  melbax::Variable word = Declare("0110", DataType::kUint16);
  melbax::Variable block = Declare("01F0", DataType::kBlock);
  int good = 0;
  for (int i = 0; i < 30; ++i) {
    const uint32_t held = 0x1000u + static_cast<uint32_t>(i);
    controller().SetValue(0x01, 0x10, held);
    controller().SetValue(0x01, 0xF1, held + 1);
    const melbax::Outcome read = instance().Read(word);
    if (read.ok()) {
      ++good;
      EXPECT_EQ(word.value(), held) << "read " << i;
    }
    const melbax::Outcome blockRead = instance().Read(block);
    if (blockRead.ok()) {
      EXPECT_EQ(block.block()[1], held + 1) << "read " << i;
    }
    ASSERT_NO_FATAL_FAILURE(Settle());
  }
  EXPECT_GT(good, 0);
  EXPECT_GT(sim().faults().Total(), 0u);
}

}  // namespace
}  // namespace kaviros::e2e
