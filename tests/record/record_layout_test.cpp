#include <gtest/gtest.h>

#include <cstring>

#include "reader/record/record.h"

namespace vantrel::record {
namespace {

using record::kBlockColumns;
using record::kBlockRows;

uint16_t WordAt(const uint8_t* record, int offset) {
  return static_cast<uint16_t>((record[offset] << 8) | record[offset + 1]);
}

TEST(MinutiaWord, BitLayoutAndMasking) {
  Minutia m;
  m.x = 100;
  m.y = 200;
  m.direction = 359;
  m.reliability = 15;
  m.type = kBifurcation;
  EXPECT_EQ(PackMinutia(m), 0x32322CFFu);
  Minutia back = UnpackMinutia(0x32322CFFu);
  EXPECT_EQ(back.x, 100);
  EXPECT_EQ(back.y, 200);
  EXPECT_EQ(back.direction, 359);
  EXPECT_EQ(back.reliability, 15);
  EXPECT_EQ(back.type, kBifurcation);

  // Each field is masked to its width and cannot spill into its neighbour.
  Minutia wide;
  wide.x = 512 + 10;
  wide.y = -1;  // all bits set: masked to 511
  wide.direction = 0;
  wide.reliability = 16 + 3;
  wide.type = 2;
  const Minutia masked = UnpackMinutia(PackMinutia(wide));
  EXPECT_EQ(masked.x, 10);
  EXPECT_EQ(masked.y, 511);
  EXPECT_EQ(masked.direction, 0);
  EXPECT_EQ(masked.reliability, 3);
  EXPECT_EQ(masked.type, 0);
}

TEST(BuildRecord, HeaderCoresAndEmptyMinutiae) {
  RecordContent content;
  content.quality = 77;
  content.count = 0;
  // The core at block (10, 12) sits at the block centre (100, 84).
  content.core1_x = 8 * 12 + 4;
  content.core1_y = 8 * 10 + 4;
  content.core2_x = 101;  // halving rounds towards zero
  content.core2_y = 31;
  uint8_t record[kRecordBytes];
  std::memset(record, 0xEE, sizeof record);
  BuildRecord(content, record);

  EXPECT_EQ(record[0], 3);
  EXPECT_EQ(record[1], 1);
  EXPECT_EQ(record[2], 77);
  EXPECT_EQ(record[3], 0);
  EXPECT_EQ(record[4], 0);
  EXPECT_EQ(record[5], 0);
  EXPECT_EQ(record[40], 50);
  EXPECT_EQ(record[41], 42);
  EXPECT_EQ(record[42], 50);
  EXPECT_EQ(record[43], 15);
  for (int i = 44; i < kRecordBytes; ++i) ASSERT_EQ(record[i], 0) << "byte " << i;

  DecodedRecord decoded;
  DecodeRecord(record, decoded);
  EXPECT_EQ(decoded.core1_x, 100);
  EXPECT_EQ(decoded.core1_y, 84);
  EXPECT_EQ(decoded.core2_x, 100);
  EXPECT_EQ(decoded.core2_y, 30);
  EXPECT_EQ(decoded.quality, 77);
  EXPECT_EQ(decoded.usable, 0);
}

TEST(BuildRecord, EstimatedCoreWritesTheMarker) {
  RecordContent content;
  content.core1_x = 120;
  content.core1_y = 140;
  content.core2_x = 200;
  content.core2_y = 200;
  content.core2_marker = true;
  uint8_t record[kRecordBytes];
  BuildRecord(content, record);
  EXPECT_EQ(record[40], 60);
  EXPECT_EQ(record[41], 70);
  EXPECT_EQ(record[42], 0);
  EXPECT_EQ(record[43], 1);
}

TEST(BuildRecord, FiftyMinutiaeFillTheRecord) {
  RecordContent content;
  content.count = kMaxMinutiae;
  for (int i = 0; i < kMaxMinutiae; ++i) {
    Minutia& m = content.minutiae[i];
    m.x = 8 + i * 4;
    m.y = 279 - i;
    m.direction = (i * 37) % 360;
    m.reliability = i % 16;
    m.type = i % 2;
  }
  uint8_t record[kRecordBytes];
  BuildRecord(content, record);
  EXPECT_EQ(record[3], 50);
  for (int i = 0; i < kMaxMinutiae; ++i) {
    const uint32_t word = PackMinutia(content.minutiae[i]);
    const int offset = 56 + 4 * i;
    ASSERT_EQ(WordAt(record, offset), word >> 16);
    ASSERT_EQ(WordAt(record, offset + 2), word & 0xFFFF);
  }
  // The last minutia ends exactly at byte 255.
  const uint32_t last = PackMinutia(content.minutiae[49]);
  EXPECT_EQ(record[255], last & 0xFF);

  DecodedRecord decoded;
  DecodeRecord(record, decoded);
  ASSERT_EQ(decoded.usable, 50);
  for (int i = 0; i < kMaxMinutiae; ++i) {
    EXPECT_EQ(decoded.minutiae[i].x, content.minutiae[i].x);
    EXPECT_EQ(decoded.minutiae[i].y, content.minutiae[i].y);
    EXPECT_EQ(decoded.minutiae[i].direction, content.minutiae[i].direction);
    EXPECT_EQ(decoded.minutiae[i].reliability, content.minutiae[i].reliability);
    EXPECT_EQ(decoded.minutiae[i].type, content.minutiae[i].type);
  }
}

TEST(BuildRecord, CountOutsideRangeNeverWritesPastTheRecord) {
  RecordContent content;
  content.count = 70;
  for (auto& m : content.minutiae) m.x = 9;
  uint8_t buffer[kRecordBytes + 16];
  std::memset(buffer, 0xA5, sizeof buffer);
  BuildRecord(content, buffer);
  EXPECT_EQ(buffer[3], 50);
  for (int i = kRecordBytes; i < kRecordBytes + 16; ++i) EXPECT_EQ(buffer[i], 0xA5);

  content.count = -4;
  BuildRecord(content, buffer);
  EXPECT_EQ(buffer[3], 0);
  EXPECT_EQ(buffer[56], 0);
}

TEST(BackgroundMap, CellNeedsThreeOfFourBackgroundBlocks) {
  RecordContent content;
  // Cell of word 2, bit 15 - 3: block rows 5, 6 and columns 7, 8.
  content.block_mask[5][7] = 1;
  content.block_mask[5][8] = 1;
  content.block_mask[6][7] = 1;
  // Cell of word 4, bit 15 - 0: block rows 9, 10, columns 1, 2; only two background.
  content.block_mask[9][1] = 1;
  content.block_mask[10][2] = 1;
  // Cell of word 16, bit 15 - 14: block rows 33, 34, columns 29, 30; all four.
  content.block_mask[33][29] = content.block_mask[33][30] = 1;
  content.block_mask[34][29] = content.block_mask[34][30] = 1;
  // The outer ring is not in the map.
  for (int c = 0; c < kBlockColumns; ++c) content.block_mask[0][c] = content.block_mask[35][c] = 1;

  uint8_t record[kRecordBytes];
  BuildRecord(content, record);
  for (int i = 0; i < 17; ++i) {
    uint16_t expected = 0;
    if (i == 2) expected = 1u << 12;
    if (i == 16) expected = 1u << 1;
    EXPECT_EQ(WordAt(record, 6 + 2 * i), expected) << "word " << i;
  }
}

TEST(BackgroundMap, FullBackgroundKeepsBitZeroClear) {
  RecordContent content;
  std::memset(content.block_mask, 1, sizeof content.block_mask);
  uint8_t record[kRecordBytes];
  BuildRecord(content, record);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(WordAt(record, 6 + 2 * i), 0xFFFE) << "word " << i;
}

TEST(BackgroundMap, ExpansionGivesCellsAndOuterRing) {
  uint8_t record[kRecordBytes] = {};
  record[0] = 3;
  record[1] = 1;
  // Word 0 bit 15 (block rows 1, 2, columns 1, 2) and word 16 bit 1 (rows 33, 34,
  // columns 29, 30); bit 0 of word 5 is set in the bytes but covers no block.
  record[6] = 0x80;
  record[6 + 2 * 16 + 1] = 0x02;
  record[6 + 2 * 5 + 1] = 0x01;
  DecodedRecord decoded;
  DecodeRecord(record, decoded);
  EXPECT_EQ(decoded.map[0], 0x8000);
  EXPECT_EQ(decoded.map[16], 0x0002);
  EXPECT_EQ(decoded.map[5], 0x0001);
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      const bool ring = r == 0 || r == 35 || c == 0 || c == 31;
      const bool first = (r == 1 || r == 2) && (c == 1 || c == 2);
      const bool last = (r == 33 || r == 34) && (c == 29 || c == 30);
      ASSERT_EQ(decoded.block_mask[r][c], (ring || first || last) ? 1 : 0) << r << "," << c;
    }
  }
}

TEST(BackgroundMap, BuildThenExpandKeepsMajorityCells) {
  RecordContent content;
  // Background on the left third and the bottom rows.
  for (int r = 0; r < kBlockRows; ++r)
    for (int c = 0; c < kBlockColumns; ++c) content.block_mask[r][c] = (c < 11 || r > 30) ? 1 : 0;
  uint8_t record[kRecordBytes];
  BuildRecord(content, record);
  DecodedRecord decoded;
  DecodeRecord(record, decoded);
  for (int r = 1; r <= 34; ++r) {
    for (int c = 1; c <= 30; ++c) {
      // Cells pair columns (9, 10), (11, 12) and rows (29, 30), (31, 32), so the
      // background edges fall on cell edges and survive the round trip exactly.
      const bool expected = c <= 10 || r >= 31;
      ASSERT_EQ(decoded.block_mask[r][c], expected ? 1 : 0) << r << "," << c;
    }
  }
}

TEST(DecodeRecord, CountAboveFiftyHoldsNoMinutiae) {
  uint8_t record[kRecordBytes];
  std::memset(record, 0x5A, sizeof record);
  record[0] = 3;
  record[1] = 1;
  for (int count : {51, 200, 255}) {
    record[3] = static_cast<uint8_t>(count);
    DecodedRecord decoded;
    DecodeRecord(record, decoded);
    EXPECT_EQ(decoded.count, count);
    EXPECT_EQ(decoded.usable, 0);
    EXPECT_EQ(decoded.minutiae[0].x, 0);
  }
  record[3] = 50;
  DecodedRecord decoded;
  DecodeRecord(record, decoded);
  EXPECT_EQ(decoded.usable, 50);
  EXPECT_EQ(decoded.minutiae[49].x, static_cast<int>(UnpackMinutia(0x5A5A5A5Au).x));
}

}  // namespace
}  // namespace vantrel::record
