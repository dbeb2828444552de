// One-to-many search over prepared sides: the descriptors of every entry are built once,
// and each comparison runs the same core stages as MatchCore on them.
#include "reader/match/search.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "reader/match/matcher.h"
#include "reader/match/matcher_internal.h"
#include "reader/record/record.h"

namespace vantrel::match {

namespace {

using detail::ReachIndex;
using detail::Side;

// One record as the core reads it; usable is false where MatchCore scores 0 before
// reading the minutiae.
struct Prepared {
  Side side;
  bool usable = false;
};

void Prepare(const uint8_t* unsealed, Prepared& p) {
  p.usable = !detail::EmptyForCore(unsealed);
  if (!p.usable) return;
  detail::ReadSide(unsealed, p.side);
  const Alignment defaults;  // the radius every caller passes
  detail::ChosenKernels().build_descriptors(p.side, detail::RadiusSquared(defaults));
}

// Work of one thread: the reach index of whichever side is second.
struct Scratch {
  ReachIndex reach;
};

int ScorePair(const Prepared& a, const Prepared& b, const ReachIndex* prepared_reach_b,
              Scratch& scratch) {
  if (!a.usable || !b.usable) return 0;
  const ReachIndex* reach = prepared_reach_b;
  if (reach == nullptr) {
    detail::ChosenKernels().build_reach_index(b.side, scratch.reach);
    reach = &scratch.reach;
  }
  Alignment alignment;
  return detail::CompareSides(a.side, b.side, *reach, alignment, nullptr);
}

}  // namespace

struct Gallery::Entries {
  std::vector<Prepared> list;
};

Gallery::Gallery() : entries_(std::make_unique<Entries>()) {}
Gallery::~Gallery() = default;
Gallery::Gallery(Gallery&&) noexcept = default;
Gallery& Gallery::operator=(Gallery&&) noexcept = default;

int Gallery::Add(const uint8_t* sealed) {
  uint8_t unsealed[record::kRecordBytes];
  if (sealed == nullptr || record::UnsealCopy(sealed, unsealed) != 0) return kMatchUnsealFailed;
  return AddUnsealed(unsealed);
}

int Gallery::AddUnsealed(const uint8_t* unsealed) {
  if (unsealed == nullptr) return kMatchUnsealFailed;
  entries_->list.emplace_back();
  Prepare(unsealed, entries_->list.back());
  return static_cast<int>(entries_->list.size()) - 1;
}

int Gallery::Size() const { return static_cast<int>(entries_->list.size()); }

int Gallery::Scores(const uint8_t* sealed_probe, ProbeSide side, std::vector<int>& scores,
                    int threads) const {
  uint8_t unsealed[record::kRecordBytes];
  if (sealed_probe == nullptr || record::UnsealCopy(sealed_probe, unsealed) != 0) {
    scores.clear();
    return kMatchUnsealFailed;
  }
  return ScoresUnsealed(unsealed, side, scores, threads);
}

int Gallery::ScoresUnsealed(const uint8_t* unsealed_probe, ProbeSide side,
                            std::vector<int>& scores, int threads) const {
  scores.clear();
  if (unsealed_probe == nullptr) return kMatchUnsealFailed;
  const auto probe = std::make_unique<Prepared>();
  Prepare(unsealed_probe, *probe);
  // A probe that is the second record has one reach index for every comparison.
  std::unique_ptr<ReachIndex> probe_reach;
  if (side == ProbeSide::kSecond && probe->usable) {
    probe_reach = std::make_unique<ReachIndex>();
    detail::ChosenKernels().build_reach_index(probe->side, *probe_reach);
  }
  const std::vector<Prepared>& list = entries_->list;
  const int n = static_cast<int>(list.size());
  scores.assign(n, 0);
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  constexpr int kChunk = 32;
  threads = std::max(1, std::min(threads, (n + kChunk - 1) / kChunk));
  std::atomic<int> next{0};
  const auto work = [&] {
    const auto scratch = std::make_unique<Scratch>();
    for (int first; (first = next.fetch_add(kChunk)) < n;) {
      const int last = std::min(n, first + kChunk);
      for (int i = first; i < last; ++i)
        scores[i] = side == ProbeSide::kFirst
                        ? ScorePair(*probe, list[i], nullptr, *scratch)
                        : ScorePair(list[i], *probe, probe_reach.get(), *scratch);
    }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (...) {
      break;  // no more threads to be had: the ones running and this one do the rest
    }
  }
  work();
  for (std::thread& h : helpers) h.join();
  return 0;
}

int Gallery::Search(const uint8_t* sealed_probe, int level, int max_hits, ProbeSide side,
                    std::vector<SearchHit>& hits, int threads) const {
  hits.clear();
  std::vector<int> scores;
  const int rc = Scores(sealed_probe, side, scores, threads);
  if (rc != 0) return rc;
  const int threshold = ThresholdOfLevel(level);
  for (int i = 0; i < static_cast<int>(scores.size()); ++i)
    if (scores[i] >= threshold) hits.push_back(SearchHit{i, scores[i]});
  std::stable_sort(hits.begin(), hits.end(),
                   [](const SearchHit& x, const SearchHit& y) { return x.score > y.score; });
  if (max_hits >= 0 && static_cast<int>(hits.size()) > max_hits) hits.resize(max_hits);
  return static_cast<int>(hits.size());
}

}  // namespace vantrel::match
