// Synthetic fingers through the library's own extraction and matching: records made,
// minutia counts in the range real fingers give, impressions of one finger matching far
// above other fingers, and the singular points each pattern class should have.
#include "sim/synthetic_finger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "reader/extract/extract_feature.h"
#include "reader/record/record.h"
#include "reader/match/matcher.h"
#include "tools/fingerprint_pgm.h"

namespace vantrel::sim {
namespace {

constexpr int kClasses = 5;
constexpr int kFingersPerClass = 2;
constexpr uint32_t kImpressions = 4;

struct Capture {
  uint32_t finger = 0;
  PatternClass pattern = PatternClass::kArch;
  bool extracted = false;
  std::vector<uint8_t> record;  // sealed
  int minutiae = 0;
  int cores = 0;
};

// Two fingers of every class, four impressions each, extracted once.
const std::vector<Capture>& Captures() {
  static const std::vector<Capture> captures = [] {
    std::vector<Capture> out;
    std::array<int, kClasses> found{};
    for (uint32_t finger = 1; out.size() < kClasses * kFingersPerClass * kImpressions; ++finger) {
      const PatternClass pattern = PatternOf(finger);
      if (found[static_cast<int>(pattern)]++ >= kFingersPerClass) continue;
      for (uint32_t i = 0; i < kImpressions; ++i) {
        Capture c;
        c.finger = finger;
        c.pattern = pattern;
        c.record.resize(256);
        extract::InspectionSink sink;
        sink.user = &c.cores;
        sink.context = [](void* user, const char* stage, const extract::ExtractionContext& x) {
          if (std::string(stage) != "FindSingularPoints") return;
          *static_cast<int*>(user) =
              (x.core1_x != 0 || x.core1_y != 0) + (x.core2_x != 0 || x.core2_y != 0);
        };
        uint16_t length = 0;
        const std::vector<uint8_t> image = DrawImpression(finger, i);
        c.extracted = extract::ExtractFeature(image.data(), c.record.data(), &length, &sink) == 0;
        uint8_t plain[256];
        if (c.extracted && record::UnsealCopy(c.record.data(), plain) == 0) c.minutiae = plain[3];
        out.push_back(std::move(c));
      }
    }
    return out;
  }();
  return captures;
}

int Score(const Capture& a, const Capture& b) {
  return match::MatchRecords(a.record.data(), b.record.data(), 0);  // level 0: the bare score
}

TEST(SyntheticFinger, SameIdsGiveTheSameBytesAndOtherIdsOthers) {
  const std::vector<uint8_t> first = DrawImpression(7, 2);
  EXPECT_EQ(DrawImpression(7, 2), first);
  EXPECT_NE(DrawImpression(7, 3), first);
  EXPECT_NE(DrawImpression(8, 2), first);
  // Reader form: an empty sensor reads bright, ridges dark.
  const auto [low, high] = std::minmax_element(first.begin(), first.end());
  EXPECT_LT(*low, 80);
  EXPECT_GT(*high, 200);
}

void ExtractionSucceedsWithMinutiaCountsOfRealFingers() {
  std::vector<int> counts;
  for (const Capture& c : Captures()) {
    if (c.extracted) counts.push_back(c.minutiae);
  }
  const size_t total = Captures().size();
  EXPECT_GE(counts.size() * 100, total * 95) << counts.size() << " of " << total << " extracted";
  std::sort(counts.begin(), counts.end());
  ASSERT_FALSE(counts.empty());
  // The real sets give 13 to 50 minutiae, medians 25 and 30.
  EXPECT_GE(counts.front(), 10);
  EXPECT_LE(counts.back(), 50);
  EXPECT_GE(counts[counts.size() / 2], 18);
  EXPECT_LE(counts[counts.size() / 2], 42);
}

void ImpressionsOfOneFingerMatchFarAboveOtherFingers() {
  std::vector<int> genuine;
  std::vector<int> impostor;
  const std::vector<Capture>& all = Captures();
  for (size_t a = 0; a < all.size(); ++a) {
    for (size_t b = a + 1; b < all.size(); ++b) {
      if (!all[a].extracted || !all[b].extracted) continue;
      if (all[a].finger == all[b].finger) genuine.push_back(Score(all[a], all[b]));
      // Impostors as the FVC protocol takes them: the first impressions of two fingers.
      else if (a % kImpressions == 0 && b % kImpressions == 0)
        impostor.push_back(Score(all[a], all[b]));
    }
  }
  ASSERT_FALSE(genuine.empty());
  ASSERT_FALSE(impostor.empty());
  std::sort(genuine.begin(), genuine.end());
  const int worst_impostor = *std::max_element(impostor.begin(), impostor.end());
  EXPECT_LT(worst_impostor, match::ThresholdOfLevel(5));
  EXPECT_GT(genuine[genuine.size() / 2], 2 * std::max(worst_impostor, 20));
  const auto accepted = std::count_if(genuine.begin(), genuine.end(),
                                      [](int s) { return s >= match::ThresholdOfLevel(5); });
  EXPECT_GE(accepted * 100, static_cast<long>(genuine.size()) * 90);
}

void PatternClassesGiveTheirCores() {
  // Cores the library's singular-point stage should find: an arch none, a tented arch
  // and a loop one, a whorl two. Most impressions must show them (a displaced finger may
  // carry a core off the sensor).
  constexpr std::array<int, kClasses> kCores = {0, 1, 1, 1, 2};
  std::array<int, kClasses> right{};
  std::array<int, kClasses> seen{};
  for (const Capture& c : Captures()) {
    if (!c.extracted) continue;
    const int k = static_cast<int>(c.pattern);
    ++seen[k];
    right[k] += c.cores == kCores[k];
  }
  for (int k = 0; k < kClasses; ++k) {
    ASSERT_GT(seen[k], 0) << "class " << k;
    EXPECT_GE(right[k] * 4, seen[k] * 3) << "class " << k << ": " << right[k] << " of " << seen[k];
  }
}

// One test for the three, so that the impressions are drawn and extracted once.
TEST(SyntheticFinger, ThroughTheLibrarysExtractionAndMatching) {
  ExtractionSucceedsWithMinutiaCountsOfRealFingers();
  ImpressionsOfOneFingerMatchFarAboveOtherFingers();
  PatternClassesGiveTheirCores();
}

// vantrel-sim --write-set: files named <finger>_<impression>.pgm with impressions from 1,
// holding impressions 0, 1, ... of fingers first, first + 1, ..., and a manifest row each.
TEST(SyntheticFinger, WrittenSetHoldsTheImpressionsInTheSetLayout) {
  const std::string program = std::string(VANTREL_BINARY_DIR) + "/tools/vantrel-sim";
  if (::access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "vantrel-sim not built";
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("vantrel-set-" + std::to_string(::getpid()));
  const std::string command =
      program + " --write-set " + folder.string() + " --fingers 2 --impressions 2 --first 41";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream manifest(folder / "manifest.csv");
  std::stringstream rows;
  rows << manifest.rdbuf();
  EXPECT_EQ(rows.str(),
            "file,finger,impression,source_set,source_dpi,source_width,source_height\n"
            "41_1.pgm,41,1,synthetic,364,152,200\n41_2.pgm,41,2,synthetic,364,152,200\n"
            "42_1.pgm,42,1,synthetic,364,152,200\n42_2.pgm,42,2,synthetic,364,152,200\n");
  for (uint32_t finger : {41u, 42u}) {
    for (uint32_t n : {1u, 2u}) {
      const std::string name = std::to_string(finger) + "_" + std::to_string(n) + ".pgm";
      EXPECT_EQ(tools::ReadFingerprintPgm((folder / name).string()), DrawImpression(finger, n - 1))
          << name;
    }
  }
  std::filesystem::remove_all(folder);
  // A count that is not a positive number is refused.
  const std::string refused = program + " --write-set " + folder.string() + " --fingers 0";
  EXPECT_NE(std::system((refused + " 2>/dev/null").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace vantrel::sim
