// Contrast normalisation and block directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "reader/extract/extract_context.h"
#include "reader/extract/orientation.h"
#include "reader/extract/orientation_sse2.h"

namespace vantrel::extract {
namespace {

using Canvas = std::vector<uint8_t>;

// Stripes of period 6 whose grey level depends only on phase = f(x, y).
template <typename Phase>
Canvas Stripes(Phase phase) {
  Canvas c(kCanvasBytes);
  for (int y = 0; y < kCanvasHeight; ++y) {
    for (int x = 0; x < kCanvasWidth; ++x) {
      const double v = 128.0 + 60.0 * std::sin(2.0 * 3.14159265358979 * phase(x, y) / 6.0);
      c[y * kCanvasWidth + x] = static_cast<uint8_t>(std::lround(v));
    }
  }
  return c;
}

// A context with every block foreground (the zeroed mask).
ExtractionContext AllForeground() { return ExtractionContext{}; }

TEST(ContrastGain, MatchesTheWrittenFormula) {
  EXPECT_EQ(ContrastGain(100), 28381);
  // 1228800 / 1200 = 1024: sqrt 32, x 32 = 1024, + 0.5, x 8 = 8196.
  EXPECT_EQ(ContrastGain(1200), 8196);
  // The quotient is an integer division: 1228800 / 1201 = 1023.
  EXPECT_EQ(ContrastGain(1201), static_cast<int64_t>((std::sqrt(1023.0) * 32 + 0.5) * 8));
}

TEST(NormaliseContrast, VarianceBelow100LeavesTheCanvasAlone) {
  // 72992 of the 73728 pixels alternate 110 / 90, the rest are 100: mean 100 and
  // variance 7299200 / 73728 = 99.
  Canvas c(kCanvasBytes, 100);
  for (int i = 0; i < 72992; ++i) c[i] = (i & 1) ? 110 : 90;
  const Canvas before = c;
  NormaliseContrast(c.data(), AllForeground());
  EXPECT_EQ(c, before);
}

TEST(NormaliseContrast, Variance100MapsTheMeanTo120) {
  // Every foreground pixel alternates 110 / 90: mean 100, variance 100, K = 28381.
  // Block (0, 0) is background and not measured, but it is rewritten too.
  Canvas c(kCanvasBytes);
  for (int i = 0; i < kCanvasBytes; ++i) c[i] = (i & 1) ? 110 : 90;
  ExtractionContext ctx = AllForeground();
  ctx.block_mask[0][0] = 1;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) c[y * kCanvasWidth + x] = 100;
  }
  c[1] = 10;   // far below the mean: clamped to 0
  c[2] = 139;  // (39 x 28381) >> 13 = 135, + 120 = 255 exactly
  c[3] = 140;  // clamped to 255
  NormaliseContrast(c.data(), ctx);
  EXPECT_EQ(c[0], 120);
  EXPECT_EQ(c[1], 0);
  EXPECT_EQ(c[2], 255);
  EXPECT_EQ(c[3], 255);
  // 110 -> (10 x 28381) >> 13 = 34 -> 154; 90 -> floor(-34.6) = -35 -> 85.
  EXPECT_EQ(c[100 * kCanvasWidth + 1], 154);
  EXPECT_EQ(c[100 * kCanvasWidth], 85);
}

TEST(NormaliseContrast, NoForegroundChangesNothing) {
  Canvas c(kCanvasBytes);
  for (int i = 0; i < kCanvasBytes; ++i) c[i] = static_cast<uint8_t>(i * 7);
  const Canvas before = c;
  ExtractionContext ctx{};
  std::memset(ctx.block_mask, 1, sizeof ctx.block_mask);
  NormaliseContrast(c.data(), ctx);
  EXPECT_EQ(c, before);
}

TEST(UnitVectorTable, IsWithinOneOfTheFormula) {
  for (int i = 0; i <= 64; ++i) {
    for (int j = 0; j <= 65; ++j) {
      const double want = i == 0 ? 0.0 : 127.0 * i / std::sqrt(double(i * i + j * j));
      EXPECT_LE(std::fabs(UnitVector(i, j) - want), 1.0) << i << "," << j;
    }
  }
  EXPECT_EQ(UnitVector(5, 0), 127);
  EXPECT_EQ(UnitVector(0, 0), 0);
  EXPECT_EQ(UnitVector(3, 4), 76);  // 127 x 3 / 5 = 76.2
}

TEST(SectorTable, BoundsAreTheTangentsOf22And67Degrees) {
  EXPECT_EQ(SectorBoundsFor(0).lower, 0);
  EXPECT_EQ(SectorBoundsFor(0).upper, 0);
  EXPECT_EQ(SectorBoundsFor(100).lower, 42);   // ceil(41.42)
  EXPECT_EQ(SectorBoundsFor(10).upper, 24);    // floor(24.14)
  EXPECT_EQ(SectorBoundsFor(100).upper, 127);  // capped
  EXPECT_EQ(SectorBoundsFor(127).lower, 53);   // ceil(52.6)
}

TEST(DoubledAngle, StripesGiveTheirAxisVectors) {
  // Horizontal stripes: gx = 0, so A < 0 and C = 0.
  DoubledAngle h = DoubledAngleOf(-5000, 0);
  EXPECT_EQ(h.u, 127);
  EXPECT_EQ(h.w, 0);
  // Vertical stripes: gy = 0, A > 0.
  DoubledAngle v = DoubledAngleOf(5000, 0);
  EXPECT_EQ(v.u, -127);
  EXPECT_EQ(v.w, 0);
  // Both scaled by the same shift: A = 640, C = -640 keep their ratio.
  DoubledAngle d = DoubledAngleOf(640, -640);
  EXPECT_EQ(d.u, -UnitVector(40, 40));
  EXPECT_EQ(d.w, -UnitVector(40, 40));
  // A flat block has no direction.
  DoubledAngle f = DoubledAngleOf(0, 0);
  EXPECT_EQ(f.u, 0);
  EXPECT_EQ(f.w, 0);
}

TEST(QuantiseDirection, SectorsAndTheirBoundaryCorrections) {
  EXPECT_EQ(QuantiseDirection(0, 0), 1);
  EXPECT_EQ(QuantiseDirection(127, 0), 1);
  EXPECT_EQ(QuantiseDirection(0, 127), 3);
  EXPECT_EQ(QuantiseDirection(-127, 0), 5);
  EXPECT_EQ(QuantiseDirection(0, -127), 7);
  EXPECT_EQ(QuantiseDirection(90, 90), 2);
  EXPECT_EQ(QuantiseDirection(-90, 90), 4);
  EXPECT_EQ(QuantiseDirection(-90, -90), 6);
  EXPECT_EQ(QuantiseDirection(90, -90), 8);
  EXPECT_EQ(QuantiseDirection(100, 30), 1);
  EXPECT_EQ(QuantiseDirection(30, 100), 3);
  // atan(54 / 127) is 23.0 degrees: sector 1 by the bounds, moved back to code 1.
  EXPECT_EQ(QuantiseDirection(127, 54), 1);
  EXPECT_EQ(QuantiseDirection(127, 60), 2);
  // atan(127 / 54) is 67.0 degrees with u w < 0: code 8 moved back to 7.
  EXPECT_EQ(QuantiseDirection(54, -127), 7);
  EXPECT_EQ(QuantiseDirection(54, 127), 2);
}

struct StripeCase {
  const char* name;
  double (*phase)(int x, int y);
  int code;
};

TEST(BlockDirections, StripeOrientationsGiveTheirCodes) {
  const StripeCase cases[] = {
      {"horizontal", [](int, int y) { return double(y); }, 1},
      {"vertical", [](int x, int) { return double(x); }, 5},
      // Ridges along x + y = const rise to the right as the canvas is shown.
      {"rising", [](int x, int y) { return (x + y) / std::sqrt(2.0); }, 3},
      {"falling", [](int x, int y) { return (x - y) / std::sqrt(2.0); }, 7},
  };
  for (const StripeCase& sc : cases) {
    const Canvas c = Stripes(sc.phase);
    ExtractionContext ctx = AllForeground();
    BlockDirections(c.data(), ctx);
    for (int r = 1; r <= 34; ++r) {
      for (int col = 1; col <= 30; ++col) {
        ASSERT_EQ(ctx.block_direction[r][col], sc.code) << sc.name << " " << r << "," << col;
      }
    }
  }
}

TEST(BlockDirections, BackgroundGetsZeroAndEdgeColumnsKeepTheNullVector) {
  const Canvas c = Stripes([](int x, int) { return double(x); });
  ExtractionContext ctx = AllForeground();
  ctx.block_mask[10][10] = 1;
  BlockDirections(c.data(), ctx);
  EXPECT_EQ(ctx.block_direction[10][10], 0);
  EXPECT_EQ(ctx.block_direction[10][11], 5);
  // Columns 0 and 31 are never measured or smoothed: (0, 0), code 1, even on vertical
  // ridges.
  for (int r = 0; r < kBlockRows; ++r) {
    EXPECT_EQ(ctx.block_direction[r][0], 1) << r;
    EXPECT_EQ(ctx.block_direction[r][31], 1) << r;
  }
  // Rows 0 and 35 likewise.
  EXPECT_EQ(ctx.block_direction[0][10], 1);
  EXPECT_EQ(ctx.block_direction[35][10], 1);
}

TEST(BlockDirections, EdgeRowsTakeTheCodeOfTheRowInside) {
  // Row 1 has no median of its own and copies row 2; with row 2 background, the
  // foreground blocks of row 1 end with code 0.
  Canvas c = Stripes([](int, int y) { return double(y); });
  ExtractionContext ctx = AllForeground();
  for (int col = 0; col < kBlockColumns; ++col) ctx.block_mask[2][col] = 1;
  BlockDirections(c.data(), ctx);
  for (int col = 0; col < kBlockColumns; ++col) {
    EXPECT_EQ(ctx.block_direction[1][col], 0) << col;
    EXPECT_EQ(ctx.block_direction[2][col], 0) << col;
  }
  EXPECT_EQ(ctx.block_direction[3][5], 1);
}

TEST(BlockDirections, MedianOutvotesALoneBlock) {
  // Horizontal stripes, but one block of vertical stripes: the 5 x 5 median restores 1.
  Canvas c = Stripes([](int, int y) { return double(y); });
  const Canvas v = Stripes([](int x, int) { return double(x); });
  for (int y = 8 * 15; y < 8 * 16; ++y) {
    for (int x = 8 * 12; x < 8 * 13; ++x) c[y * kCanvasWidth + x] = v[y * kCanvasWidth + x];
  }
  ExtractionContext ctx = AllForeground();
  BlockDirections(c.data(), ctx);
  EXPECT_EQ(ctx.block_direction[15][12], 1);
}

// The sorted windows of the vector median against a plain sort of each window, on grids
// from all empty to all full, with bins drawn from a few values (many ties) or from all.
TEST(BlockDirections, SortedWindowsMatchAPlainSort) {
#if !defined(VANTREL_SSE2)
  GTEST_SKIP() << "built without the SSE2 forms";
#else
  constexpr int kStride = 48;
  std::mt19937 rng(18);
  int compared = 0;
  for (int fill = 0; fill <= 100; fill += 10) {
    for (const int spread : {3, 255}) {
      alignas(16) uint8_t bins[kBlockRows][kStride] = {};
      for (int r = 0; r < kBlockRows; ++r) {
        for (int c = 0; c < kBlockColumns; ++c) {
          if (static_cast<int>(rng() % 100) < fill) {
            bins[r][c + 2] = static_cast<uint8_t>(1 + rng() % spread * (254 / (spread - 1)));
          }
        }
      }
      for (int r = 2; r <= 33; ++r) {
        for (int c0 = 1; c0 <= 30; c0 += 16) {
          __m128i vectors[sse2::kWindowCells];
          uint8_t sorted[sse2::kWindowCells][16], empty[16];
          sse2::SortWindows(bins, r, c0, vectors, empty);
          std::memcpy(sorted, vectors, sizeof sorted);
          for (int lane = 0; lane < 16; ++lane) {
            std::vector<uint8_t> window;
            for (int wr = r - 2; wr <= r + 2; ++wr) {
              for (int wc = c0 + lane; wc < c0 + lane + 5; ++wc) window.push_back(bins[wr][wc]);
            }
            std::sort(window.begin(), window.end());
            for (int i = 0; i < sse2::kWindowCells; ++i) ASSERT_EQ(sorted[i][lane], window[i]);
            ASSERT_EQ(empty[lane], std::count(window.begin(), window.end(), 0));
            ++compared;
          }
        }
      }
    }
  }
  EXPECT_EQ(compared, 11 * 2 * 32 * 2 * 16);
#endif
}

}  // namespace
}  // namespace vantrel::extract
