#include <gtest/gtest.h>

#include <cmath>

#include "reader/record/angle.h"

namespace vantrel::record {
namespace {

TEST(AngleOf, AxesAndDiagonals) {
  // Arguments are (dy, dx).
  EXPECT_EQ(AngleOf(0, 1), 0);
  EXPECT_EQ(AngleOf(1, 0), 90);
  EXPECT_EQ(AngleOf(0, -1), 180);
  EXPECT_EQ(AngleOf(-1, 0), 270);
  EXPECT_EQ(AngleOf(1, 1), 45);
  EXPECT_EQ(AngleOf(1, -1), 135);
  EXPECT_EQ(AngleOf(-1, -1), 225);
  EXPECT_EQ(AngleOf(-1, 1), 315);
  EXPECT_EQ(AngleOf(0, 0), 0);
  EXPECT_EQ(AngleOf(0, -500), 180);
}

TEST(AngleOf, RoundsHalfUpFromTheTable) {
  // atan2(1, 2) = 26.565 -> 27; atan2(1, 3) = 18.43 -> 18.
  EXPECT_EQ(AngleOf(1, 2), 27);
  EXPECT_EQ(AngleOf(1, 3), 18);
  EXPECT_EQ(AngleOf(2, -1), 180 - 63);
  EXPECT_EQ(AngleOf(-1, -3), 18 + 180);
  EXPECT_EQ(AngleOf(-1, 3), 360 - 18);
}

TEST(AngleOf, LongVectorsAreRescaled) {
  // 1000 x 500 rescales to 127 x 64: atan2(64, 127) = 26.74 -> 27.
  EXPECT_EQ(AngleOf(500, 1000), 27);
  // A nearly horizontal long vector below the axis rescales b to 0: 360 - 0 must give 0.
  EXPECT_EQ(AngleOf(-1, 1000), 0);
  EXPECT_EQ(AngleOf(1, -1000), 180);
  // A nearly vertical one: a rescales to 0, T[0][b] = 90.
  EXPECT_EQ(AngleOf(1000, 1), 90);
  EXPECT_EQ(AngleOf(-1000, -1), 270);
  // Extreme inputs do not overflow.
  EXPECT_EQ(AngleOf(2147483647, 2147483647), 45);
  EXPECT_EQ(AngleOf(-2147483647 - 1, 1), 270);
}

TEST(AngleOf, StaysInRangeAndNearTheTrueAngle) {
  for (int dy = -300; dy <= 300; dy += 7) {
    for (int dx = -300; dx <= 300; dx += 5) {
      const int a = AngleOf(dy, dx);
      ASSERT_GE(a, 0);
      ASSERT_LT(a, 360);
      if (dx == 0 && dy == 0) continue;
      double truth = std::atan2(dy, dx) * 180.0 / 3.14159265358979323846;
      if (truth < 0) truth += 360.0;
      double error = std::fabs(truth - a);
      if (error > 180.0) error = 360.0 - error;
      ASSERT_LE(error, 1.0) << dy << " " << dx;
    }
  }
}

TEST(CircularMean, WrapsAroundZero) {
  CircularMeanResult r = CircularMean(350, 10);
  EXPECT_EQ(r.mean, 0);
  EXPECT_EQ(r.difference, 20);
  r = CircularMean(10, 350);
  EXPECT_EQ(r.mean, 0);
  EXPECT_EQ(r.difference, 20);
  r = CircularMean(90, 270);
  EXPECT_EQ(r.mean, 180);
  EXPECT_EQ(r.difference, 180);
  // Mean below 180 on a wrap: 100 and 300 -> (400 / 2) = 200 -> 20, difference 160.
  r = CircularMean(100, 300);
  EXPECT_EQ(r.mean, 20);
  EXPECT_EQ(r.difference, 160);
  // 1 and 359 on the other side: (360 / 2) = 180 -> 0.
  r = CircularMean(1, 359);
  EXPECT_EQ(r.mean, 0);
  EXPECT_EQ(r.difference, 2);
  // Integer division of the plain mean.
  r = CircularMean(10, 21);
  EXPECT_EQ(r.mean, 15);
  EXPECT_EQ(r.difference, 11);
  // 300 and 50: c = 250, half = 175 -> 355.
  r = CircularMean(300, 50);
  EXPECT_EQ(r.mean, 355);
  EXPECT_EQ(r.difference, 110);
}

TEST(AngleDifference, MatchesCircularMeanDifference) {
  EXPECT_EQ(AngleDifference(350, 10), 20);
  EXPECT_EQ(AngleDifference(0, 180), 180);
  EXPECT_EQ(AngleDifference(0, 181), 179);
  EXPECT_EQ(AngleDifference(45, 45), 0);
  for (int a = 0; a < 360; a += 13)
    for (int b = 0; b < 360; b += 11) ASSERT_EQ(AngleDifference(a, b), CircularMean(a, b).difference);
}

}  // namespace
}  // namespace vantrel::record
