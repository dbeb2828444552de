// Table-driven vector angles and circular means, shared by extraction and matching.
#pragma once

#include <cstdint>

namespace vantrel::extract {

// Direction of the vector (dx, dy) in whole degrees 0..359, from increasing x towards
// increasing y. Note the argument order: dy first.
int AngleOf(int dy, int dx);

struct CircularMeanResult {
  int mean;        // 0..359
  int difference;  // 0..180
};

// Mean of two angles in 0..359 and their angular difference.
CircularMeanResult CircularMean(int a, int b);

// The angular difference alone: |a - b|, minus 360 when above 180, taken absolute.
int AngleDifference(int a, int b);

}  // namespace vantrel::extract
