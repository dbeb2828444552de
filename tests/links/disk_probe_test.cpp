// Finding the reader among the present disks by its INQUIRY identity.
#include <gtest/gtest.h>

#include <cstring>

#include "links/disk_fixture.h"
#include "reader/links/disk_link.h"
#include "reader/protocol/result_codes.h"

namespace vantrel::links {
namespace {

namespace pc = vantrel::protocol;

// Two disks: the fixture's reader is second; the first is a stand-in set up to fail the
// probe in some way.
class DiskProbeTest : public DiskLinkTest {
 protected:
  void SetUp() override {
    disk_.AddReader(other_);  // listed first
    DiskLinkTest::SetUp();
  }
  // The request went to the fixture's reader and not to the other one.
  void ExpectAnsweredBySecond() {
    EXPECT_EQ(other_.Snapshot().commands, 0);
    EXPECT_EQ(reader_.Snapshot().commands, 1);
  }
  sim::ReaderModel other_;
};

TEST_F(DiskProbeTest, FirstMatchingDiskIsUsed) {
  ASSERT_EQ(ops().Reset(), pc::kOk);
  EXPECT_EQ(other_.Snapshot().commands, 1);
  EXPECT_EQ(reader_.Snapshot().commands, 0);
}

TEST_F(DiskProbeTest, WrongRevisionIsSkipped) {
  other_.SetIdentity("Orvanta", "MTR-771A", "1.01");
  ASSERT_EQ(ops().Reset(), pc::kOk);
  ExpectAnsweredBySecond();
  EXPECT_EQ(disk_.OpensSoFar(), 2);  // the skipped disk was opened, then closed
}

TEST_F(DiskProbeTest, PendingInquiryIsSkipped) {
  other_.SetInquiryPending(true);
  ASSERT_EQ(ops().Reset(), pc::kOk);
  ExpectAnsweredBySecond();
}

TEST_F(DiskProbeTest, OtherVendorOrProductIsSkipped) {
  other_.SetIdentity("Generic", "USB Flash", "1.00");
  ASSERT_EQ(ops().Reset(), pc::kOk);
  ExpectAnsweredBySecond();
  other_.SetIdentity("Orvanta", "MTR-770A", "1.00");
  ASSERT_EQ(ops().Reset(), pc::kOk);
  EXPECT_EQ(other_.Snapshot().commands, 0);
}

TEST_F(DiskProbeTest, OnlyForeignDisksGiveMinusTen) {
  other_.SetIdentity("Orvanta", "MTR-771A", "0.99");
  reader_.SetInquiryPending(true);
  EXPECT_EQ(ops().Reset(), pc::kNoDevice);
  EXPECT_EQ(disk_.OpensSoFar(), 2);
}

TEST(ReaderIdentity, ComparedFields) {
  uint8_t data[kInquiryLength] = {};
  std::memcpy(data + 8, "Orvanta MTR-771A", 16);
  std::memcpy(data + 32, "1.00", 4);
  EXPECT_TRUE(IsReaderIdentity(data));
  data[23] = 'B';  // only the first seven product characters count
  EXPECT_TRUE(IsReaderIdentity(data));
  data[22] = '2';
  EXPECT_FALSE(IsReaderIdentity(data));
  data[22] = '1';
  data[35] = '1';
  EXPECT_FALSE(IsReaderIdentity(data));
}

TEST(VendorBlock, Layout) {
  uint8_t block[kVendorBlockSize];
  BuildVendorBlock(0x41, 30407, kVendorFromReader, block);
  const uint8_t expected[kVendorBlockSize] = {0xFF, 0x41, 0x76, 0xC7, 0x80, 'O', 'R', 'V',
                                              'A',  'N',  'T',  'A',  '7',  '7', '1', 0xFF};
  EXPECT_EQ(std::memcmp(block, expected, kVendorBlockSize), 0);
}

}  // namespace
}  // namespace vantrel::links
