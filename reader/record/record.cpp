#include "reader/record/record.h"

#include <cstring>

namespace vantrel::record {

namespace {

// Offsets of the unsealed layout.
constexpr int kOffsetFormat = 0;
constexpr int kOffsetVersion = 1;
constexpr int kOffsetQuality = 2;
constexpr int kOffsetCount = 3;
constexpr int kOffsetAreaHeight = 4;
constexpr int kOffsetAreaWidth = 5;
constexpr int kOffsetMap = 6;
constexpr int kOffsetCore1 = 40;
constexpr int kOffsetCore2 = 42;
constexpr int kOffsetMinutiae = 56;
constexpr int kMinutiaBytes = 4;

constexpr int kMapWords = 17;
constexpr int kMapCellsPerWord = 15;  // bit 0 of every word stays 0
// A map cell is background when at least this many of its four blocks are.
constexpr int kBackgroundBlocksPerCell = 3;
// The marker stored instead of core 2 when the core was only estimated.
constexpr uint16_t kCore2Marker = 0x0001;

static_assert(kOffsetMap + 2 * kMapWords == kOffsetCore1);
static_assert(kOffsetMinutiae + kMinutiaBytes * kMaxMinutiae == kRecordBytes);
static_assert(2 + 2 * kMapWords <= kBlockRows);
static_assert(2 + 2 * (kMapCellsPerWord - 1) < kBlockColumns);

void PutWord(uint8_t* record, int offset, uint16_t word) {
  record[offset] = static_cast<uint8_t>(word >> 8);
  record[offset + 1] = static_cast<uint8_t>(word & 0xFF);
}

uint16_t GetWord(const uint8_t* record, int offset) {
  return static_cast<uint16_t>((record[offset] << 8) | record[offset + 1]);
}

// A point halved (towards zero) into the x byte and the y byte of one word.
uint16_t HalvedPoint(int32_t x, int32_t y) {
  const uint32_t hx = static_cast<uint32_t>(x / 2) & 0xFF;
  const uint32_t hy = static_cast<uint32_t>(y / 2) & 0xFF;
  return static_cast<uint16_t>(hx * 256 + hy);
}

uint16_t MapWord(const uint8_t (&mask)[kBlockRows][kBlockColumns], int i) {
  uint16_t word = 0;
  const int r = 1 + 2 * i;
  for (int j = 0; j < kMapCellsPerWord; ++j) {
    const int c = 1 + 2 * j;
    const int background = (mask[r][c] != 0) + (mask[r][c + 1] != 0) + (mask[r + 1][c] != 0) +
                           (mask[r + 1][c + 1] != 0);
    if (background >= kBackgroundBlocksPerCell) word |= static_cast<uint16_t>(1u << (15 - j));
  }
  return word;
}

}  // namespace

uint32_t PackMinutia(const Minutia& m) {
  return ((static_cast<uint32_t>(m.x) & 0x1FF) << 23) |
         ((static_cast<uint32_t>(m.y) & 0x1FF) << 14) |
         ((static_cast<uint32_t>(m.direction) & 0x1FF) << 5) |
         ((static_cast<uint32_t>(m.reliability) & 0xF) << 1) |
         (static_cast<uint32_t>(m.type) & 0x1);
}

void BuildRecord(const RecordContent& content, uint8_t* record) {
  if (record == nullptr) return;
  std::memset(record, 0, kRecordBytes);

  // A count outside 0..50 cannot be stored; clamping keeps every write inside the record.
  int count = content.count;
  if (count < 0) count = 0;
  if (count > kMaxMinutiae) count = kMaxMinutiae;

  record[kOffsetFormat] = kFormat;
  record[kOffsetVersion] = kVersion;
  record[kOffsetQuality] = content.quality;
  record[kOffsetCount] = static_cast<uint8_t>(count);
  record[kOffsetAreaHeight] = content.area_height;
  record[kOffsetAreaWidth] = content.area_width;

  for (int i = 0; i < kMapWords; ++i) PutWord(record, kOffsetMap + 2 * i, MapWord(content.block_mask, i));

  PutWord(record, kOffsetCore1, HalvedPoint(content.core1_x, content.core1_y));
  PutWord(record, kOffsetCore2,
          content.core2_marker ? kCore2Marker : HalvedPoint(content.core2_x, content.core2_y));

  for (int i = 0; i < count; ++i) {
    const uint32_t word = PackMinutia(content.minutiae[i]);
    const int offset = kOffsetMinutiae + kMinutiaBytes * i;
    PutWord(record, offset, static_cast<uint16_t>(word >> 16));
    PutWord(record, offset + 2, static_cast<uint16_t>(word & 0xFFFF));
  }
}

void DecodeRecord(const uint8_t* record, DecodedRecord& out) {
  out = DecodedRecord{};
  if (record == nullptr) return;

  out.format = record[kOffsetFormat];
  out.version = record[kOffsetVersion];
  out.quality = record[kOffsetQuality];
  out.count = record[kOffsetCount];
  // A count above 50 would run past the record: such a record holds no usable minutiae.
  out.usable = out.count <= kMaxMinutiae ? out.count : 0;
  out.area_height = record[kOffsetAreaHeight];
  out.area_width = record[kOffsetAreaWidth];

  for (int i = 0; i < kMapWords; ++i) out.map[i] = GetWord(record, kOffsetMap + 2 * i);

  // The outer ring of blocks is not covered by the map and counts as background.
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      const bool ring = r == 0 || r == kBlockRows - 1 || c == 0 ||
                        c == kBlockColumns - 1;
      if (ring) {
        out.block_mask[r][c] = 1;
      } else {
        const uint16_t word = out.map[(r - 1) / 2];
        out.block_mask[r][c] = static_cast<uint8_t>((word >> (15 - (c - 1) / 2)) & 1);
      }
    }
  }

  out.core1_x = record[kOffsetCore1] * 2;
  out.core1_y = record[kOffsetCore1 + 1] * 2;
  out.core2_x = record[kOffsetCore2] * 2;
  out.core2_y = record[kOffsetCore2 + 1] * 2;

  for (int i = 0; i < out.usable; ++i) {
    const int offset = kOffsetMinutiae + kMinutiaBytes * i;
    const uint32_t word = (static_cast<uint32_t>(GetWord(record, offset)) << 16) |
                          GetWord(record, offset + 2);
    out.minutiae[i] = UnpackMinutia(word);
  }
}

}  // namespace vantrel::record
