#include "r2600sim/wire.h"

#include <gtest/gtest.h>

#include "bytes.h"
#include "r2600sim/gate_table.h"

namespace r2600sim {
namespace {

using testing::B;

TEST(SimWire, ChecksumWrapsAtEightBits) {
  EXPECT_EQ(Checksum(B("FA 89 E0 01 01 00")), 0x65);
  EXPECT_EQ(Checksum({}), 0x00);
}

TEST(SimWire, ShortReplyLayout) {
  EXPECT_EQ(ShortReply(0x01, 0x80), B("10 01 80 81 16"));
  EXPECT_EQ(ShortReply(0xFA, 0x88), B("10 FA 88 82 16"));
}

TEST(SimWire, LongReplyLayout) {
  const Bytes data = B("10 01 01 00 34 12");
  EXPECT_EQ(LongReply(0x01, 0x00, data),
            B("68 08 08 68 01 00 10 01 01 00 34 12 59 16"));
}

TEST(SimWire, FixChecksumAfterAChange) {
  Bytes frame = B("68 08 08 68 01 00 10 01 01 00 34 12 59 16");
  frame[10] = 0x35;
  FixChecksum(frame);
  EXPECT_EQ(frame[12], 0x5A);
  Bytes short_frame = B("10 01 00 01 16");
  short_frame[2] = 0x80;
  FixChecksum(short_frame);
  EXPECT_EQ(short_frame, B("10 01 80 81 16"));
}

TEST(SimWire, ExtensionBytesFollowEveryIndexOutside30To3F) {
  EXPECT_TRUE(HasExtension(0x2F));
  EXPECT_FALSE(HasExtension(0x30));
  EXPECT_FALSE(HasExtension(0x3F));
  EXPECT_TRUE(HasExtension(0x40));
  EXPECT_TRUE(HasExtension(0xF6));
}

TEST(SimWire, HexForLogs) { EXPECT_EQ(Hex(B("10 0a ff")), "10 0A FF"); }

TEST(SimGateTable, FactoryWidths) {
  int counts[4] = {};
  for (int i = 0; i < 256; ++i) {
    ++counts[static_cast<int>(DefaultWidth(static_cast<uint8_t>(i)))];
  }
  EXPECT_EQ(counts[0], 212);
  EXPECT_EQ(counts[1], 17);
  EXPECT_EQ(counts[2], 26);
  EXPECT_EQ(counts[3], 1);
  EXPECT_EQ(DefaultWidth(0x21), Width::kLong);
  EXPECT_EQ(DefaultWidth(0xF2), Width::kByte);
  EXPECT_EQ(DefaultWidth(0xF3), Width::kWord);
  EXPECT_EQ(DefaultWidth(0x0A), Width::kNone);
  EXPECT_EQ(ValueSize(Width::kLong), 4u);
}

}  // namespace
}  // namespace r2600sim
