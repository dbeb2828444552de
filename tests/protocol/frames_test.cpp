#include "reader/protocol/frames.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "reader/protocol/result_codes.h"

namespace vantrel::protocol {
namespace {

std::vector<uint8_t> Request(uint8_t code, const std::vector<uint8_t>& data = {},
                             uint8_t p1 = 0) {
  std::vector<uint8_t> out(data.size() + 9 + 4, 0xEE);
  const int n = BuildBinaryRequest(code, p1, 0, 0, data.data(), static_cast<int>(data.size()),
                                   out.data(), static_cast<int>(out.size()));
  EXPECT_EQ(n, static_cast<int>(data.size()) + 9);
  out.resize(n > 0 ? n : 0);
  return out;
}

// A short-form reply with the given status and data, checksum and markers right.
std::vector<uint8_t> Reply(uint8_t status, const std::vector<uint8_t>& data) {
  const int c = static_cast<int>(data.size()) + 2;
  std::vector<uint8_t> r = {0x02, static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c),
                            status, 0x00};
  r.insert(r.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (size_t i = 1; i < r.size(); ++i) sum ^= r[i];
  r.push_back(sum);
  r.push_back(0x03);
  return r;
}

int Check(const std::vector<uint8_t>& r, int expected) {
  return CheckBinaryReply(r.data(), static_cast<int>(r.size()), expected);
}

TEST(BinaryRequest, GoldenResetAndFingerState) {
  EXPECT_EQ(Request(0x02), (std::vector<uint8_t>{0x02, 0x00, 0x04, 0x02, 0x00, 0x00, 0x00,
                                                 0x06, 0x03}));
  EXPECT_EQ(Request(0x43), (std::vector<uint8_t>{0x02, 0x00, 0x04, 0x43, 0x00, 0x00, 0x00,
                                                 0x47, 0x03}));
}

TEST(BinaryRequest, DataAndParameterAreCoveredByLengthAndChecksum) {
  const std::vector<uint8_t> r = Request(0x50, {0x00, 0x01, 0x02, 0x03}, 1);
  ASSERT_EQ(r.size(), 13u);
  EXPECT_EQ(r[1], 0x00);
  EXPECT_EQ(r[2], 0x08);
  EXPECT_EQ(r[4], 0x01);
  EXPECT_EQ(r[11], 0x00 ^ 0x08 ^ 0x50 ^ 0x01 ^ 0x00 ^ 0x01 ^ 0x02 ^ 0x03);
  EXPECT_EQ(r[12], 0x03);
}

TEST(BinaryRequest, RefusesWhatDoesNotFit) {
  uint8_t out[16];
  const uint8_t data[8] = {};
  EXPECT_EQ(BuildBinaryRequest(1, 0, 0, 0, data, 8, out, 16), kBadArguments);
  EXPECT_EQ(BuildBinaryRequest(1, 0, 0, 0, nullptr, 2, out, 16), kBadArguments);
  EXPECT_EQ(BuildBinaryRequest(1, 0, 0, 0, data, -1, out, 16), kBadArguments);
  std::vector<uint8_t> big(70000);
  std::vector<uint8_t> out_big(70100);
  EXPECT_EQ(BuildBinaryRequest(1, 0, 0, 0, big.data(), 0xFFFC, out_big.data(), 70100),
            kBadArguments);
  EXPECT_EQ(BuildBinaryRequest(1, 0, 0, 0, big.data(), 0xFFFB, out_big.data(), 70100),
            0xFFFB + 9);
}

TEST(BinaryReply, GoodReplyPasses) {
  EXPECT_EQ(Check(Reply(0, {}), 7), kOk);
  EXPECT_EQ(Check(Reply(0, {1, 2, 3, 4}), 11), kOk);
}

TEST(BinaryReply, ChecksStartLengthStatusChecksumEndInThatOrder) {
  std::vector<uint8_t> r = Reply(0x3A, {9, 9});
  r[r.size() - 2] ^= 0xFF;  // checksum wrong as well: status comes first
  EXPECT_EQ(Check(r, 9), kReaderBusy);
  r = Reply(0x01, {9, 9});
  r[r.size() - 2] ^= 0xFF;
  EXPECT_EQ(Check(r, 9), kBadStatus);
  // Length before status.
  r = Reply(0x01, {9, 9});
  EXPECT_EQ(Check(r, 10), kReplyLengthMismatch);
  EXPECT_EQ(Check(Reply(0, {9, 9, 9}), 9), kReplyLengthMismatch);
  EXPECT_EQ(Check(Reply(0, {9}), 9), kReplyLengthMismatch);
  // Start marker before everything.
  r = Reply(0x3A, {});
  r[0] = 0x00;
  EXPECT_EQ(Check(r, 99), kBadStartMarker);
  // Checksum before end marker.
  r = Reply(0, {5});
  r[r.size() - 2] ^= 1;
  r.back() = 0;
  EXPECT_EQ(Check(r, 8), kBadChecksum);
  r = Reply(0, {5});
  r.back() = 0;
  EXPECT_EQ(Check(r, 8), kBadEndMarker);
}

TEST(BinaryReply, NeverReadsPastTheBytesHeld) {
  // The length field claims a long reply but only three bytes arrived.
  const uint8_t r[3] = {0x02, 0x01, 0x00};
  EXPECT_EQ(CheckBinaryReply(r, 3, 261), kReplyLengthMismatch);
  EXPECT_EQ(CheckBinaryReply(r, 0, 7), kReplyLengthMismatch);
  EXPECT_EQ(CheckBinaryReply(nullptr, 7, 7), kReplyLengthMismatch);
}

TEST(BinaryReply, LongFormFromTheThreshold) {
  const int pixels = 92160;
  std::vector<uint8_t> r = {0x02, 0x00, 0x01, 0x68, 0x02, 0x00, 0x00};
  r.resize(7 + pixels, 0x80);
  uint8_t sum = 0;
  for (size_t i = 1; i < r.size(); ++i) sum ^= r[i];
  r.push_back(sum);
  r.push_back(0x03);
  ASSERT_EQ(r.size(), 92169u);
  EXPECT_EQ(Check(r, 92169), kOk);
  EXPECT_EQ(ReplyDataOffset(92169), 7);
  EXPECT_EQ(ReplyDataOffset(30407), 5);
  r[5] = 0x3A;
  EXPECT_EQ(Check(r, 92169), kReaderBusy);
  r[5] = 0;
  r[4] ^= 1;  // 32-bit length one off
  EXPECT_EQ(Check(r, 92169), kReplyLengthMismatch);
}

std::string Text(const std::vector<uint8_t>& data, uint8_t code) {
  std::string out(2 * data.size() + 16 + 2, '\0');
  const int n = BuildTextRequest(code, 0, 0, 0, data.data(), static_cast<int>(data.size()),
                                 out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}

TEST(TextRequest, GoldenSerialReset) {
  const std::string expected = std::string("\x02") + "000404" + "00000000" + "\x03";
  ASSERT_EQ(expected.size(), 16u);
  EXPECT_EQ(Text({}, 4), expected);
}

TEST(TextRequest, NibblesAboveNineUseTheCharactersAfterDigits) {
  const std::string t = Text({0xAB}, 0x10);
  // length 00 05, code 10, params, AB, checksum 05^10^AB = BE
  EXPECT_EQ(t, std::string("\x02") + "0005" + "10" + "000000" + ":;" + ";>" + "\x03");
  char small[10];
  EXPECT_EQ(BuildTextRequest(1, 0, 0, 0, nullptr, 0, small, 10), kBadArguments);
}

// A text reply with the given status and data bytes.
std::string TextReply(uint8_t status, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b = {0, static_cast<uint8_t>(data.size() + 2), status, 0};
  b.insert(b.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t x : b) sum ^= x;
  b.push_back(sum);
  std::string s = "\x02";
  for (uint8_t x : b) {
    s += static_cast<char>(0x30 + (x >> 4));
    s += static_cast<char>(0x30 + (x & 15));
  }
  s += '\x03';
  return s;
}

int CheckText(const std::string& s) {
  return CheckTextReply(s.data(), static_cast<int>(s.size()));
}

TEST(TextReply, OrderOfChecks) {
  EXPECT_EQ(CheckText(TextReply(0, {0x12, 0xFE})), kOk);
  std::string s = TextReply(0, {0x12});
  s.back() = 'x';  // checksum still right: the end marker is looked at first
  EXPECT_EQ(CheckText(s), kBadEndMarker);
  s = TextReply(0, {0x12});
  s[0] = 'x';
  s.back() = 'x';
  EXPECT_EQ(CheckText(s), kBadStartMarker);
  s = TextReply(0x3A, {0x12});
  s[s.size() - 2] ^= 1;  // on the serial link any status is -8, before the checksum
  EXPECT_EQ(CheckText(s), kBadStatus);
  s = TextReply(0, {0x12});
  s[9] ^= 1;
  EXPECT_EQ(CheckText(s), kBadChecksum);
}

TEST(TextReply, TruncatedFramesAreRefusedWithoutReadingPastThem) {
  EXPECT_EQ(CheckTextReply("", 0), kBadStartMarker);
  EXPECT_EQ(CheckText("\x02\x03"), kBadChecksum);
  // Length field claims 0x50 bytes but the frame is short.
  EXPECT_EQ(CheckText(std::string("\x02") + "0050" + "0000" + "00" + "\x03"), kBadChecksum);
}

TEST(Nibbles, LowFourBitsOnly) {
  EXPECT_EQ(DecodeNibblePair('0', '0'), 0x00);
  EXPECT_EQ(DecodeNibblePair(':', ';'), 0xAB);
  EXPECT_EQ(DecodeNibblePair('<', '='), 0xCD);
  EXPECT_EQ(DecodeNibblePair('>', '?'), 0xEF);
  EXPECT_EQ(DecodeNibblePair('A', 'f'), 0x16);  // letters decode by their low bits too
}

TEST(InsertTemplate, LayoutAndOddTextLength) {
  const uint8_t name[3] = {'a', 'b', 'c'};
  uint8_t out[64];
  const int n = BuildInsertTemplateData(0x0102, name, 3, "12:;3", 5, out, 64);
  ASSERT_EQ(n, 3 + 2 + 6);
  const std::vector<uint8_t> expected = {0x01, 0x02, 0x00, 0x03, 'a', 'b', 'c',
                                         0x00, 0x02, 0x12, 0xAB};
  EXPECT_EQ(std::vector<uint8_t>(out, out + n), expected);
}

TEST(InsertTemplate, RefusesLayoutsBeyondTheLimits) {
  std::vector<uint8_t> out(2000);
  std::string text(1026, '1');
  std::vector<uint8_t> name(600, 'n');
  EXPECT_EQ(BuildInsertTemplateData(1, name.data(), 0, text.data(), 1026, out.data(), 2000),
            kBadArguments);  // 513 template bytes
  EXPECT_EQ(BuildInsertTemplateData(1, name.data(), 498, text.data(), 1024, out.data(), 2000),
            kBadArguments);  // 498 + 512 + 6 = 1016
  EXPECT_EQ(BuildInsertTemplateData(1, name.data(), 497, text.data(), 1024, out.data(), 2000),
            1015);
  EXPECT_EQ(BuildInsertTemplateData(1, nullptr, 2, "00", 2, out.data(), 2000), kBadArguments);
  EXPECT_EQ(BuildInsertTemplateData(1, name.data(), 2, "00", 2, out.data(), 8), kBadArguments);
  EXPECT_EQ(BuildInsertTemplateData(1, name.data(), -1, "00", 2, out.data(), 64),
            kBadArguments);
}

// Lengths near the int maximum are refused before any sum of them is formed: the sums
// would wrap negative, pass the capacity checks and write far past the buffer.
TEST(Requests, LengthsNearTheIntMaximumAreRefused) {
  constexpr int kMax = std::numeric_limits<int>::max();
  uint8_t data[1] = {};
  uint8_t out[64];
  char text_out[64];
  const std::string text(2, '0');
  for (const int n : {kMax, kMax - 3, kMax - 8, kMax - 15, kMax / 2 + 1}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(BuildBinaryRequest(1, 0, 0, 0, data, n, out, 64), kBadArguments);
    EXPECT_EQ(BuildTextRequest(1, 0, 0, 0, data, n, text_out, 64), kBadArguments);
    EXPECT_EQ(BuildInsertTemplateData(1, data, n, text.data(), 2, out, 64), kBadArguments);
  }
}

}  // namespace
}  // namespace vantrel::protocol
