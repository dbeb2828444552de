// One-to-many search against the plain rule: every gallery score is MatchCore of the pair
// in the order asked for, and the hits are the pairs MatchRecords accepts, best first.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "golden_sets.h"
#include "match_support.h"
#include "reader/match/matcher.h"
#include "reader/match/search.h"

namespace vantrel::match {
namespace {

using golden::Record;

// Real records of the first set when present, then records the core reads as empty or
// hostile: no minutiae, a wrong format, a count above 50.
std::vector<Record> Entries() {
  std::vector<Record> out;
  if (golden::ImagesPresent())
    for (const Record& r : golden::ExtractSet(golden::kSetFolders[0]))
      if (!r.empty()) out.push_back(r);
  const auto add = [&](testing::Bytes b) { out.emplace_back(b.begin(), b.end()); };
  add(testing::MakeRecord({{100, 100, 30, 10, 0}, {140, 120, 80, 12, 1}, {120, 160, 200, 9, 0},
                           {90, 150, 300, 14, 1}, {160, 90, 10, 11, 0}}));
  add(testing::MakeRecord({}));
  testing::Bytes wrong_format = testing::MakeRecord({{100, 100, 30, 10, 0}});
  wrong_format[0] = 7;
  add(wrong_format);
  testing::Bytes too_many = testing::MakeRecord({{100, 100, 30, 10, 0}});
  too_many[3] = 51;
  add(too_many);
  return out;
}

TEST(GallerySearch, ScoresAndHitsAreThoseOfTheMatchEntries) {
  const std::vector<Record> entries = Entries();
  Gallery gallery;
  for (const Record& r : entries) {
    const int index = gallery.AddUnsealed(r.data());
    ASSERT_EQ(index, gallery.Size() - 1);
  }
  ASSERT_EQ(gallery.Size(), static_cast<int>(entries.size()));
  std::vector<Record> sealed = entries;
  for (Record& r : sealed) record::SealRecord(r.data());
  if (!golden::ImagesPresent()) std::printf("fingerprint images absent: synthetic entries only\n");

  const int probes = std::min<int>(entries.size(), 12);
  for (int p = 0; p < static_cast<int>(entries.size()); p += std::max<int>(1, entries.size() / probes)) {
    for (const ProbeSide side : {ProbeSide::kFirst, ProbeSide::kSecond}) {
      std::vector<int> scores;
      ASSERT_EQ(gallery.Scores(sealed[p].data(), side, scores, 2), 0);
      ASSERT_EQ(scores.size(), entries.size());
      for (size_t i = 0; i < entries.size(); ++i) {
        Alignment alignment;
        const bool first = side == ProbeSide::kFirst;
        const int want = first ? MatchCore(entries[p].data(), entries[i].data(), alignment)
                               : MatchCore(entries[i].data(), entries[p].data(), alignment);
        ASSERT_EQ(scores[i], want) << "probe " << p << " entry " << i << " first " << first;
      }
    }
    // Hits at level 5 in the first order: what MatchRecords accepts, best first.
    std::vector<SearchHit> want;
    for (size_t i = 0; i < entries.size(); ++i) {
      const int s = MatchRecords(sealed[p].data(), sealed[i].data(), 5);
      if (s >= 0) want.push_back({static_cast<int>(i), s});
    }
    std::stable_sort(want.begin(), want.end(),
                     [](const SearchHit& a, const SearchHit& b) { return a.score > b.score; });
    std::vector<SearchHit> hits;
    ASSERT_EQ(gallery.Search(sealed[p].data(), 5, 1000, ProbeSide::kFirst, hits, 1),
              static_cast<int>(want.size()));
    for (size_t k = 0; k < want.size(); ++k) {
      EXPECT_EQ(hits[k].index, want[k].index);
      EXPECT_EQ(hits[k].score, want[k].score);
    }
    if (!want.empty()) {
      ASSERT_EQ(gallery.Search(sealed[p].data(), 5, 1, ProbeSide::kFirst, hits), 1);
      EXPECT_EQ(hits[0].index, want[0].index);
    }
  }
}

TEST(GallerySearch, RecordsThatDoNotUnsealAreRefused) {
  Gallery gallery;
  uint8_t garbage[record::kRecordBytes] = {1, 2, 3};
  EXPECT_EQ(gallery.Add(garbage), kMatchUnsealFailed);
  EXPECT_EQ(gallery.Add(nullptr), kMatchUnsealFailed);
  EXPECT_EQ(gallery.Size(), 0);
  std::vector<int> scores = {1};
  EXPECT_EQ(gallery.Scores(garbage, ProbeSide::kFirst, scores), kMatchUnsealFailed);
  EXPECT_TRUE(scores.empty());
  std::vector<SearchHit> hits(3);
  EXPECT_EQ(gallery.Search(nullptr, 5, 10, ProbeSide::kSecond, hits), kMatchUnsealFailed);
  EXPECT_TRUE(hits.empty());
}

}  // namespace
}  // namespace vantrel::match
