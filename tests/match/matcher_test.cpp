#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

#include "match_support.h"
#include "reader/cpu/vector_forms.h"
#include "reader/record/record_text.h"
#include "reader/match/matcher.h"
#include "reader/match/matcher_internal.h"

namespace vantrel::match {
namespace {

using testing::Bytes;
using testing::M;
using testing::MakeRecord;

// A bifurcation with n ridge-ending neighbours at distance r, in the directions given.
// The neighbours are further than 90 px from each other, so only the centre can reach a
// similarity of 80.
std::vector<M> Star(int cx, int cy, int centre_direction, const std::vector<int>& angles,
                    int r = 80) {
  std::vector<M> out{{cx, cy, centre_direction, 10, 1}};
  for (int a : angles) {
    const double rad = a * std::acos(-1.0) / 180.0;
    out.push_back(M{cx + static_cast<int>(std::lround(r * std::cos(rad))),
                    cy + static_cast<int>(std::lround(r * std::sin(rad))), (a + 30) % 360, 10, 0});
  }
  return out;
}

TEST(Threshold, TableAndEveryOtherLevel) {
  const int expected[10] = {0, 40, 45, 50, 55, 60, 65, 70, 75, 80};
  for (int level = 0; level < 10; ++level) EXPECT_EQ(ThresholdOfLevel(level), expected[level]);
  EXPECT_EQ(ThresholdOfLevel(3), 50);
  EXPECT_EQ(ThresholdOfLevel(10), 50);
  EXPECT_EQ(ThresholdOfLevel(-1), 50);
  EXPECT_EQ(ThresholdOfLevel(INT_MIN), 50);
  EXPECT_EQ(ThresholdOfLevel(INT_MAX), 50);
}

TEST(FixedTables, RootsSquaresAndTrigonometry) {
  EXPECT_EQ(NearestRoot(0), 0);
  EXPECT_EQ(NearestRoot(2), 1);
  EXPECT_EQ(NearestRoot(3), 2);    // 1.73
  EXPECT_EQ(NearestRoot(6), 2);    // 2.449
  EXPECT_EQ(NearestRoot(7), 3);    // 2.646
  EXPECT_EQ(NearestRoot(8100), 90);
  EXPECT_EQ(NearestRoot(65535), 256);
  EXPECT_EQ(NearestRoot(65536), 256);
  EXPECT_EQ(NearestRoot(1 << 30), 256);
  EXPECT_EQ(FloorRoot(99), 9);
  EXPECT_EQ(FloorRoot(100), 10);
  EXPECT_EQ(FloorRoot(65535), 255);
  EXPECT_EQ(FloorRoot(65536), 255);
  EXPECT_EQ(SquareOf(256), 65536);
  EXPECT_EQ(SquareOf(-5), 25);
  EXPECT_EQ(SquareOf(300), 90000);
  EXPECT_DOUBLE_EQ(SineOfDegree(90), 1.0);
  EXPECT_DOUBLE_EQ(CosineOfDegree(0), 1.0);
  EXPECT_DOUBLE_EQ(SineOfDegree(0), 0.0);
  EXPECT_DOUBLE_EQ(SineOfDegree(-90), SineOfDegree(270));
  EXPECT_DOUBLE_EQ(CosineOfDegree(390), CosineOfDegree(30));
  EXPECT_NEAR(SineOfDegree(30), 0.5, 1e-12);
}

TEST(Transform, RoundingAndNormalisation) {
  EXPECT_EQ(RoundProduct(-2.0), -3);
  EXPECT_EQ(RoundProduct(-0.4), -1);
  EXPECT_EQ(RoundProduct(-0.5), -1);
  EXPECT_EQ(RoundProduct(-0.0), 0);
  EXPECT_EQ(RoundProduct(0.99), 0);
  EXPECT_EQ(RoundProduct(2.0), 2);

  // Rotation 0: a point left of the anchor moves one pixel further left, one to the
  // right stays; directions come back into 0..359.
  const Transform t = MakeTransform(100, 100, 5, -3, 0);
  Point p = ApplyTransform(t, 98, 100, 10);
  EXPECT_EQ(p.x, 100 + 5 - 3);
  EXPECT_EQ(p.y, 97);
  p = ApplyTransform(t, 102, 100, 10);
  EXPECT_EQ(p.x, 107);
  const Transform turn = MakeTransform(0, 0, 0, 0, 20);
  EXPECT_EQ(ApplyTransform(turn, 0, 0, 10).direction, 350);
  const Transform back = MakeTransform(0, 0, 0, 0, -20);
  EXPECT_EQ(ApplyTransform(back, 0, 0, 350).direction, 10);

  EXPECT_EQ(NormaliseRotation(180), 180);
  EXPECT_EQ(NormaliseRotation(-180), 180);
  EXPECT_EQ(NormaliseRotation(181), -179);
  EXPECT_EQ(NormaliseRotation(-179), -179);
  // theta0 = 180: forward 178, 180, -178 and backward -178, 180, 178.
  const int theta0 = NormaliseRotation(180);
  int forward[3], backward[3];
  for (int k = 0; k < 3; ++k) {
    forward[k] = NormaliseRotation(theta0 - 2 + 2 * k);
    backward[k] = NormaliseRotation(-forward[k]);
  }
  EXPECT_EQ(forward[0], 178);
  EXPECT_EQ(forward[1], 180);
  EXPECT_EQ(forward[2], -178);
  EXPECT_EQ(backward[0], -178);
  EXPECT_EQ(backward[1], 180);
  EXPECT_EQ(backward[2], 178);
  EXPECT_EQ(CircularDifference(350, 10), 20);
  EXPECT_EQ(CircularDifference(0, 180), 180);
}

TEST(MatchCore, OneFilledSlotGivesHalfItsScore) {
  // Worked by hand: four pairs of weight 35; the west and north neighbours land one
  // pixel off (R of a negative product), so T = N = 138, U = UN = 10;
  // S = 128 + 88 + 128 + 88 = 432, candidate 108, and with no second slot 108 / 2.
  const Bytes a = MakeRecord(Star(128, 144, 45, {0, 90, 180, 270}));
  Alignment alignment;
  MatchTrace trace;
  EXPECT_EQ(MatchCore(a.data(), a.data(), alignment, &trace), 54);
  EXPECT_EQ(trace.filled_slots, 1);
  EXPECT_EQ(trace.candidate_scores[0][1], 108);
  EXPECT_EQ(trace.reference_scores[0], 108);
  EXPECT_EQ(alignment.reference_a, 0);
  EXPECT_EQ(alignment.reference_b, 0);
  EXPECT_EQ(alignment.rotation, 0);
  EXPECT_EQ(alignment.pair_count, 4);
}

TEST(MatchCore, FewerThanFourPairsAreScaled) {
  // Three neighbours: T = N = 104 (the north one a pixel off), S = 2 x (94 + 66) = 320,
  // scaled by 3/4 to 240, candidate 60, match 30 (unscaled it would be 40).
  const Bytes a = MakeRecord(Star(128, 144, 45, {0, 90, 270}));
  Alignment alignment;
  MatchTrace trace;
  EXPECT_EQ(MatchCore(a.data(), a.data(), alignment, &trace), 30);
  EXPECT_EQ(trace.candidate_scores[0][1], 60);
  EXPECT_EQ(alignment.pair_count, 3);
}

TEST(MatchCore, NeighbourAtRelativeDirectionZeroNeverCounts) {
  // Centre direction 0 and a neighbour straight along +x: that neighbour sits first at
  // relative direction 0 and ends every scan, so only two of three count (60 < 80).
  const Bytes zero = MakeRecord(Star(128, 144, 0, {0, 90, 180}));
  Alignment alignment;
  MatchTrace trace;
  EXPECT_EQ(MatchCore(zero.data(), zero.data(), alignment, &trace), 0);
  EXPECT_EQ(trace.filled_slots, 0);
  EXPECT_EQ(alignment.reference_a, kNoReference);
  // Turned by 5 degrees the same neighbour is at 355 and counts.
  const Bytes turned = MakeRecord(Star(128, 144, 5, {0, 90, 180}));
  EXPECT_GT(MatchCore(turned.data(), turned.data(), alignment, &trace), 0);
  EXPECT_EQ(trace.filled_slots, 1);
}

TEST(MatchCore, DifferentTypesAreNeverCompared) {
  std::vector<M> star = Star(128, 144, 45, {0, 90, 180, 270});
  std::vector<M> flipped = star;
  for (M& m : flipped) m.type ^= 1;
  const Bytes a = MakeRecord(star), b = MakeRecord(flipped);
  Alignment alignment;
  alignment.reference_a = 3;
  alignment.pair_count = 7;
  EXPECT_EQ(MatchCore(a.data(), b.data(), alignment), 0);
  EXPECT_EQ(alignment.reference_a, kNoReference);
  EXPECT_EQ(alignment.reference_b, kNoReference);
  EXPECT_EQ(alignment.pair_count, 0);
  EXPECT_EQ(alignment.rotation, 0);
}

TEST(MatchCore, OverlapOfTwoScoresZero) {
  const std::vector<M> star = Star(128, 144, 45, {0, 90, 180, 270});
  const Bytes a = MakeRecord(star);
  Alignment alignment;
  ASSERT_GT(MatchCore(a.data(), a.data(), alignment), 0);
  // B the same, but its print covers the centre and only two neighbours: with the centre
  // as reference, A's overlap set in B holds two entries.
  const testing::Mask mask = testing::ForegroundOnlyAround({star[0], star[1], star[2]});
  const Bytes b = MakeRecord(star, 50, mask.cells);
  MatchTrace trace;
  EXPECT_EQ(MatchCore(a.data(), b.data(), alignment, &trace), 0);
  EXPECT_EQ(trace.filled_slots, 1);
  EXPECT_EQ(trace.candidate_scores[0][0], 0);
  EXPECT_EQ(trace.candidate_scores[0][1], 0);
  EXPECT_EQ(trace.candidate_scores[0][2], 0);
  EXPECT_EQ(alignment.reference_a, kNoReference);
}

TEST(MatchCore, EmptyAndInvalidRecordsScoreZero) {
  std::mt19937 rng(7);
  const Bytes good = MakeRecord(testing::RandomFinger(rng, 30, 30, 220, 260));
  Alignment alignment;
  ASSERT_GT(MatchCore(good.data(), good.data(), alignment), 0);

  Bytes count51 = good;
  count51[3] = 51;
  Bytes count255 = good;
  count255[3] = 255;
  Bytes format4 = good;
  format4[0] = 4;
  Bytes empty = good;
  empty[3] = 0;
  for (const Bytes* bad : {&count51, &count255, &format4, &empty}) {
    alignment.reference_a = 1;
    alignment.pair_count = 9;
    EXPECT_EQ(MatchCore(good.data(), bad->data(), alignment), 0);
    EXPECT_EQ(alignment.pair_count, 0);
    EXPECT_EQ(alignment.reference_a, kNoReference);
    EXPECT_EQ(MatchCore(bad->data(), good.data(), alignment), 0);
  }
  EXPECT_EQ(MatchCore(nullptr, good.data(), alignment), 0);
}

TEST(MatchCore, RotationOf180IsFound) {
  std::mt19937 rng(11);
  const std::vector<M> finger = testing::RandomFinger(rng, 60, 60, 196, 228);
  const std::vector<M> turned = testing::Moved(finger, 180, 128, 144, 0, 0);
  const Bytes a = MakeRecord(finger), b = MakeRecord(turned);
  Alignment alignment;
  const int score = MatchCore(a.data(), b.data(), alignment);
  EXPECT_GT(score, 100);
  EXPECT_EQ(alignment.rotation, 180);
  EXPECT_GT(alignment.pair_count, 20);
}

TEST(MatchCore, AlignmentPairsNameMatchingMinutiae) {
  std::mt19937 rng(5);
  const std::vector<M> finger = testing::RandomFinger(rng, 40, 40, 220, 250);
  const std::vector<M> moved = testing::Moved(finger, 12, 128, 144, 6, -9);
  const Bytes a = MakeRecord(finger), b = MakeRecord(moved);
  Alignment alignment;
  EXPECT_GT(MatchCore(a.data(), b.data(), alignment), 100);
  EXPECT_EQ(alignment.reference_a, alignment.reference_b);
  EXPECT_NEAR(alignment.rotation, 12, 2);  // maps B back onto A
  ASSERT_GT(alignment.pair_count, 20);
  // Minutia i of the moved copy is minutia i of the original.
  for (int k = 0; k < alignment.pair_count; ++k)
    EXPECT_EQ(alignment.pairs_a[k], alignment.pairs_b[k]) << k;
}

// The alignment comes from the first candidate that reaches the highest candidate
// score, and the reference score of a slot is its best rotation.
TEST(MatchCore, FirstHighestCandidateWritesTheAlignment) {
  std::mt19937 rng(1234);
  int ties = 0;
  for (int round = 0; round < 60; ++round) {
    std::vector<M> finger = testing::RandomFinger(rng, 30, 30, 226, 258, 16 + round % 20);
    std::vector<M> other = testing::Moved(finger, round % 7 - 3, 128, 144, round % 5, -(round % 3));
    const Bytes a = MakeRecord(finger), b = MakeRecord(other);
    Alignment alignment;
    MatchTrace trace;
    const int score = MatchCore(a.data(), b.data(), alignment, &trace);
    int best = 0, best_slot = -1, best_k = -1, equal = 0;
    for (int s = 0; s < trace.filled_slots; ++s) {
      int slot_best = 0;
      for (int k = 0; k < 3; ++k) {
        const int c = trace.candidate_scores[s][k];
        if (c > slot_best) slot_best = c;
        if (c > best) {
          best = c;
          best_slot = s;
          best_k = k;
          equal = 0;
        } else if (c == best && c > 0) {
          ++equal;
        }
      }
      EXPECT_EQ(trace.reference_scores[s], s == trace.best_slot ? slot_best : trace.reference_scores[s]);
    }
    ties += equal > 0;
    if (best_slot < 0) {
      EXPECT_EQ(alignment.reference_a, kNoReference);
      continue;
    }
    EXPECT_EQ(alignment.reference_a, trace.slot_a[best_slot]);
    EXPECT_EQ(alignment.reference_b, trace.slot_b[best_slot]);
    EXPECT_GE(score, best / 2);
    EXPECT_LE(score, best);
    (void)best_k;
  }
  // Equal best candidates do occur in this set, so the rule above is exercised.
  EXPECT_GT(ties, 0);
}

TEST(MatchCore, HostileRecordsGiveAScore) {
  std::vector<std::vector<M>> sets;
  sets.push_back(std::vector<M>(50, M{100, 100, 0, 15, 1}));  // all at one point
  std::vector<M> edges;
  for (int i = 0; i < 50; ++i)
    edges.push_back(M{(i % 2) ? 511 : 0, (i % 3) ? 511 : 0, (i % 2) ? 359 : 0, 15, i % 2});
  sets.push_back(edges);
  std::vector<M> canvas_edges;
  for (int i = 0; i < 50; ++i)
    canvas_edges.push_back(M{i % 2 ? 247 : 8, i % 3 ? 279 : 8, i % 2 ? 359 : 0, 15, 0});
  sets.push_back(canvas_edges);
  std::vector<M> wide_directions;  // 9-bit directions above 359
  for (int i = 0; i < 40; ++i)
    wide_directions.push_back(M{20 + (i % 8) * 28, 20 + (i / 8) * 50, 360 + i * 3, 15, 1});
  sets.push_back(wide_directions);
  std::mt19937 rng(3);
  std::vector<M> dup = testing::RandomFinger(rng, 30, 30, 200, 200, 25);
  dup.insert(dup.end(), dup.begin(), dup.end());
  sets.push_back(dup);

  std::vector<Bytes> records;
  for (const auto& s : sets) records.push_back(MakeRecord(s));
  // Random bytes after a valid header, and a huge area size.
  for (int k = 0; k < 8; ++k) {
    Bytes r{};
    for (auto& b : r) b = static_cast<uint8_t>(rng());
    r[0] = 3;
    r[1] = 1;
    r[3] = static_cast<uint8_t>(rng() % 51);
    if (k % 2) r[4] = r[5] = 255;
    records.push_back(r);
  }
  for (const Bytes& x : records)
    for (const Bytes& y : records) {
      Alignment alignment;
      const int score = MatchCore(x.data(), y.data(), alignment);
      EXPECT_GE(score, 0);
      ASSERT_LE(alignment.pair_count, kMaxPairs);
      for (int k = 0; k < alignment.pair_count; ++k) {
        EXPECT_LT(alignment.pairs_a[k], x[3]);
        EXPECT_LT(alignment.pairs_b[k], y[3]);
      }
    }
}

// Every built form of a kernel against its plain form: every offset within 300 of the
// origin, then random ones out to 4200 (a longer leg from 4096 on takes the plain form in
// the vector one), in groups of 1..56 points.
TEST(Kernels, PolarAroundOfEveryFormIsThePlainOne) {
  using namespace detail;
  std::vector<std::pair<int, int>> offsets;
  for (int dy = -300; dy <= 300; ++dy)
    for (int dx = -300; dx <= 300; ++dx) offsets.emplace_back(dx, dy);
  std::mt19937 rng(18);
  std::uniform_int_distribution<int> far(-4200, 4200), near(-2047, 2047);
  for (int k = 0; k < 200000; ++k)
    offsets.emplace_back(k % 50 ? near(rng) : far(rng), k % 50 ? near(rng) : far(rng));
  for (const Kernels* form : {&BaselineKernels(), &WideKernels()}) {
    size_t next = 0;
    for (int n = 1; next < offsets.size(); n = n % kPaddedMinutiae + 1) {
      int xs[kPaddedMinutiae], ys[kPaddedMinutiae];
      const int ox = near(rng) / 4, oy = near(rng) / 4;
      for (int i = 0; i < kPaddedMinutiae; ++i) {
        const auto [dx, dy] = offsets[(next + i) % offsets.size()];
        xs[i] = ox + dx;
        ys[i] = oy + dy;
      }
      int plain_direction[kPaddedMinutiae], plain_distance[kPaddedMinutiae];
      int direction[kPaddedMinutiae], distance[kPaddedMinutiae];
      PolarAroundPlain(xs, ys, n, ox, oy, plain_direction, plain_distance);
      form->polar_around(xs, ys, n, ox, oy, direction, distance);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(direction[i], plain_direction[i]) << xs[i] - ox << ", " << ys[i] - oy;
        ASSERT_EQ(distance[i], plain_distance[i]) << xs[i] - ox << ", " << ys[i] - oy;
      }
      next += n;
    }
  }
}

// Landing, unpaired sums, the packing of kept minutiae and the whole overlap of a side
// carried by a transform, of every built form against the plain ones: points on, near and
// far off the grid, random masks, directions up to 511, every rotation, random weights and
// pairings.
TEST(Kernels, LandingAndUnpairedSumsOfEveryFormAreThePlainOnes) {
  using namespace detail;
  std::mt19937 rng(2018);
  const auto side = std::make_unique<Side>();
  const auto sets = std::make_unique<OverlapSet[]>(2);
  std::uniform_int_distribution<int> coordinate(-40, 600), far(-3000, 3000);
  for (int round = 0; round < 4000; ++round) {
    const int n = 1 + round % kMaxMinutiae;
    int px[kPaddedMinutiae] = {}, py[kPaddedMinutiae] = {}, directions[kPaddedMinutiae] = {};
    for (int i = 0; i < n; ++i) {
      px[i] = i % 7 ? coordinate(rng) : far(rng);
      py[i] = i % 5 ? coordinate(rng) : far(rng);
      directions[i] = static_cast<int>(rng() % 512);
    }
    uint32_t rows[record::kBlockRows];
    for (uint32_t& r : rows) r = static_cast<uint32_t>(rng()) | (round % 3 ? 0u : ~0u);
    const int angle = static_cast<int>(rng() % 360) - 179;
    int plain_turned[kPaddedMinutiae], turned[kPaddedMinutiae];
    const uint64_t plain = LandingPlain(px, py, n, rows, directions, angle, plain_turned);
    int weights[kPaddedMinutiae] = {};
    uint64_t paired = 0;
    for (int i = 0; i < n; ++i) {
      weights[i] = static_cast<int>(rng() % 41);
      paired |= uint64_t{rng() % 3 == 0} << i;
    }
    const int ox = coordinate(rng), oy = coordinate(rng);
    int plain_sums[2], sums[2];
    UnpairedSumsPlain(px, py, weights, paired, n, ox, oy, plain_sums);
    side->n = n;
    std::memcpy(side->x, px, sizeof px);
    std::memcpy(side->y, py, sizeof py);
    std::memcpy(side->direction, directions, sizeof directions);
    std::memcpy(side->unpaired_weight, weights, sizeof weights);
    const Transform t = MakeTransform(coordinate(rng), coordinate(rng), ox - 300, oy - 300, angle);
    const int skip = static_cast<int>(rng() % n);
    int more_fields[2][kKeptFields][kPaddedMinutiae];
    const auto more = [&](int s) {
      return MoreKeptFields{1 + round % kKeptFields, {px, directions, py, weights},
                            {more_fields[s][0], more_fields[s][1], more_fields[s][2], more_fields[s][3]}};
    };
    const MoreKeptFields plain_more = more(0), form_more = more(1);
    FindOverlapPlain(*side, skip, t, rows, &plain_more, sets[0]);
    for (const Kernels* form : {&BaselineKernels(), &WideKernels()}) {
      ASSERT_EQ(form->landing(px, py, n, rows, directions, angle, turned), plain) << round;
      for (int i = 0; i < n; ++i) ASSERT_EQ(turned[i], plain_turned[i]) << round << " " << i;
      form->unpaired_sums(px, py, weights, paired, n, ox, oy, sums);
      ASSERT_EQ(sums[0], plain_sums[0]) << round;
      ASSERT_EQ(sums[1], plain_sums[1]) << round;
      form->find_overlap(*side, skip, t, rows, round % 2 ? &form_more : nullptr, sets[1]);
      ASSERT_EQ(sets[1].kept, sets[0].kept) << round;
      ASSERT_EQ(sets[1].count, sets[0].count) << round;
      for (int k = 0; k < sets[0].count; ++k) {
        const int i = sets[0].index[k];
        ASSERT_EQ(sets[1].index[k], i) << round;
        ASSERT_EQ(sets[1].x[k], sets[0].x[k]) << round << " " << i;
        ASSERT_EQ(sets[1].y[k], sets[0].y[k]) << round << " " << i;
        ASSERT_EQ(sets[1].direction[k], sets[0].direction[k]) << round << " " << i;
        ASSERT_EQ(sets[1].weight[k], weights[i]) << round << " " << i;
        for (int f = 0; round % 2 && f < 1 + round % kKeptFields; ++f)
          ASSERT_EQ(more_fields[1][f][k], more_fields[0][f][k]) << round << " " << i;
      }
      // The landing mask, and every mask of a few random bits or all of them, packed.
      const uint64_t below_n = n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
      const uint64_t kept = (round % 4 == 0   ? plain
                             : round % 4 == 1 ? below_n
                                              : (uint64_t{rng()} << 32 | rng()) & below_n) &
                            ~(uint64_t{1} << (rng() % n));
      int fields[2][kKeptFields][kPaddedMinutiae + 8], index[2][kPaddedMinutiae];
      const int* const from[kKeptFields] = {px, py, directions, weights};
      int* const plain_to[kKeptFields] = {fields[0][0], fields[0][1], fields[0][2], fields[0][3]};
      int* const to[kKeptFields] = {fields[1][0], fields[1][1], fields[1][2], fields[1][3]};
      const int count = PackKeptPlain(kept, n, from, plain_to, index[0]);
      ASSERT_EQ(count, std::popcount(kept)) << round;
      ASSERT_EQ(form->pack_kept(kept, n, from, to, index[1]), count) << round;
      for (int k = 0; k < count; ++k) {
        ASSERT_EQ(index[1][k], index[0][k]) << round << " " << k;
        ASSERT_TRUE((kept >> index[0][k]) & 1) << round << " " << k;
        ASSERT_TRUE(k == 0 || index[0][k] > index[0][k - 1]) << round << " " << k;
        for (int f = 0; f < kKeptFields; ++f) {
          ASSERT_EQ(fields[0][f][k], from[f][index[0][k]]) << round << " " << k;
          ASSERT_EQ(fields[1][f][k], fields[0][f][k]) << round << " " << k;
        }
      }
    }
  }
}

// The core's transforms (single-precision products for the angles where they hold) in
// the overlap kernel of every form against the plain double form, over the whole domain:
// every rotation, every offset within -511..511 along x and then along y, fifty a
// call, each call's positions brought onto the grid by the shift.
TEST(Kernels, CoreTransformsOfEveryFormAreThePlainOnes) {
  using namespace detail;
#if defined(VANTREL_SSE2)
  constexpr bool kSingleLanes = true;
#else
  constexpr bool kSingleLanes = false;
#endif
  const auto side = std::make_unique<Side>();
  const auto sets = std::make_unique<OverlapSet[]>(2);
  uint32_t rows[record::kBlockRows];
  std::fill(std::begin(rows), std::end(rows), ~0u);
  for (int angle = -179; angle <= 180; ++angle) {
    // The check that settles each angle, of every form against the plain one (a form
    // without SSE2 takes no value).
    for (const double v : {CosineOfDegree(angle), SineOfDegree(angle)})
      for (const Kernels* form : {&BaselineKernels(), &WideKernels()}) {
        const bool plain = SingleProductsHoldPlain(std::fabs(v)), held = form->single_products_hold(std::fabs(v));
        ASSERT_TRUE(held == plain || (!held && !kSingleLanes)) << angle;
      }
    for (int along_y = 0; along_y < 2; ++along_y)
      for (int r0 = -kMaxCoreOffset; r0 <= kMaxCoreOffset; r0 += kMaxMinutiae) {
        const int n = std::min(kMaxMinutiae, kMaxCoreOffset + 1 - r0);
        const int anchor = std::max(0, -r0), fixed = 200, middle = r0 + n / 2;
        *side = Side{};
        side->n = n;
        for (int i = 0; i < n; ++i) {
          side->x[i] = along_y ? fixed : anchor + r0 + i;
          side->y[i] = along_y ? anchor + r0 + i : fixed;
        }
        const int cx = along_y ? fixed : anchor, cy = along_y ? anchor : fixed;
        const Transform plain = MakeTransform(cx, cy, 0, 0, angle);
        const int rx = along_y ? 0 : middle, ry = along_y ? middle : 0;
        const int bx = 128 - RoundProduct(rx * plain.c) - RoundProduct(ry * plain.s);
        const int by = 144 - RoundProduct(ry * plain.c) + RoundProduct(rx * plain.s);
        const Transform t = CoreTransform(cx, cy, bx - cx, by - cy, angle);
        FindOverlapPlain(*side, 63, t, rows, nullptr, sets[0]);
        ASSERT_EQ(sets[0].count, n) << angle << " " << r0;  // every point lands
        for (const Kernels* form : {&BaselineKernels(), &WideKernels()}) {
          form->find_overlap(*side, 63, t, rows, nullptr, sets[1]);
          ASSERT_EQ(sets[1].count, n) << angle << " " << r0;
          for (int k = 0; k < n; ++k) {
            ASSERT_EQ(sets[1].x[k], sets[0].x[k]) << angle << " " << r0 + k << " " << along_y;
            ASSERT_EQ(sets[1].y[k], sets[0].y[k]) << angle << " " << r0 + k << " " << along_y;
          }
        }
      }
  }
}

// The sums of the pairs of every built form against the plain ones: the sides of records
// of random bytes (direction fields above 359, every reliability and type), random
// overlaps and pairings, reference points among A's minutiae.
TEST(Kernels, PairedSumsOfEveryFormAreThePlainOnes) {
  using namespace detail;
  std::mt19937 rng(1918);
  const auto sides = std::make_unique<Side[]>(2);
  const auto sets = std::make_unique<OverlapSet[]>(2);
  for (int round = 0; round < 3000; ++round) {
    for (int s = 0; s < 2; ++s) {
      Bytes r{};
      for (auto& b : r) b = static_cast<uint8_t>(rng());
      r[0] = 3;
      r[3] = static_cast<uint8_t>(1 + rng() % kMaxMinutiae);
      ReadSide(r.data(), sides[s]);
      OverlapSet& o = sets[s];
      o.count = 1 + static_cast<int>(rng() % kMaxMinutiae);
      for (int k = 0; k < o.count; ++k) {
        o.index[k] = static_cast<int>(rng() % sides[s].n);
        o.x[k] = static_cast<int>(rng() % 256);
        o.y[k] = static_cast<int>(rng() % 288);
        o.direction[k] = static_cast<int>(rng() % 360);
      }
    }
    int pair_p[kMaxMinutiae], pair_q[kMaxMinutiae];
    const int pairs = 1 + static_cast<int>(rng() % std::min(sets[0].count, sets[1].count));
    for (int k = 0; k < pairs; ++k) {
      pair_p[k] = static_cast<int>(rng() % sets[0].count);
      pair_q[k] = static_cast<int>(rng() % sets[1].count);
    }
    const int a = static_cast<int>(rng() % sides[0].n);
    int64_t plain[2], sums[2];
    PairedSumsPlain(sides[0], sides[1], sets[0], sets[1], pair_p, pair_q, pairs, sides[0].x[a],
                    sides[0].y[a], plain);
    for (const Kernels* form : {&BaselineKernels(), &WideKernels()}) {
      form->paired_sums(sides[0], sides[1], sets[0], sets[1], pair_p, pair_q, pairs,
                        sides[0].x[a], sides[0].y[a], sums);
      ASSERT_EQ(sums[0], plain[0]) << round;
      ASSERT_EQ(sums[1], plain[1]) << round;
    }
  }
}

// The descriptors of every built form against the plain ones, field by field where a
// comparison reads them (and the minutiae and block rows of the sides they come from,
// against the plain decoding and the record's decoded mask): random fingers (crowded ones
// too, so that the first eight are a choice), records of random bytes (directions above 359 among them) and the radii
// round the table's edge, where the vector form hands over to the plain one.
TEST(Kernels, DescriptorsOfEveryFormAreThePlainOnes) {
  using namespace detail;
  std::mt19937 rng(1818);
  std::vector<Bytes> records;
  for (int k = 0; k < 60; ++k)
    records.push_back(MakeRecord(testing::RandomFinger(rng, 20, 20, 120 + k % 5 * 30,
                                                       140 + k % 5 * 30, 10 + k % 41)));
  for (int k = 0; k < 60; ++k) {
    Bytes r{};
    for (auto& b : r) b = static_cast<uint8_t>(rng());
    r[0] = 3;
    r[3] = static_cast<uint8_t>(rng() % 51);
    records.push_back(r);
  }
  const auto plain = std::make_unique<Side>(), built = std::make_unique<Side>();
  // The side's block rows are the record's expanded block mask.
  for (const Bytes& r : records) {
    ReadSide(r.data(), *plain);
    const auto decoded = std::make_unique<record::DecodedRecord>();
    record::DecodeRecord(r.data(), *decoded);
    for (int row = 0; row < record::kBlockRows; ++row)
      for (int column = 0; column < record::kBlockColumns; ++column)
        ASSERT_EQ((plain->background_rows[row] >> column) & 1, decoded->block_mask[row][column] != 0);
  }
  for (const int radius : {90, 0, 21, 127, 128, 256}) {
    for (const Bytes& r : records) {
      ReadSide(r.data(), *plain, PlainKernels());
      BuildDescriptorsPlain(*plain, int64_t{radius} * radius);
      for (const Kernels* form : {&BaselineKernels(), &WideKernels()}) {
        ReadSide(r.data(), *built, *form);
        // The decoded minutiae, zero past the count.
        for (int i = 0; i < kPaddedMinutiae; ++i)
          ASSERT_TRUE(built->x[i] == plain->x[i] && built->y[i] == plain->y[i] &&
                      built->direction[i] == plain->direction[i] && built->type[i] == plain->type[i] &&
                      built->reliability[i] == plain->reliability[i] &&
                      built->unpaired_weight[i] == plain->unpaired_weight[i] &&
                      built->word[i] == plain->word[i])
              << i;
        form->build_descriptors(*built, int64_t{radius} * radius);
        for (int i = 0; i < plain->n; ++i) {
          const Descriptor& p = plain->descriptors[i];
          const Descriptor& d = built->descriptors[i];
          ASSERT_EQ(d.count, p.count) << radius << " " << i;
          ASSERT_EQ(d.plain, p.plain);
          ASSERT_EQ(d.normal, p.normal);
          for (int k = 0; k < kMaxNeighbours; ++k)  // whole vectors of them are read
            ASSERT_TRUE(d.relative_direction[k] >= -151 && d.relative_direction[k] <= 359 &&
                        d.distance[k] >= 0 && d.distance[k] <= 256 && d.relative_angle[k] >= -151 &&
                        d.relative_angle[k] <= 511 && (d.type[k] == 0 || d.type[k] == 1))
                << radius << " " << i << " " << k;
          for (int k = 0; k < p.count; ++k) {
            ASSERT_EQ(d.relative_direction[k], p.relative_direction[k]) << radius << " " << i;
            ASSERT_EQ(d.distance[k], p.distance[k]);
            ASSERT_EQ(d.relative_angle[k], p.relative_angle[k]);
            ASSERT_EQ(d.type[k], p.type[k]);
          }
        }
      }
    }
  }
}

// A descriptor of random neighbours, or one near another (each field moved a little,
// neighbours added or dropped), in the ranges a record can give: relative directions
// ascending, some below 0 (a direction field above 359), runs of zeros first, relative
// angles up to 511; the lanes past the count hold other values of the same ranges.
detail::Descriptor RandomDescriptor(std::mt19937& rng, const detail::Descriptor* near) {
  detail::Descriptor d{};
  const auto in = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
  const bool hostile = rng() % 4 == 0;
  const int centre = rng() % 3 ? in(0, 359) : in(0, 20);
  d.count = near ? std::clamp(near->count + in(-1, 1), 0, 8) : in(0, 8);
  int rel[8];
  for (int k = 0; k < 8; ++k) {
    const bool moved = near && k < near->count;
    rel[k] = moved ? near->relative_direction[k] + in(-13, 13) : centre + in(-40, 40);
    rel[k] = std::clamp(rel[k], hostile ? -151 : 0, 359);
    d.distance[k] = static_cast<int16_t>(moved ? std::clamp(near->distance[k] + in(-12, 12), 0, 256) : in(0, 256));
    d.relative_angle[k] = static_cast<int16_t>(moved ? std::clamp(near->relative_angle[k] + in(-12, 12), -151, 511)
                                                     : (hostile ? in(-151, 511) : in(0, 359)));
    d.type[k] = static_cast<int16_t>(moved && rng() % 4 ? near->type[k] : in(0, 1));
  }
  for (int k = 0, zeros = rng() % 4 ? 0 : in(1, 8); k < zeros; ++k) rel[in(0, 7)] = 0;
  for (int k = 1; k < d.count; ++k)
    for (int m = k; m > 0 && rel[m - 1] > rel[m]; --m) std::swap(rel[m - 1], rel[m]);
  d.plain = d.normal = true;
  for (int k = 0; k < 8; ++k) {
    d.relative_direction[k] = static_cast<int16_t>(rel[k]);
    if (k >= d.count) continue;
    d.plain &= rel[k] >= 0;
    d.normal &= rel[k] >= 0 && d.relative_angle[k] >= 0 && d.relative_angle[k] < 360;
  }
  return d;
}

// The similarity of every built form against the plain one, for random descriptors and
// ones near each other: the same value wherever the plain one reaches the need, a value
// under the need elsewhere. And the reach index of random descriptors.
TEST(Kernels, LocalSimilarityAndReachIndexOfEveryForm) {
  using namespace detail;
  std::mt19937 rng(1808);
  int reached = 0;
  for (int round = 0; round < 200000; ++round) {
    const Descriptor a = RandomDescriptor(rng, nullptr);
    const Descriptor b = RandomDescriptor(rng, round % 5 ? &a : nullptr);
    for (const int need : {0, 80, 121}) {
      const int plain = LocalSimilarityPlain(a, b, need);
      reached += need > 0 && plain >= need;
      for (const Kernels* form : {&BaselineKernels(), &WideKernels()}) {
        const int s = form->local_similarity(a, b, need);
        if (plain >= need)
          ASSERT_EQ(s, plain) << round << " " << need;
        else
          ASSERT_LT(s, need) << round << " " << need;
      }
    }
  }
  EXPECT_GT(reached, 10000);  // similarities of 80 and more were really compared
  // The reach index of every built form: bit b in the cell of every relative direction
  // and angle of a neighbour that could meet one of b's (a relative direction from 10
  // below to 12 above it and an angle within 10 round the circle), and in every cell for a
  // descriptor that is not normal.
  const auto side = std::make_unique<Side>();
  const auto reach = std::make_unique<ReachIndex>();
  for (int round = 0; round < 200; ++round) {
    side->n = 1 + round % kMaxMinutiae;
    for (int b = 0; b < side->n; ++b) {
      side->descriptors[b] = RandomDescriptor(rng, b % 3 ? &side->descriptors[b - 1] : nullptr);
      side->type[b] = static_cast<int>(rng() % 2);
    }
    for (const Kernels* form : {&BaselineKernels(), &WideKernels()}) {
      form->build_reach_index(*side, *reach);
      ASSERT_EQ(reach->reached_by[kEmptyReachCell], 0u);
      for (int b = 0; b < side->n; ++b) {
        const uint64_t bit = uint64_t{1} << b;
        ASSERT_TRUE(reach->of_type[side->type[b]] & bit);
        ASSERT_FALSE(reach->of_type[1 - side->type[b]] & bit);
        const Descriptor& d = side->descriptors[b];
        if (!d.normal) {
          for (int c = 0; c < kEmptyReachCell; ++c)
            ASSERT_TRUE(reach->reached_by[c] & bit) << round << " " << b;
          continue;
        }
        for (int k = 0; k < d.count; ++k) {
          const int v = d.relative_direction[k];
          if (v < 1 || v > 359) continue;
          for (int r = std::max(v - 10, 0); r <= std::min(v + 12, 359); ++r)
            for (int g = d.relative_angle[k] - 10; g <= d.relative_angle[k] + 10; ++g) {
              const int angle = (g + 360) % 360;
              ASSERT_TRUE(reach->reached_by[ReachCell(r, angle)] & bit)
                  << round << " " << b << " " << r << " " << angle;
            }
        }
      }
    }
  }
}

// The whole core with every built form of the kernels against the core with the plain
// ones (every B descriptor a possible partner, every q of a pairing tested): score and
// every field of the alignment, over impressions of random fingers moved and turned a
// little, crowded fingers, and records of random bytes.
TEST(Kernels, CoreOfEveryFormIsThePlainCore) {
  using namespace detail;
  std::mt19937 rng(6018);
  std::vector<std::pair<Bytes, Bytes>> pairs;
  for (int k = 0; k < 150; ++k) {
    const auto finger = testing::RandomFinger(rng, 20, 20, 236, 268, 15 + k % 36);
    const int turn = static_cast<int>(rng() % 41) - 20;
    const auto moved = testing::Moved(finger, turn, 128, 144, static_cast<int>(rng() % 31) - 15,
                                      static_cast<int>(rng() % 31) - 15);
    pairs.emplace_back(MakeRecord(finger), MakeRecord(k % 4 ? moved : finger));
  }
  for (int k = 0; k < 100; ++k) {
    Bytes r[2];
    for (Bytes& x : r) {
      for (auto& b : x) b = static_cast<uint8_t>(rng());
      x[0] = 3;
      x[3] = static_cast<uint8_t>(rng() % 51);
    }
    pairs.emplace_back(r[0], r[1]);
  }
  int scored = 0;
  for (const auto& [a, b] : pairs) {
    Alignment plain;
    const int plain_score = MatchCoreWith(PlainKernels(), a.data(), b.data(), plain, nullptr);
    scored += plain_score > 0;
    for (const Kernels* form : {&BaselineKernels(), &WideKernels()}) {
      Alignment al;
      ASSERT_EQ(MatchCoreWith(*form, a.data(), b.data(), al, nullptr), plain_score);
      ASSERT_EQ(al.reference_a, plain.reference_a);
      ASSERT_EQ(al.reference_b, plain.reference_b);
      ASSERT_EQ(al.rotation, plain.rotation);
      ASSERT_EQ(al.pair_count, plain.pair_count);
      ASSERT_EQ(std::memcmp(al.pairs_a, plain.pairs_a, plain.pair_count), 0);
      ASSERT_EQ(std::memcmp(al.pairs_b, plain.pairs_b, plain.pair_count), 0);
    }
  }
  EXPECT_GT(scored, 100);  // the pairings and scores were really exercised
  // The pairing window of every polar direction holds the bucket of every direction
  // within 12 degrees round, or its copy past bucket 44, and stays within the buckets.
  for (int p_dir = 0; p_dir < 360; ++p_dir) {
    const int from = kPairingWindows.from_bucket[p_dir], to = kPairingWindows.to_bucket[p_dir];
    ASSERT_LE(to, kBuckets + kWrappedBuckets) << p_dir;
    for (int d = 0; d < 360; ++d) {
      if (CircularDifference(p_dir, d) > 12) continue;
      const int b = d >> kBucketShift;
      ASSERT_TRUE((from <= b && b < to) || (from <= b + kBuckets && b + kBuckets < to)) << p_dir << " " << d;
    }
  }
}

TEST(MatchCore, ConcurrentCallsGiveTheSerialScores) {
  std::mt19937 rng(99);
  std::vector<Bytes> records;
  for (int i = 0; i < 12; ++i) {
    const auto finger = testing::RandomFinger(rng, 30, 30, 226, 258);
    records.push_back(MakeRecord(finger));
    records.push_back(MakeRecord(testing::Moved(finger, i - 6, 128, 144, i, -i)));
  }
  const int n = static_cast<int>(records.size());
  std::vector<int> serial(n * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      Alignment alignment;
      serial[i * n + j] = MatchCore(records[i].data(), records[j].data(), alignment);
    }
  std::vector<int> parallel(n * n, -7);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int k = t; k < n * n; k += 4) {
        Alignment alignment;
        parallel[k] = MatchCore(records[k / n].data(), records[k % n].data(), alignment);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(parallel, serial);
}

TEST(MatchEntries, UnsealThresholdAndTexts) {
  std::mt19937 rng(21);
  const auto finger = testing::RandomFinger(rng, 30, 30, 226, 258);
  const Bytes plain_a = MakeRecord(finger);
  const Bytes plain_b = MakeRecord(testing::Moved(finger, 4, 128, 144, 3, 3));
  const Bytes a = testing::Sealed(plain_a), b = testing::Sealed(plain_b);
  Alignment alignment;
  const int core = MatchCore(plain_a.data(), plain_b.data(), alignment);
  ASSERT_GT(core, 80);

  const Bytes a_before = a;
  EXPECT_EQ(MatchRecords(a.data(), b.data(), 9), core);
  EXPECT_EQ(a, a_before);  // the caller's record is never unsealed in place
  EXPECT_EQ(MatchRecords(plain_a.data(), b.data(), 0), kMatchUnsealFailed);
  EXPECT_EQ(MatchRecords(a.data(), plain_b.data(), 0), kMatchUnsealFailed);
  EXPECT_EQ(MatchRecords(nullptr, b.data(), 0), kMatchUnsealFailed);

  // An empty record: score 0, which passes level 0 only.
  Bytes empty_plain = plain_b;
  empty_plain[3] = 51;
  const Bytes empty = testing::Sealed(empty_plain);
  EXPECT_EQ(MatchRecords(a.data(), empty.data(), 0), 0);
  EXPECT_EQ(MatchRecords(a.data(), empty.data(), 1), kMatchBelowThreshold);
  EXPECT_EQ(MatchRecords(a.data(), empty.data(), -1), kMatchBelowThreshold);

  char text_a[513], text_b[513];
  text::WriteNibbleText(a.data(), 256, text_a);
  text::WriteNibbleText(b.data(), 256, text_b);
  text_a[512] = text_b[512] = 0;
  EXPECT_EQ(MatchNibbleTexts(text_a, text_b, 5), core);
  EXPECT_EQ(MatchNibbleTexts(text_a, nullptr, 5), kMatchUnsealFailed);
  // A text cut short is not read past its end and does not unseal.
  EXPECT_EQ(MatchNibbleTexts("67", text_b, 0), kMatchUnsealFailed);
}

}  // namespace
}  // namespace vantrel::match
