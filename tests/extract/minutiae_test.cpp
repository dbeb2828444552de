#include "reader/extract/minutiae.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <random>
#include <vector>

#include "reader/extract/image_quality.h"
#include "reader/extract/image_quality_sse2.h"
#include "reader/extract/skeleton.h"
#include "reader/record/record.h"

namespace vantrel::extract {
namespace {

using Canvas = std::vector<uint8_t>;

Canvas Blank() { return Canvas(kCanvasBytes, 0); }

void Set(Canvas& c, int x, int y) { c[y * kCanvasWidth + x] = 1; }

void Row(Canvas& c, int x0, int x1, int y) {
  for (int x = x0; x <= x1; ++x) Set(c, x, y);
}

// All blocks foreground, all codes 1.
ExtractionContext Foreground() {
  ExtractionContext context{};
  for (auto& row : context.block_direction) {
    for (auto& v : row) v = 1;
  }
  return context;
}

struct Stored {
  int x, y, direction, reliability, type;
};

std::vector<Stored> StoredMinutiae(const uint8_t* record) {
  std::vector<Stored> out;
  for (int i = 0; i < record[3] && i < 50; ++i) {
    const uint8_t* p = record + 56 + 4 * i;
    const uint32_t w = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (p[2] << 8) | p[3];
    out.push_back({static_cast<int>(w >> 23), static_cast<int>((w >> 14) & 0x1FF),
                   static_cast<int>((w >> 5) & 0x1FF), static_cast<int>((w >> 1) & 0xF),
                   static_cast<int>(w & 1)});
  }
  return out;
}

bool HasMinutiaAt(const std::vector<Stored>& list, int x, int y) {
  return std::any_of(list.begin(), list.end(), [&](const Stored& m) { return m.x == x && m.y == y; });
}

// Isolated horizontal segments far from each other: two clean endings each.
void Segments(Canvas& c, int count, int length, int first_row = 20) {
  for (int s = 0; s < count; ++s) {
    const int x0 = 10 + 46 * (s % 5), y = first_row + 25 * (s / 5);
    Row(c, x0, x0 + length - 1, y);
  }
}

TEST(ThinPairs, ClearsTheDiagonalOfEachAdjacentPair) {
  EXPECT_FALSE(ThinPairs(0b00010101).found);  // 0, 2, 4: no two adjacent
  EXPECT_EQ(ThinPairs(0b00010101).code, 0b00010101);
  const PairResult right_upright = ThinPairs(0b00010011);  // 0, 1, 4
  EXPECT_TRUE(right_upright.found);
  EXPECT_EQ(right_upright.code, 0b00010001);
  // 7 and 0 wrap round the ring; 7 is the diagonal.
  EXPECT_EQ(ThinPairs(0b10000001).code, 0b00000001);
  // 1, 2, 3: pairs (1, 2) and (2, 3) both clear their diagonal.
  EXPECT_EQ(ThinPairs(0b00001110).code, 0b00000100);
  EXPECT_EQ(ThinPairs(0xFF).code, 0b01010101);
}

TEST(DirectionIndex, RoundedLogarithm) {
  for (int k = 0; k < 8; ++k) EXPECT_EQ(DirectionIndex(static_cast<uint8_t>(1 << k)), k);
  EXPECT_EQ(DirectionIndex(0), 0);
  EXPECT_EQ(DirectionIndex(3), 2);    // log2 3 = 1.58
  EXPECT_EQ(DirectionIndex(5), 2);    // 2.32
  EXPECT_EQ(DirectionIndex(6), 3);    // 2.58
  EXPECT_EQ(DirectionIndex(181), 7);  // 7.4998
  EXPECT_EQ(DirectionIndex(182), 8);  // 7.5078
  EXPECT_EQ(DirectionIndex(255), 8);
}

TEST(NeighbourCode, BitsFollowTheDirectionIndicesAndTheCanvasEndsAreClear) {
  Canvas c = Blank();
  Set(c, 50, 50);  // centre, not counted
  Set(c, 51, 50);  // 0 right
  Set(c, 50, 49);  // 2 up
  Set(c, 49, 51);  // 5 down-left
  Neighbours n = NeighbourCode(c.data(), 50, 50);
  EXPECT_EQ(n.code, 0b00100101);
  EXPECT_EQ(n.count, 3);
  c[1] = 1;
  c[kCanvasWidth] = 1;
  n = NeighbourCode(c.data(), 0, 0);
  EXPECT_EQ(n.code, 0b01000001);
  c[kCanvasBytes - 2] = 1;
  n = NeighbourCode(c.data(), kCanvasWidth - 1, kCanvasHeight - 1);
  EXPECT_EQ(n.code, 0b00010000);
  EXPECT_EQ(n.count, 1);
}

// Every position of a random canvas, edges and corners included, against the eight
// neighbours read one by one; only bit 0 of a byte counts.
TEST(NeighbourCode, EveryPositionMatchesTheNeighboursOneByOne) {
  std::mt19937 rng(23);
  Canvas c = Blank();
  for (auto& v : c) v = static_cast<uint8_t>(rng() % 4);
  for (int y = 0; y < kCanvasHeight; ++y) {
    for (int x = 0; x < kCanvasWidth; ++x) {
      int code = 0;
      for (int k = 0; k < 8; ++k) {
        const int nx = x + kDirectionDx[k], ny = y + kDirectionDy[k];
        const bool inside = nx >= 0 && nx < kCanvasWidth && ny >= 0 && ny < kCanvasHeight;
        if (inside && (c[ny * kCanvasWidth + nx] & 1)) code |= 1 << k;
      }
      const Neighbours n = NeighbourCode(c.data(), x, y);
      ASSERT_EQ(n.code, code) << x << "," << y;
      ASSERT_EQ(n.count, std::popcount(static_cast<unsigned>(code))) << x << "," << y;
    }
  }
}

TEST(TraceRidge, FollowsAStraightRidgeUpToTheLimit) {
  Canvas c = Blank();
  Row(c, 50, 80, 100);
  const TraceResult t = TraceRidge(c.data(), 50, 100, 0, 12);
  EXPECT_EQ(t.x, 62);
  EXPECT_EQ(t.y, 100);
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.steps, 12);
  EXPECT_EQ(t.direction, 0);
}

TEST(TraceRidge, StopsAtAnEndAndAtAFork) {
  Canvas c = Blank();
  Row(c, 50, 55, 100);
  TraceResult t = TraceRidge(c.data(), 50, 100, 0, 12);
  EXPECT_EQ(t.x, 55);
  EXPECT_EQ(t.result, 1);
  EXPECT_EQ(t.steps, 5);
  EXPECT_EQ(t.direction, 10);

  // A ridge running right that splits into an up-right and a down-right branch.
  Canvas y = Blank();
  Row(y, 50, 60, 100);
  for (int i = 1; i <= 6; ++i) {
    Set(y, 60 + i, 100 - i);
    Set(y, 60 + i, 100 + i);
  }
  t = TraceRidge(y.data(), 50, 100, 0, 30);
  EXPECT_EQ(t.x, 60);
  EXPECT_EQ(t.y, 100);
  EXPECT_EQ(t.result, 2);
  EXPECT_EQ(t.steps, 10);
}

TEST(TraceRidge, TurnsWithTheRidgeAndThinsCorners) {
  // Right along row 100, then an L-corner up: the corner pixel's two neighbours
  // (up and up-left of the next) form a pair that ThinPairs reduces to one.
  Canvas c = Blank();
  Row(c, 50, 60, 100);
  for (int y = 90; y < 100; ++y) Set(c, 60, y);
  const TraceResult t = TraceRidge(c.data(), 50, 100, 0, 40);
  EXPECT_EQ(t.x, 60);
  EXPECT_EQ(t.y, 90);
  EXPECT_EQ(t.result, 1);
  EXPECT_EQ(t.steps, 20);
}

TEST(TraceRidge, AStoppedTraceDoesNotMove) {
  Canvas c = Blank();
  Row(c, 50, 80, 100);
  const TraceResult t = TraceRidge(c.data(), 50, 100, 10, 12);
  EXPECT_EQ(t.x, 50);
  EXPECT_EQ(t.y, 100);
  EXPECT_EQ(t.direction, 10);
  EXPECT_EQ(t.result, 12);
  EXPECT_EQ(t.steps, 2);
  // A first step off the canvas ends the ridge where it stands.
  const TraceResult edge = TraceRidge(c.data(), 0, 0, 3, 12);
  EXPECT_EQ(edge.x, 0);
  EXPECT_EQ(edge.result, 1);
  EXPECT_EQ(edge.steps, 0);
}

// One walk to several limits against separate traces, from every kind of start on a
// thinned random canvas: along ridges, off them, at the canvas edges, every direction.
TEST(TraceRidge, OneWalkToSeveralLimitsMatchesSeparateTraces) {
  std::mt19937 rng(29);
  Canvas c = Blank();
  for (auto& v : c) v = static_cast<uint8_t>(rng() % 3 == 0);
  Thin(c.data());
  const int limit_sets[2][6] = {{8, 12, 24, 36, 48, 60}, {1, 2, 15, 16, 30, 31}};
  int stopped = 0, reached = 0;
  for (int start = 0; start < 3000; ++start) {
    const int x = start < 100 ? (start % 2) * (kCanvasWidth - 1) : static_cast<int>(rng() % kCanvasWidth);
    const int y = start < 100 ? start * 2 : static_cast<int>(rng() % kCanvasHeight);
    const int direction = static_cast<int>(rng() % 10);
    for (const auto& limits : limit_sets) {
      TraceResult walk[6];
      TraceRidgeTo(c.data(), x, y, direction, limits, 6, walk);
      for (int j = 0; j < 6; ++j) {
        const TraceResult t = TraceRidge(c.data(), x, y, direction, limits[j]);
        ASSERT_EQ(walk[j].x, t.x) << x << "," << y << " " << direction << " " << limits[j];
        ASSERT_EQ(walk[j].y, t.y) << x << "," << y << " " << direction << " " << limits[j];
        ASSERT_EQ(walk[j].direction, t.direction) << x << "," << y << " " << limits[j];
        ASSERT_EQ(walk[j].result, t.result) << x << "," << y << " " << limits[j];
        ASSERT_EQ(walk[j].steps, t.steps) << x << "," << y << " " << limits[j];
        (t.result == 0 ? reached : stopped) += 1;
      }
    }
  }
  EXPECT_GT(stopped, 1000);
  EXPECT_GT(reached, 1000);
}

// The SSE2 sum of direction differences against the plain one: codes 0..8 with runs
// and background as real fields have, and any byte at all, including every edge block.
TEST(ImageQuality, BothFormsOfTheDifferenceSumAgree) {
#if !defined(VANTREL_SSE2)
  GTEST_SKIP() << "built without the SSE2 forms";
#else
  std::mt19937 rng(31);
  for (int round = 0; round < 200; ++round) {
    ExtractionContext context{};
    for (auto& row : context.block_direction) {
      for (auto& v : row) {
        v = static_cast<uint8_t>(round % 4 == 3 ? rng() % 256 : rng() % 3 == 0 ? 0 : rng() % 9);
      }
    }
    ASSERT_EQ(sse2::DirectionDifferences(context), plain::DirectionDifferences(context)) << round;
  }
#endif
}

TEST(ImageQuality, FromCodeDifferencesPerForegroundBlock) {
  ExtractionContext uniform = Foreground();
  EXPECT_EQ(ImageQuality(uniform), 120);  // q = 0
  ExtractionContext stripes = Foreground();
  for (auto& row : stripes.block_direction) {
    for (int c = 0; c < kBlockColumns; ++c) row[c] = c % 2 ? 2 : 1;
  }
  // Each of the 34 x 30 inner blocks differs by 1 from its 6 side-column neighbours:
  // S = 6120, q = 16 x 6120 / 1152 = 85, G = |170 - 120| = 50.
  EXPECT_EQ(ImageQuality(stripes), 50);
  // Codes 1 and 8 are one step apart, not seven.
  for (auto& row : stripes.block_direction) {
    for (int c = 0; c < kBlockColumns; ++c) row[c] = c % 2 ? 8 : 1;
  }
  EXPECT_EQ(ImageQuality(stripes), 50);
  ExtractionContext empty = Foreground();
  for (auto& row : empty.block_mask) {
    for (auto& v : row) v = 1;
  }
  EXPECT_EQ(ImageQuality(empty), 120);  // no foreground: q = 0
}

TEST(ExtractMinutiae, TenEndingCandidatesFailElevenPass) {
  uint8_t record[256];
  // Five segments: 10 endings, plus bifurcations that do not help: squares split by a
  // middle bar fork twice each and end nowhere.
  Canvas ten = Blank();
  Segments(ten, 5, 20);
  for (int i = 0; i < 6; ++i) {
    const int x = 10 + 35 * i, y = 180;
    Row(ten, x, x + 20, y);
    Row(ten, x, x + 20, y + 20);
    for (int k = y; k <= y + 20; ++k) {
      Set(ten, x, k);
      Set(ten, x + 10, k);
      Set(ten, x + 20, k);
    }
  }
  std::fill(std::begin(record), std::end(record), 0xAA);
  EXPECT_EQ(ExtractMinutiae(ten.data(), record, Foreground()), kMinutiaeTooFewEndings);
  EXPECT_EQ(record[2], 0);
  EXPECT_EQ(record[3], 0);
  for (int i = 0; i < 256; ++i) {
    if (i != 2 && i != 3) {
      ASSERT_EQ(record[i], 0xAA) << "byte " << i;
    }
  }

  // Four segments and a fork: 11 endings.
  Canvas eleven = Blank();
  Segments(eleven, 4, 20);
  Row(eleven, 100, 120, 150);
  for (int k = 1; k <= 15; ++k) {
    Set(eleven, 120 + k, 150 - k);
    Set(eleven, 120 + k, 150 + k);
  }
  std::fill(std::begin(record), std::end(record), 0xAA);
  EXPECT_EQ(ExtractMinutiae(eleven.data(), record, Foreground()), kMinutiaeOk);
  EXPECT_EQ(record[0], 3);
  EXPECT_EQ(record[1], 1);
}

TEST(ExtractMinutiae, FewerThanFiveSurvivorsFail) {
  // Eleven candidates, but all near background blocks: border rejection drops them.
  Canvas c = Blank();
  Segments(c, 6, 20);
  ExtractionContext context = Foreground();
  for (auto& row : context.block_mask) {
    for (auto& v : row) v = 1;
  }
  uint8_t record[256] = {};
  record[2] = 9;
  EXPECT_EQ(ExtractMinutiae(c.data(), record, context), kMinutiaeTooFewFinal);
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(record[2], 0);
}

TEST(ExtractMinutiae, SixtyFinalMinutiaeKeepFiftyInReliabilityOrder) {
  // 30 segments of lengths 10, 15, 21 in turn: their ends are 9, 14 and 20 pixels from
  // the only other candidate near them, giving reliabilities 13, 14 and 15. The
  // 10-pixel ends then fail the 12-step trace check and are stored as 3 x 13 / 4 = 9.
  Canvas c = Blank();
  struct End { int x, y, pre; };
  std::vector<End> ends;  // in scan order
  const int lengths[3] = {10, 15, 21};
  const int reliability[3] = {13, 14, 15};
  for (int s = 0; s < 30; ++s) {
    const int x0 = 10 + 46 * (s % 5), y = 20 + 25 * (s / 5), l = lengths[s % 3];
    Row(c, x0, x0 + l - 1, y);
    ends.push_back({x0, y, reliability[s % 3]});
    ends.push_back({x0 + l - 1, y, reliability[s % 3]});
  }
  uint8_t record[256] = {};
  ASSERT_EQ(ExtractMinutiae(c.data(), record, Foreground()), kMinutiaeOk);
  EXPECT_EQ(record[3], 50);
  std::stable_sort(ends.begin(), ends.end(), [](const End& a, const End& b) { return a.pre > b.pre; });
  const std::vector<Stored> stored = StoredMinutiae(record);
  ASSERT_EQ(stored.size(), 50u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(stored[i].x, ends[i].x) << i;
    EXPECT_EQ(stored[i].y, ends[i].y) << i;
    EXPECT_EQ(stored[i].type, 0);
    EXPECT_EQ(stored[i].reliability, ends[i].pre == 13 ? 9 : ends[i].pre) << i;
    // Left ends look along their ridge to the right (0), right ends to the left.
    const bool left = std::any_of(ends.begin(), ends.end(), [&](const End& e) {
      return e.y == stored[i].y && e.x == stored[i].x && c[e.y * kCanvasWidth + e.x - 1] == 0;
    });
    EXPECT_EQ(stored[i].direction, left ? 0 : 180) << i;
  }
}

TEST(ExtractMinutiae, BrokenRidgeEndsFacingEachOtherAreRemoved) {
  for (bool bridged : {false, true}) {
    Canvas c = Blank();
    Segments(c, 6, 20, 150);
    Row(c, 40, 69, 40);   // ridge running left from its end at 69
    Row(c, 79, 108, 40);  // ridge running right from its end at 79
    if (bridged) Set(c, 74, 40);
    uint8_t record[256] = {};
    ASSERT_EQ(ExtractMinutiae(c.data(), record, Foreground()), kMinutiaeOk);
    const std::vector<Stored> stored = StoredMinutiae(record);
    EXPECT_EQ(HasMinutiaAt(stored, 69, 40), bridged);
    EXPECT_EQ(HasMinutiaAt(stored, 79, 40), bridged);
    EXPECT_TRUE(HasMinutiaAt(stored, 40, 40));
    EXPECT_TRUE(HasMinutiaAt(stored, 108, 40));
    // Quality: G = 120 for a uniform field. Each survivor adds (all survivors) x 100 /
    // (raw candidates within 48 px); the 16 raw endings have 3 to 6 such neighbours.
    // Bridged: 16 survivors, sum 5971, M = 373; broken: 14 survivors, sum 4524, M = 323.
    EXPECT_EQ(record[2], bridged ? (120 + 373) / 2 : (120 + 323) / 2);
  }
}

TEST(ExtractMinutiae, BifurcationNeedsThreeSeparateNeighbours) {
  // A T: the junction's neighbours are right, up and left (0, 2, 4).
  Canvas t = Blank();
  Segments(t, 6, 20);
  Row(t, 100, 140, 200);
  for (int y = 180; y < 200; ++y) Set(t, 120, y);
  uint8_t record[256] = {};
  ASSERT_EQ(ExtractMinutiae(t.data(), record, Foreground()), kMinutiaeOk);
  std::vector<Stored> stored = StoredMinutiae(record);
  auto bifurcation_at = [&](int x, int y) {
    return std::any_of(stored.begin(), stored.end(),
                       [&](const Stored& m) { return m.x == x && m.y == y && m.type == 1; });
  };
  EXPECT_TRUE(bifurcation_at(120, 200));

  // Right, up-right and left (0, 1, 4): 0 and 1 touch, so not this pixel.
  Canvas v = Blank();
  Segments(v, 6, 20);
  Row(v, 100, 140, 200);
  for (int k = 1; k <= 20; ++k) Set(v, 120 + k, 200 - k);
  ASSERT_EQ(ExtractMinutiae(v.data(), record, Foreground()), kMinutiaeOk);
  stored = StoredMinutiae(record);
  EXPECT_FALSE(bifurcation_at(120, 200));
}

// A fork at (jx, jy): a stem to the left, an arm to the right of the given length and
// a branch that leaves upwards and runs off up and to the right.
void Fork(Canvas& c, int jx, int jy, int stem, int arm, int branch) {
  Row(c, jx - stem, jx + arm, jy);
  Set(c, jx, jy - 1);
  for (int k = 1; k <= branch; ++k) Set(c, jx + k, jy - 1 - k);
}

TEST(ExtractMinutiae, ShortBranchesAndSpursAreRemoved) {
  Canvas c = Blank();
  Segments(c, 5, 20);
  Fork(c, 60, 150, 40, 40, 35);   // a clean fork: kept
  Fork(c, 160, 240, 35, 5, 35);   // its right arm ends after 5 pixels
  uint8_t record[256] = {};
  ASSERT_EQ(ExtractMinutiae(c.data(), record, Foreground()), kMinutiaeOk);
  const std::vector<Stored> stored = StoredMinutiae(record);
  auto type_at = [&](int x, int y) {
    for (const Stored& m : stored) {
      if (m.x == x && m.y == y) return m.type;
    }
    return -1;
  };
  EXPECT_EQ(type_at(60, 150), 1);
  EXPECT_EQ(type_at(160, 240), -1);  // branch check: a branch ends within 9 steps
  EXPECT_EQ(type_at(165, 240), -1);  // spur rule: its ridge forks within 8 steps
  EXPECT_EQ(type_at(125, 240), 0);
  EXPECT_EQ(type_at(20, 150), 0);
}

TEST(ExtractMinutiae, RecordCarriesCoresMarkerAndMask) {
  Canvas c = Blank();
  Segments(c, 8, 20);
  ExtractionContext context = Foreground();
  context.core1_x = 100;
  context.core1_y = 85;
  context.core2_x = 60;
  context.core2_y = 60;
  uint8_t record[256] = {};
  ASSERT_EQ(ExtractMinutiae(c.data(), record, context), kMinutiaeOk);
  EXPECT_EQ(record[40], 50);
  EXPECT_EQ(record[41], 42);  // halving truncates
  EXPECT_EQ(record[42], 30);
  EXPECT_EQ(record[43], 30);
  EXPECT_EQ(record[4], 0);
  EXPECT_EQ(record[5], 0);

  context.delta_x = 0;
  context.delta_y = 2;
  ASSERT_EQ(ExtractMinutiae(c.data(), record, context), kMinutiaeOk);
  EXPECT_EQ(record[42], 0);
  EXPECT_EQ(record[43], 1);
}

TEST(ExtractMinutiae, NullArguments) {
  Canvas c = Blank();
  uint8_t record[256] = {};
  EXPECT_EQ(ExtractMinutiae(nullptr, record, Foreground()), kMinutiaeNullArgument);
  EXPECT_EQ(ExtractMinutiae(c.data(), nullptr, Foreground()), kMinutiaeNullArgument);
}

// Hostile skeletons: far more candidates than the lists hold. Must stay in bounds (the
// sanitizer build checks) and give a well-formed answer.
TEST(ExtractMinutiae, NoisySkeletonsStayWithinTheCandidateLists) {
  std::mt19937 random(7);
  std::vector<Canvas> canvases;
  Canvas noise = Blank();
  for (auto& v : noise) v = (random() % 2) ? 1 : 0;
  canvases.push_back(noise);
  Canvas dashes = Blank();  // 2-pixel dashes: two endings each, thousands in all
  for (int y = 0; y < kCanvasHeight; y += 3) {
    for (int x = 0; x + 1 < kCanvasWidth; x += 4) {
      Set(dashes, x, y);
      Set(dashes, x + 1, y);
    }
  }
  canvases.push_back(dashes);
  Canvas forks = Blank();  // bifurcation candidates everywhere
  for (int y = 1; y + 1 < kCanvasHeight; y += 4) {
    for (int x = 1; x + 1 < kCanvasWidth; x += 4) {
      Set(forks, x, y);
      Set(forks, x + 1, y);
      Set(forks, x - 1, y);
      Set(forks, x, y - 1);
    }
  }
  canvases.push_back(forks);
  Canvas full(kCanvasBytes, 0xFF);
  canvases.push_back(full);
  for (const Canvas& c : canvases) {
    ExtractionContext context = Foreground();
    for (auto& row : context.block_direction) {
      for (auto& v : row) v = static_cast<uint8_t>(random() % 9);
    }
    uint8_t record[256] = {};
    const int result = ExtractMinutiae(c.data(), record, context);
    ASSERT_TRUE(result == kMinutiaeOk || result == kMinutiaeTooFewEndings ||
                result == kMinutiaeTooFewFinal);
    if (result != kMinutiaeOk) continue;
    EXPECT_LE(record[3], 50);
    for (const Stored& m : StoredMinutiae(record)) {
      EXPECT_GE(m.x, 8);
      EXPECT_LE(m.x, 247);
      EXPECT_GE(m.y, 8);
      EXPECT_LE(m.y, 279);
      EXPECT_LT(m.direction, 360);
    }
  }
}

}  // namespace
}  // namespace vantrel::extract
