// Sealed records into the matcher (pairs), template synthesis (triples) and the quality
// query. The input gives the unsealed bytes; the first byte says which records are sealed
// as they are (reaching the deep stages) and which are handed over raw (the seal check).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/rules.h"
#include "reader/record/record.h"
#include "reader/match/matcher.h"
#include "reader/match/quality.h"
#include "reader/match/synthesis.h"

using vantrel::fuzz::Require;
namespace record = vantrel::record;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const int level = data[1] % 10;
  uint8_t sealed[3][record::kRecordBytes] = {};
  for (int r = 0; r < 3; ++r) {
    for (int i = 0; i < record::kRecordBytes; ++i) {
      const size_t at = 2 + static_cast<size_t>(r) * record::kRecordBytes + static_cast<size_t>(i);
      sealed[r][i] = at < size ? data[at] : 0;
    }
    if (!(flags & (1 << r))) {
      sealed[r][0] = record::kFormat;
      sealed[r][1] = record::kVersion;
      Require(record::SealRecord(sealed[r]) == 0, "a 3, 1 header seals");
    }
  }
  uint8_t before[3][record::kRecordBytes];
  std::memcpy(before, sealed, sizeof before);

  const int score = vantrel::match::MatchRecords(sealed[0], sealed[1], level);
  Require(score >= -2, "match result is a score, -1 or -2");
  const int self = vantrel::match::MatchRecords(sealed[2], sealed[2], level);
  Require(self >= -2, "self match result is a score, -1 or -2");

  const int quality = vantrel::match::FeatureQuality(sealed[0]);
  Require(quality == -2 || (quality >= 0 && quality <= 255), "quality is a byte or -2");

  std::vector<uint8_t> out(record::kRecordBytes + 32, 0xA5);
  uint16_t length = 7;
  const int rc = vantrel::match::SynthesiseTemplate(sealed[0], sealed[1], sealed[2], out.data(),
                                                    &length);
  for (size_t i = record::kRecordBytes; i < out.size(); ++i) {
    Require(out[i] == 0xA5, "synthesis writes inside its 256 bytes");
  }
  if (rc == 0) {
    Require(length == record::kRecordBytes, "a template is 256 bytes");
    uint8_t plain[record::kRecordBytes];
    Require(record::UnsealCopy(out.data(), plain) == 0, "a template unseals");
    record::DecodedRecord decoded;
    record::DecodeRecord(plain, decoded);
    Require(decoded.usable >= 0 && decoded.usable <= record::kMaxMinutiae, "template count 0..50");
    Require(vantrel::match::MatchRecords(out.data(), out.data(), level) >= -2, "template matches");
  } else {
    Require(length == 7, "a failed synthesis writes no length");
  }
  Require(std::memcmp(before, sealed, sizeof before) == 0, "input records unchanged");
  return 0;
}
