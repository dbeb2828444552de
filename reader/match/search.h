// One-to-many search: a gallery of records prepared once (each unsealed, decoded and its
// neighbourhood descriptors built), then one probe scored against every entry on every
// core. Each score is exactly the one the match export gives for that pair of records.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vantrel::match {

// Which record of each comparison the probe is: the first (A), as in
// MatchRecords(probe, entry), or the second, as in MatchRecords(entry, probe). The core
// is not symmetric, so the two orders can score a pair differently.
enum class ProbeSide { kFirst, kSecond };

struct SearchHit {
  int index = 0;  // entry index, in the order the entries were added
  int score = 0;
};

class Gallery {
 public:
  Gallery();
  ~Gallery();
  Gallery(Gallery&&) noexcept;
  Gallery& operator=(Gallery&&) noexcept;

  // Adds a sealed 256-byte record (template or feature record). Returns its index, or
  // kMatchUnsealFailed (nothing added) when it does not unseal.
  int Add(const uint8_t* sealed);
  // The same for an unsealed record.
  int AddUnsealed(const uint8_t* unsealed);
  int Size() const;

  // The core score of the probe (sealed) against every entry, into scores (resized to
  // Size()): scores[i] == MatchCore of the pair in the order side gives, which is what
  // MatchRecords returns whenever it reaches the level's threshold. threads 0 uses every
  // core. Returns 0, or kMatchUnsealFailed (scores emptied) when the probe does not unseal.
  int Scores(const uint8_t* sealed_probe, ProbeSide side, std::vector<int>& scores,
             int threads = 0) const;
  int ScoresUnsealed(const uint8_t* unsealed_probe, ProbeSide side, std::vector<int>& scores,
                     int threads = 0) const;

  // The entries whose score reaches the threshold of the security level (the ones the
  // match export accepts), best first and the lower index first among equal scores, at
  // most max_hits of them. Returns the number of hits, or kMatchUnsealFailed.
  int Search(const uint8_t* sealed_probe, int level, int max_hits, ProbeSide side,
             std::vector<SearchHit>& hits, int threads = 0) const;

 private:
  struct Entries;
  std::unique_ptr<Entries> entries_;
};

}  // namespace vantrel::match
