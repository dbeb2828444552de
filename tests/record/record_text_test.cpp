#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "reader/record/record_text.h"
#include "reader/record/record.h"

namespace vantrel::text {
namespace {

TEST(NibbleText, WriteAndReadOneByte) {
  const uint8_t byte = 0xAF;
  char text[2];
  WriteNibbleText(&byte, 1, text);
  EXPECT_EQ(text[0], 0x3A);
  EXPECT_EQ(text[1], 0x3F);

  uint8_t back = 0;
  ReadNibbleText(text, 1, &back);
  EXPECT_EQ(back, 0xAF);
  // Only the low four bits of each character count.
  const char other[] = {0x4A, 0x4F, 0};
  ReadNibbleText(other, 1, &back);
  EXPECT_EQ(back, 0xAF);
}

TEST(NibbleText, RecordRoundTripAndSealedPrefix) {
  uint8_t record[record::kRecordBytes];
  std::mt19937 rng(5);
  for (auto& b : record) b = static_cast<uint8_t>(rng());
  record[0] = 3;
  record[1] = 1;
  ASSERT_EQ(record::SealRecord(record), 0);

  char text[2 * record::kRecordBytes + 1];
  WriteNibbleText(record, record::kRecordBytes, text);
  text[2 * record::kRecordBytes] = '\0';
  EXPECT_EQ(std::strlen(text), 512u);
  EXPECT_EQ(text[0], 0x36);
  EXPECT_EQ(text[1], 0x37);
  for (int i = 0; i < 512; ++i) ASSERT_TRUE(text[i] >= 0x30 && text[i] <= 0x3F) << i;

  uint8_t back[record::kRecordBytes];
  ReadNibbleText(text, record::kRecordBytes, back);
  EXPECT_EQ(std::memcmp(back, record, sizeof back), 0);
}

TEST(NibbleText, ShortTextStopsAtItsTerminator) {
  // Exactly sized on the heap, so the sanitizer build catches any read past the NUL.
  const char source[] = "3:3";
  auto text = std::make_unique<char[]>(sizeof source);
  std::memcpy(text.get(), source, sizeof source);
  uint8_t bytes[record::kRecordBytes];
  std::memset(bytes, 0xEE, sizeof bytes);
  ReadNibbleText(text.get(), record::kRecordBytes, bytes);
  EXPECT_EQ(bytes[0], 0x3A);
  EXPECT_EQ(bytes[1], 0x30);  // '3' then a missing character read as '0'
  for (int i = 2; i < record::kRecordBytes; ++i) ASSERT_EQ(bytes[i], 0x00) << i;

  // An empty or absent text reads as all '0'.
  ReadNibbleText("", 4, bytes);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[3], 0);
  std::memset(bytes, 0xEE, 4);
  ReadNibbleText(nullptr, 4, bytes);
  EXPECT_EQ(bytes[2], 0);
}

// Runs the conversion entry on a private copy with exactly the given length.
std::string Convert(int direction, const std::string& input, int capacity = 1024) {
  auto in = std::make_unique<char[]>(input.size() ? input.size() : 1);
  std::memcpy(in.get(), input.data(), input.size());
  std::vector<uint8_t> out(static_cast<size_t>(capacity));
  int length = -1;
  const int rc = Base64Convert(direction, in.get(), static_cast<int>(input.size()), out.data(),
                               capacity, &length);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(std::memcmp(in.get(), input.data(), input.size()), 0) << "input was changed";
  if (length < 0) return "<none>";
  return std::string(out.begin(), out.begin() + std::min(length, capacity));
}

TEST(Base64, EncodesGroupsAndPadding) {
  EXPECT_EQ(Convert(1, "abc"), "YWJj");
  EXPECT_EQ(Convert(1, "ab"), "YWI=");
  EXPECT_EQ(Convert(1, "a"), "YQ==");
  EXPECT_EQ(Convert(1, "foobar"), "Zm9vYmFy");
  EXPECT_EQ(Convert(1, std::string("\xFF\xEF\x00", 3)), "/+8A");
}

TEST(Base64, DecodesAndPadsShortTexts) {
  EXPECT_EQ(Convert(0, "YWJj"), "abc");
  EXPECT_EQ(Convert(0, "YWI="), "ab");
  EXPECT_EQ(Convert(0, "YQ=="), "a");
  // Not a multiple of four: decoded as if padded, without writing past the text.
  EXPECT_EQ(Convert(0, "YWI"), "ab");
  EXPECT_EQ(Convert(0, "YQ"), "a");
  EXPECT_EQ(Convert(0, "Y"), std::string("\x60", 1));
  EXPECT_EQ(Convert(0, "Zm9vYmFy"), "foobar");
  // Padding inside the text counts as 0 like any non-alphabet character.
  EXPECT_EQ(Convert(0, "YQ==YWJj"), std::string("a\0\0abc", 6));
}

TEST(Base64, CharactersOutsideTheAlphabetCountAsZero) {
  // 'A' is the value 0.
  EXPECT_EQ(Convert(0, "\xFFWJj"), Convert(0, "AWJj"));
  EXPECT_EQ(Convert(0, "Y\x80Jj"), Convert(0, "YAJj"));
  EXPECT_EQ(Convert(0, "Y*Jj"), Convert(0, "YAJj"));
  EXPECT_EQ(Convert(0, "YW\xC3\xA9"), Convert(0, "YWAA"));
}

TEST(Base64, DirectionLooksOnlyAtTheLowByte) {
  EXPECT_EQ(Convert(0x100, "YWJj"), "abc");
  EXPECT_EQ(Convert(0x101, "abc"), "YWJj");
  EXPECT_EQ(Convert(-1, "abc"), "YWJj");
}

TEST(Base64, RecordEncodesTo344Characters) {
  std::vector<uint8_t> record(record::kRecordBytes);
  for (int i = 0; i < record::kRecordBytes; ++i) record[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::string raw(record.begin(), record.end());
  const std::string text = Convert(1, raw);
  ASSERT_EQ(text.size(), 344u);
  EXPECT_EQ(text.substr(342), "==");
  EXPECT_EQ(Convert(0, text), raw);
}

TEST(Base64, ResultIsCutAtTheCapacity) {
  const std::string text = "YWJjYWJj";  // six bytes
  std::vector<uint8_t> out(8, 0xEE);
  std::string input = text;
  int length = 0;
  EXPECT_EQ(Base64Convert(0, input.data(), 8, out.data(), 4, &length), 0);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "abca");
  EXPECT_EQ(out[4], 0xEE);

  std::string plain = "abcd";
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(Base64Convert(1, plain.data(), 4, out.data(), 5, &length), 0);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 5), "YWJjZ");
  EXPECT_EQ(out[5], 0xEE);

  // Zero capacity writes nothing but still tells the length.
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(Base64Convert(1, plain.data(), 4, out.data(), 0, &length), 0);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(out[0], 0xEE);
}

TEST(Base64, EntryResultCodes) {
  char input[8] = "YWJj";
  uint8_t out[8];
  int length = 99;
  // Zero length is checked before the pointers.
  EXPECT_EQ(Base64Convert(0, nullptr, 0, nullptr, 8, &length), -1);
  EXPECT_EQ(Base64Convert(1, input, 0, out, 8, &length), -1);
  EXPECT_EQ(Base64Convert(0, input, 4, nullptr, 8, &length), -2);
  EXPECT_EQ(Base64Convert(0, nullptr, 4, out, 8, &length), -2);
  EXPECT_EQ(length, 99);
  // A negative length is an empty input.
  EXPECT_EQ(Base64Convert(0, input, -3, out, 8, &length), 0);
  EXPECT_EQ(length, 0);
  // The length pointer is optional.
  EXPECT_EQ(Base64Convert(0, input, 4, out, 8, nullptr), 0);
  EXPECT_EQ(out[0], 'a');
}

}  // namespace
}  // namespace vantrel::text
