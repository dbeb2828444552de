#include "reader/extract/segment.h"

#include <cstring>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/segment_sse2.h"

namespace vantrel::extract {

namespace {

struct SquareTable {
  int v[256];
  constexpr SquareTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = i * i;
  }
};
[[maybe_unused]] constexpr SquareTable kSquares;  // the plain BlockStats reads it

// Top-left pixels (column, row) of the squares the blank check samples.
constexpr int kCentreSquares[4][2] = {{85, 100}, {170, 100}, {85, 200}, {170, 200}};
constexpr int kCornerSquares[4][2] = {{1, 1}, {247, 1}, {1, 279}, {247, 279}};

constexpr int kBlankMeanAbove = 180;
constexpr int kBlankVarianceBelow = 200;
constexpr int kBlankTextureExcess = 40;

constexpr int kMinThreshold = 30;
constexpr int kMaxThreshold = 150;
constexpr int kInnerBlocks = 1020;  // 30 x 34, the reference of the percentage

int SumOfNeighbours(const uint8_t (&mask)[kBlockRows][kBlockColumns], int r, int c) {
  int sum = 0;
  for (int dr = -1; dr <= 1; ++dr) {
    for (int dc = -1; dc <= 1; ++dc) {
      if (dr != 0 || dc != 0) sum += mask[r + dr][c + dc];
    }
  }
  return sum;
}

}  // namespace

void BlockStats(const uint8_t* block, int* mean, int* variance) {
#if defined(VANTREL_SSE2)
  sse2::BlockStats(block, mean, variance);
#else
  int sum = 0;
  for (int y = 0; y < kBlockSize; ++y) {
    for (int x = 0; x < kBlockSize; ++x) sum += block[y * kCanvasWidth + x];
  }
  const int m = sum >> 6;
  int squares = 0;
  for (int y = 0; y < kBlockSize; ++y) {
    for (int x = 0; x < kBlockSize; ++x) {
      const int d = block[y * kCanvasWidth + x] - m;
      squares += kSquares.v[d < 0 ? -d : d];
    }
  }
  *mean = m;
  *variance = squares >> 6;
#endif
}

bool IsBlankImage(const uint8_t* canvas) {
  int mean_sum = 0, centre_variance_sum = 0, corner_variance_sum = 0;
  for (const auto& s : kCentreSquares) {
    int mean = 0, variance = 0;
    BlockStats(canvas + s[1] * kCanvasWidth + s[0], &mean, &variance);
    mean_sum += mean;
    centre_variance_sum += variance;
  }
  for (const auto& s : kCornerSquares) {
    int mean = 0, variance = 0;
    BlockStats(canvas + s[1] * kCanvasWidth + s[0], &mean, &variance);
    corner_variance_sum += variance;
  }
  const int mc = mean_sum >> 2;
  const int vc = centre_variance_sum >> 2;
  const int vk = corner_variance_sum >> 2;
  return mc > kBlankMeanAbove && vc < kBlankVarianceBelow &&
         vc - 8 * vk <= kBlankTextureExcess;
}

void SegmentForeground(const uint8_t* canvas, ExtractionContext& context) {
  auto& mask = context.block_mask;

  int variance[kBlockRows][kBlockColumns];
  int64_t total = 0;
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      int mean = 0;
      BlockStats(canvas + (r * kBlockSize) * kCanvasWidth + c * kBlockSize, &mean,
                 &variance[r][c]);
      total += variance[r][c];
    }
  }

  // One eighth of the mean block variance, plus 10, within 30..150.
  int64_t t = total / 9216 + 10;
  if (t < kMinThreshold) t = kMinThreshold;
  if (t > kMaxThreshold) t = kMaxThreshold;

  std::memset(mask, 1, sizeof mask);
  for (int r = 1; r <= 34; ++r) {
    for (int c = 3; c <= 28; ++c) {
      if (variance[r][c] > t) mask[r][c] = 0;
    }
  }

  // Closing, both passes in place: a change is seen by the blocks after it.
  for (int r = 1; r <= 34; ++r) {
    for (int c = 1; c <= 30; ++c) {
      if (mask[r][c] == 0 && SumOfNeighbours(mask, r, c) > 4) mask[r][c] = 1;
    }
  }
  for (int r = 1; r <= 34; ++r) {
    for (int c = 1; c <= 30; ++c) {
      if (mask[r][c] == 1 && SumOfNeighbours(mask, r, c) <= 3) mask[r][c] = 0;
    }
  }

  // Row fill: close each row between its outermost foreground blocks.
  for (int r = 1; r <= 34; ++r) {
    int k = 17;
    for (int c = 0; c <= 16; ++c) {
      if (mask[r][c] == 0) {
        k = c;
        break;
      }
    }
    int l = 15;
    for (int c = 31; c >= 14; --c) {
      if (mask[r][c] == 0) {
        l = c;
        break;
      }
    }
    for (int c = k; c <= l; ++c) mask[r][c] = 0;
  }

  // Column fill, likewise between the outermost foreground rows.
  for (int c = 0; c < kBlockColumns; ++c) {
    int u = 35;
    for (int r = 0; r < kBlockRows; ++r) {
      if (mask[r][c] == 0) {
        u = r;
        break;
      }
    }
    int d = 0;
    for (int r = kBlockRows - 1; r >= 0; --r) {
      if (mask[r][c] == 0) {
        d = r;
        break;
      }
    }
    if (u < d) {
      for (int r = u; r <= d; ++r) mask[r][c] = 0;
    }
  }

  int n = 0, column_sum = 0, row_sum = 0;
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      if (mask[r][c] == 0) {
        ++n;
        column_sum += c;
        row_sum += r;
      }
    }
  }
  if (n > 0) {
    context.foreground_centre_x = (column_sum / n) * 8 + 4;
    context.foreground_centre_y = (row_sum / n) * 8 + 4;
    context.foreground_percent = n * 100 / kInnerBlocks;
  } else {
    context.foreground_centre_x = 0;
    context.foreground_centre_y = 0;
    context.foreground_percent = 0;
  }
}

void PreFilterRowBaseline(const uint8_t* s, uint8_t* out) {
  // The weights sum to 100, so a flat area keeps its value exactly.
#if defined(VANTREL_SSE2)
  sse2::PreFilterRow(s, out);
#else
  constexpr int w = kCanvasWidth;
  int v[w];
  for (int x = 0; x < w; ++x) {
    v[x] = s[x - 2 * w] + 2 * s[x - w] + 4 * s[x] + 2 * s[x + w] + s[x + 2 * w];
  }
  for (int x = 2; x <= w - 3; ++x) {
    out[x] = static_cast<uint8_t>(
        (v[x - 2] + 2 * v[x - 1] + 4 * v[x] + 2 * v[x + 1] + v[x + 2]) / 100);
  }
#endif
}

void PreFilter(const uint8_t* src, uint8_t* dst) {
  constexpr int w = kCanvasWidth;
  static const auto row_form = cpu::Choose(&PreFilterRowWide, &PreFilterRowBaseline);
  std::memcpy(dst, src, 2 * w);
  std::memcpy(dst + (kCanvasHeight - 2) * w, src + (kCanvasHeight - 2) * w, 2 * w);

  for (int y = 2; y <= kCanvasHeight - 3; ++y) {
    const uint8_t* s = src + y * w;
    uint8_t* out = dst + y * w;
    out[0] = s[0];
    out[1] = s[1];
    out[w - 2] = s[w - 2];
    out[w - 1] = s[w - 1];
    row_form(s, out);
  }
}

int PrepareImage(const uint8_t* a, uint8_t* b, ExtractionContext& context) {
  if (IsBlankImage(a)) return 0;
  SegmentForeground(a, context);
  PreFilter(a, b);
  return context.foreground_percent >= kMinForegroundPercent ? 1 : 0;
}

}  // namespace vantrel::extract
