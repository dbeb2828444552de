#include "reader/extract/normalise.h"

#include <cstring>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/extract_context.h"
#include "reader/extract/normalise_sse2.h"
#include "reader/extract/resample_across.h"

namespace vantrel::extract {

namespace {

constexpr uint8_t kCanvasFill = 10;

AxisStep StepFor(int out, int src_size, int dst_size) {
  // 64 bits: out x src_size x 100 overflows 32 bits for large images.
  const int64_t a = static_cast<int64_t>(out) * src_size * 100 / dst_size;
  AxisStep s;
  s.i0 = static_cast<int>(a / 100);
  const int f = static_cast<int>(a % 100);
  s.i1 = s.i0 + 1 < src_size ? s.i0 + 1 : src_size - 1;
  if (f == 0 && src_size != dst_size) {
    // An exact hit still blends with the next sample, half and half.
    s.w0 = 50;
    s.w1 = 50;
  } else {
    s.w0 = 100 - f;
    s.w1 = f;
  }
  return s;
}

// One output row of the bilinear case from the across-blends of its two source rows:
// (w0 x top + w1 x bottom + 5000) / 10000. The weights sum to 100 and the across-blends
// to at most 25 500, so the result stays in 0..255.
#if defined(VANTREL_SSE2)
using sse2::BlendRows;
#else
void BlendRows(const int16_t* top, const int16_t* bottom, int w0, int w1, uint8_t* out,
               int n) {
  for (int x = 0; x < n; ++x) {
    out[x] = static_cast<uint8_t>((w0 * top[x] + w1 * bottom[x] + 5000) / 10000);
  }
}
#endif

// The bilinear case for outputs of at most kMaxBlendColumns columns into rows `stride`
// apart. The blend is a sum of four weight products, so the columns may be blended
// first: each source row is blended across once, into one of two rows kept, and every
// output row is the weighted sum of two such rows. The same integers result. The
// across-blends stay below 25 600 and fit 16 bits.

void ResampleBilinear(int src_width, int src_height, const uint8_t* src, int dst_width,
                      int dst_height, uint8_t* dst, size_t stride) {
  AxisStep columns[kMaxBlendColumns];
  for (int x = 0; x < dst_width; ++x) columns[x] = StepFor(x, src_width, dst_width);
  alignas(16) int16_t across[2][kMaxBlendColumns];
  int row_of[2] = {-1, -1};
  AcrossPlan plan;
  const bool wide = PlanAcross(columns, dst_width, src_width, plan);
  // The across-blend of source row i, kept in the slot that does not hold row `keep`.
  auto across_row = [&](int i, int keep) -> const int16_t* {
    for (int slot = 0; slot < 2; ++slot) {
      if (row_of[slot] == i) return across[slot];
    }
    const int slot = row_of[0] == keep ? 1 : 0;
    const uint8_t* r = src + static_cast<size_t>(i) * src_width;
    if (wide) {
      BlendAcrossWide(r, plan, across[slot]);
    } else {
      BlendAcross(r, columns, dst_width, across[slot]);
    }
    row_of[slot] = i;
    return across[slot];
  };
  for (int y = 0; y < dst_height; ++y) {
    const AxisStep sy = StepFor(y, src_height, dst_height);
    const int16_t* top = across_row(sy.i0, sy.i1);
    const int16_t* bottom = across_row(sy.i1, sy.i0);
    BlendRows(top, bottom, sy.w0, sy.w1, dst + static_cast<size_t>(y) * stride, dst_width);
  }
}

}  // namespace

void BlendAcross(const uint8_t* r, const AxisStep* columns, int n, int16_t* out) {
  for (int x = 0; x < n; ++x) {
    const AxisStep& sx = columns[x];
    out[x] = static_cast<int16_t>(sx.w0 * r[sx.i0] + sx.w1 * r[sx.i1]);
  }
}

void Resample(int src_width, int src_height, const uint8_t* src, int dst_width,
              int dst_height, uint8_t* dst) {
  if (src == nullptr || dst == nullptr || src_width <= 0 || src_height <= 0 ||
      dst_width <= 0 || dst_height <= 0) {
    return;
  }

  if (src_width == dst_width && src_height == dst_height) {
    for (int y = 0; y < dst_height; ++y) {
      std::memcpy(dst + static_cast<size_t>(y) * dst_width,
                  src + static_cast<size_t>(y) * src_width, static_cast<size_t>(dst_width));
    }
    return;
  }

  if (src_width == 2 * dst_width && src_height == 2 * dst_height) {
    for (int y = 0; y < dst_height; ++y) {
      const uint8_t* r0 = src + static_cast<size_t>(2 * y) * src_width;
      const uint8_t* r1 = r0 + src_width;
      uint8_t* out = dst + static_cast<size_t>(y) * dst_width;
      for (int x = 0; x < dst_width; ++x) {
        const int sum = r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1];
        out[x] = static_cast<uint8_t>((sum + 2) / 4);
      }
    }
    return;
  }

  if (dst_width <= kMaxBlendColumns) {
    ResampleBilinear(src_width, src_height, src, dst_width, dst_height, dst,
                     static_cast<size_t>(dst_width));
    return;
  }
  // Wider outputs: every pixel's four weight products on their own.
  for (int y = 0; y < dst_height; ++y) {
    const AxisStep sy = StepFor(y, src_height, dst_height);
    const uint8_t* r0 = src + static_cast<size_t>(sy.i0) * src_width;
    const uint8_t* r1 = src + static_cast<size_t>(sy.i1) * src_width;
    uint8_t* out = dst + static_cast<size_t>(y) * dst_width;
    for (int x = 0; x < dst_width; ++x) {
      const AxisStep sx = StepFor(x, src_width, dst_width);
      const int top = sx.w0 * r0[sx.i0] + sx.w1 * r0[sx.i1];
      const int bottom = sx.w0 * r1[sx.i0] + sx.w1 * r1[sx.i1];
      // The weights sum to 10 000, so the result stays in 0..255.
      out[x] = static_cast<uint8_t>((sy.w0 * top + sy.w1 * bottom + 5000) / 10000);
    }
  }
}

int NormaliseToCanvas(const uint8_t* image, uint8_t* canvas) {
  // The resampled image goes straight onto the canvas, rows 256 apart.
  std::memset(canvas, kCanvasFill, kCanvasBytes);
  ResampleBilinear(kImageWidth, kImageHeight, image, kResampledWidth, kResampledHeight,
                   canvas + kPlaceRow * kCanvasWidth + kPlaceColumn, kCanvasWidth);
  return kExtractOk;
}

}  // namespace vantrel::extract
