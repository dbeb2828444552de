// Random and half-random records thrown at the core and at synthesis: a score or a code,
// never a read or write outside a buffer (the sanitizer build checks that part).
#include <gtest/gtest.h>

#include "match_support.h"
#include "reader/match/matcher.h"
#include "reader/match/synthesis.h"

namespace vantrel::match {
namespace {

using testing::Bytes;

Bytes RandomRecord(std::mt19937& rng) {
  Bytes r{};
  for (auto& b : r) b = static_cast<uint8_t>(rng());
  r[0] = 3;
  r[1] = 1;
  const int mode = static_cast<int>(rng() % 4);
  if (mode == 0) r[3] = static_cast<uint8_t>(rng() % 51);
  if (mode == 1) r[4] = r[5] = 0;
  if (mode == 2) r[3] = 50;
  return r;
}

// A random finger seen three times, moved a little and with a few minutiae lost or
// garbled, so that synthesis gets past the base choice often enough.
std::vector<testing::M> Garbled(std::mt19937& rng, std::vector<testing::M> m) {
  std::uniform_int_distribution<int> coin(0, 9), any(0, 511);
  for (auto& x : m) {
    if (coin(rng) == 0) x.x = any(rng);
    if (coin(rng) == 0) x.direction = any(rng);
    if (coin(rng) == 0) x.reliability = 15;
  }
  if (!m.empty() && coin(rng) < 3) m.erase(m.begin() + coin(rng) % m.size());
  return m;
}

TEST(Fuzz, RandomRecordsThroughTheCore) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 400; ++round) {
    const Bytes a = RandomRecord(rng), b = RandomRecord(rng);
    Alignment alignment;
    const int score = MatchCore(a.data(), b.data(), alignment);
    ASSERT_GE(score, 0);
    ASSERT_LE(alignment.pair_count, kMaxPairs);
    if (alignment.reference_a == kNoReference) {
      EXPECT_EQ(alignment.pair_count, 0);
    } else {
      EXPECT_LT(alignment.reference_a, 50);
      EXPECT_LT(alignment.reference_b, 50);
    }
    const Bytes sa = testing::Sealed(a), sb = testing::Sealed(b);
    const int entry = MatchRecords(sa.data(), sb.data(), static_cast<int>(rng() % 12) - 1);
    EXPECT_TRUE(entry == kMatchBelowThreshold || entry == score);
  }
}

TEST(Fuzz, RandomAndGarbledRecordsThroughSynthesis) {
  std::mt19937 rng(77);
  int successes = 0;
  for (int round = 0; round < 120; ++round) {
    Bytes r[3];
    if (round % 3 == 0) {
      for (Bytes& x : r) x = RandomRecord(rng);
    } else {
      const auto finger = testing::RandomFinger(rng, 20, 20, 236, 268, 20 + round % 31);
      for (int k = 0; k < 3; ++k)
        r[k] = testing::MakeRecord(
            Garbled(rng, testing::Moved(finger, static_cast<int>(rng() % 21) - 10, 128, 144,
                                        static_cast<int>(rng() % 21) - 10, static_cast<int>(rng() % 21) - 10)),
            static_cast<uint8_t>(rng()));
    }
    Bytes out{};
    SynthesisReport report;
    const int rc = SynthesiseUnsealed(r[0].data(), r[1].data(), r[2].data(), out.data(), &report);
    ASSERT_TRUE(rc == kSynthesisOk || rc == kSynthesisNoAgreement) << rc;
    if (rc != kSynthesisOk) continue;
    ++successes;
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 1);
    EXPECT_GE(out[3], 1);
    EXPECT_LE(out[3], 50);
    EXPECT_EQ(out[3], report.kept);
    for (int i = 40; i < 56; ++i) ASSERT_EQ(out[i], 0);
    record::DecodedRecord d;
    record::DecodeRecord(out.data(), d);
    for (int i = 0; i < d.usable; ++i) {
      ASSERT_GE(d.minutiae[i].x, 9);
      ASSERT_LE(d.minutiae[i].x, 247);
      ASSERT_GE(d.minutiae[i].y, 9);
      ASSERT_LE(d.minutiae[i].y, 279);
      ASSERT_LT(d.minutiae[i].direction, 360);
    }
  }
  // The garbled copies of one finger do get through, so the merge itself was exercised.
  EXPECT_GT(successes, 20);
}

}  // namespace
}  // namespace vantrel::match
