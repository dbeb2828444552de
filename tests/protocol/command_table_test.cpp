#include "reader/protocol/command_table.h"

#include <gtest/gtest.h>

#include <set>

#include "reader/protocol/result_codes.h"

namespace vantrel::protocol {
namespace {

constexpr int kHid = static_cast<int>(BinaryLink::kHid);
constexpr int kDisk = static_cast<int>(BinaryLink::kDisk);

TEST(BinaryCommands, RowsAreInOrderOfTheirOperation) {
  for (int i = 0; i < kBinaryOpCount; ++i) {
    EXPECT_EQ(static_cast<int>(BinaryCommandOf(static_cast<BinaryOp>(i)).op), i);
  }
}

TEST(BinaryCommands, FixedReplyTotalsFitTheirBuffers) {
  for (int i = 0; i < kBinaryOpCount; ++i) {
    const BinaryCommand& row = BinaryCommandOf(static_cast<BinaryOp>(i));
    for (int col : {kHid, kDisk}) {
      EXPECT_LE(row.reply_total[col], row.reply_buffer[col]) << row.name;
      EXPECT_GT(row.timeout_ms[col], 0u) << row.name;
    }
  }
}

TEST(BinaryCommands, ValuesThatDifferPerLink) {
  const BinaryCommand& version = BinaryCommandOf(BinaryOp::kReadVersion);
  EXPECT_EQ(version.reply_rule[kHid], ReplyRule::kReceived);
  EXPECT_EQ(version.reply_total[kDisk], 71);
  const BinaryCommand& at_once = BinaryCommandOf(BinaryOp::kCaptureImageAtOnce);
  EXPECT_EQ(at_once.reply_total[kDisk], 30407);
  EXPECT_EQ(at_once.reply_total[kHid], 92169);
  EXPECT_EQ(at_once.image_width[kHid] * at_once.image_height[kHid] + 9, 92169);
  EXPECT_EQ(at_once.image_width[kDisk] * at_once.image_height[kDisk] + 7, 30407);
  const BinaryCommand& search = BinaryCommandOf(BinaryOp::kSearch);
  EXPECT_EQ(search.copy[kHid], CopyOut::kSearchAll);
  EXPECT_EQ(search.copy[kDisk], CopyOut::kSearchToZero);
  const BinaryCommand& feature = BinaryCommandOf(BinaryOp::kReaderFeature);
  EXPECT_EQ(feature.timeout_ms[kHid], 15000u);
  EXPECT_EQ(feature.timeout_ms[kDisk], 20000u);
  // The three firmware steps share code 0x50 and differ in parameter 1.
  std::set<int> steps;
  for (BinaryOp op : {BinaryOp::kFirmwareAnnounce, BinaryOp::kFirmwarePacket,
                      BinaryOp::kFirmwareFinish}) {
    EXPECT_EQ(BinaryCommandOf(op).code, 0x50);
    steps.insert(BinaryCommandOf(op).p1);
  }
  EXPECT_EQ(steps, (std::set<int>{1, 2, 3}));
}

TEST(ImageTotal, FormsAndBuffers) {
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kDisk, 30400), 30407);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kDisk, 30546), 30553);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kDisk, 30547), kReplyTooLong);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kDisk, 70000), kReplyTooLong);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kDisk, -1), kBadArguments);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kHid, 65528), 65535);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kHid, 65529), kBadArguments);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kHid, 92151), kBadArguments);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kHid, 92152), 92161);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kHid, 93175), 93184);
  EXPECT_EQ(ExpectedImageTotal(BinaryLink::kHid, 93176), kReplyTooLong);
}

TEST(SerialCommands, SetKeyAndSetSequenceShareTheirCode) {
  EXPECT_EQ(SerialCommandOf(SerialOp::kSetKey).code, 13);
  EXPECT_EQ(SerialCommandOf(SerialOp::kSetSequence).code, 13);
  EXPECT_EQ(SerialCommandOf(SerialOp::kSetKey).request, SerialRequest::kText16);
  EXPECT_EQ(SerialCommandOf(SerialOp::kSetSequence).request, SerialRequest::kText32);
  for (int i = 0; i < kSerialOpCount; ++i) {
    EXPECT_EQ(static_cast<int>(SerialCommandOf(static_cast<SerialOp>(i)).op), i);
  }
  EXPECT_FALSE(SerialCommandOf(SerialOp::kReadPackedImage).check_reply);
  EXPECT_TRUE(SerialCommandOf(SerialOp::kReset).own_exchange);
  EXPECT_EQ(SerialCommandOf(SerialOp::kReset).timeout_ms, 100u);
}

TEST(SerialCommands, BaudCodes) {
  EXPECT_EQ(BaudCode(9600), 'L');
  EXPECT_EQ(BaudCode(57600), 'M');
  EXPECT_EQ(BaudCode(115200), 'H');
  EXPECT_EQ(BaudCode(38400), 'L');
  EXPECT_EQ(BaudOfCode('H'), 115200);
  EXPECT_EQ(BaudOfCode('?'), 9600);
}

}  // namespace
}  // namespace vantrel::protocol
