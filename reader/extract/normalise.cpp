#include "reader/extract/normalise.h"

#include <cstring>
#include <memory>
#include <new>

#include "reader/extract/extract_context.h"

namespace vantrel::extract {

namespace {

constexpr uint8_t kCanvasFill = 10;

// One axis of the bilinear case: the two source indices and their percent weights.
struct AxisStep {
  int i0, i1;
  int w0, w1;
};

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

}  // namespace

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

  // The column steps are the same for every row: work them out once when they fit.
  constexpr int kMaxCachedColumns = 1024;
  AxisStep columns[kMaxCachedColumns];
  const bool cached = dst_width <= kMaxCachedColumns;
  if (cached) {
    for (int x = 0; x < dst_width; ++x) columns[x] = StepFor(x, src_width, dst_width);
  }
  // The blend is a sum of four weight products, so the rows may be blended first: one
  // pass over each source row pair, then the column steps. The same integers result.
  int blended[kMaxCachedColumns];
  const bool rows_first = cached && src_width <= kMaxCachedColumns;
  for (int y = 0; y < dst_height; ++y) {
    const AxisStep sy = StepFor(y, src_height, dst_height);
    const uint8_t* r0 = src + static_cast<size_t>(sy.i0) * src_width;
    const uint8_t* r1 = src + static_cast<size_t>(sy.i1) * src_width;
    uint8_t* out = dst + static_cast<size_t>(y) * dst_width;
    if (rows_first) {
      for (int x = 0; x < src_width; ++x) blended[x] = sy.w0 * r0[x] + sy.w1 * r1[x];
      for (int x = 0; x < dst_width; ++x) {
        const AxisStep& sx = columns[x];
        out[x] = static_cast<uint8_t>(
            (sx.w0 * blended[sx.i0] + sx.w1 * blended[sx.i1] + 5000) / 10000);
      }
      continue;
    }
    for (int x = 0; x < dst_width; ++x) {
      const AxisStep sx = cached ? columns[x] : StepFor(x, src_width, dst_width);
      const int top = sx.w0 * r0[sx.i0] + sx.w1 * r0[sx.i1];
      const int bottom = sx.w0 * r1[sx.i0] + sx.w1 * r1[sx.i1];
      // The weights sum to 10 000, so the result stays in 0..255.
      out[x] = static_cast<uint8_t>((sy.w0 * top + sy.w1 * bottom + 5000) / 10000);
    }
  }
}

int NormaliseToCanvas(const uint8_t* image, uint8_t* canvas) {
  std::unique_ptr<uint8_t[]> resampled(
      new (std::nothrow) uint8_t[kResampledWidth * kResampledHeight]);
  if (!resampled) return kExtractNoMemory;

  Resample(kImageWidth, kImageHeight, image, kResampledWidth, kResampledHeight,
           resampled.get());
  std::memset(canvas, kCanvasFill, kCanvasBytes);
  for (int i = 0; i < kResampledHeight; ++i) {
    std::memcpy(canvas + (kPlaceRow + i) * kCanvasWidth + kPlaceColumn,
                resampled.get() + i * kResampledWidth, kResampledWidth);
  }
  return kExtractOk;
}

}  // namespace vantrel::extract
