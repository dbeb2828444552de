// The compiler-built angle table and the fast rescale of AngleOf against the plain
// definition: atan2 at run time, and the rescale by a 64-bit division.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "reader/record/angle.h"

namespace vantrel::record {
namespace {

// T[i][j] = atan2(j, i) in whole degrees, halves rounded up, worked out at run time.
std::vector<uint8_t> RuntimeTable() {
  std::vector<uint8_t> t(kAngleTableSide * kAngleTableSide);
  constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;
  for (int i = 0; i < kAngleTableSide; ++i) {
    for (int j = 0; j < kAngleTableSide; ++j) {
      uint8_t v = 0;
      if (i == 0 && j != 0) {
        v = 90;
      } else if (i != 0 && j != 0) {
        const double degrees =
            std::atan2(static_cast<double>(j), static_cast<double>(i)) * kDegreesPerRadian;
        v = static_cast<uint8_t>(std::floor(degrees + 0.5));
      }
      t[i * kAngleTableSide + j] = v;
    }
  }
  return t;
}

// AngleOf as defined: the rescale of long vectors by a division, then the table.
int ReferenceAngle(const std::vector<uint8_t>& table, int dy, int dx) {
  if (dy == 0) return dx >= 0 ? 0 : 180;
  if (dx == 0) return dy > 0 ? 90 : 270;
  int64_t a = std::llabs(static_cast<int64_t>(dx));
  int64_t b = std::llabs(static_cast<int64_t>(dy));
  const int64_t m = a > b ? a : b;
  if (m >= kAngleTableSide) {
    a = (a * 127 + m / 2) / m;
    b = (b * 127 + m / 2) / m;
  }
  const int t = table[a * kAngleTableSide + b];
  if (dx > 0 && dy > 0) return t;
  if (dx < 0 && dy > 0) return 180 - t;
  if (dx < 0 && dy < 0) return t + 180;
  return t == 0 ? 0 : 360 - t;
}

TEST(AngleTable, CompilerBuiltTableEqualsTheRunTimeOne) {
  const std::vector<uint8_t> table = RuntimeTable();
  for (int i = 0; i < kAngleTableSide; ++i)
    for (int j = 0; j < kAngleTableSide; ++j)
      ASSERT_EQ(kAngleTable.t[i][j], table[i * kAngleTableSide + j]) << i << " " << j;
}

TEST(AngleTable, ReciprocalsGiveTheExactQuotients) {
  // Every divisor the rescale takes by multiplication, every numerator it can meet.
  for (int m = kAngleTableSide; m < kAngleReciprocals; ++m) {
    const uint64_t r = kAngleReciprocalTable.r[m];
    for (int a = 0; a <= m; ++a) {
      const uint64_t n = static_cast<uint64_t>(a) * 127 + m / 2;
      ASSERT_EQ((n * r) >> 32, n / m) << a << " / " << m;
    }
  }
}

TEST(AngleOf, EqualsTheDivisionRescaleAroundTheReciprocalRange) {
  const std::vector<uint8_t> table = RuntimeTable();
  // Both sides of 128 and of 1024, where the rescale changes its way of dividing.
  for (int dy = -1100; dy <= 1100; ++dy)
    for (int dx = -1100; dx <= 1100; dx += (std::abs(dy) < 140 || std::abs(dy) > 1000) ? 1 : 37)
      ASSERT_EQ(AngleOf(dy, dx), ReferenceAngle(table, dy, dx)) << dy << " " << dx;
  for (int dx = -1100; dx <= 1100; ++dx)
    for (int dy = -1100; dy <= 1100; dy += 37)
      ASSERT_EQ(AngleOf(dy, dx), ReferenceAngle(table, dy, dx)) << dy << " " << dx;
}

TEST(AngleOf, EqualsTheDivisionRescaleForAnyInts) {
  const std::vector<uint8_t> table = RuntimeTable();
  std::mt19937 random(20240611);
  for (int k = 0; k < 200000; ++k) {
    // Magnitudes of every size, down to a few units.
    const int dy = static_cast<int>(random()) >> (random() % 32);
    const int dx = static_cast<int>(random()) >> (random() % 32);
    ASSERT_EQ(AngleOf(dy, dx), ReferenceAngle(table, dy, dx)) << dy << " " << dx;
  }
  const int extremes[] = {0, 1, -1, 127, -127, 128, -128, 1023, -1023, 1024, -1024,
                          2147483647, -2147483647 - 1};
  for (int dy : extremes)
    for (int dx : extremes)
      EXPECT_EQ(AngleOf(dy, dx), ReferenceAngle(table, dy, dx)) << dy << " " << dx;
}

TEST(AngleOfShort, EqualsAngleOfBelow128) {
  for (int dy = -127; dy <= 127; ++dy)
    for (int dx = -127; dx <= 127; ++dx)
      ASSERT_EQ(AngleOfShort(dy, dx), AngleOf(dy, dx)) << dy << " " << dx;
}

}  // namespace
}  // namespace vantrel::record
