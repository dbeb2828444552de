// Random and malformed input for every reader of outside bytes. Buffers are sized
// exactly on the heap, so the sanitizer build turns any stray access into a failure.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "reader/record/record_text.h"
#include "reader/record/record.h"

namespace vantrel {
namespace {

using record::kRecordBytes;

constexpr int kRounds = 3000;

std::unique_ptr<uint8_t[]> RandomRecord(std::mt19937& rng) {
  auto bytes = std::make_unique<uint8_t[]>(kRecordBytes);
  for (int i = 0; i < kRecordBytes; ++i) bytes[i] = static_cast<uint8_t>(rng());
  return bytes;
}

void ExpectSaneDecode(const record::DecodedRecord& d) {
  ASSERT_GE(d.usable, 0);
  ASSERT_LE(d.usable, record::kMaxMinutiae);
  ASSERT_TRUE(d.usable == d.count || (d.count > record::kMaxMinutiae && d.usable == 0));
  for (int i = 0; i < d.usable; ++i) {
    ASSERT_LT(d.minutiae[i].x, 512);
    ASSERT_LT(d.minutiae[i].y, 512);
    ASSERT_LT(d.minutiae[i].direction, 512);
    ASSERT_LT(d.minutiae[i].reliability, 16);
    ASSERT_LT(d.minutiae[i].type, 2);
  }
  for (int r = 0; r < record::kBlockRows; ++r) {
    for (int c = 0; c < record::kBlockColumns; ++c) {
      ASSERT_LE(d.block_mask[r][c], 1);
      if (r == 0 || r == record::kBlockRows - 1 || c == 0 || c == record::kBlockColumns - 1) {
        ASSERT_EQ(d.block_mask[r][c], 1);
      }
    }
  }
}

TEST(HostileInput, RandomRecordsUnsealAndDecodeSafely) {
  std::mt19937 rng(20261208);
  int unsealed = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto bytes = RandomRecord(rng);
    if (round % 2 == 0) bytes[0] = record::kSealMark;
    auto source = std::make_unique<uint8_t[]>(kRecordBytes);
    std::memcpy(source.get(), bytes.get(), kRecordBytes);

    auto copy = std::make_unique<uint8_t[]>(kRecordBytes);
    const int rc = record::UnsealCopy(bytes.get(), copy.get());
    ASSERT_TRUE(rc == 0 || rc == -1);
    ASSERT_EQ(std::memcmp(bytes.get(), source.get(), kRecordBytes), 0);
    if (rc == 0) {
      ++unsealed;
      ASSERT_EQ(copy[0], record::kFormat);
      ASSERT_EQ(copy[1], record::kVersion);
    }

    record::DecodedRecord decoded;
    record::DecodeRecord(copy.get(), decoded);
    ExpectSaneDecode(decoded);
    record::DecodeRecord(bytes.get(), decoded);
    ExpectSaneDecode(decoded);
  }
  // About one sealed-looking buffer in sixteen unscrambles to a version 0x8?.
  EXPECT_GT(unsealed, kRounds / 2 / 32);
  EXPECT_LT(unsealed, kRounds / 2 / 8);
}

TEST(HostileInput, MalformedRecordCorpus) {
  // Hand-picked shapes: all ones, count just past and far past the limit, a sealed mark
  // over an unsealed body, an empty buffer.
  std::vector<std::vector<uint8_t>> corpus;
  corpus.emplace_back(kRecordBytes, 0xFF);
  corpus.emplace_back(kRecordBytes, 0x00);
  std::vector<uint8_t> r(kRecordBytes, 0);
  r[0] = 3;
  r[1] = 1;
  r[3] = 51;
  corpus.push_back(r);
  r[3] = 255;
  corpus.push_back(r);
  r[0] = 0x67;
  r[3] = 50;
  corpus.push_back(r);
  for (auto& bytes : corpus) {
    auto exact = std::make_unique<uint8_t[]>(kRecordBytes);
    std::memcpy(exact.get(), bytes.data(), kRecordBytes);
    record::DecodedRecord decoded;
    record::DecodeRecord(exact.get(), decoded);
    ExpectSaneDecode(decoded);
    auto copy = std::make_unique<uint8_t[]>(kRecordBytes);
    const int rc = record::UnsealCopy(exact.get(), copy.get());
    EXPECT_TRUE(rc == 0 || rc == -1);
  }
}

TEST(HostileInput, RandomRecordsSurviveSealing) {
  std::mt19937 rng(77);
  for (int round = 0; round < kRounds; ++round) {
    auto bytes = RandomRecord(rng);
    bytes[0] = record::kFormat;
    bytes[1] = record::kVersion;
    auto plain = std::make_unique<uint8_t[]>(kRecordBytes);
    std::memcpy(plain.get(), bytes.get(), kRecordBytes);
    ASSERT_EQ(record::SealRecord(bytes.get()), 0);
    ASSERT_EQ(record::UnsealRecord(bytes.get()), 0);
    ASSERT_EQ(std::memcmp(bytes.get(), plain.get(), kRecordBytes), 0);
  }
}

TEST(HostileInput, RandomNibbleTexts) {
  std::mt19937 rng(3);
  for (int round = 0; round < kRounds; ++round) {
    // A text of random length (NUL included), random characters, none of them NUL.
    const int length = static_cast<int>(rng() % 600);
    auto text = std::make_unique<char[]>(static_cast<size_t>(length) + 1);
    for (int i = 0; i < length; ++i) text[i] = static_cast<char>(1 + rng() % 255);
    text[length] = '\0';
    uint8_t bytes[kRecordBytes];
    text::ReadNibbleText(text.get(), kRecordBytes, bytes);
    // Pairs past the terminator read as 0; a half pair keeps its first character.
    for (int i = 0; i < kRecordBytes; ++i) {
      uint8_t expected;
      if (2 * i + 1 < length) {
        expected = static_cast<uint8_t>((static_cast<uint8_t>(text[2 * i]) << 4) |
                                        (static_cast<uint8_t>(text[2 * i + 1]) & 0x0F));
      } else if (2 * i < length) {
        expected = static_cast<uint8_t>(static_cast<uint8_t>(text[2 * i]) << 4);
      } else {
        expected = 0;
      }
      ASSERT_EQ(bytes[i], expected) << "length " << length << " byte " << i;
    }
  }
}

TEST(HostileInput, RandomBase64Texts) {
  std::mt19937 rng(11);
  for (int round = 0; round < kRounds; ++round) {
    const int length = 1 + static_cast<int>(rng() % 400);
    // Exactly the text, no spare room: the decoder must not pad in place.
    auto input = std::make_unique<char[]>(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
      // Mostly alphabet and padding, sometimes anything at all.
      const uint32_t pick = rng();
      static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
      input[i] = (pick & 7) == 0 ? static_cast<char>(pick >> 8) : kChars[(pick >> 8) % 65];
    }
    const int padded = (length + 3) / 4 * 4;
    int full = 3 * (padded / 4);
    const char third = length > padded - 2 ? input[padded - 2] : '=';
    const char fourth = length > padded - 1 ? input[padded - 1] : '=';
    if (third == '=') {
      full -= 2;
    } else if (fourth == '=') {
      full -= 1;
    }
    const int capacity = static_cast<int>(rng() % 320);
    auto output = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity) + 1);
    int result_length = -1;
    ASSERT_EQ(text::Base64Convert(0, input.get(), length, output.get(), capacity, &result_length), 0);
    ASSERT_EQ(result_length, full);

    // Encoding the decoded bytes and decoding again is stable for whatever came out.
    if (result_length <= capacity) {
      auto encoded = std::make_unique<uint8_t[]>(static_cast<size_t>(padded));
      int encoded_length = 0;
      if (result_length > 0) {
        ASSERT_EQ(text::Base64Convert(1, reinterpret_cast<char*>(output.get()), result_length,
                                      encoded.get(), padded, &encoded_length),
                  0);
        ASSERT_LE(encoded_length, padded);
        auto again = std::make_unique<uint8_t[]>(static_cast<size_t>(result_length));
        int again_length = 0;
        ASSERT_EQ(text::Base64Convert(0, reinterpret_cast<char*>(encoded.get()), encoded_length,
                                      again.get(), result_length, &again_length),
                  0);
        ASSERT_EQ(again_length, result_length);
        ASSERT_EQ(std::memcmp(again.get(), output.get(), static_cast<size_t>(result_length)), 0);
      }
    }
  }
}

}  // namespace
}  // namespace vantrel
