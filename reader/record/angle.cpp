#include "reader/record/angle.h"

#include <cstdlib>

namespace vantrel::record {

// A few entries of the table, checked when this file compiles.
static_assert(kAngleTable.t[0][0] == 0 && kAngleTable.t[0][1] == 90 && kAngleTable.t[1][0] == 0);
static_assert(kAngleTable.t[1][1] == 45 && kAngleTable.t[127][127] == 45);

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

}  // namespace vantrel::record
