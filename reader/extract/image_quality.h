// The sum of the direction differences between neighbouring blocks behind ImageQuality,
// in its plain form; image_quality_sse2.h holds the SSE2 form.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "reader/extract/extract_context.h"

namespace vantrel::extract::plain {

// Over the blocks of rows 1..34 and columns 1..30 with a code, and each of their eight
// neighbours with a code: the codes' difference, taken round the circle of 8 codes (a
// difference above 4 counts as its distance from 8).
inline int64_t DirectionDifferences(const ExtractionContext& context) {
  int64_t s = 0;
  for (int r = 1; r <= 34; ++r) {
    for (int c = 1; c <= 30; ++c) {
      const int a = context.block_direction[r][c];
      if (a == 0) continue;
      for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
          if (dr == 0 && dc == 0) continue;
          const int b = context.block_direction[r + dr][c + dc];
          if (b == 0) continue;
          int d = std::abs(a - b);
          if (d > 4) d -= 8;
          s += std::abs(d);
        }
      }
    }
  }
  return s;
}

}  // namespace vantrel::extract::plain
