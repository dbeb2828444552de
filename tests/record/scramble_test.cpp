#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "reader/record/record.h"

namespace vantrel::record {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// An unsealed record with a recognisable body.
void PlainRecord(uint8_t* record, uint32_t seed) {
  const auto body = RandomBytes(kRecordBytes, seed);
  std::memcpy(record, body.data(), kRecordBytes);
  record[0] = 3;
  record[1] = 1;
}

TEST(Scrambler, RoundTripOverManyLengths) {
  for (uint16_t length : {0, 1, 2, 3, 15, 16, 17, 254, 255, 256, 1000}) {
    const auto plain = RandomBytes(length, length + 1u);
    auto bytes = plain;
    EXPECT_EQ(ScrambleBytes(bytes.data(), length), 0);
    if (length >= 16) {
      EXPECT_NE(bytes, plain) << length;
    }
    EXPECT_EQ(UnscrambleBytes(bytes.data(), length), 0);
    EXPECT_EQ(bytes, plain) << length;
  }
}

TEST(Scrambler, RoundTripRestoresTheByteThePairPassSkips) {
  // With 255 bytes the last one has no partner; try every value of it.
  auto plain = RandomBytes(255, 7);
  for (int v = 0; v < 256; ++v) {
    plain[254] = static_cast<uint8_t>(v);
    auto bytes = plain;
    ScrambleBytes(bytes.data(), 255);
    UnscrambleBytes(bytes.data(), 255);
    ASSERT_EQ(bytes, plain) << v;
  }
}

TEST(Scrambler, ChainingRunsForward) {
  const auto plain = RandomBytes(255, 11);
  auto reference = plain;
  ScrambleBytes(reference.data(), 255);

  for (int v = 1; v < 256; ++v) {
    // A change in the last byte shows only in the last scrambled byte.
    auto last = plain;
    last[254] ^= static_cast<uint8_t>(v);
    ScrambleBytes(last.data(), 255);
    for (int i = 0; i < 254; ++i) ASSERT_EQ(last[i], reference[i]) << v << " at " << i;
    ASSERT_NE(last[254], reference[254]) << v;

    // A change in the first byte shows in every byte after it.
    auto first = plain;
    first[0] ^= static_cast<uint8_t>(v);
    ScrambleBytes(first.data(), 255);
    for (int i = 1; i < 255; ++i) ASSERT_NE(first[i], reference[i]) << v << " at " << i;
  }
}

TEST(Scrambler, KeyMaterialIsFixed) {
  // Sealed records are stored by users and exchanged between installations; the key
  // tables and the seed must never change. These bytes pin them.
  uint8_t zeros[32] = {};
  ScrambleBytes(zeros, sizeof zeros);
  uint8_t again[32] = {};
  ScrambleBytes(again, sizeof again);
  EXPECT_EQ(std::memcmp(zeros, again, sizeof zeros), 0);
  const uint8_t expected[8] = {0x57, 0x10, 0x00, 0xB0, 0xC1, 0x2B, 0x41, 0xCB};
  EXPECT_EQ(std::memcmp(zeros, expected, sizeof expected), 0);
}

TEST(Scrambler, NullBufferIsRefused) {
  EXPECT_EQ(ScrambleBytes(nullptr, 0), 0);
  EXPECT_EQ(UnscrambleBytes(nullptr, 0), 0);
  EXPECT_EQ(ScrambleBytes(nullptr, 5), -1);
  EXPECT_EQ(UnscrambleBytes(nullptr, 5), -1);
}

TEST(Seal, SealThenUnsealRestoresTheRecord) {
  uint8_t plain[kRecordBytes];
  PlainRecord(plain, 21);
  uint8_t record[kRecordBytes];
  std::memcpy(record, plain, kRecordBytes);
  ASSERT_EQ(SealRecord(record), 0);
  EXPECT_EQ(record[0], 0x67);
  EXPECT_NE(std::memcmp(record + 1, plain + 1, kRecordBytes - 1), 0);

  // Byte 1 is scrambled as 0x81 together with the rest.
  uint8_t region[kRecordBytes - 1];
  std::memcpy(region, plain + 1, sizeof region);
  region[0] = 0x81;
  ScrambleBytes(region, sizeof region);
  EXPECT_EQ(std::memcmp(record + 1, region, sizeof region), 0);

  ASSERT_EQ(UnsealRecord(record), 0);
  EXPECT_EQ(std::memcmp(record, plain, kRecordBytes), 0);
}

TEST(Seal, RefusesAnythingButTheUnsealedHeader) {
  uint8_t record[kRecordBytes];
  for (auto header : {std::pair<int, int>{3, 2}, {2, 1}, {0, 0}, {0x67, 0x81}}) {
    PlainRecord(record, 5);
    record[0] = static_cast<uint8_t>(header.first);
    record[1] = static_cast<uint8_t>(header.second);
    uint8_t before[kRecordBytes];
    std::memcpy(before, record, kRecordBytes);
    EXPECT_EQ(SealRecord(record), -1);
    EXPECT_EQ(std::memcmp(record, before, kRecordBytes), 0);
  }
  EXPECT_EQ(SealRecord(nullptr), -1);
}

TEST(Seal, SealingTwiceFailsAndChangesNothing) {
  uint8_t record[kRecordBytes];
  PlainRecord(record, 9);
  ASSERT_EQ(SealRecord(record), 0);
  uint8_t sealed[kRecordBytes];
  std::memcpy(sealed, record, kRecordBytes);
  EXPECT_EQ(SealRecord(record), -1);
  EXPECT_EQ(std::memcmp(record, sealed, kRecordBytes), 0);
}

// Seals by hand with a chosen byte 1, to reach the versions SealRecord never writes.
void SealWithVersion(uint8_t* record, uint8_t version) {
  record[0] = 0x67;
  record[1] = version;
  ScrambleBytes(record + 1, kRecordBytes - 1);
}

TEST(Unseal, AcceptsEveryVersionWithHighNibbleEight) {
  for (int v = 0x80; v <= 0x8F; ++v) {
    uint8_t plain[kRecordBytes];
    PlainRecord(plain, static_cast<uint32_t>(v));
    uint8_t record[kRecordBytes];
    std::memcpy(record, plain, kRecordBytes);
    SealWithVersion(record, static_cast<uint8_t>(v));
    ASSERT_EQ(UnsealRecord(record), 0) << v;
    EXPECT_EQ(record[0], 3);
    EXPECT_EQ(record[1], 1);
    EXPECT_EQ(std::memcmp(record + 2, plain + 2, kRecordBytes - 2), 0);
  }
}

TEST(Unseal, RefusesOtherVersions) {
  for (int v : {0x90, 0x7F, 0x00, 0x01, 0xFF}) {
    uint8_t plain[kRecordBytes];
    PlainRecord(plain, 3);
    uint8_t record[kRecordBytes];
    std::memcpy(record, plain, kRecordBytes);
    SealWithVersion(record, static_cast<uint8_t>(v));
    EXPECT_EQ(UnsealRecord(record), -1) << v;
    // Left unscrambled, byte 0 still the seal mark.
    EXPECT_EQ(record[0], 0x67);
    EXPECT_EQ(record[1], v);
    EXPECT_EQ(std::memcmp(record + 2, plain + 2, kRecordBytes - 2), 0);
  }
}

TEST(Unseal, RefusesAnUnsealedBufferUnchanged) {
  uint8_t record[kRecordBytes];
  PlainRecord(record, 4);
  uint8_t before[kRecordBytes];
  std::memcpy(before, record, kRecordBytes);
  EXPECT_EQ(UnsealRecord(record), -1);
  EXPECT_EQ(std::memcmp(record, before, kRecordBytes), 0);
  EXPECT_EQ(UnsealRecord(nullptr), -1);
}

TEST(Unseal, CopyLeavesTheSourceAlone) {
  uint8_t plain[kRecordBytes];
  PlainRecord(plain, 13);
  uint8_t sealed[kRecordBytes];
  std::memcpy(sealed, plain, kRecordBytes);
  ASSERT_EQ(SealRecord(sealed), 0);
  uint8_t keep[kRecordBytes];
  std::memcpy(keep, sealed, kRecordBytes);

  uint8_t out[kRecordBytes];
  EXPECT_EQ(UnsealCopy(sealed, out), 0);
  EXPECT_EQ(std::memcmp(out, plain, kRecordBytes), 0);
  EXPECT_EQ(std::memcmp(sealed, keep, kRecordBytes), 0);

  // A copy that fails to unseal leaves the source as it was too.
  std::memcpy(sealed, plain, kRecordBytes);
  SealWithVersion(sealed, 0x90);
  std::memcpy(keep, sealed, kRecordBytes);
  EXPECT_EQ(UnsealCopy(sealed, out), -1);
  EXPECT_EQ(std::memcmp(sealed, keep, kRecordBytes), 0);
  EXPECT_EQ(UnsealCopy(nullptr, out), -1);
  EXPECT_EQ(UnsealCopy(sealed, nullptr), -1);
}

TEST(Seal, BuiltRecordSurvivesSealing) {
  RecordContent content;
  content.quality = 200;
  content.count = 3;
  content.minutiae[0] = {30, 40, 90, 12, kRidgeEnding};
  content.minutiae[1] = {247, 279, 359, 15, kBifurcation};
  content.minutiae[2] = {8, 8, 0, 0, kRidgeEnding};
  content.core1_x = 100;
  content.core1_y = 84;
  content.block_mask[3][3] = content.block_mask[3][4] = content.block_mask[4][3] = 1;
  uint8_t record[kRecordBytes];
  BuildRecord(content, record);
  ASSERT_EQ(SealRecord(record), 0);
  uint8_t copy[kRecordBytes];
  ASSERT_EQ(UnsealCopy(record, copy), 0);
  DecodedRecord decoded;
  DecodeRecord(copy, decoded);
  EXPECT_EQ(decoded.format, 3);
  EXPECT_EQ(decoded.version, 1);
  EXPECT_EQ(decoded.quality, 200);
  ASSERT_EQ(decoded.usable, 3);
  EXPECT_EQ(decoded.minutiae[1].x, 247);
  EXPECT_EQ(decoded.minutiae[1].y, 279);
  EXPECT_EQ(decoded.minutiae[1].direction, 359);
  EXPECT_EQ(decoded.minutiae[1].type, kBifurcation);
  EXPECT_EQ(decoded.core1_x, 100);
  EXPECT_EQ(decoded.block_mask[3][3], 1);
  EXPECT_EQ(decoded.block_mask[5][5], 0);
}

}  // namespace
}  // namespace vantrel::record
