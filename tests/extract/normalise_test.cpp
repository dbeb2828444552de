// Resampler and canvas placement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "reader/extract/extract_context.h"
#include "reader/extract/normalise.h"

namespace vantrel::extract {
namespace {

std::vector<uint8_t> Random(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (auto& p : v) p = static_cast<uint8_t>(rng());
  return v;
}

TEST(Resample, SameSizeCopiesUnchanged) {
  const auto src = Random(13 * 7, 1);
  std::vector<uint8_t> dst(src.size(), 0);
  Resample(13, 7, src.data(), 13, 7, dst.data());
  EXPECT_EQ(dst, src);
}

TEST(Resample, ExactHalvingTakesTheRoundedMeanOfEach2x2) {
  const auto src = Random(304 * 400, 2);
  std::vector<uint8_t> dst(152 * 200, 0);
  Resample(304, 400, src.data(), 152, 200, dst.data());
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 152; ++x) {
      const int sum = src[(2 * y) * 304 + 2 * x] + src[(2 * y) * 304 + 2 * x + 1] +
                      src[(2 * y + 1) * 304 + 2 * x] + src[(2 * y + 1) * 304 + 2 * x + 1];
      ASSERT_EQ(dst[y * 152 + x], (sum + 2) / 4) << x << "," << y;
    }
  }
  // 1 + 2 + 3 + 4 = 10 rounds up to 3; 1 + 1 + 1 + 2 = 5 rounds down to 1.
  const uint8_t small[] = {1, 2, 1, 1, 3, 4, 1, 2};
  uint8_t halved[2] = {};
  Resample(4, 2, small, 2, 1, halved);
  EXPECT_EQ(halved[0], 3);
  EXPECT_EQ(halved[1], 1);
}

TEST(Resample, GeneralCaseBlendsPixelZeroHalfAndHalf) {
  std::vector<uint8_t> src(kImageBytes, 0);
  src[0] = 10;
  src[1] = 20;
  src[kImageWidth] = 30;
  src[kImageWidth + 1] = 41;  // sum 101: a quarter is 25.25, so 25
  std::vector<uint8_t> dst(kResampledWidth * kResampledHeight, 0);
  Resample(kImageWidth, kImageHeight, src.data(), kResampledWidth, kResampledHeight, dst.data());
  EXPECT_EQ(dst[0], 25);
  src[kImageWidth + 1] = 42;  // sum 102: 25.5 rounds up to 26
  Resample(kImageWidth, kImageHeight, src.data(), kResampledWidth, kResampledHeight, dst.data());
  EXPECT_EQ(dst[0], 26);
}

TEST(Resample, LastRowsUseClampedRowAndPercentWeights) {
  // Rows 0..198 are 0, row 199 is 200. Output row 273 sits 54 % of the way from source
  // row 198 to 199; row 274 has weights 73 / 27 on rows 199 and 199 (clamped), so it is
  // row 199 itself and nothing past the image is read.
  std::vector<uint8_t> src(kImageBytes, 0);
  for (int x = 0; x < kImageWidth; ++x) src[199 * kImageWidth + x] = 200;
  std::vector<uint8_t> dst(kResampledWidth * kResampledHeight, 0);
  Resample(kImageWidth, kImageHeight, src.data(), kResampledWidth, kResampledHeight, dst.data());
  for (int x = 0; x < kResampledWidth; ++x) {
    EXPECT_EQ(dst[273 * kResampledWidth + x], 108) << x;
    EXPECT_EQ(dst[274 * kResampledWidth + x], 200) << x;
  }
  // Horizontally: output column 208 mixes columns 151 and 151 with 73 / 27; column 207
  // sits at 15054 / 100, between 150 (46 %) and 151 (54 %).
  std::vector<uint8_t> cols(kImageBytes, 0);
  for (int y = 0; y < kImageHeight; ++y) cols[y * kImageWidth + 151] = 100;
  Resample(kImageWidth, kImageHeight, cols.data(), kResampledWidth, kResampledHeight, dst.data());
  EXPECT_EQ(dst[100 * kResampledWidth + 208], 100);
  EXPECT_EQ(dst[100 * kResampledWidth + 207], 54);
}

// The blend of the general case written out per output pixel, for sizes that take each
// of the resampler's paths (narrow and wide source rows, narrow and wide outputs, rows
// that the 8-column shuffles gather and rows whose columns lie too far apart for them).
TEST(Resample, GeneralCaseIsTheFourWeightBlendForAnySize) {
  struct Step {
    int i0, i1, w0, w1;
  };
  auto step = [](int out, int src, int dst) {
    const long a = static_cast<long>(out) * src * 100 / dst;
    Step s{static_cast<int>(a / 100), 0, 0, 0};
    s.i1 = std::min(s.i0 + 1, src - 1);
    const int f = static_cast<int>(a % 100);
    s.w0 = f == 0 && src != dst ? 50 : 100 - f;
    s.w1 = f == 0 && src != dst ? 50 : f;
    return s;
  };
  const int sizes[][4] = {{152, 200, 209, 275}, {1100, 3, 1030, 5}, {1100, 4, 500, 3},
                          {7, 9, 5, 13},        {300, 2, 1500, 2},  {16, 5, 33, 4},
                          {17, 3, 23, 2},       {100, 2, 57, 3},    {40, 3, 1024, 3},
                          {151, 4, 150, 5}};
  for (const auto& z : sizes) {
    const int sw = z[0], sh = z[1], dw = z[2], dh = z[3];
    const auto src = Random(sw * sh, static_cast<uint32_t>(sw + dh));
    std::vector<uint8_t> dst(static_cast<size_t>(dw * dh), 0);
    Resample(sw, sh, src.data(), dw, dh, dst.data());
    for (int y = 0; y < dh; ++y) {
      const Step sy = step(y, sh, dh);
      for (int x = 0; x < dw; ++x) {
        const Step sx = step(x, sw, dw);
        auto at = [&](int i, int j) { return static_cast<long>(src[i * sw + j]); };
        const long top = sx.w0 * at(sy.i0, sx.i0) + sx.w1 * at(sy.i0, sx.i1);
        const long bottom = sx.w0 * at(sy.i1, sx.i0) + sx.w1 * at(sy.i1, sx.i1);
        ASSERT_EQ(dst[y * dw + x], (sy.w0 * top + sy.w1 * bottom + 5000) / 10000)
            << sw << "x" << sh << " -> " << dw << "x" << dh << " at " << x << "," << y;
      }
    }
  }
}

TEST(Resample, RefusesNullPointersAndEmptySizes) {
  const auto src = Random(16, 3);
  std::vector<uint8_t> dst(16, 0xAB);
  Resample(4, 4, nullptr, 4, 4, dst.data());
  Resample(4, 4, src.data(), 4, 4, nullptr);
  Resample(0, 4, src.data(), 4, 4, dst.data());
  Resample(4, 4, src.data(), 4, -1, dst.data());
  for (uint8_t b : dst) EXPECT_EQ(b, 0xAB);
}

TEST(NormaliseToCanvas, ConstantImageFillsInnerRectangleOnBorderOfTen) {
  const std::vector<uint8_t> image(kImageBytes, 77);
  std::vector<uint8_t> canvas(kCanvasBytes, 0);
  ASSERT_EQ(NormaliseToCanvas(image.data(), canvas.data()), kExtractOk);
  for (int y = 0; y < kCanvasHeight; ++y) {
    for (int x = 0; x < kCanvasWidth; ++x) {
      const bool inside = y >= 6 && y <= 280 && x >= 23 && x <= 231;
      ASSERT_EQ(canvas[y * kCanvasWidth + x], inside ? 77 : 10) << x << "," << y;
    }
  }
}

TEST(NormaliseToCanvas, PlacesResampledImageAtColumn23Row6) {
  const auto image = Random(kImageBytes, 4);
  std::vector<uint8_t> resampled(kResampledWidth * kResampledHeight);
  Resample(kImageWidth, kImageHeight, image.data(), kResampledWidth, kResampledHeight,
           resampled.data());
  std::vector<uint8_t> canvas(kCanvasBytes, 0);
  ASSERT_EQ(NormaliseToCanvas(image.data(), canvas.data()), kExtractOk);
  for (int i = 0; i < kResampledHeight; ++i) {
    for (int j = 0; j < kResampledWidth; ++j) {
      ASSERT_EQ(canvas[(6 + i) * kCanvasWidth + 23 + j], resampled[i * kResampledWidth + j]);
    }
  }
}

}  // namespace
}  // namespace vantrel::extract
