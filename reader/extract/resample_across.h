// The across-blend of the resampler's bilinear case: every output column of a source row
// as the weighted sum of its two source pixels. The plain form and a wide one (AVX2)
// give the same values.
#pragma once

#include <cstdint>

namespace vantrel::extract {

// One axis of the bilinear case: the two source indices and their percent weights.
struct AxisStep {
  int i0, i1;
  int w0, w1;
};

// The most output columns the bilinear case works row by row.
inline constexpr int kMaxBlendColumns = 1024;

// Output column x of source row r: w0 r[i0] + w1 r[i1], at most 25 500 (the weights sum
// to 100), for the n columns.
void BlendAcross(const uint8_t* r, const AxisStep* columns, int n, int16_t* out);

// The wide form works 8 output columns at a time, gathering their source pixels from one
// run of 16 with a byte shuffle: per group the run's first pixel, the shuffle and the
// weights.
struct AcrossPlan {
  static constexpr int kMaxGroups = kMaxBlendColumns / 8;
  int groups = 0;
  int32_t first[kMaxGroups];
  uint8_t shuffle[kMaxGroups][32];
  int16_t weights[kMaxGroups][16];
};

// Fills the plan for n (at most kMaxBlendColumns) columns of source rows src_width
// pixels wide. False when the wide form cannot serve: without AVX2, when a group's
// pixels do not lie within 16 of each other, or when the rows are narrower than 16.
bool PlanAcross(const AxisStep* columns, int n, int src_width, AcrossPlan& plan);

// The across-blend of source row r by a plan; writes 8 x plan.groups values, those past
// the n columns 0. Runs only where PlanAcross gave true.
void BlendAcrossWide(const uint8_t* r, const AcrossPlan& plan, int16_t* out);

}  // namespace vantrel::extract
