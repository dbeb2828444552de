// Smoothing and enhancement kernels, the oriented filters and the ridge period.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "reader/extract/extract_context.h"
#include "reader/extract/ridge_filter.h"
#include "reader/extract/ridge_period_sse2.h"

namespace vantrel::extract {
namespace {

using Canvas = std::vector<uint8_t>;
constexpr double kPi = 3.14159265358979323846;

template <int N>
int Sum(const int16_t (&k)[N][N]) {
  int s = 0;
  for (const auto& row : k) {
    for (int16_t v : row) s += v;
  }
  return s;
}

template <int N>
std::vector<int16_t> Sorted(const int16_t (&k)[N][N]) {
  std::vector<int16_t> v;
  for (const auto& row : k) v.insert(v.end(), row, row + N);
  std::sort(v.begin(), v.end());
  return v;
}

// Sum of the coefficients met along a line through the centre in the ridge direction of
// code j: (cos, -sin) of (j - 1) x 22.5 degrees, y down.
template <int N>
int LineResponse(const int16_t (&k)[N][N], int j) {
  constexpr int R = N / 2;
  const double psi = (j - 1) * 22.5 * kPi / 180.0;
  int s = 0;
  for (int t = -R; t <= R; ++t) {
    const int dx = static_cast<int>(std::lround(t * std::cos(psi)));
    const int dy = static_cast<int>(std::lround(-t * std::sin(psi)));
    s += k[dy + R][dx + R];
  }
  return s;
}

template <int N>
int BestLine(const int16_t (&k)[N][N]) {
  int best = 1;
  for (int j = 2; j <= 8; ++j) {
    if (LineResponse(k, j) > LineResponse(k, best)) best = j;
  }
  return best;
}

TEST(SmoothingKernels, CodeOneIsTheSampledGabor) {
  const auto& k = SmoothingKernelFor(1).c;
  const int centre_row[9] = {116, 277, 518, 754, 854, 754, 518, 277, 116};
  for (int dx = 0; dx < 9; ++dx) EXPECT_EQ(k[4][dx], centre_row[dx]) << dx;
  for (int dy = -4; dy <= 4; ++dy) {
    for (int dx = -4; dx <= 4; ++dx) {
      const double want = 854 * std::exp(-(dx * dx + dy * dy) / 8.0) * std::cos(2 * kPi * dy / 5);
      EXPECT_EQ(k[dy + 4][dx + 4], static_cast<int>(std::floor(want + 0.5))) << dx << "," << dy;
    }
  }
}

TEST(SmoothingKernels, EveryCodeHoldsTheSameCoefficientsSumming524) {
  const auto base = Sorted(SmoothingKernelFor(1).c);
  for (int code = 1; code <= 8; ++code) {
    const auto& k = SmoothingKernelFor(code).c;
    EXPECT_EQ(Sum(k), 524) << code;
    EXPECT_EQ(k[4][4], 854) << code;
    EXPECT_EQ(Sorted(k), base) << code;
  }
}

// The filters take the pixels at offsets o and -o together, so every kernel must be
// point-symmetric.
template <int N>
bool PointSymmetric(const int16_t (&k)[N][N]) {
  for (int i = 0; i < N; ++i) {
    for (int j = 0; j < N; ++j) {
      if (k[i][j] != k[N - 1 - i][N - 1 - j]) return false;
    }
  }
  return true;
}

TEST(Kernels, EveryKernelIsPointSymmetric) {
  for (int code = 1; code <= 8; ++code) {
    EXPECT_TRUE(PointSymmetric(SmoothingKernelFor(code).c)) << code;
    for (int cls = 0; cls < 3; ++cls) {
      EXPECT_TRUE(PointSymmetric(EnhancementKernelFor(cls, code).c)) << cls << " " << code;
    }
  }
}

TEST(SmoothingKernels, CodeFiveIsTheTransposeAndEachCodeRunsAlongItsRidge) {
  const auto& k1 = SmoothingKernelFor(1).c;
  const auto& k5 = SmoothingKernelFor(5).c;
  for (int i = 0; i < 9; ++i) {
    for (int j = 0; j < 9; ++j) EXPECT_EQ(k5[i][j], k1[j][i]) << i << "," << j;
  }
  for (int code = 1; code <= 8; ++code) EXPECT_EQ(BestLine(SmoothingKernelFor(code).c), code);
  // Code 3: the row of 854, 754, 518 runs from lower left to upper right.
  const auto& k3 = SmoothingKernelFor(3).c;
  EXPECT_EQ(k3[3][5], 754);  // (dx, dy) = (1, -1)
  EXPECT_EQ(k3[5][3], 754);  // (-1, 1)
  // The falling diagonal lies across the ridge and meets the smaller coefficients.
  int rising = 0, falling = 0;
  for (int t = -4; t <= 4; ++t) {
    rising += k3[4 - t][4 + t];
    falling += k3[4 + t][4 + t];
  }
  EXPECT_GT(rising, falling + 2000);
}

TEST(EnhancementKernels, CodeOneIsWithinOneOfTheGaborAndSumsTo510To508) {
  const double params[3][3] = {{488, 8, 5}, {679, 20.48, 8}, {222, 50, 10}};
  const int sums[3] = {510, 509, 508};
  for (int cls = 0; cls < 3; ++cls) {
    const auto& k = EnhancementKernelFor(cls, 1).c;
    EXPECT_EQ(k[5][5], static_cast<int>(params[cls][0])) << cls;
    for (int dy = -5; dy <= 5; ++dy) {
      for (int dx = -5; dx <= 5; ++dx) {
        const double want = params[cls][0] * std::exp(-(dx * dx + dy * dy) / params[cls][1]) *
                            std::cos(2 * kPi * dy / params[cls][2]);
        EXPECT_LE(std::fabs(k[dy + 5][dx + 5] - std::floor(want + 0.5)), 1.0)
            << cls << " " << dx << "," << dy;
        // Symmetric in both axes, like the formula.
        EXPECT_EQ(k[dy + 5][dx + 5], k[5 - dy][5 - dx]);
        EXPECT_EQ(k[dy + 5][dx + 5], k[dy + 5][5 - dx]);
      }
    }
    const auto base = Sorted(k);
    for (int code = 1; code <= 8; ++code) {
      const auto& kc = EnhancementKernelFor(cls, code).c;
      EXPECT_EQ(Sum(kc), sums[cls]) << cls << " " << code;
      EXPECT_EQ(Sorted(kc), base) << cls << " " << code;
      EXPECT_EQ(BestLine(kc), code) << cls << " " << code;
    }
    const auto& k5 = EnhancementKernelFor(cls, 5).c;
    for (int i = 0; i < 11; ++i) {
      for (int j = 0; j < 11; ++j) EXPECT_EQ(k5[i][j], k[j][i]);
    }
  }
}

TEST(SignaturePattern, CodeOneIsUprightAndCodeFiveAQuarterTurn) {
  for (int p = 0; p < 32; ++p) {
    for (int s = 0; s < 16; ++s) {
      const SampleOffset o1 = SignatureOffset(1, p, s);
      EXPECT_EQ(o1.dy, 16 - p);
      EXPECT_EQ(o1.dx, s - 8);
      // Rotated by 90 degrees: across the ridge is now along x.
      const SampleOffset o5 = SignatureOffset(5, p, s);
      EXPECT_EQ(o5.dx, 16 - p);
      EXPECT_EQ(o5.dy, 8 - s);
    }
  }
  // Code 3: the samples of one position run from lower left to upper right.
  const SampleOffset a = SignatureOffset(3, 16, 0), b = SignatureOffset(3, 16, 15);
  EXPECT_LT(a.dx, b.dx);
  EXPECT_GT(a.dy, b.dy);
  // No sample of any code lies farther than 18 from the centre along either axis (the
  // period measurement sizes its edge tables by that).
  for (int code = 1; code <= 8; ++code) {
    for (int p = 0; p < 32; ++p) {
      for (int s = 0; s < 16; ++s) {
        const SampleOffset o = SignatureOffset(code, p, s);
        ASSERT_LE(std::max(std::abs(o.dx), std::abs(o.dy)), 18) << code << " " << p << " " << s;
      }
    }
  }
}

TEST(SignaturePeriod, SingleSpacingOfSix) {
  int v[32];
  std::fill(v, v + 32, 100);
  v[10] = 200;
  v[16] = 200;
  // Smoothed peaks at 10 and 16 (one spacing of 6); the one valley between them has no
  // partner.
  EXPECT_EQ(SignaturePeriod(v), 6);
}

TEST(SignaturePeriod, SpacingsOutside4To15AreIgnored) {
  int flat[32];
  std::fill(flat, flat + 32, 50);
  EXPECT_EQ(SignaturePeriod(flat), 0);
  int far[32];
  std::fill(far, far + 32, 100);
  far[5] = 200;
  far[25] = 200;  // 20 apart
  EXPECT_EQ(SignaturePeriod(far), 0);
  // Peaks every 8 and valleys between: all spacings 8.
  int wave[32];
  for (int p = 0; p < 32; ++p) wave[p] = static_cast<int>(100 + 80 * std::cos(2 * kPi * p / 8));
  EXPECT_EQ(SignaturePeriod(wave), 8);
}

Canvas HorizontalStripes(int period) {
  Canvas c(kCanvasBytes);
  for (int y = 0; y < kCanvasHeight; ++y) {
    const auto v = static_cast<uint8_t>(std::lround(128 + 90 * std::cos(2 * kPi * y / period)));
    std::memset(&c[y * kCanvasWidth], v, kCanvasWidth);
  }
  return c;
}

ExtractionContext ForegroundWithCode(int code) {
  ExtractionContext ctx{};
  std::memset(ctx.block_direction, code, sizeof ctx.block_direction);
  return ctx;
}

TEST(MeasureRidgePeriod, StripePeriodsGiveTheirClasses) {
  const int periods[] = {5, 6, 8, 9, 11, 13};
  const int classes[] = {0, 0, 1, 1, 2, 2};
  for (int i = 0; i < 6; ++i) {
    const Canvas c = HorizontalStripes(periods[i]);
    ExtractionContext ctx = ForegroundWithCode(1);
    MeasureRidgePeriod(c.data(), ctx);
    for (int r = 0; r < kBlockRows; ++r) {
      for (int col = 0; col < kBlockColumns; ++col) {
        // Blocks of row 35 and column 31 lie outside every cell and fall back to 8.
        const int want = (r == 0 || r == 35 || col == 0 || col >= 31) ? 1 : classes[i];
        ASSERT_EQ(ctx.ridge_period[r][col], want) << periods[i] << " " << r << "," << col;
      }
    }
  }
}

TEST(MeasureRidgePeriod, NoMeasuredCellGivesPeriod8Class1) {
  const Canvas c(kCanvasBytes, 90);
  ExtractionContext ctx = ForegroundWithCode(1);
  std::memset(ctx.ridge_period, 2, sizeof ctx.ridge_period);  // stale values are cleared
  MeasureRidgePeriod(c.data(), ctx);
  for (const auto& row : ctx.ridge_period) {
    for (uint8_t p : row) ASSERT_EQ(p, 1);
  }
  // Background cells are not measured either.
  const Canvas stripes = HorizontalStripes(12);
  ExtractionContext bg{};
  std::memset(bg.block_mask, 1, sizeof bg.block_mask);
  MeasureRidgePeriod(stripes.data(), bg);
  for (const auto& row : bg.ridge_period) {
    for (uint8_t p : row) ASSERT_EQ(p, 1);
  }
}

// Plain per-pixel version of the oriented filters, on the flat canvas with zeros beyond
// both ends, to hold the block-wise implementation to.
template <int N, typename KernelOf>
Canvas Reference(const Canvas& src, const ExtractionContext& ctx, KernelOf kernel_of) {
  constexpr int R = N / 2;
  Canvas out(kCanvasBytes);
  for (int i = 0; i < kCanvasBytes; ++i) {
    const int y = i / kCanvasWidth, x = i % kCanvasWidth;
    const int code = ctx.block_direction[y / 8][x / 8];
    if (code == 0) {
      out[i] = src[i];
      continue;
    }
    const int16_t (*k)[N] = kernel_of(y / 8, x / 8, code);
    long a = 0;
    for (int dy = -R; dy <= R; ++dy) {
      for (int dx = -R; dx <= R; ++dx) {
        const int at = i + dy * kCanvasWidth + dx;
        if (at >= 0 && at < kCanvasBytes) a += k[dy + R][dx + R] * src[at];
      }
    }
    out[i] = a <= 0 ? 0 : static_cast<uint8_t>(std::min<long>(255, a >> 9));
  }
  return out;
}

TEST(OrientedFilters, MatchThePlainPerPixelFilterEverywhere) {
  std::mt19937 rng(99);
  Canvas src(kCanvasBytes);
  for (auto& p : src) p = static_cast<uint8_t>(rng());
  ExtractionContext ctx{};
  for (auto& row : ctx.block_direction) {
    for (auto& code : row) code = static_cast<uint8_t>(rng() % 9);  // 0 included
  }
  for (auto& row : ctx.ridge_period) {
    for (auto& cls : row) cls = static_cast<uint8_t>(rng() % 3);
  }
  Canvas out(kCanvasBytes, 0);
  SmoothAlongRidges(src.data(), out.data(), ctx);
  EXPECT_EQ(out, (Reference<9>(src, ctx, [](int, int, int code) {
              return static_cast<const int16_t (*)[9]>(SmoothingKernelFor(code).c);
            })));
  EnhanceRidges(src.data(), out.data(), ctx);
  EXPECT_EQ(out, (Reference<11>(src, ctx, [&ctx](int r, int c, int code) {
              return static_cast<const int16_t (*)[11]>(
                  EnhancementKernelFor(ctx.ridge_period[r][c], code).c);
            })));
}

TEST(OrientedFilters, BackgroundBlocksAreCopiedAndFlatAreasScaled) {
  std::mt19937 rng(5);
  Canvas src(kCanvasBytes);
  for (auto& p : src) p = static_cast<uint8_t>(rng());
  ExtractionContext ctx{};  // every code 0
  Canvas out(kCanvasBytes, 0);
  SmoothAlongRidges(src.data(), out.data(), ctx);
  EXPECT_EQ(out, src);
  EnhanceRidges(src.data(), out.data(), ctx);
  EXPECT_EQ(out, src);

  // A flat area of 100 is scaled by the kernel sum over 512.
  const Canvas flat(kCanvasBytes, 100);
  ctx = ForegroundWithCode(3);
  SmoothAlongRidges(flat.data(), out.data(), ctx);
  EXPECT_EQ(out[100 * kCanvasWidth + 100], 100 * 524 / 512);  // 102
  for (int cls = 0; cls < 3; ++cls) {
    std::memset(ctx.ridge_period, cls, sizeof ctx.ridge_period);
    EnhanceRidges(flat.data(), out.data(), ctx);
    EXPECT_EQ(out[100 * kCanvasWidth + 100], 100 * (510 - cls) / 512) << cls;  // 99
  }
  // Bright flat areas saturate at 255.
  const Canvas white(kCanvasBytes, 255);
  SmoothAlongRidges(white.data(), out.data(), ctx);
  EXPECT_EQ(out[100 * kCanvasWidth + 100], 255);
}

TEST(OrientedFilters, SmoothingKeepsRidgesOfItsOwnDirection) {
  // Period-5 horizontal stripes pass the code-1 kernel with their contrast; the code-5
  // kernel (across them) flattens them.
  const Canvas c = HorizontalStripes(5);
  Canvas along(kCanvasBytes), across(kCanvasBytes);
  ExtractionContext ctx = ForegroundWithCode(1);
  SmoothAlongRidges(c.data(), along.data(), ctx);
  ctx = ForegroundWithCode(5);
  SmoothAlongRidges(c.data(), across.data(), ctx);
  auto spread = [](const Canvas& k) {
    int lo = 255, hi = 0;
    for (int y = 100; y < 110; ++y) {
      lo = std::min<int>(lo, k[y * kCanvasWidth + 128]);
      hi = std::max<int>(hi, k[y * kCanvasWidth + 128]);
    }
    return hi - lo;
  };
  EXPECT_GT(spread(along), 150);
  EXPECT_LT(spread(across), 60);
}

// The row and column forms of the signature against the sample-by-sample mean over the
// offset table of codes 1 and 5, at every centre whose samples all lie on the canvas.
TEST(MeasureRidgePeriod, RowAndColumnSignaturesMatchTheSampleTable) {
#if !defined(VANTREL_SSE2)
  GTEST_SKIP() << "built without the SSE2 forms";
#else
  Canvas c(kCanvasBytes);
  std::mt19937 rng(5);
  for (uint8_t& v : c) v = static_cast<uint8_t>(rng());
  using Form = void (*)(const uint8_t*, int (&)[kSignatureLength]);
  const struct {
    int code;
    Form form;
  } forms[] = {{1, sse2::RowSignature}, {5, sse2::ColumnSignature}};
  for (const auto& f : forms) {
    for (int cy = 18; cy < kCanvasHeight - 18; cy += 3) {
      for (int cx = 18; cx < kCanvasWidth - 18; cx += 5) {
        const uint8_t* centre = c.data() + cy * kCanvasWidth + cx;
        int fast[kSignatureLength];
        f.form(centre, fast);
        for (int p = 0; p < kSignatureLength; ++p) {
          int sum = 0;
          for (int s = 0; s < kSignatureSamples; ++s) {
            const SampleOffset o = SignatureOffset(f.code, p, s);
            sum += centre[o.dy * kCanvasWidth + o.dx];
          }
          ASSERT_EQ(fast[p], sum / kSignatureSamples) << f.code << " " << cx << " " << cy << " " << p;
        }
      }
    }
  }
#endif
}

}  // namespace
}  // namespace vantrel::extract
