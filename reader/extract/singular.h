// Cores and deltas from the block direction field.
#pragma once

#include <cstdint>

#include "reader/extract/extract_context.h"

namespace vantrel::extract {

// A list of points in canvas pixels; every list of this stage holds at most 100.
inline constexpr int kMaxSingularPoints = 100;

struct PointList {
  int count = 0;
  int32_t x[kMaxSingularPoints] = {};
  int32_t y[kMaxSingularPoints] = {};
};

// Appends a point; returns false (and drops it) when the list is full.
bool AddPoint(PointList& list, int32_t x, int32_t y);

// Groups candidates that sit in 8-neighbouring blocks and returns one centre (integer
// mean) per group of at least minimum_size candidates, in the order groups were started.
PointList ClusterPoints(const PointList& candidates, int minimum_size);

// Merges, pass after pass, the first pair closer than threshold (truncated distance)
// into its midpoint, appended at the end, until a pass merges nothing.
void MergeClose(PointList& points, int threshold);

// Keeps the point nearest to the reference and then the nearest of the others.
void KeepNearestTwo(PointList& points, int32_t reference_x, int32_t reference_y);

// Writes core 1, core 2 and delta of the context from its direction codes, block mask
// and foreground centre.
void FindSingularPoints(ExtractionContext& context);

}  // namespace vantrel::extract
