#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "fake_driver_fixture.h"

namespace melbax::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

std::array<uint8_t, 8> Bytes(const ValueSlot& slot) {
  std::array<uint8_t, 8> bytes;
  std::memcpy(bytes.data(), &slot, sizeof bytes);
  return bytes;
}

// ---- Declarations: the parser's fields are kept for later calls ----

struct DeclareCase {
  const char* name;
  const char* address;
  DataType type;
  int32_t station, gateWidth, paramIndex, bitNumber, valueBits;
};

class DeclareTest : public InstanceTest,
                    public ::testing::WithParamInterface<DeclareCase> {};

TEST_P(DeclareTest, KeepsTheDecodedFields) {
  const DeclareCase& c = GetParam();
  Variable variable;
  const Outcome outcome = instance->Declare(c.address, c.type, variable);
  ASSERT_EQ(outcome.result, KAVI_OK);
  EXPECT_TRUE(outcome.messages.empty());
  EXPECT_TRUE(variable.declared());
  EXPECT_EQ(variable.address(), c.address);
  EXPECT_EQ(variable.type(), c.type);
  EXPECT_EQ(variable.station(), c.station);
  EXPECT_EQ(variable.gateWidth(), c.gateWidth);
  EXPECT_EQ(variable.paramIndex(), c.paramIndex);
  EXPECT_EQ(variable.bitNumber(), c.bitNumber);
  EXPECT_EQ(variable.valueBits(), c.valueBits);
  EXPECT_THAT(Journal(), ElementsAre(c.type == DataType::kBlock
                                         ? KAVI_BLOCK_ADDRESS_PARSER
                                         : KAVI_SINGLE_ADDRESS_PARSER));
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, DeclareTest,
    ::testing::Values(
        DeclareCase{"Uint16", "0110", DataType::kUint16, 1, 2, 0x10, -1, 16},
        DeclareCase{"Int16OfAn8BitGate", "0A35", DataType::kInt16, 10, 1, 0x35,
                    -1, 16},
        DeclareCase{"Int32", "FF21", DataType::kInt32, 255, 3, 0x21, -1, 32},
        DeclareCase{"Bit", "011015", DataType::kBit, 1, 2, 0x10, 15, 1},
        DeclareCase{"Block", "02F0", DataType::kBlock, 2, 2, 0xF0, -1, 16}),
    [](const auto& info) { return info.param.name; });

struct RefusedDeclaration {
  const char* name;
  const char* address;
  DataType type;
  Message message;
};

class RefusedDeclarationTest
    : public InstanceTest,
      public ::testing::WithParamInterface<RefusedDeclaration> {};

TEST_P(RefusedDeclarationTest, GivesTheDriversMessageAndLeavesTheVariable) {
  const RefusedDeclaration& c = GetParam();
  Variable variable = Declared("0110", DataType::kUint16);
  const Outcome outcome = instance->Declare(c.address, c.type, variable);
  EXPECT_EQ(outcome.result, KAVI_REFUSED);
  EXPECT_THAT(outcome.messages, ElementsAre(c.message));
  EXPECT_EQ(variable.address(), "0110");
  EXPECT_TRUE(variable.declared());
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, RefusedDeclarationTest,
    ::testing::Values(
        RefusedDeclaration{"IllegalCharacter",
                           "0G10",
                           DataType::kUint16,
                           {KAVI_LEVEL_SETUP,
                            "FAKE> ParseAddress() found illegal character in "
                            "address string"}},
        RefusedDeclaration{
            "WrongWidth",
            "0110",
            DataType::kInt32,
            {KAVI_LEVEL_SETUP, "FAKE> ParseAddress() gate type invalid"}},
        RefusedDeclaration{"BlockNotAtF0",
                           "01F1",
                           DataType::kBlock,
                           {KAVI_LEVEL_SETUP,
                            "FAKE> BlockAddressParser() only a block "
                            "beginning at F0 is allowed"}}),
    [](const auto& info) { return info.param.name; });

TEST(InstanceWithoutStart, RefusesDeclarations) {
  Instance instance(LoadFake());
  Variable variable;
  const Outcome outcome = instance.Declare("0110", DataType::kUint16, variable);
  EXPECT_EQ(outcome.result, KAVI_REFUSED);
  EXPECT_THAT(outcome.messages,
              ElementsAre(Message{KAVI_LEVEL_SETUP,
                                  "MELBAX> declare 0110 before start"}));
  EXPECT_FALSE(variable.declared());
}

TEST(InstanceWithoutStart, DeclaresAfterAStartWithoutPort) {
  Instance instance(LoadFake());
  ASSERT_TRUE(instance.Start().ok());
  Variable variable;
  EXPECT_TRUE(instance.Declare("0110", DataType::kUint16, variable).ok());
  const Outcome read = instance.Read(variable);
  EXPECT_EQ(read.result, KAVI_REFUSED);
  EXPECT_THAT(read.messages,
              ElementsAre(Message{KAVI_LEVEL_SETUP,
                                  "FAKE> SingleRead() com-port is not open"}));
}

// ---- Reads: the request carries the declared fields, the value lands at
// the offsets its kind uses, and bytes the driver does not write stay ----

struct ReadCase {
  const char* name;
  const char* address;
  DataType type;
  const char* echo;
  std::array<uint8_t, 8> slot;
  int64_t value;
};

class ReadTest : public InstanceTest,
                 public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, PassesTheDeclaredFieldsAndDecodesTheSlot) {
  const ReadCase& c = GetParam();
  Variable variable = Declared(c.address, c.type);
  const Outcome outcome = instance->Read(variable);
  ASSERT_EQ(outcome.result, KAVI_OK);
  EXPECT_THAT(outcome.messages,
              ElementsAre(Message{KAVI_LEVEL_EXCHANGE, c.echo}));
  EXPECT_EQ(Bytes(variable.slot()), c.slot);
  EXPECT_EQ(variable.value(), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ReadTest,
    ::testing::Values(
        ReadCase{"Uint16",
                 "0110",
                 DataType::kUint16,
                 "FAKE> SingleRead() id=1 address=0110 station=1 width=2 "
                 "pi=10 bit=-1 bits=16 type=0",
                 {0, 0, 0x34, 0x12},
                 0x1234},
        ReadCase{"Uint16Of8Bits",
                 "0135",
                 DataType::kUint16,
                 "FAKE> SingleRead() id=1 address=0135 station=1 width=1 "
                 "pi=35 bit=-1 bits=16 type=0",
                 {0, 0, 0x85, 0x00},
                 0x85},
        ReadCase{"Int16Of8BitsIsSigned",
                 "0135",
                 DataType::kInt16,
                 "FAKE> SingleRead() id=1 address=0135 station=1 width=1 "
                 "pi=35 bit=-1 bits=16 type=1",
                 {0, 0, 0x85, 0xFF},
                 -123},
        ReadCase{"Int32",
                 "0721",
                 DataType::kInt32,
                 "FAKE> SingleRead() id=1 address=0721 station=7 width=3 "
                 "pi=21 bit=-1 bits=32 type=3",
                 {0x40, 0xE2, 0x01, 0x00},
                 123456},
        ReadCase{"BitOf16Bits",
                 "011004",
                 DataType::kBit,
                 "FAKE> SingleRead() id=1 address=011004 station=1 width=2 "
                 "pi=10 bit=4 bits=1 type=6",
                 {0, 0, 1, 0},
                 1},
        ReadCase{"BitOf32Bits",
                 "012106",
                 DataType::kBit,
                 "FAKE> SingleRead() id=1 address=012106 station=1 width=3 "
                 "pi=21 bit=6 bits=1 type=6",
                 {1, 0, 0, 0},
                 1},
        ReadCase{"Status",
                 "01F5",
                 DataType::kUint16,
                 "FAKE> SingleRead() id=1 address=01F5 station=1 width=1 "
                 "pi=f5 bit=-1 bits=16 type=0",
                 {0, 0, 0x88, 0},
                 0x88}),
    [](const auto& info) { return info.param.name; });

TEST_F(InstanceTest, BlockReadFillsAllEightBytes) {
  Variable block = Declared("03F0", DataType::kBlock);
  const Outcome outcome = instance->Read(block);
  ASSERT_EQ(outcome.result, KAVI_OK);
  EXPECT_THAT(outcome.messages,
              ElementsAre(Message{KAVI_LEVEL_EXCHANGE,
                                  "FAKE> BlockRead() id=1 address=03F0 "
                                  "station=3 width=2 pi=f0 bit=-1 bits=16 "
                                  "type=1"}));
  EXPECT_THAT(block.block(), ElementsAre(0x1234, 0x5678, 0xFF9C, 0x4321));
  EXPECT_EQ(
      Bytes(block.slot()),
      (std::array<uint8_t, 8>{0x34, 0x12, 0x78, 0x56, 0x9C, 0xFF, 0x21, 0x43}));
  EXPECT_THAT(Journal(),
              ElementsAre(KAVI_BLOCK_ADDRESS_PARSER, KAVI_BLOCK_READ));
}

TEST_F(InstanceTest, ReadOfAnUndeclaredVariableIsRefusedHere) {
  Variable variable;
  const Outcome outcome = instance->Read(variable);
  EXPECT_EQ(outcome.result, KAVI_REFUSED);
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_THAT(outcome.messages[0].text, HasSubstr("MELBAX> variable"));
  EXPECT_TRUE(Journal().empty());
}

struct FailureCase {
  const char* name;
  const char* address;
  int32_t result;
  size_t messages;
};

class FailedReadTest : public InstanceTest,
                       public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedReadTest, PassesResultAndEveryMessageOn) {
  const FailureCase& c = GetParam();
  Variable variable = Declared(c.address, DataType::kUint16);
  const Outcome outcome = instance->Read(variable);
  EXPECT_EQ(outcome.result, c.result);
  ASSERT_EQ(outcome.messages.size(), c.messages);
  EXPECT_EQ(variable.value(), 0);
  if (c.result == KAVI_SEVERE) {
    for (size_t i = 1; i < c.messages; ++i) {
      EXPECT_EQ(
          outcome.messages[i].text,
          "FAKE> SingleRead() error reading reply, retry " + std::to_string(i));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Results, FailedReadTest,
    ::testing::Values(FailureCase{"NoAnswer", "01EE", KAVI_SEVERE, 6},
                      FailureCase{"Refused", "01ED", KAVI_REFUSED, 2},
                      FailureCase{"OutsideTheCodes", "01EC", 7, 1}),
    [](const auto& info) { return info.param.name; });

// ---- Writes: the value goes in the word at offset 2 of a slot of the
// host's, range-checked by type first ----

TEST_F(InstanceTest, WritePutsTheValueInTheWordAtOffsetTwo) {
  Variable variable = Declared("0111", DataType::kInt16);
  const Outcome written = instance->Write(variable, -5);
  ASSERT_EQ(written.result, KAVI_OK);
  EXPECT_THAT(written.messages,
              ElementsAre(Message{KAVI_LEVEL_EXCHANGE,
                                  "FAKE> SingleWrite() id=1 station=1 pi=11 "
                                  "bit=-1 word=fffb kept=0"}));
  // The variable's own value is what was last read, not what was written.
  EXPECT_EQ(variable.value(), 0);
  ASSERT_TRUE(instance->Read(variable).ok());
  EXPECT_EQ(variable.value(), -5);
}

TEST_F(InstanceTest, BitWriteSendsTheBitsValue) {
  Variable bit = Declared("011000", DataType::kBit);
  const Outcome written = instance->Write(bit, 1);
  ASSERT_EQ(written.result, KAVI_OK);
  EXPECT_THAT(written.messages,
              ElementsAre(Message{KAVI_LEVEL_EXCHANGE,
                                  "FAKE> SingleWrite() id=1 station=1 pi=10 "
                                  "bit=0 word=1 kept=0"}));
  Variable word = Declared("0110", DataType::kUint16);
  ASSERT_TRUE(instance->Read(word).ok());
  EXPECT_EQ(word.value(), 0x1235);
}

TEST_F(InstanceTest, WriteOf32BitsReachesTheDriverWhichDecides) {
  Variable variable = Declared("0121", DataType::kInt32);
  const Outcome written = instance->Write(variable, -100000);
  EXPECT_EQ(written.result, KAVI_REFUSED);
  EXPECT_THAT(written.messages,
              ElementsAre(Message{KAVI_LEVEL_EXCHANGE,
                                  "FAKE> WriteParameter() Error: Writing to "
                                  "32-bit gates is not supported"}));
}

struct RangeCase {
  const char* name;
  const char* address;
  DataType type;
  int64_t value;
  const char* refusal;  // null: accepted
};

class WriteRangeTest : public InstanceTest,
                       public ::testing::WithParamInterface<RangeCase> {};

TEST_P(WriteRangeTest, RefusesValuesOutsideTheType) {
  const RangeCase& c = GetParam();
  Variable variable = Declared(c.address, c.type);
  const Outcome outcome = instance->Write(variable, c.value);
  if (c.refusal == nullptr) {
    EXPECT_EQ(outcome.result, KAVI_OK);
    EXPECT_THAT(Journal(),
                ElementsAre(KAVI_SINGLE_ADDRESS_PARSER, KAVI_SINGLE_WRITE));
  } else {
    EXPECT_EQ(outcome.result, KAVI_REFUSED);
    EXPECT_THAT(outcome.messages,
                ElementsAre(Message{KAVI_LEVEL_SETUP, c.refusal}));
    EXPECT_EQ(Journal().back(), c.type == DataType::kBlock
                                    ? KAVI_BLOCK_ADDRESS_PARSER
                                    : KAVI_SINGLE_ADDRESS_PARSER);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, WriteRangeTest,
    ::testing::Values(
        RangeCase{"Uint16Max", "0110", DataType::kUint16, 65535, nullptr},
        RangeCase{"Uint16Negative", "0110", DataType::kUint16, -1,
                  "MELBAX> value -1 is out of range for uint16 (0 to 65535)"},
        RangeCase{"Uint16TooLarge", "0110", DataType::kUint16, 65536,
                  "MELBAX> value 65536 is out of range for uint16 (0 to "
                  "65535)"},
        RangeCase{"Int16Min", "0110", DataType::kInt16, -32768, nullptr},
        RangeCase{"Int16TooSmall", "0110", DataType::kInt16, -32769,
                  "MELBAX> value -32769 is out of range for int16 (-32768 "
                  "to 32767)"},
        RangeCase{"Int16TooLarge", "0110", DataType::kInt16, 32768,
                  "MELBAX> value 32768 is out of range for int16 (-32768 to "
                  "32767)"},
        RangeCase{"BitOne", "011001", DataType::kBit, 1, nullptr},
        RangeCase{"BitTwo", "011001", DataType::kBit, 2,
                  "MELBAX> value 2 is out of range for bit (0 to 1)"},
        RangeCase{"Int32TooLarge", "0121", DataType::kInt32, 1ll << 31,
                  "MELBAX> value 2147483648 is out of range for int32 "
                  "(-2147483648 to 2147483647)"},
        RangeCase{"Block", "01F0", DataType::kBlock, 0,
                  "MELBAX> a block cannot be written"}),
    [](const auto& info) { return info.param.name; });

// ---- Status and reset of a station ----

TEST_F(InstanceTest, StatusReadsF5OfTheStation) {
  uint16_t status = 0;
  const Outcome outcome = instance->ReadStatus(0x1A, status);
  ASSERT_EQ(outcome.result, KAVI_OK);
  EXPECT_EQ(status, 0x88);
  EXPECT_THAT(outcome.messages,
              ElementsAre(Message{KAVI_LEVEL_EXCHANGE,
                                  "FAKE> SingleRead() id=1 address=1AF5 "
                                  "station=1a width=1 pi=f5 bit=-1 bits=16 "
                                  "type=0"}));
}

TEST_F(InstanceTest, ResetWritesF4OfTheStation) {
  const Outcome outcome = instance->Reset(0xFF);
  ASSERT_EQ(outcome.result, KAVI_OK);
  EXPECT_THAT(outcome.messages,
              ElementsAre(Message{KAVI_LEVEL_EXCHANGE,
                                  "FAKE> ResetEquipment() id=1 station=ff"}));
  EXPECT_THAT(Journal(),
              ElementsAre(KAVI_SINGLE_ADDRESS_PARSER, KAVI_SINGLE_WRITE));
}

TEST_F(InstanceTest, StationOutOfRangeIsRefusedHere) {
  uint16_t status = 7;
  for (const int station : {-1, 256}) {
    EXPECT_EQ(instance->ReadStatus(station, status).result, KAVI_REFUSED);
    EXPECT_EQ(instance->Reset(station).result, KAVI_REFUSED);
  }
  EXPECT_EQ(status, 7);
  EXPECT_TRUE(Journal().empty());
}

// ---- Port commands ----

TEST_F(InstanceTest, CloseAndReopenThePort) {
  Variable variable = Declared("0110", DataType::kUint16);
  ASSERT_TRUE(instance->ClosePort().ok());
  EXPECT_EQ(instance->Read(variable).result, KAVI_REFUSED);
  ASSERT_TRUE(instance->ReopenPort().ok());
  EXPECT_TRUE(instance->Read(variable).ok());
  const Outcome again = instance->ReopenPort();
  EXPECT_EQ(again.result, KAVI_SEVERE);
  EXPECT_THAT(
      again.messages,
      ElementsAre(Message{KAVI_LEVEL_EXCHANGE,
                          "FAKE> ReOpenCom() opening COM port failed"}));
}

TEST_F(InstanceTest, ChangePortPassesNameLineAndTimeout) {
  const Outcome changed =
      instance->ChangePort({"fake2", LineSettings{1200, 8, 0, 0}, 250});
  ASSERT_EQ(changed.result, KAVI_OK);
  EXPECT_THAT(changed.messages,
              ElementsAre(Message{KAVI_LEVEL_EXCHANGE,
                                  "FAKE> ChangeKaviParams() port=fake2 "
                                  "timeout=250 baud=1200 bits=8 stop=0 "
                                  "parity=0"}));
  Variable variable = Declared("0110", DataType::kUint16);
  const Outcome read = instance->Read(variable);
  ASSERT_FALSE(read.messages.empty());
  EXPECT_THAT(read.messages[0].text, HasSubstr("id=2"));
}

TEST_F(InstanceTest, ChangePortKeepsWhatIsNotGiven) {
  const Outcome changed = instance->ChangePort({"fake3", {}, {}});
  ASSERT_EQ(changed.result, KAVI_OK);
  EXPECT_THAT(changed.messages,
              ElementsAre(Message{KAVI_LEVEL_EXCHANGE,
                                  "FAKE> ChangeKaviParams() port=fake3 "
                                  "timeout=0 baud=0 bits=0 stop=0 "
                                  "parity=0"}));
}

TEST_F(InstanceTest, ChangePortThatFailsGivesTheDriversResult) {
  const Outcome changed = instance->ChangePort({"missing", {}, {}});
  EXPECT_EQ(changed.result, KAVI_SEVERE);
  ASSERT_EQ(changed.messages.size(), 2u);
  EXPECT_EQ(changed.messages[1],
            (Message{KAVI_LEVEL_SETUP,
                     "FAKE> ChangeKaviParams() open new COM port failed"}));
}

TEST_F(InstanceTest, PortNamesTooLongForTheRecordAreRefusedHere) {
  EXPECT_EQ(instance->ChangePort({"123456789012", {}, {}}).result,
            KAVI_REFUSED);
  EXPECT_EQ(instance->Start({"123456789012"}).result, KAVI_REFUSED);
  EXPECT_TRUE(Journal().empty());
}

TEST_F(InstanceTest, ElevenCharacterNameReachesTheDriver) {
  const Outcome started =
      instance->Start({"/dev/fake11", driver->info().line, 1000});
  EXPECT_EQ(started.result, KAVI_OK);
  ASSERT_FALSE(started.messages.empty());
  EXPECT_THAT(started.messages.back().text, HasSubstr("opened /dev/fake11"));
}

// ---- Lifecycle ----

TEST(InstanceLifecycle, StartPassesTheLineAndTimeout) {
  auto driver = LoadFake();
  Instance instance(driver);
  const Outcome started = instance.Start({"fake1", driver->info().line, 1000});
  EXPECT_EQ(started.result, KAVI_OK);
  EXPECT_THAT(started.messages, ElementsAre(kInstalledOnFake1));
}

TEST(InstanceLifecycle, FailedStartGivesTheDriversResult) {
  Instance instance(LoadFake());
  const Outcome started = instance.Start({"missing"});
  EXPECT_EQ(started.result, KAVI_SEVERE);
  EXPECT_THAT(started.messages,
              ElementsAre(Message{KAVI_LEVEL_SETUP,
                                  "FAKE> ColdStart() error opening COM port"}));
}

TEST(InstanceLifecycle, SecondStartReleasesThePortFirst) {
  Instance instance(LoadFake());
  ASSERT_TRUE(instance.Start({"fake1"}).ok());
  ClearJournal();
  ASSERT_TRUE(instance.Start({"fake2"}).ok());
  EXPECT_THAT(Journal(), ElementsAre(KAVI_CLOSE_COM, KAVI_COLD_START));
}

// The driver is kept loaded to read its journal afterwards.
TEST(InstanceLifecycle, DestructionClosesThePortThenEnds) {
  auto driver = LoadFake();
  {
    Instance instance(driver);
    ASSERT_TRUE(instance.Start({"fake1"}).ok());
    ClearJournal();
  }
  EXPECT_THAT(Journal(), ElementsAre(KAVI_CLOSE_COM, KAVI_END_KAVI));
}

TEST(InstanceLifecycle, EndClosesThePortThenEndsOnce) {
  auto driver = LoadFake();
  {
    Instance instance(driver);
    ASSERT_TRUE(instance.Start({"fake1"}).ok());
    ClearJournal();
    EXPECT_TRUE(instance.End().ok());
  }
  EXPECT_THAT(Journal(), ElementsAre(KAVI_CLOSE_COM, KAVI_END_KAVI));
}

TEST(InstanceLifecycle, UnstartedInstanceRunsNothing) {
  auto driver = LoadFake();
  ClearJournal();
  { Instance instance(driver); }
  EXPECT_TRUE(Journal().empty());
}

TEST(InstanceLifecycle, TheDriverOutlivesItsInstances) {
  auto instance = std::make_unique<Instance>(LoadFake());
  ASSERT_TRUE(instance->Start({"fake1"}).ok());
  instance.reset();  // CloseCom and EndKavi reach a loaded library
}

// ---- Messages and telegrams belong to the call that caused them ----

TEST_F(InstanceTest, ObserverSeesDriverAndHostMessagesAsTheyArrive) {
  std::vector<Message> seen;
  instance->SetMessageObserver([&](const Message& m) { seen.push_back(m); });
  Variable variable = Declared("01EE", DataType::kUint16);
  const Outcome failed = instance->Read(variable);
  const Outcome refused = instance->Write(variable, -1);
  std::vector<Message> all = failed.messages;
  all.insert(all.end(), refused.messages.begin(), refused.messages.end());
  EXPECT_EQ(seen, all);
}

TEST_F(InstanceTest, TraceSinkSeesOnlyItsOwnInstance) {
  Instance other(driver);
  ASSERT_TRUE(other.Start({"fake2"}).ok());
  int traced = 0;
  instance->SetTraceSink([&](const TraceEvent&) { ++traced; });
  Variable variable = Declared("0110", DataType::kUint16);
  ASSERT_TRUE(other.Read(variable).ok());
  EXPECT_EQ(traced, 0);
  ASSERT_TRUE(instance->Read(variable).ok());
  EXPECT_EQ(traced, 2);
  instance->SetTraceSink({});
  ASSERT_TRUE(instance->Read(variable).ok());
  EXPECT_EQ(traced, 2);
}

// A sink that runs a command on another instance: the inner command's
// messages are its own, and the outer command's continue after it.
TEST_F(InstanceTest, CommandRunFromASinkKeepsMessagesApart) {
  Instance other(driver);
  ASSERT_TRUE(other.Start({"fake2"}).ok());
  Variable inner = Declared("0110", DataType::kUint16);
  Outcome innerOutcome;
  instance->SetMessageObserver([&](const Message& message) {
    if (message.text.ends_with("retry 1")) innerOutcome = other.Read(inner);
  });
  Variable outer = Declared("01EE", DataType::kUint16);
  const Outcome outerOutcome = instance->Read(outer);
  EXPECT_EQ(outerOutcome.messages.size(), 6u);
  for (const Message& message : outerOutcome.messages) {
    EXPECT_THAT(message.text, Not(HasSubstr("id=2")));
  }
  ASSERT_EQ(innerOutcome.messages.size(), 1u);
  EXPECT_THAT(innerOutcome.messages[0].text, HasSubstr("id=2"));
}

// Each thread's instance gets exactly its own messages, however the
// threads interleave.
void ReadManyTimes(Instance& instance, int id, int& wrong) {
  Variable variable;
  if (!instance.Declare("0110", DataType::kUint16, variable).ok()) ++wrong;
  const std::string mine = "id=" + std::to_string(id) + " ";
  for (int i = 0; i < 300; ++i) {
    const Outcome outcome = instance.Read(variable);
    if (outcome.messages.size() != 1 ||
        outcome.messages[0].text.find(mine) == std::string::npos) {
      ++wrong;
    }
  }
}

TEST(MessageRouting, InstancesOnThreadsNeverMixMessages) {
  auto driver = LoadFake();
  std::vector<std::unique_ptr<Instance>> instances;
  for (int id = 1; id <= 4; ++id) {
    instances.push_back(std::make_unique<Instance>(driver));
    ASSERT_TRUE(instances.back()->Start({"fake" + std::to_string(id)}).ok());
  }
  std::vector<int> wrong(instances.size(), 0);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < instances.size(); ++i) {
    threads.emplace_back(ReadManyTimes, std::ref(*instances[i]),
                         static_cast<int>(i + 1), std::ref(wrong[i]));
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_THAT(wrong, ::testing::Each(0));
}

TEST(MessageRouting, OneInstanceSharedByThreadsRunsOneCallAtATime) {
  auto driver = LoadFake();
  Instance instance(driver);
  ASSERT_TRUE(instance.Start({"fake5"}).ok());
  int wrong[2] = {0, 0};
  std::thread first(ReadManyTimes, std::ref(instance), 5, std::ref(wrong[0]));
  std::thread second(ReadManyTimes, std::ref(instance), 5, std::ref(wrong[1]));
  first.join();
  second.join();
  EXPECT_EQ(wrong[0] + wrong[1], 0);
}

// Two driver libraries in one process, each with its own instance.
TEST(MessageRouting, TwoDriverLibrariesKeepTheirMessages) {
  const auto folder = std::filesystem::temp_directory_path() /
                      ("melbax-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const auto copy = folder / "libsecond.so";
  std::filesystem::copy_file(MELBAX_FAKE_DRIVER, copy,
                             std::filesystem::copy_options::overwrite_existing);
  {
    auto first = LoadFake();
    auto second = LoadFake(copy.string());
    ASSERT_NE(second, nullptr);
    Instance a(first), b(second);
    ASSERT_TRUE(a.Start({"fake1"}).ok());
    ASSERT_TRUE(b.Start({"fake2"}).ok());
    int wrong[2] = {0, 0};
    std::thread ta(ReadManyTimes, std::ref(a), 1, std::ref(wrong[0]));
    std::thread tb(ReadManyTimes, std::ref(b), 2, std::ref(wrong[1]));
    ta.join();
    tb.join();
    EXPECT_EQ(wrong[0] + wrong[1], 0);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace melbax::testing
