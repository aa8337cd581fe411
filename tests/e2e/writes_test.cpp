// Writes of values and bits, the controller's read-back request, refused
// writes, station 0xFF and the reset, checked in the simulated controller.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rig.h"

namespace kaviros::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::SizeIs;

const Message kServiceRequest =
    Msg8("KAVIR> ReceiveShortSet() warning: error bit set : Sevice request ");

struct WriteCase {
  const char* name;
  const char* address;
  DataType type;
  uint8_t index;
  uint32_t before;  // what the controller holds
  int64_t value;    // what the host writes
  uint32_t after;   // what the controller must then hold
};

constexpr DataType kU16 = DataType::kUint16;
constexpr DataType kI16 = DataType::kInt16;
constexpr DataType kBit = DataType::kBit;

const WriteCase kWrites[] = {
    {"Word", "0110", kU16, 0x10, 0, 0x1234, 0x1234},
    {"WordNegative", "0110", kI16, 0x10, 0, -2, 0xFFFE},
    {"WordWithoutExtension", "0133", kU16, 0x33, 0, 0xABCD, 0xABCD},
    {"Byte", "0135", kU16, 0x35, 0, 0x7F, 0x7F},
    {"ByteHighest", "010D", kU16, 0x0D, 0, 255, 0xFF},
    {"ByteNegative", "010D", kI16, 0x0D, 0, -1, 0xFF},
    {"ByteLowest", "0135", kI16, 0x35, 0, -128, 0x80},
    {"SetBitOfByte", "013503", kBit, 0x35, 0xA0, 1, 0xA8},
    {"ClearBitOfByte", "010D00", kBit, 0x0D, 0x01, 0, 0x00},
    {"BitOfByteAlreadySet", "013507", kBit, 0x35, 0x80, 1, 0x80},
    {"ClearBitOfWord", "011004", kBit, 0x10, 0x1234, 0, 0x1224},
    {"SetHighestBitOfWord", "011015", kBit, 0x10, 0x1234, 1, 0x9234},
};

// Each write with a plain acknowledgement, and with the service request
// that makes the driver read the value back.
class WriteKinds : public E2eTest,
                   public ::testing::WithParamInterface<
                       std::tuple<WriteCase, bool /*serviceRequest*/>> {};

TEST_P(WriteKinds, ControllerHoldsTheValue) {
  const auto& [c, serviceRequest] = GetParam();
  r2600sim::SimulatorOptions options = Frozen();
  options.controller.service_request = serviceRequest;
  ASSERT_NO_FATAL_FAILURE(Begin(options));
  ASSERT_TRUE(controller().SetValue(0x01, c.index, c.before));
  const melbax::Variable variable = Declare(c.address, c.type);

  const melbax::Outcome written = instance().Write(variable, c.value);

  EXPECT_EQ(written.result, KAVI_OK);
  EXPECT_EQ(written.messages,
            serviceRequest ? Messages{kServiceRequest} : Messages{});
  EXPECT_EQ(controller().Value(0x01, c.index), c.after);
  // A bit is read before it is merged; a service request adds the
  // read-back. Each exchange is one request and one reply.
  const size_t exchanges =
      1 + (c.type == kBit ? 1 : 0) + (serviceRequest ? 1 : 0);
  EXPECT_THAT(Line(), SizeIs(2 * exchanges));
}

INSTANTIATE_TEST_SUITE_P(
    E2e, WriteKinds,
    ::testing::Combine(::testing::ValuesIn(kWrites), ::testing::Bool()),
    [](const ::testing::TestParamInfo<WriteKinds::ParamType>& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) ? "_ReadBack" : "_Acknowledged");
    });

class E2eWrites : public E2eTest {};

TEST_F(E2eWrites, TelegramsOfAValueWrite) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  const melbax::Variable word = Declare("0111", DataType::kUint16);
  ASSERT_TRUE(instance().Write(word, 0x1234).ok());
  EXPECT_THAT(Line(), ElementsAre("> 68 08 08 68 01 69 11 01 01 00 34 12 C3 16",
                                  "< 10 01 00 01 16"));
  EXPECT_EQ(controller().Value(0x01, 0x11), 0x1234u);
}

TEST_F(E2eWrites, TelegramsOfABitWriteWithReadBack) {
  r2600sim::SimulatorOptions options = Frozen();
  options.controller.service_request = true;
  ASSERT_NO_FATAL_FAILURE(Begin(options));
  controller().SetValue(0x01, 0x35, 0xA0);
  const melbax::Variable bit = Declare("013503", DataType::kBit);
  ASSERT_TRUE(instance().Write(bit, 1).ok());
  EXPECT_THAT(
      Line(),
      ElementsAre(
          // the present value
          "> 68 03 03 68 01 89 35 BF 16", "< 68 04 04 68 01 00 35 A0 D6 16",
          // the merged byte
          "> 68 04 04 68 01 69 35 A8 47 16", "< 10 01 80 81 16",
          // the bit read back
          "> 68 03 03 68 01 89 35 BF 16", "< 68 04 04 68 01 00 35 A8 DE 16"));
}

struct RefusalCase {
  const char* name;
  const char* address;
  DataType type;
  int64_t value;
  Messages messages;
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

// Writes the driver refuses itself: nothing goes on the line.
const RefusalCase kDriverRefusals[] = {
    {"CycleValue",
     "01F0",
     DataType::kInt16,
     5,
     {Msg8("KAVIR> SingleWrite() Error:Try to write cycle data"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0xf0")}},
    {"LastCycleValue",
     "01F3",
     DataType::kInt16,
     5,
     {Msg8("KAVIR> SingleWrite() Error:Try to write cycle data"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0xf3")}},
    {"EquipmentStatus",
     "01F5",
     DataType::kUint16,
     0,
     {Msg8("KAVIR> SingleWrite() Error:Try to write equipment ok"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0xf5")}},
    {"LongValue",
     "0121",
     DataType::kInt32,
     7,
     {Msg8("KAVIR> WriteParameter() Error: Writing to 32-bit gates is not "
           "supported"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0x21")}},
    {"BitOfLong",
     "012105",
     DataType::kBit,
     1,
     {Msg8("KAVIR> WriteParameter() Error: Writing to 32-bit gates is not "
           "supported"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0x21")}},
    {"ByteTooLarge",
     "0135",
     DataType::kUint16,
     256,
     {Msg8("KAVIR> WriteParameter() Only 8 bit can be stored"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0x35")}},
};

class DriverRefusals : public E2eTest,
                       public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(DriverRefusals, NothingIsSent) {
  const RefusalCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Begin());
  const melbax::Variable variable = Declare(c.address, c.type);
  const melbax::Outcome written = instance().Write(variable, c.value);
  EXPECT_EQ(written.result, KAVI_REFUSED);
  EXPECT_EQ(written.messages, c.messages);
  EXPECT_THAT(Line(), SizeIs(0));
  EXPECT_EQ(controller().Counters().writes, 0u);
}

INSTANTIATE_TEST_SUITE_P(E2e, DriverRefusals,
                         ::testing::ValuesIn(kDriverRefusals),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(E2eWrites, ControllerRefusesAReadOnlyParameter) {
  r2600sim::SimulatorOptions options = Frozen();
  options.controller.read_only = {0x10};
  ASSERT_NO_FATAL_FAILURE(Begin(options));
  controller().SetValue(0x01, 0x10, 30);
  const melbax::Variable word = Declare("0110", DataType::kUint16);

  const melbax::Outcome written = instance().Write(word, 99);

  EXPECT_EQ(written.result, KAVI_REFUSED);
  EXPECT_EQ(
      written.messages,
      (Messages{Msg8("KAVIR> ReceiveShortSet() error bit set : request "
                     "disable, equipment not ready "),
                Msg8("KAVIR> WriteParameter() device not able or ready "
                     "to do this job"),
                Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}));
  // One attempt only: the refusal is not retried.
  EXPECT_THAT(Line(), ElementsAre("> 68 08 08 68 01 69 10 01 01 00 63 00 DF 16",
                                  "< 10 01 08 09 16"));
  EXPECT_EQ(controller().Value(0x01, 0x10), 30u);
}

TEST_F(E2eWrites, ControllerRefusesABitOfAReadOnlyParameterAfterTheRead) {
  r2600sim::SimulatorOptions options = Frozen();
  options.controller.read_only = {0x35};
  ASSERT_NO_FATAL_FAILURE(Begin(options));
  controller().SetValue(0x01, 0x35, 0x05);
  const melbax::Variable bit = Declare("013501", DataType::kBit);
  const melbax::Outcome written = instance().Write(bit, 1);
  EXPECT_EQ(written.result, KAVI_REFUSED);
  EXPECT_EQ(
      written.messages,
      (Messages{Msg8("KAVIR> ReceiveShortSet() error bit set : request "
                     "disable, equipment not ready "),
                Msg8("KAVIR> WriteParameter() device not able or ready "
                     "to do this job"),
                Msg8("KAVIR> SingleWrite() error while writing PI=0x35")}));
  EXPECT_THAT(Line(), SizeIs(4));
  EXPECT_EQ(controller().Value(0x01, 0x35), 0x05u);
}

struct ReadBackCase {
  const char* name;
  const char* address;
  DataType type;
  uint8_t index;
  int64_t value;
  uint32_t kept;  // what the controller holds afterwards
  int32_t result;
  Messages messages;
};

void PrintTo(const ReadBackCase& c, std::ostream* out) { *out << c.name; }

// The read-back decides: a controller that keeps another value than the
// one written (its limits) makes the write fail.
const ReadBackCase kReadBacks[] = {
    {"SetpointWithinLimits",
     "0100",
     DataType::kUint16,
     0x00,
     1500,
     1500,
     KAVI_OK,
     {kServiceRequest}},
    {"SetpointClampedToItsLimit",
     "0100",
     DataType::kUint16,
     0x00,
     3000,
     2000,
     KAVI_REFUSED,
     {kServiceRequest,
      Msg8("KAVIR> WriteParameter() writing was not successful at the moment"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0x0")}},
    {"OutputLimitClamped",
     "0112",
     DataType::kInt16,
     0x12,
     150,
     100,
     KAVI_REFUSED,
     {kServiceRequest,
      Msg8("KAVIR> WriteParameter() writing was not successful at the moment"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0x12")}},
    // An 8-bit parameter reads back sign-extended only as int16.
    {"NegativeByteAsInt16",
     "0135",
     DataType::kInt16,
     0x35,
     -128,
     0x80,
     KAVI_OK,
     {kServiceRequest}},
    {"NegativeByteAsUint16",
     "0135",
     DataType::kUint16,
     0x35,
     0xFF80,
     0x80,
     KAVI_REFUSED,
     {kServiceRequest,
      Msg8("KAVIR> WriteParameter() writing was not successful at the moment"),
      Msg8("KAVIR> SingleWrite() error while writing PI=0x35")}},
};

class ReadBacks : public E2eTest,
                  public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(ReadBacks, WhatTheControllerKeptDecides) {
  const ReadBackCase& c = GetParam();
  r2600sim::SimulatorOptions options = Frozen();
  options.controller.service_request = true;
  ASSERT_NO_FATAL_FAILURE(Begin(options));
  const melbax::Variable variable = Declare(c.address, c.type);
  const melbax::Outcome written = instance().Write(variable, c.value);
  EXPECT_EQ(written.result, c.result);
  EXPECT_EQ(written.messages, c.messages);
  EXPECT_EQ(controller().Value(0x01, c.index), c.kept);
  EXPECT_THAT(Line(), SizeIs(4));  // the write and the read-back
}

INSTANTIATE_TEST_SUITE_P(
    E2e, ReadBacks, ::testing::ValuesIn(kReadBacks),
    [](const ::testing::TestParamInfo<ReadBackCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(E2eWrites, WithoutTheServiceRequestAClampedWriteGoesUnnoticed) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  const melbax::Variable setpoint = Declare("0100", DataType::kUint16);
  const melbax::Outcome written = instance().Write(setpoint, 3000);
  EXPECT_EQ(written.result, KAVI_OK);
  EXPECT_EQ(controller().Value(0x01, 0x00), 2000u);
}

// Whatever the controllers would answer: nobody answers station 0xFF.
class StationFFWrites : public E2eTest,
                        public ::testing::WithParamInterface<bool> {};

TEST_P(StationFFWrites, ReachEveryStationAndAreNotWaitedFor) {
  r2600sim::SimulatorOptions options = Frozen({0x01, 0x02});
  options.controller.service_request = GetParam();
  ASSERT_NO_FATAL_FAILURE(Begin(options));
  const melbax::Variable all = Declare("FF10", DataType::kUint16);

  const melbax::Outcome written = instance().Write(all, 0x4242);

  EXPECT_EQ(written.result, KAVI_OK);
  EXPECT_EQ(written.messages, Messages{});
  // Sent once, and no reply read.
  EXPECT_THAT(Line(),
              ElementsAre("> 68 08 08 68 FF 69 10 01 01 00 42 42 FE 16"));
  ASSERT_TRUE(sim().WaitForTelegrams(1, std::chrono::seconds(10)));
  EXPECT_EQ(controller().Value(0x01, 0x10), 0x4242u);
  EXPECT_EQ(controller().Value(0x02, 0x10), 0x4242u);
  EXPECT_EQ(controller().Counters().replies, 0u);
}

INSTANTIATE_TEST_SUITE_P(E2e, StationFFWrites, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "ServiceRequest"
                                             : "Acknowledgement";
                         });

TEST_F(E2eWrites, ByteToStationFF) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen({0x01, 0x02})));
  const melbax::Variable all = Declare("FF35", DataType::kUint16);
  ASSERT_TRUE(instance().Write(all, 0x11).ok());
  ASSERT_TRUE(sim().WaitForTelegrams(1, std::chrono::seconds(10)));
  EXPECT_EQ(controller().Value(0x01, 0x35), 0x11u);
  EXPECT_EQ(controller().Value(0x02, 0x35), 0x11u);
}

TEST_F(E2eWrites, ResetIsSentOnceAndNotAnswered) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen({0x01, 0x02})));
  ASSERT_TRUE(controller().RaiseEquipmentFault(0x01, 0x40));
  uint16_t status = 0;
  ASSERT_TRUE(instance().ReadStatus(0x01, status).ok());
  EXPECT_EQ(status, 0x40);
  Line();

  const melbax::Outcome reset = instance().Reset(0x01);

  EXPECT_EQ(reset.result, KAVI_OK);
  EXPECT_EQ(reset.messages, Messages{});
  EXPECT_THAT(Line(), ElementsAre("> 10 01 09 0A 16"));
  // The controller clears its latched bits.
  ASSERT_TRUE(instance().ReadStatus(0x01, status).ok());
  EXPECT_EQ(status, 0x00);
  EXPECT_EQ(controller().Resets(0x01), 1u);
  EXPECT_EQ(controller().Resets(0x02), 0u);
}

TEST_F(E2eWrites, ResetThroughAVariable) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  const melbax::Variable reset = Declare("01F4", DataType::kUint16);
  const melbax::Outcome written = instance().Write(reset, 0);
  EXPECT_EQ(written.result, KAVI_OK);
  EXPECT_THAT(Line(), ElementsAre("> 10 01 09 0A 16"));
  ASSERT_TRUE(Eventually([&] { return controller().Resets(0x01) == 1; }));
}

TEST_F(E2eWrites, ResetOfStationFFReachesEveryStation) {
  ASSERT_NO_FATAL_FAILURE(Begin(Frozen({0x01, 0x02})));
  const melbax::Outcome reset = instance().Reset(0xFF);
  EXPECT_EQ(reset.result, KAVI_OK);
  EXPECT_THAT(Line(), ElementsAre("> 10 FF 09 08 16"));
  ASSERT_TRUE(Eventually([&] {
    return controller().Resets(0x01) == 1 && controller().Resets(0x02) == 1;
  }));
}

}  // namespace
}  // namespace kaviros::e2e
