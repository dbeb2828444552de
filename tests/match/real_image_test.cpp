// Matching and synthesis on real prints (skipped when the image folder is absent or
// extraction gives nothing).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "match_support.h"
#include "reader/extract/extract_feature.h"
#include "reader/match/matcher.h"
#include "reader/match/quality.h"
#include "reader/match/synthesis.h"
#include "tools/fingerprint_pgm.h"

namespace vantrel::match {
namespace {

using testing::Bytes;

constexpr int kFingers = 10;
constexpr int kImpressions = 4;

struct Print {
  int finger = 0, impression = 0;
  bool ok = false;
  Bytes sealed{}, unsealed{};
};

bool ReadPgm(const std::string& path, std::vector<uint8_t>& pixels) {
  pixels = vantrel::tools::ReadFingerprintPgm(path);
  return !pixels.empty();
}

// Impressions 1..4 of the ten fingers of the first set, extracted once for all tests.
const std::vector<Print>& Prints() {
  static const std::vector<Print> prints = [] {
    std::vector<Print> out;
    std::vector<uint8_t> pixels;
    for (int finger = 0; finger < kFingers; ++finger)
      for (int impression = 1; impression <= kImpressions; ++impression) {
        Print p;
        p.finger = finger;
        p.impression = impression;
        const std::string path = std::string(VANTREL_FINGERPRINTS_DIR) + "/FVC2002_DB1_B/" +
                                 std::to_string(101 + finger) + "_" + std::to_string(impression) + ".pgm";
        uint16_t length = 0;
        p.ok = ReadPgm(path, pixels) &&
               extract::ExtractFeature(pixels.data(), p.sealed.data(), &length) == 0 &&
               record::UnsealCopy(p.sealed.data(), p.unsealed.data()) == 0;
        out.push_back(p);
      }
    return out;
  }();
  return prints;
}

int Usable() {
  int n = 0;
  for (const Print& p : Prints()) n += p.ok;
  return n;
}

#define SKIP_WITHOUT_PRINTS()                                                        \
  if (Usable() < kFingers * kImpressions * 3 / 4)                                    \
  GTEST_SKIP() << "fingerprint images or extraction not available"

int Core(const Bytes& a, const Bytes& b) {
  Alignment alignment;
  return MatchCore(a.data(), b.data(), alignment);
}

TEST(RealPrints, SameFingerScoresWellAboveDifferentFingers) {
  SKIP_WITHOUT_PRINTS();
  const auto& prints = Prints();
  double genuine = 0, impostor = 0;
  int g = 0, i = 0;
  for (size_t x = 0; x < prints.size(); ++x)
    for (size_t y = x + 1; y < prints.size(); ++y) {
      if (!prints[x].ok || !prints[y].ok) continue;
      const int s = Core(prints[x].unsealed, prints[y].unsealed);
      ASSERT_GE(s, 0);
      if (prints[x].finger == prints[y].finger) {
        genuine += s;
        ++g;
      } else {
        impostor += s;
        ++i;
      }
    }
  ASSERT_GT(g, 0);
  ASSERT_GT(i, 0);
  genuine /= g;
  impostor /= i;
  EXPECT_GT(genuine, 3 * impostor + 30) << "genuine mean " << genuine << ", impostor mean " << impostor;
}

TEST(RealPrints, ARecordMatchesItselfBest) {
  SKIP_WITHOUT_PRINTS();
  const auto& prints = Prints();
  for (size_t x = 0; x < prints.size(); ++x) {
    if (!prints[x].ok) continue;
    const int self = Core(prints[x].unsealed, prints[x].unsealed);
    for (size_t y = 0; y < prints.size(); ++y) {
      if (y == x || !prints[y].ok) continue;
      EXPECT_GT(self, Core(prints[x].unsealed, prints[y].unsealed)) << x << " vs " << y;
    }
  }
}

TEST(RealPrints, EntriesAgreeWithTheCoreAndKeepTheirInputs) {
  SKIP_WITHOUT_PRINTS();
  const auto& prints = Prints();
  for (size_t x = 0; x + 1 < prints.size(); x += 3) {
    const Print& a = prints[x];
    const Print& b = prints[x + 1];
    if (!a.ok || !b.ok) continue;
    const Bytes before = a.sealed;
    const int core = Core(a.unsealed, b.unsealed);
    for (int level : {0, 1, 5, 9}) {
      const int entry = MatchRecords(a.sealed.data(), b.sealed.data(), level);
      EXPECT_EQ(entry, core >= ThresholdOfLevel(level) ? core : kMatchBelowThreshold);
    }
    EXPECT_EQ(a.sealed, before);
    EXPECT_EQ(FeatureQuality(a.sealed.data()), a.unsealed[2]);
  }
}

TEST(RealPrints, TemplatesMatchTheirOwnFinger) {
  SKIP_WITHOUT_PRINTS();
  const auto& prints = Prints();
  int made = 0;
  double genuine = 0, impostor = 0;
  int g = 0, i = 0;
  for (int finger = 0; finger < kFingers; ++finger) {
    const Print* p = &prints[finger * kImpressions];
    if (!p[0].ok || !p[1].ok || !p[2].ok) continue;
    uint8_t sealed[256];
    uint16_t length = 0;
    SynthesisReport report;
    if (SynthesiseTemplate(p[0].sealed.data(), p[1].sealed.data(), p[2].sealed.data(), sealed,
                           &length, &report) != kSynthesisOk)
      continue;
    ++made;
    Bytes t{};
    ASSERT_EQ(record::UnsealCopy(sealed, t.data()), 0);
    EXPECT_EQ(t[2], std::max({p[0].unsealed[2], p[1].unsealed[2], p[2].unsealed[2]}));
    for (int k = 40; k < 56; ++k) EXPECT_EQ(t[k], 0);
    for (int other = 0; other < kFingers; ++other) {
      const Print& fourth = prints[other * kImpressions + 3];
      if (!fourth.ok) continue;
      const int s = Core(t, fourth.unsealed);
      if (other == finger) {
        genuine += s;
        ++g;
      } else {
        impostor += s;
        ++i;
      }
    }
  }
  EXPECT_GE(made, 7);
  ASSERT_GT(g, 0);
  ASSERT_GT(i, 0);
  EXPECT_GT(genuine / g, 3 * (impostor / i) + 30);
}

TEST(RealPrints, ThreadsGiveTheSerialScores) {
  SKIP_WITHOUT_PRINTS();
  const auto& prints = Prints();
  const int n = static_cast<int>(prints.size());
  std::vector<int> serial(n * n), parallel(n * n, -7);
  for (int k = 0; k < n * n; ++k) serial[k] = Core(prints[k / n].unsealed, prints[k % n].unsealed);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&, t] {
      for (int k = t; k < n * n; k += 3) parallel[k] = Core(prints[k / n].unsealed, prints[k % n].unsealed);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(parallel, serial);
}

}  // namespace
}  // namespace vantrel::match
