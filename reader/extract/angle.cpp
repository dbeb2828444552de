#include "reader/extract/angle.h"

#include <cmath>
#include <cstdlib>

namespace vantrel::extract {

namespace {

constexpr int kTableSide = 128;

// T[i][j] = atan2(j, i) in whole degrees, halves rounded up. Built once, on first use;
// the function-local static makes the build thread-safe.
struct AngleTable {
  uint8_t t[kTableSide][kTableSide];

  AngleTable() {
    constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;
    for (int i = 0; i < kTableSide; ++i) {
      for (int j = 0; j < kTableSide; ++j) {
        if (i == 0 && j == 0) {
          t[i][j] = 0;
        } else if (i == 0) {
          t[i][j] = 90;
        } else if (j == 0) {
          t[i][j] = 0;
        } else {
          const double degrees = std::atan2(static_cast<double>(j), static_cast<double>(i)) *
                                 kDegreesPerRadian;
          t[i][j] = static_cast<uint8_t>(std::floor(degrees + 0.5));
        }
      }
    }
  }
};

const AngleTable& Table() {
  static const AngleTable table;
  return table;
}

}  // namespace

int AngleOf(int dy, int dx) {
  if (dy == 0) return dx >= 0 ? 0 : 180;
  if (dx == 0) return dy > 0 ? 90 : 270;

  // Work in 64 bits so that no input, however large, overflows the rescale.
  int64_t a = std::llabs(static_cast<int64_t>(dx));
  int64_t b = std::llabs(static_cast<int64_t>(dy));
  const int64_t m = a > b ? a : b;
  if (m >= kTableSide) {
    a = (a * 127 + m / 2) / m;
    b = (b * 127 + m / 2) / m;
  }
  const int t = Table().t[a][b];

  if (dx > 0 && dy > 0) return t;
  if (dx < 0 && dy > 0) return 180 - t;
  if (dx < 0 && dy < 0) return t + 180;
  return t == 0 ? 0 : 360 - t;  // dx > 0, dy < 0
}

CircularMeanResult CircularMean(int a, int b) {
  const int c = std::abs(a - b);
  const int half = (a + b) / 2;
  if (c <= 180) return {half, c};
  return {half >= 180 ? half - 180 : half + 180, 360 - c};
}

int AngleDifference(int a, int b) {
  int c = std::abs(a - b);
  if (c > 180) c -= 360;
  return std::abs(c);
}

}  // namespace vantrel::extract
