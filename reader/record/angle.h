// Table-driven vector angles and circular means, shared by extraction and matching.
#pragma once

#include <cstdint>

namespace vantrel::record {

inline constexpr int kAngleTableSide = 128;

// T[i][j] = atan2(j, i) in whole degrees, halves rounded up. The compiler builds it, so
// the hot paths read it without a first-use guard and AngleOf can be inlined. The
// arctangent is its own series, as the standard one cannot run at compile time; it is
// good to 1e-13 degrees, and no entry lies within 1e-4 of a half degree.
struct AngleTable {
  uint8_t t[kAngleTableSide][kAngleTableSide];
};

namespace angle_detail {

inline constexpr double kPi = 3.14159265358979323846;

// atan u for |u| <= tan(pi / 8), by its power series.
constexpr double AtanSeries(double u) {
  const double u2 = u * u;
  double term = u, sum = u;
  for (int n = 1; n < 30 && term != 0; ++n) {
    term *= -u2;
    sum += term / (2 * n + 1);
    if (term * term < 1e-36) break;  // the next terms are below 1e-18
  }
  return sum;
}

// atan2(y, x) for y, x > 0: folded into 0..1, then to within tan(pi / 8) of 0 by
// atan x = pi / 4 + atan((x - 1) / (x + 1)).
constexpr double Atan2Positive(double y, double x) {
  auto atan01 = [](double v) {
    constexpr double kTanPiOver8 = 0.41421356237309504880;  // sqrt 2 - 1
    return v <= kTanPiOver8 ? AtanSeries(v) : kPi / 4 + AtanSeries((v - 1) / (v + 1));
  };
  return y <= x ? atan01(y / x) : kPi / 2 - atan01(x / y);
}

}  // namespace angle_detail

constexpr AngleTable BuildAngleTable() {
  AngleTable table{};
  constexpr double kDegreesPerRadian = 180.0 / angle_detail::kPi;
  for (int i = 0; i < kAngleTableSide; ++i) {
    for (int j = 0; j < kAngleTableSide; ++j) {
      if (i == 0 && j == 0) {
        table.t[i][j] = 0;
      } else if (i == 0) {
        table.t[i][j] = 90;
      } else if (j == 0) {
        table.t[i][j] = 0;
      } else if (j <= i) {
        const double degrees = angle_detail::Atan2Positive(j, i) * kDegreesPerRadian;
        // Positive, so truncation is the floor.
        table.t[i][j] = static_cast<uint8_t>(degrees + 0.5);
      }
    }
  }
  // atan2(j, i) = 90 - atan2(i, j); with no entry near a half degree the rounding agrees.
  for (int i = 1; i < kAngleTableSide; ++i) {
    for (int j = i + 1; j < kAngleTableSide; ++j) {
      table.t[i][j] = static_cast<uint8_t>(90 - table.t[j][i]);
    }
  }
  return table;
}

inline constexpr AngleTable kAngleTable = BuildAngleTable();

// Exact quotients n / m for 1 <= m < 1024 and 0 <= n < 2^17 by a multiply and a shift:
// with M = floor(2^32 / m) + 1, n * M / 2^32 exceeds n / m by less than 2^17 / 2^32, and
// the fraction of n / m is at most 1 - 1 / 1023, so the floor is the same.
inline constexpr int kAngleReciprocals = 1024;
struct AngleReciprocalTable {
  uint32_t r[kAngleReciprocals];
};

constexpr AngleReciprocalTable BuildAngleReciprocals() {
  AngleReciprocalTable table{};
  for (int m = 1; m < kAngleReciprocals; ++m)
    table.r[m] = static_cast<uint32_t>((uint64_t{1} << 32) / static_cast<uint64_t>(m) + 1);
  return table;
}

inline constexpr AngleReciprocalTable kAngleReciprocalTable = BuildAngleReciprocals();

// Direction from the table for |dx|, |dy| below 128 (no rescale), the signs folded in:
// dx > 0, dy > 0: t; dx < 0, dy > 0: 180 - t; dx < 0, dy < 0: t + 180;
// dx > 0, dy < 0: 360 - t, or 0 for t = 0. Sign masks rather than branches.
inline int AngleFromTable(int dy, int dx, unsigned a, unsigned b) {
  const int t = kAngleTable.t[a][b];
  const int x_negative = -static_cast<int>(dx < 0);          // 0 or -1
  const int flip = -static_cast<int>((dx < 0) != (dy < 0));  // 0 or -1
  const int angle = (x_negative & 180) + ((t ^ flip) - flip);  // -t when flipped
  return angle + ((angle >> 31) & 360);
}

// Direction of the vector (dx, dy) in whole degrees 0..359, from increasing x towards
// increasing y. Note the argument order: dy first.
inline int AngleOf(int dy, int dx) {
  if (dy == 0) return dx >= 0 ? 0 : 180;
  if (dx == 0) return dy > 0 ? 90 : 270;

  // Work in 64 bits so that no input, however large, overflows the rescale.
  uint64_t a = dx < 0 ? uint64_t{0} - static_cast<uint64_t>(dx) : static_cast<uint64_t>(dx);
  uint64_t b = dy < 0 ? uint64_t{0} - static_cast<uint64_t>(dy) : static_cast<uint64_t>(dy);
  const uint64_t m = a > b ? a : b;
  if (m >= kAngleReciprocals) {
    a = (a * 127 + m / 2) / m;
    b = (b * 127 + m / 2) / m;
  } else {
    // (a * 127 + m / 2) / m with a, b <= m < 1024: numerators below 2^17. Worked out
    // for every m and kept for m >= 128 only, by masks rather than a branch.
    const uint64_t r = kAngleReciprocalTable.r[m];
    const uint64_t scaled_a = ((a * 127 + m / 2) * r) >> 32;
    const uint64_t scaled_b = ((b * 127 + m / 2) * r) >> 32;
    const uint64_t rescale = uint64_t{0} - static_cast<uint64_t>(m >= kAngleTableSide);
    a = (scaled_a & rescale) | (a & ~rescale);
    b = (scaled_b & rescale) | (b & ~rescale);
  }
  return AngleFromTable(dy, dx, static_cast<unsigned>(a), static_cast<unsigned>(b));
}

// AngleOf for vectors known to be short: |dx| and |dy| below 128.
inline int AngleOfShort(int dy, int dx) {
  if (dy == 0) return dx >= 0 ? 0 : 180;
  if (dx == 0) return dy > 0 ? 90 : 270;
  const unsigned a = static_cast<unsigned>(dx < 0 ? -dx : dx);
  const unsigned b = static_cast<unsigned>(dy < 0 ? -dy : dy);
  return AngleFromTable(dy, dx, a, b);
}

struct CircularMeanResult {
  int mean;        // 0..359
  int difference;  // 0..180
};

// Mean of two angles in 0..359 and their angular difference.
CircularMeanResult CircularMean(int a, int b);

// The angular difference alone: |a - b|, minus 360 when above 180, taken absolute.
int AngleDifference(int a, int b);

}  // namespace vantrel::record
