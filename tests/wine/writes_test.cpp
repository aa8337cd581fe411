// Writes through the Win32 backend: values and bits, with and without the
// controller's read-back request, refusals, station 0xFF and the reset,
// checked in the simulated controller.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "rig.h"

namespace kaviros::wine {
namespace {

using ::testing::ElementsAre;
using ::testing::SizeIs;

const Message kServiceRequest =
    Msg8("KAVIR> ReceiveShortSet() warning: error bit set : Sevice request ");

constexpr DataType kU16 = DataType::kUint16;
constexpr DataType kI16 = DataType::kInt16;
constexpr DataType kBit = DataType::kBit;

struct WriteCase {
  const char* name;
  const char* address;
  DataType type;
  int index;
  uint32_t before;  // what the controller holds
  int64_t value;    // what the host writes
  uint32_t after;   // what the controller must then hold
};

const WriteCase kWrites[] = {
    {"Word", "0110", kU16, 0x10, 0, 0x1234, 0x1234},
    {"WordNegative", "0110", kI16, 0x10, 0, -2, 0xFFFE},
    {"WordWithoutExtension", "0133", kU16, 0x33, 0, 0xABCD, 0xABCD},
    {"Byte", "0135", kU16, 0x35, 0, 0x7F, 0x7F},
    {"ByteNegative", "010D", kI16, 0x0D, 0, -1, 0xFF},
    {"SetBitOfByte", "013503", kBit, 0x35, 0xA0, 1, 0xA8},
    {"ClearBitOfByte", "010D00", kBit, 0x0D, 0x01, 0, 0x00},
    {"ClearBitOfWord", "011004", kBit, 0x10, 0x1234, 0, 0x1224},
    {"SetHighestBitOfWord", "011015", kBit, 0x10, 0x1234, 1, 0x9234},
};

// Each write acknowledged plainly, and with the service request that makes
// the driver read the value back.
class WriteKinds : public WineTest,
                   public ::testing::WithParamInterface<
                       std::tuple<WriteCase, bool /*serviceRequest*/>> {};

TEST_P(WriteKinds, ControllerHoldsTheValue) {
  const auto& [c, serviceRequest] = GetParam();
  ASSERT_NO_FATAL_FAILURE(
      Begin(serviceRequest ? "--freeze --service-request" : "--freeze"));
  sim().SetValue(0x01, c.index, c.before);
  const melbax::Variable variable = Declare(c.address, c.type);

  const melbax::Outcome written = instance().Write(variable, c.value);

  EXPECT_EQ(written.result, KAVI_OK);
  EXPECT_EQ(written.messages,
            serviceRequest ? Messages{kServiceRequest} : Messages{});
  EXPECT_EQ(sim().Value(0x01, c.index), c.after);
  // A bit is read before it is merged; a service request adds the
  // read-back.
  const size_t exchanges =
      1 + (c.type == kBit ? 1 : 0) + (serviceRequest ? 1 : 0);
  EXPECT_THAT(Line(), SizeIs(2 * exchanges));
}

INSTANTIATE_TEST_SUITE_P(
    Wine, WriteKinds,
    ::testing::Combine(::testing::ValuesIn(kWrites), ::testing::Bool()),
    [](const ::testing::TestParamInfo<WriteKinds::ParamType>& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) ? "_ReadBack" : "_Acknowledged");
    });

class Writes : public WineTest {};

TEST_F(Writes, TelegramsOfABitWriteWithReadBack) {
  ASSERT_NO_FATAL_FAILURE(Begin("--freeze --service-request"));
  sim().SetValue(0x01, 0x35, 0xA0);
  const melbax::Variable bit = Declare("013503", kBit);
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

TEST_F(Writes, ControllerRefusesAReadOnlyParameter) {
  ASSERT_NO_FATAL_FAILURE(Begin("--freeze --read-only 10"));
  sim().SetValue(0x01, 0x10, 30);
  const melbax::Variable word = Declare("0110", kU16);

  const melbax::Outcome written = instance().Write(word, 99);

  EXPECT_EQ(written.result, KAVI_REFUSED);
  EXPECT_EQ(
      written.messages,
      (Messages{Msg8("KAVIR> ReceiveShortSet() error bit set : request "
                     "disable, equipment not ready "),
                Msg8("KAVIR> WriteParameter() device not able or ready "
                     "to do this job"),
                Msg8("KAVIR> SingleWrite() error while writing PI=0x10")}));
  EXPECT_THAT(Line(), ElementsAre("> 68 08 08 68 01 69 10 01 01 00 63 00 DF 16",
                                  "< 10 01 08 09 16"));
  EXPECT_EQ(sim().Value(0x01, 0x10), 30u);
}

TEST_F(Writes, ReadBackOfAClampedValueFailsTheWrite) {
  ASSERT_NO_FATAL_FAILURE(Begin("--freeze --service-request"));
  const melbax::Variable setpoint = Declare("0100", kU16);
  const melbax::Outcome written = instance().Write(setpoint, 3000);
  EXPECT_EQ(written.result, KAVI_REFUSED);
  EXPECT_EQ(
      written.messages,
      (Messages{kServiceRequest,
                Msg8("KAVIR> WriteParameter() writing was not "
                     "successful at the moment"),
                Msg8("KAVIR> SingleWrite() error while writing PI=0x0")}));
  EXPECT_EQ(sim().Value(0x01, 0x00), 2000u);
}

TEST_F(Writes, DriverRefusesALongValueAndSendsNothing) {
  ASSERT_NO_FATAL_FAILURE(Begin());
  const melbax::Variable variable = Declare("0121", DataType::kInt32);
  const melbax::Outcome written = instance().Write(variable, 7);
  EXPECT_EQ(written.result, KAVI_REFUSED);
  EXPECT_EQ(written.messages,
            (Messages{Msg8("KAVIR> WriteParameter() Error: Writing to 32-bit "
                           "gates is not supported"),
                      Msg8("KAVIR> SingleWrite() error while writing "
                           "PI=0x21")}));
  EXPECT_THAT(Line(), SizeIs(0));
}

TEST_F(Writes, StationFFReachesEveryStationAndIsNotWaitedFor) {
  ASSERT_NO_FATAL_FAILURE(Begin("--stations 01,02 --freeze --service-request"));
  const melbax::Variable all = Declare("FF10", kU16);

  const melbax::Outcome written = instance().Write(all, 0x4242);

  EXPECT_EQ(written.result, KAVI_OK);
  EXPECT_EQ(written.messages, Messages{});
  EXPECT_THAT(Line(),
              ElementsAre("> 68 08 08 68 FF 69 10 01 01 00 42 42 FE 16"));
  ASSERT_TRUE(sim().WaitForTelegrams(1));
  EXPECT_EQ(sim().Value(0x01, 0x10), 0x4242u);
  EXPECT_EQ(sim().Value(0x02, 0x10), 0x4242u);
}

TEST_F(Writes, ResetIsSentOnceAndNotAnswered) {
  ASSERT_NO_FATAL_FAILURE(Begin("--stations 01,02 --freeze"));
  const melbax::Outcome reset = instance().Reset(0x01);
  EXPECT_EQ(reset.result, KAVI_OK);
  EXPECT_EQ(reset.messages, Messages{});
  EXPECT_THAT(Line(), ElementsAre("> 10 01 09 0A 16"));
  ASSERT_TRUE(sim().WaitForTelegrams(1));
  EXPECT_EQ(sim().Resets(0x01), 1u);
  EXPECT_EQ(sim().Resets(0x02), 0u);
}

TEST_F(Writes, ResetOfStationFFReachesEveryStation) {
  ASSERT_NO_FATAL_FAILURE(Begin("--stations 01,02 --freeze"));
  const melbax::Outcome reset = instance().Reset(0xFF);
  EXPECT_EQ(reset.result, KAVI_OK);
  EXPECT_THAT(Line(), ElementsAre("> 10 FF 09 08 16"));
  ASSERT_TRUE(sim().WaitForTelegrams(1));
  EXPECT_EQ(sim().Resets(0x01), 1u);
  EXPECT_EQ(sim().Resets(0x02), 1u);
}

}  // namespace
}  // namespace kaviros::wine
