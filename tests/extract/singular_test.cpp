#include "reader/extract/singular.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vantrel::extract {
namespace {

PointList Points(std::initializer_list<std::pair<int, int>> points) {
  PointList list;
  for (const auto& p : points) AddPoint(list, p.first, p.second);
  return list;
}

// Every block background except the block rectangle given.
ExtractionContext Foreground(int r0, int c0, int r1, int c1) {
  ExtractionContext context{};
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      const bool inside = r >= r0 && r <= r1 && c >= c0 && c <= c1;
      context.block_mask[r][c] = inside ? 0 : 1;
      context.block_direction[r][c] = inside ? 1 : 0;
    }
  }
  context.foreground_centre_x = 128;
  context.foreground_centre_y = 144;
  return context;
}

// Direction codes of a loop (sign +1) or a delta (sign -1) around the canvas point
// (px, py): the ridge orientation turns by half the angle around the point.
void SingularField(ExtractionContext& context, double px, double py, int sign) {
  constexpr double kPi = 3.14159265358979323846;
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      if (context.block_mask[r][c] != 0) continue;
      const double dx = 8 * c + 4 - px, dy = -(8 * r + 4 - py);  // y up for the angle
      double phi = std::atan2(dy, dx) * 180 / kPi;
      if (phi < 0) phi += 360;
      double orientation = std::fmod(sign * phi / 2 + 360, 180);
      const int sector = static_cast<int>(std::lround(orientation / 22.5)) % 8;
      context.block_direction[r][c] = static_cast<uint8_t>(sector + 1);
    }
  }
}

TEST(ClusterPoints, GroupsNeighbouringBlocksAndDropsSingles) {
  // 100,100 - 108,108 - 116,116 form one chain; 200,200 stands alone.
  const PointList candidates = Points({{100, 100}, {200, 200}, {116, 116}, {108, 108}});
  const PointList pairs = ClusterPoints(candidates, 2);
  ASSERT_EQ(pairs.count, 1);
  EXPECT_EQ(pairs.x[0], 108);
  EXPECT_EQ(pairs.y[0], 108);
  const PointList all = ClusterPoints(candidates, 1);
  ASSERT_EQ(all.count, 2);
  EXPECT_EQ(all.x[1], 200);
  // Blocks two apart are not linked; the mean truncates.
  const PointList apart = ClusterPoints(Points({{100, 100}, {116, 100}, {100, 109}}), 2);
  EXPECT_EQ(apart.count, 0);
  const PointList odd = ClusterPoints(Points({{100, 100}, {108, 100}, {108, 108}}), 2);
  ASSERT_EQ(odd.count, 1);
  EXPECT_EQ(odd.x[0], 105);  // 316 / 3
  EXPECT_EQ(odd.y[0], 102);  // 308 / 3
}

TEST(MergeClose, MergesBelowTheThresholdOnly) {
  PointList close = Points({{100, 100}, {120, 100}});
  MergeClose(close, 25);
  ASSERT_EQ(close.count, 1);
  EXPECT_EQ(close.x[0], 110);
  EXPECT_EQ(close.y[0], 100);

  PointList apart = Points({{100, 100}, {125, 100}});
  MergeClose(apart, 25);
  EXPECT_EQ(apart.count, 2);

  // The truncated distance of (17, 17) is 24: merged.
  PointList diagonal = Points({{100, 100}, {117, 117}});
  MergeClose(diagonal, 25);
  EXPECT_EQ(diagonal.count, 1);
}

TEST(MergeClose, MidpointGoesToTheEndAndPassesRepeat) {
  // 0 and 2 merge first; their midpoint (110, 100) then merges with 1 in a later pass.
  PointList list = Points({{100, 100}, {131, 100}, {120, 100}, {200, 200}});
  MergeClose(list, 25);
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(list.x[0], 200);
  EXPECT_EQ(list.x[1], 120);  // (131 + 110) / 2
  EXPECT_EQ(list.y[1], 100);
}

TEST(KeepNearestTwo, NearestFirstThenNextNearest) {
  PointList list = Points({{10, 10}, {100, 100}, {90, 90}, {200, 100}});
  KeepNearestTwo(list, 100, 105);
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(list.x[0], 100);
  EXPECT_EQ(list.x[1], 90);
  // Ties go to the earlier point.
  PointList ties = Points({{50, 60}, {60, 50}, {40, 50}});
  KeepNearestTwo(ties, 50, 50);
  EXPECT_EQ(ties.x[0], 50);
  EXPECT_EQ(ties.x[1], 60);
  // (192, 248) and (72, 256) are both at truncated distance 127 (exactly 127.6 and 127.1):
  // the earlier one is kept.
  PointList truncated = Points({{104, 64}, {192, 248}, {72, 256}});
  KeepNearestTwo(truncated, 124, 140);
  ASSERT_EQ(truncated.count, 2);
  EXPECT_EQ(truncated.x[0], 104);
  EXPECT_EQ(truncated.x[1], 192);
  EXPECT_EQ(truncated.y[1], 248);
}

TEST(AddPoint, StopsAtTheCapacity) {
  PointList list;
  for (int i = 0; i < kMaxSingularPoints; ++i) EXPECT_TRUE(AddPoint(list, i, i));
  EXPECT_FALSE(AddPoint(list, 1, 1));
  EXPECT_EQ(list.count, kMaxSingularPoints);
}

TEST(FindSingularPoints, TwoNeighbouringLoopBlocksGiveOneCore) {
  // Only blocks (10, 12) and (10, 13) have a fully foreground inner ring, and the
  // loop point between their centres lies inside both rings.
  ExtractionContext context = Foreground(9, 11, 11, 14);
  SingularField(context, 8 * 12 + 8, 8 * 10 + 4, +1);
  context.delta_x = 77;
  FindSingularPoints(context);
  EXPECT_EQ(context.core1_x, 104);
  EXPECT_EQ(context.core1_y, 84);
  EXPECT_EQ(context.core2_x, 0);
  EXPECT_EQ(context.core2_y, 0);
  EXPECT_EQ(context.delta_x, 0);
  EXPECT_EQ(context.delta_y, 0);
}

TEST(FindSingularPoints, OneLoopBlockAloneIsNoCore) {
  ExtractionContext context = Foreground(9, 11, 11, 13);
  SingularField(context, 8 * 12 + 4, 8 * 10 + 4, +1);
  context.core1_x = 5;  // stale values are cleared
  FindSingularPoints(context);
  EXPECT_EQ(context.core1_x, 0);
  EXPECT_EQ(context.core1_y, 0);
  EXPECT_EQ(context.delta_x, 0);
  EXPECT_EQ(context.delta_y, 0);
}

TEST(FindSingularPoints, DeltaFoundWithoutACore) {
  ExtractionContext context = Foreground(9, 11, 11, 14);
  SingularField(context, 8 * 12 + 8, 8 * 10 + 4, -1);
  FindSingularPoints(context);
  EXPECT_EQ(context.core1_x, 0);
  EXPECT_EQ(context.delta_x, 104);
  EXPECT_EQ(context.delta_y, 84);
}

// A loop at (64, 84) and a delta dx pixels to its right on one row of index blocks
// (block rows 9..11 only, so the curvature fallback has no room).
ExtractionContext LoopAndDelta(int dx) {
  ExtractionContext context = Foreground(9, 3, 11, 24);
  ExtractionContext loop = context, delta = context;
  SingularField(loop, 64, 84, +1);
  SingularField(delta, 64 + dx, 84, -1);
  for (int r = 9; r <= 11; ++r) {
    for (int c = 3; c <= 24; ++c) {
      // Orientations add: (code - 1) steps of 22.5 degrees, folded into 8 codes.
      const int sum = (loop.block_direction[r][c] - 1) + (delta.block_direction[r][c] - 1);
      context.block_direction[r][c] = static_cast<uint8_t>(sum % 8 + 1);
    }
  }
  return context;
}

TEST(FindSingularPoints, CoreNearADeltaGoesWithIt) {
  ExtractionContext near = LoopAndDelta(24);
  FindSingularPoints(near);
  EXPECT_EQ(near.core1_x, 0);
  EXPECT_EQ(near.core1_y, 0);
  EXPECT_EQ(near.delta_x, 0);
  EXPECT_EQ(near.delta_y, 0);

  ExtractionContext far = LoopAndDelta(40);
  FindSingularPoints(far);
  EXPECT_EQ(far.core1_x, 64);
  EXPECT_EQ(far.core1_y, 84);
  EXPECT_EQ(far.delta_x, 104);
  EXPECT_EQ(far.delta_y, 84);
}

TEST(FindSingularPoints, UniformFieldGivesNothing) {
  ExtractionContext context = Foreground(0, 0, 35, 31);
  FindSingularPoints(context);
  EXPECT_EQ(context.core1_x, 0);
  EXPECT_EQ(context.core2_x, 0);
  EXPECT_EQ(context.delta_x, 0);
  EXPECT_EQ(context.delta_y, 0);
}

TEST(FindSingularPoints, CurvatureFallbackSetsTheMarker) {
  // Columns of codes 1 and 5 in turn: every inner ring sums to 0 (no index point), but
  // each outer ring turns by 32 and each 3 x 3 window by 288. All 780 blocks of the
  // search window tie; the first 100 in scan order are kept and form one cluster.
  ExtractionContext context = Foreground(0, 0, 35, 31);
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) context.block_direction[r][c] = c % 2 ? 5 : 1;
  }
  FindSingularPoints(context);
  EXPECT_EQ(context.delta_x, 0);
  EXPECT_EQ(context.delta_y, 2);
  EXPECT_EQ(context.core1_x, 124);
  EXPECT_EQ(context.core1_y, 39);
  EXPECT_EQ(context.core2_x, 0);
  EXPECT_EQ(context.core2_y, 0);
}

TEST(FindSingularPoints, WeakCurvatureGivesNoEstimate) {
  // One block of code 2 in a field of code 1: outer rings through it turn by 2, so no
  // 3 x 3 window exceeds 18, far below the 33 an estimate needs.
  ExtractionContext context = Foreground(0, 0, 35, 31);
  context.block_direction[18][16] = 2;
  FindSingularPoints(context);
  EXPECT_EQ(context.core1_x, 0);
  EXPECT_EQ(context.delta_x, 0);
  EXPECT_EQ(context.delta_y, 0);
}

}  // namespace
}  // namespace vantrel::extract
