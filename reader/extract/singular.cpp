#include "reader/extract/singular.h"

#include <cmath>
#include <cstdlib>

namespace vantrel::extract {
namespace {

constexpr int kInnerRing[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, 1},
                                  {1, 1},   {1, 0},  {1, -1}, {0, -1}};
constexpr int kOuterRing[12][2] = {{-2, -1}, {-2, 0}, {-2, 1}, {-1, 2}, {0, 2},  {1, 2},
                                   {2, 1},   {2, 0},  {2, -1}, {1, -2}, {0, -2}, {-1, -2}};

constexpr int kCoreMergeDistance = 25;
constexpr int kDeltaCoreDistance = 30;
constexpr int kFallbackMergeDistance = 37;
constexpr int kFallbackMinimumCurvature = 32;

// Signed step from direction code a to code b, folded into -4..4.
int CodeStep(int a, int b) {
  int d = b - a;
  if (d < -4) d += 8;
  if (d > 4) d -= 8;
  return d;
}

int Distance(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const double dx = x1 - x2, dy = y1 - y2;
  return static_cast<int>(std::sqrt(dx * dx + dy * dy));
}

void RemoveAt(PointList& list, int index) {
  for (int i = index + 1; i < list.count; ++i) {
    list.x[i - 1] = list.x[i];
    list.y[i - 1] = list.y[i];
  }
  --list.count;
}

bool BlockForeground(const ExtractionContext& context, int r, int c) {
  return context.block_mask[r][c] == 0;
}

}  // namespace

bool AddPoint(PointList& list, int32_t x, int32_t y) {
  // Candidates beyond the capacity are dropped: a field with more than 100 singular
  // blocks is noise, and the first ones in scan order are as good as any.
  if (list.count >= kMaxSingularPoints) return false;
  list.x[list.count] = x;
  list.y[list.count] = y;
  ++list.count;
  return true;
}

PointList ClusterPoints(const PointList& candidates, int minimum_size) {
  PointList centres;
  bool used[kMaxSingularPoints] = {};
  int group[kMaxSingularPoints];
  const int n = candidates.count < kMaxSingularPoints ? candidates.count : kMaxSingularPoints;
  for (int start = 0; start < n; ++start) {
    if (used[start]) continue;
    used[start] = true;
    int size = 0;
    group[size++] = start;
    for (int g = 0; g < size; ++g) {
      const int a = group[g];
      for (int b = start + 1; b < n; ++b) {
        if (used[b]) continue;
        if (std::abs(candidates.x[a] - candidates.x[b]) <= 8 &&
            std::abs(candidates.y[a] - candidates.y[b]) <= 8) {
          used[b] = true;
          group[size++] = b;
        }
      }
    }
    if (size < minimum_size) continue;
    int64_t sx = 0, sy = 0;
    for (int g = 0; g < size; ++g) {
      sx += candidates.x[group[g]];
      sy += candidates.y[group[g]];
    }
    AddPoint(centres, static_cast<int32_t>(sx / size), static_cast<int32_t>(sy / size));
  }
  return centres;
}

void MergeClose(PointList& points, int threshold) {
  bool merged = true;
  while (merged) {
    merged = false;
    int i = 0;
    while (i < points.count) {
      int partner = -1;
      for (int j = i + 1; j < points.count; ++j) {
        if (Distance(points.x[i], points.y[i], points.x[j], points.y[j]) < threshold) {
          partner = j;
          break;
        }
      }
      if (partner < 0) {
        ++i;
        continue;
      }
      const int32_t mx = (points.x[i] + points.x[partner]) / 2;
      const int32_t my = (points.y[i] + points.y[partner]) / 2;
      RemoveAt(points, partner);
      RemoveAt(points, i);
      AddPoint(points, mx, my);
      merged = true;
      // The point that moved into slot i is the next one to look at.
    }
  }
}

void KeepNearestTwo(PointList& points, int32_t reference_x, int32_t reference_y) {
  if (points.count <= 2) return;
  // Nearness is the truncated distance: two points at the same truncated distance tie,
  // and the earlier one wins, however their exact distances compare.
  const auto distance = [&](int i) {
    return Distance(points.x[i], points.y[i], reference_x, reference_y);
  };
  int first = 0;
  for (int i = 1; i < points.count; ++i)
    if (distance(i) < distance(first)) first = i;
  int second = first == 0 ? 1 : 0;
  for (int i = 0; i < points.count; ++i)
    if (i != first && distance(i) < distance(second)) second = i;
  PointList kept;
  AddPoint(kept, points.x[first], points.y[first]);
  AddPoint(kept, points.x[second], points.y[second]);
  points = kept;
}

void FindSingularPoints(ExtractionContext& context) {
  context.core1_x = context.core1_y = context.core2_x = context.core2_y = 0;
  context.delta_x = context.delta_y = 0;

  PointList core_candidates, delta_candidates;
  for (int r = 1; r <= 34; ++r) {
    for (int c = 1; c <= 30; ++c) {
      if (!BlockForeground(context, r, c)) continue;
      bool ring_foreground = true;
      for (const auto& o : kInnerRing) ring_foreground &= BlockForeground(context, r + o[1], c + o[0]);
      if (!ring_foreground) continue;
      int sum = 0;
      for (int i = 0; i < 8; ++i) {
        const auto& a = kInnerRing[i];
        const auto& b = kInnerRing[(i + 1) % 8];
        sum += CodeStep(context.block_direction[r + a[1]][c + a[0]],
                        context.block_direction[r + b[1]][c + b[0]]);
      }
      if (sum == 8) AddPoint(core_candidates, 8 * c + 4, 8 * r + 4);
      if (sum == -8) AddPoint(delta_candidates, 8 * c + 4, 8 * r + 4);
    }
  }
  PointList cores = ClusterPoints(core_candidates, 2);
  PointList deltas = ClusterPoints(delta_candidates, 2);
  if (cores.count > 1) MergeClose(cores, kCoreMergeDistance);
  if (deltas.count > 1) MergeClose(deltas, kCoreMergeDistance);

  if (cores.count >= 1) {
    bool core_gone[kMaxSingularPoints] = {};
    bool delta_gone[kMaxSingularPoints] = {};
    for (int d = 0; d < deltas.count; ++d) {
      for (int c = 0; c < cores.count; ++c) {
        if (core_gone[c]) continue;
        if (Distance(deltas.x[d], deltas.y[d], cores.x[c], cores.y[c]) < kDeltaCoreDistance) {
          core_gone[c] = true;
          delta_gone[d] = true;
        }
      }
    }
    PointList kept_cores, kept_deltas;
    for (int c = 0; c < cores.count; ++c) {
      if (!core_gone[c]) AddPoint(kept_cores, cores.x[c], cores.y[c]);
    }
    for (int d = 0; d < deltas.count; ++d) {
      if (!delta_gone[d]) AddPoint(kept_deltas, deltas.x[d], deltas.y[d]);
    }
    cores = kept_cores;
    deltas = kept_deltas;
  }
  if (cores.count > 2) KeepNearestTwo(cores, context.foreground_centre_x, context.foreground_centre_y);
  if (deltas.count > 2) KeepNearestTwo(deltas, context.foreground_centre_x, context.foreground_centre_y);

  if (cores.count >= 1 || deltas.count >= 1) {
    if (cores.count >= 1) {
      context.core1_x = cores.x[0];
      context.core1_y = cores.y[0];
    }
    if (cores.count >= 2) {
      context.core2_x = cores.x[1];
      context.core2_y = cores.y[1];
    }
    if (deltas.count >= 1) {
      context.delta_x = deltas.x[0];
      context.delta_y = deltas.y[0];
    }
    return;
  }

  // Fallback: the block of greatest smoothed curvature of the direction field.
  int curvature[kBlockRows][kBlockColumns] = {};
  for (int r = 2; r <= 33; ++r) {
    for (int c = 2; c <= 29; ++c) {
      if (!BlockForeground(context, r, c)) continue;
      bool ring_foreground = true;
      for (const auto& o : kOuterRing) ring_foreground &= BlockForeground(context, r + o[1], c + o[0]);
      if (!ring_foreground) continue;
      int sum = 0;
      for (int i = 0; i < 12; ++i) {
        const auto& a = kOuterRing[i];
        const auto& b = kOuterRing[(i + 1) % 12];
        sum += std::abs(CodeStep(context.block_direction[r + a[1]][c + a[0]],
                                 context.block_direction[r + b[1]][c + b[0]]));
      }
      curvature[r][c] = sum;
    }
  }
  int smoothed[kBlockRows][kBlockColumns] = {};
  int largest = 0;
  for (int r = 1; r <= 34; ++r) {
    for (int c = 1; c <= 30; ++c) {
      int sum = 0;
      for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) sum += curvature[r + dr][c + dc];
      }
      smoothed[r][c] = sum;
      if (sum > largest) largest = sum;
    }
  }
  if (largest <= kFallbackMinimumCurvature) return;
  PointList candidates;
  for (int r = 3; r <= 32; ++r) {
    for (int c = 3; c <= 28; ++c) {
      if (smoothed[r][c] == largest) AddPoint(candidates, 8 * c + 4, 8 * r + 4);
    }
  }
  PointList found = ClusterPoints(candidates, 1);
  if (found.count > 1) MergeClose(found, kFallbackMergeDistance);
  if (found.count > 2) KeepNearestTwo(found, context.foreground_centre_x, context.foreground_centre_y);
  if (found.count >= 1) {
    context.core1_x = found.x[0];
    context.core1_y = found.y[0];
    if (found.count >= 2) {
      context.core2_x = found.x[1];
      context.core2_y = found.y[1];
    }
    context.delta_x = 0;  // marker: estimated, not found by the index test
    context.delta_y = 2;
  }
}

}  // namespace vantrel::extract
