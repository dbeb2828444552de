// The thinning and the oriented filters take shortcuts (run-end scanning, tap pairs in
// registers). Here each is held against the plain statement of its rule, written as
// directly as possible, on random canvases that reach every column and row edge.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <iterator>
#include <numeric>
#include <random>
#include <vector>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/filter_run.h"
#include "reader/extract/minutiae.h"
#include "reader/extract/orientation.h"
#include "reader/extract/ridge_filter.h"
#include "reader/extract/segment.h"
#include "reader/extract/skeleton.h"

namespace vantrel::extract {
namespace {

using Canvas = std::vector<uint8_t>;
constexpr int w = kCanvasWidth;

// Thinning by its plain rule: full raster scans of the window, in place.
void PlainThin(uint8_t* canvas) {
  for (int y = 0; y < kCanvasHeight; ++y) {
    canvas[y * w] = 0;
    for (int x = 1; x < w; ++x) canvas[y * w + x] = canvas[y * w + x] != 0 ? 3 : 0;
  }
  auto ridge = [&](int i) { return (canvas[i] >> 1) & 1; };
  bool changing = true;
  while (changing) {
    changing = false;
    bool start_changed[kCanvasHeight], row_changed[kCanvasHeight] = {};
    for (int y = 0; y < kCanvasHeight; ++y) start_changed[y] = canvas[y * w] != 2;
    for (int pass = 0; pass < 2; ++pass) {
      for (int y = 6; y <= 281; ++y) {
        if (!start_changed[y] && !start_changed[y - 1] && !start_changed[y + 1]) continue;
        for (int x = 6; x <= 249; ++x) {
          const int i = y * w + x;
          if (canvas[i] != 3) continue;
          const bool both = pass == 0 ? canvas[i - 1] != 0 && canvas[i + 1] != 0
                                      : canvas[i - w] != 0 && canvas[i + w] != 0;
          if (both) continue;
          const int pattern = ridge(i + 1) | ridge(i + 1 - w) << 1 | ridge(i - w) << 2 |
                              ridge(i - 1 - w) << 3 | ridge(i - 1) << 4 |
                              ridge(i - 1 + w) << 5 | ridge(i + w) << 6 | ridge(i + 1 + w) << 7;
          if (ThinDeletes(pass, pattern)) {
            canvas[i] = 1;
            row_changed[y] = changing = true;
          }
        }
      }
    }
    for (int y = 0; y < kCanvasHeight; ++y) {
      if (start_changed[y]) {
        for (int x = 1; x < w; ++x) {
          if (canvas[y * w + x] == 1) canvas[y * w + x] = 0;
        }
        changing = true;
      }
      canvas[y * w] = row_changed[y] ? 0 : 2;
    }
  }
  for (int i = 0; i < kCanvasBytes; ++i) canvas[i] &= ~2 & 0xFF;
}

// Random blobs and stripes of ridge, thick enough to need several iterations, over the
// whole canvas including the first and last columns and rows.
Canvas RandomBinary(std::mt19937& rng, int density_percent) {
  Canvas c(kCanvasBytes, 0);
  std::uniform_int_distribution<int> percent(0, 99);
  for (int i = 0; i < kCanvasBytes; ++i) c[i] = percent(rng) < density_percent ? 1 : 0;
  std::uniform_int_distribution<int> x_of(0, w - 1), y_of(0, kCanvasHeight - 1), size(2, 14);
  for (int blob = 0; blob < 60; ++blob) {
    const int x0 = x_of(rng), y0 = y_of(rng), sx = size(rng), sy = size(rng);
    for (int y = y0; y < std::min(y0 + sy, kCanvasHeight); ++y) {
      for (int x = x0; x < std::min(x0 + sx, w); ++x) c[y * w + x] = 1;
    }
  }
  return c;
}

TEST(FastPath, ThinningMatchesTheFullRasterScan) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 24; ++round) {
    Canvas fast = RandomBinary(rng, round % 4 * 15);
    Canvas plain = fast;
    Thin(fast.data());
    PlainThin(plain.data());
    ASSERT_EQ(fast, plain) << "round " << round;
  }
}

// Hole filling by its plain rule: every pixel of rows 8..279 checked in scan order on the live
// canvas, contours traced clockwise from the lower-left neighbour.
void PlainFillHoles(uint8_t* c) {
  auto at = [&](int x, int y) {
    return x >= 0 && x < w && y >= 0 && y < kCanvasHeight ? c[y * w + x] : 0;
  };
  constexpr int kDx[8] = {1, 1, 0, -1, -1, -1, 0, 1}, kDy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
  for (int y = 8; y <= 279; ++y) {
    for (int x = 0; x < w; ++x) {
      if (c[y * w + x] != 1 || at(x, y + 1) != 0 || at(x - 1, y + 1) == 0) continue;
      std::vector<std::pair<int, int>> contour{{x, y}};
      int cx = x, cy = y, d = 3;
      bool closed = false;
      while (contour.size() < 40) {
        int e = -1;
        for (int t = 1; t <= 8 && e < 0; ++t) {
          const int k = (d - t + 16) % 8;
          if (at(cx + kDx[k], cy + kDy[k]) != 0) e = k;
        }
        if (e < 0) break;
        cx += kDx[e];
        cy += kDy[e];
        d = (e + 4) % 8;
        if ((closed = cx == x && cy == y) || cy < y || (cy == y && cx < x)) break;
        contour.emplace_back(cx, cy);
      }
      if (!closed) continue;
      for (const auto& [qx, qy] : contour) {
        if (at(qx + 1, qy) != 0) continue;
        int rx = qx + 1;
        while (rx < w && c[qy * w + rx] == 0) ++rx;
        if (rx >= w || std::find(contour.begin(), contour.end(), std::pair{rx, qy}) == contour.end()) {
          continue;
        }
        std::fill(c + qy * w + qx + 1, c + qy * w + rx, 1);
      }
    }
  }
}

TEST(FastPath, HoleFillingMatchesTheFullScan) {
  std::mt19937 rng(13);
  std::uniform_int_distribution<int> x_of(0, w - 1), y_of(6, 281), size(1, 6);
  int filled = 0;
  for (int round = 0; round < 12; ++round) {
    // Rings and broken rings of many sizes, some touching, over random specks.
    Canvas fast = RandomBinary(rng, round % 3 * 10);
    for (int ring = 0; ring < 400; ++ring) {
      const int x0 = x_of(rng), y0 = y_of(rng), sx = size(rng) + 1, sy = size(rng) + 1;
      const int gap = ring % 3 == 0 ? x_of(rng) % (2 * (sx + sy)) : -1;
      int k = 0;
      for (int y = y0; y <= y0 + sy && y < kCanvasHeight; ++y) {
        for (int x = x0; x <= x0 + sx && x < w; ++x) {
          const bool edge = y == y0 || y == y0 + sy || x == x0 || x == x0 + sx;
          if (edge && k++ != gap) fast[y * w + x] = 1;
        }
      }
    }
    const Canvas before = fast;
    Canvas plain = fast;
    FillHoles(fast.data());
    PlainFillHoles(plain.data());
    ASSERT_EQ(fast, plain) << "round " << round;
    filled += static_cast<int>(std::inner_product(before.begin(), before.end(), fast.begin(), 0,
                                                  std::plus<>(), std::not_equal_to<>()));
  }
  EXPECT_GT(filled, 1000);  // the rounds really filled holes
}

TEST(FastPath, ThinningMatchesOnSolidCanvases) {
  for (uint8_t v : {0, 1}) {
    Canvas fast(kCanvasBytes, v), plain(kCanvasBytes, v);
    Thin(fast.data());
    PlainThin(plain.data());
    EXPECT_EQ(fast, plain) << int{v};
  }
}

// The oriented filter by its plain rule: every pixel's window summed cell by cell, pixels before
// the first or after the last canvas byte counting as 0, blocks of code 0 copied.
template <typename CellsOf>
Canvas PlainFilter(const Canvas& src, const ExtractionContext& context, int n, CellsOf cells) {
  const int r = n / 2;
  Canvas dst(kCanvasBytes, 0);
  for (int i = 0; i < kCanvasBytes; ++i) {
    const int y = i / w, x = i % w;
    const int br = y / kBlockSize, bc = x / kBlockSize;
    const int code = context.block_direction[br][bc];
    if (code == 0) {
      dst[i] = src[i];
      continue;
    }
    long sum = 0;
    for (int ky = 0; ky < n; ++ky) {
      for (int kx = 0; kx < n; ++kx) {
        const int at = i + (ky - r) * w + (kx - r);
        if (at >= 0 && at < kCanvasBytes) sum += cells(br, bc, code, ky, kx) * src[at];
      }
    }
    dst[i] = static_cast<uint8_t>(sum <= 0 ? 0 : std::min<long>(sum >> 9, 255));
  }
  return dst;
}

ExtractionContext RandomFields(std::mt19937& rng, int background_percent) {
  ExtractionContext context{};
  std::uniform_int_distribution<int> code(1, kDirectionCodes), cls(0, kPeriodClasses - 1),
      percent(0, 99);
  // Runs of equal codes, as real direction fields have, broken at random places.
  for (int br = 0; br < kBlockRows; ++br) {
    int current = code(rng);
    for (int bc = 0; bc < kBlockColumns; ++bc) {
      if (percent(rng) < 30) current = code(rng);
      context.block_direction[br][bc] =
          static_cast<uint8_t>(percent(rng) < background_percent ? 0 : current);
      context.ridge_period[br][bc] = static_cast<uint8_t>(percent(rng) < 70 ? 1 : cls(rng));
    }
  }
  return context;
}

Canvas RandomGrey(std::mt19937& rng) {
  Canvas c(kCanvasBytes);
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto& v : c) v = static_cast<uint8_t>(byte(rng));
  // A few saturated patches drive the sums past both clamps.
  for (int i = 0; i < kCanvasBytes; i += 4096) std::fill_n(c.begin() + i, 600, i % 8192 ? 255 : 0);
  return c;
}

// Runs a filter stage on random canvases and fields, three rounds with more background
// each time, and compares it with the plain sum over the cells that `cells` gives.
template <typename Stage, typename CellsOf>
void CheckStage(uint32_t seed, Stage stage, int n, CellsOf cells) {
  std::mt19937 rng(seed);
  for (int round = 0; round < 3; ++round) {
    const Canvas src = RandomGrey(rng);
    const ExtractionContext context = RandomFields(rng, round * 20);
    Canvas fast(kCanvasBytes, 0);
    stage(src.data(), fast.data(), context);
    const Canvas plain = PlainFilter(src, context, n, [&](int br, int bc, int code, int ky, int kx) {
      return cells(context, br, bc, code, ky, kx);
    });
    ASSERT_EQ(fast, plain) << "round " << round;
  }
}

TEST(FastPath, SmoothingMatchesTheCellByCellSum) {
  CheckStage(7, SmoothAlongRidges, kSmoothSide,
             [](const ExtractionContext&, int, int, int code, int ky, int kx) {
               return SmoothingKernelFor(code).c[ky][kx];
             });
}

TEST(FastPath, EnhancementMatchesTheCellByCellSum) {
  CheckStage(11, EnhanceRidges, kEnhanceSide,
             [](const ExtractionContext& context, int br, int bc, int code, int ky, int kx) {
               return EnhancementKernelFor(context.ridge_period[br][bc], code).c[ky][kx];
             });
}

// The pre-filter in 16-bit lanes with its division by multiplication, whole and in each
// row form, against the 5 x 5 weighted mean in plain integers; all-255 areas give the
// largest sums.
TEST(FastPath, PreFilterMatchesThePlainWeightedMean) {
  std::mt19937 rng(5);
  for (int round = 0; round < 2; ++round) {
    Canvas src = RandomGrey(rng);
    if (round == 1) std::fill(src.begin() + 20 * w, src.begin() + 60 * w, 255);
    constexpr int kWeight[5] = {1, 2, 4, 2, 1};
    Canvas expected = src;
    for (int y = 2; y < kCanvasHeight - 2; ++y) {
      for (int x = 2; x < w - 2; ++x) {
        int sum = 0;
        for (int dy = -2; dy <= 2; ++dy) {
          for (int dx = -2; dx <= 2; ++dx) {
            sum += kWeight[dy + 2] * kWeight[dx + 2] * src[(y + dy) * w + x + dx];
          }
        }
        expected[y * w + x] = static_cast<uint8_t>(sum / 100);
      }
    }
    Canvas fast(kCanvasBytes, 0);
    PreFilter(src.data(), fast.data());
    ASSERT_EQ(fast, expected) << "round " << round;
    for (auto form : {&PreFilterRowBaseline, &PreFilterRowWide}) {
      if (form == &PreFilterRowWide && !cpu::RunsAvx2()) continue;
      Canvas rows = src;
      for (int y = 2; y < kCanvasHeight - 2; ++y) form(src.data() + y * w, rows.data() + y * w);
      ASSERT_EQ(rows, expected) << "round " << round << (form == &PreFilterRowWide ? " wide" : "");
    }
  }
}

TEST(FastPath, BlockStatsMatchThePlainSums) {
  std::mt19937 rng(9);
  Canvas canvas = RandomGrey(rng);
  std::fill_n(canvas.begin() + 40 * w, w, 255);  // rows of one value, and a lone 0 in them
  canvas[40 * w + 3] = 0;
  for (int y0 = 0; y0 + kBlockSize <= kCanvasHeight; y0 += 5) {
    for (int x0 = 0; x0 + kBlockSize <= w; x0 += 7) {
      int sum = 0;
      for (int y = 0; y < kBlockSize; ++y) {
        for (int x = 0; x < kBlockSize; ++x) sum += canvas[(y0 + y) * w + x0 + x];
      }
      const int m = sum >> 6;
      int squares = 0;
      for (int y = 0; y < kBlockSize; ++y) {
        for (int x = 0; x < kBlockSize; ++x) {
          const int d = canvas[(y0 + y) * w + x0 + x] - m;
          squares += d * d;
        }
      }
      int mean = -1, variance = -1;
      BlockStats(canvas.data() + y0 * w + x0, &mean, &variance);
      ASSERT_EQ(mean, m) << x0 << "," << y0;
      ASSERT_EQ(variance, squares >> 6) << x0 << "," << y0;
    }
  }
}

// Contrast normalisation by its plain rule: the histogram of the foreground pixels, the
// truncated mean, the variance about it, then every pixel through the gain. Grey levels
// drawn from ranges that give variances below, near and far above 100, and the two
// extremes alone (the smallest gain), over masks with more background each round.
TEST(FastPath, ContrastNormalisationMatchesTheHistogramRule) {
  std::mt19937 rng(17);
  const int ranges[][2] = {{0, 255}, {100, 140}, {103, 137}, {110, 125}, {0, 1}, {60, 61}};
  std::uniform_int_distribution<int> percent(0, 99);
  for (const auto& [low, high] : ranges) {
    for (int round = 0; round < 3; ++round) {
      std::uniform_int_distribution<int> grey(low, high);
      Canvas canvas(kCanvasBytes);
      for (auto& g : canvas) g = static_cast<uint8_t>(low == 0 && high == 1 ? grey(rng) * 255 : grey(rng));
      ExtractionContext context{};
      for (auto& row : context.block_mask) {
        for (auto& m : row) m = static_cast<uint8_t>(percent(rng) < round * 45 ? 1 : 0);
      }
      long histogram[256] = {}, n = 0, sum = 0;
      for (int i = 0; i < kCanvasBytes; ++i) {
        if (context.block_mask[i / w / kBlockSize][i % w / kBlockSize] != 0) continue;
        ++histogram[canvas[i]];
        ++n;
        sum += canvas[i];
      }
      Canvas expected = canvas;
      const long m = n > 0 ? sum / n : 0;
      long squares = 0;
      for (int h = 0; h < 256; ++h) squares += histogram[h] * (h - m) * (h - m);
      const long v = n > 0 ? squares / n : 0;
      if (v >= 100) {
        const long k = ContrastGain(v);
        for (auto& g : expected) g = static_cast<uint8_t>(std::clamp(((g - m) * k >> 13) + 120, 0L, 255L));
      }
      NormaliseContrast(canvas.data(), context);
      ASSERT_EQ(canvas, expected) << low << ".." << high << " round " << round << " variance " << v;
    }
  }
}

// Both forms of the block gradient sums against the 3 x 3 Sobel sums written out, on
// every measured block row of a random canvas with random background blocks, which
// must keep what they held.
TEST(FastPath, GradientSumsMatchTheSobelSums) {
  std::mt19937 rng(23);
  const Canvas canvas = RandomGrey(rng);
  std::uniform_int_distribution<int> percent(0, 99);
  static constexpr int32_t kUntouched = -7;
  for (int r = 1; r <= 34; ++r) {
    uint8_t mask[kBlockColumns];
    for (auto& m : mask) m = static_cast<uint8_t>(percent(rng) < 30 ? 1 : 0);
    auto untouched = [](GradientRow& g) {
      for (auto* sums : {&g.gxx, &g.gyy, &g.gxy}) std::fill(std::begin(*sums), std::end(*sums), kUntouched);
    };
    GradientRow expected;
    untouched(expected);
    for (int c = 1; c <= 30; ++c) {
      if (mask[c] != 0) continue;
      expected.gxx[c] = expected.gyy[c] = expected.gxy[c] = 0;
      for (int y = 8 * r; y < 8 * r + 8; ++y) {
        for (int x = 8 * c; x < 8 * c + 8; ++x) {
          auto at = [&](int dx, int dy) { return int{canvas[(y + dy) * w + x + dx]}; };
          const int gx = at(1, -1) + 2 * at(1, 0) + at(1, 1) - at(-1, -1) - 2 * at(-1, 0) - at(-1, 1);
          const int gy = at(-1, 1) + 2 * at(0, 1) + at(1, 1) - at(-1, -1) - 2 * at(0, -1) - at(1, -1);
          expected.gxx[c] += gx * gx;
          expected.gyy[c] += gy * gy;
          expected.gxy[c] += gx * gy;
        }
      }
    }
    for (auto form : {&RowGradientSumsBaseline, &RowGradientSumsWide}) {
      if (form == &RowGradientSumsWide && !cpu::RunsAvx2()) continue;
      GradientRow sums;
      untouched(sums);
      form(canvas.data(), r, mask, sums);
      const char* which = form == &RowGradientSumsWide ? " wide" : " baseline";
      ASSERT_TRUE(std::equal(std::begin(sums.gxx), std::end(sums.gxx), expected.gxx)) << r << which;
      ASSERT_TRUE(std::equal(std::begin(sums.gyy), std::end(sums.gyy), expected.gyy)) << r << which;
      ASSERT_TRUE(std::equal(std::begin(sums.gxy), std::end(sums.gxy), expected.gxy)) << r << which;
    }
  }
}

// Both forms of the block-row filter, called directly, on every kernel: runs of every
// length step (8, 16, 24 pixels and longer) from the first to the last column, in the
// first, second, a middle and the last block row, where windows reach past the canvas.
template <int N>
void CheckRuns(const Canvas& src, const int16_t (&cells)[N][N], const char* what) {
  const TapProgram taps = MakeTaps(cells);
  constexpr int r = N / 2;
  const BlockRun runs[] = {{0, 8, &taps},     {8, 16, &taps},   {24, 24, &taps},
                           {56, 40, &taps},   {104, 72, &taps}, {184, 8, &taps},
                           {200, 56, &taps}};
  for (int block_row : {0, 1, 17, kBlockRows - 1}) {
    Canvas plain(kCanvasBytes, 0), baseline(kCanvasBytes, 0), wide(kCanvasBytes, 0);
    for (const BlockRun& run : runs) {
      for (int y = block_row * kBlockSize; y < (block_row + 1) * kBlockSize; ++y) {
        for (int i = y * w + run.x0; i < y * w + run.x0 + run.length; ++i) {
          long sum = 0;
          for (int ky = 0; ky < N; ++ky) {
            for (int kx = 0; kx < N; ++kx) {
              const int at = i + (ky - r) * w + kx - r;
              if (at >= 0 && at < kCanvasBytes) sum += cells[ky][kx] * src[at];
            }
          }
          plain[i] = static_cast<uint8_t>(sum <= 0 ? 0 : std::min<long>(sum >> 9, 255));
        }
      }
    }
    FilterBlockRowBaseline(src.data(), baseline.data(), block_row, r, runs, std::size(runs));
    ASSERT_EQ(plain, baseline) << what << " baseline, block row " << block_row;
    if (!WideFiltersAvailable()) continue;
    FilterBlockRowWide(src.data(), wide.data(), block_row, r, runs, std::size(runs));
    ASSERT_EQ(plain, wide) << what << " wide, block row " << block_row;
  }
}

TEST(FastPath, BothRunFormsMatchThePlainSumForEveryKernel) {
  std::mt19937 rng(3);
  const Canvas src = RandomGrey(rng);
  for (int code = 1; code <= kDirectionCodes; ++code) {
    CheckRuns(src, SmoothingKernelFor(code).c, "smoothing");
    for (int cls = 0; cls < kPeriodClasses; ++cls) {
      CheckRuns(src, EnhancementKernelFor(cls, code).c, "enhancement");
    }
  }
  // Cells of 0 are left out of the tap pairs; a kernel of nothing but its centre, and one
  // whose cells not 0 stand alone and at the row ends, keep their sums.
  int16_t centre_only[kSmoothSide][kSmoothSide] = {};
  centre_only[kSmoothSide / 2][kSmoothSide / 2] = 700;
  CheckRuns(src, centre_only, "centre only");
  int16_t sparse[kSmoothSide][kSmoothSide] = {};
  sparse[0][kSmoothSide - 1] = sparse[kSmoothSide - 1][0] = -300;
  sparse[2][3] = sparse[kSmoothSide - 3][kSmoothSide - 4] = 450;
  sparse[kSmoothSide / 2][kSmoothSide / 2 - 1] = sparse[kSmoothSide / 2][kSmoothSide / 2 + 1] = 90;
  sparse[kSmoothSide / 2][kSmoothSide / 2] = 120;
  CheckRuns(src, sparse, "sparse");
  // The same at reach 5: the last cell of a row and the cell left of the centre, each
  // paired with a cell of 0 (past the row, the centre), and a row of nothing else.
  int16_t sparse11[kEnhanceSide][kEnhanceSide] = {};
  constexpr int e = kEnhanceSide - 1;
  sparse11[1][e] = sparse11[e - 1][0] = 610;
  sparse11[e / 2][e / 2 - 1] = sparse11[e / 2][e / 2 + 1] = -420;
  sparse11[e / 2][e / 2] = 30;
  CheckRuns(src, sparse11, "sparse, reach 5");
}

// Spur removal by its plain rule: every pixel of rows 8..279 with bit 0 set visited in
// scan order on the live canvas, its path followed and erased when it ends within 8 pixels.
void PlainRemoveSpurs(uint8_t* c) {
  auto code = [&](int x, int y) {
    int bits = 0;
    for (int k = 0; k < 8; ++k) {
      const int nx = x + kDirectionDx[k], ny = y + kDirectionDy[k];
      if (nx >= 0 && nx < w && ny >= 0 && ny < kCanvasHeight && (c[ny * w + nx] & 1)) bits |= 1 << k;
    }
    return bits;
  };
  for (int y = 8; y <= 279; ++y) {
    for (int x = 0; x < w; ++x) {
      int bits = code(x, y);
      if ((c[y * w + x] & 1) == 0 || std::popcount(static_cast<unsigned>(bits)) >= 2) continue;
      std::vector<std::pair<int, int>> path{{x, y}};
      int cx = x, cy = y, simple = 0;
      bool erase = true;
      while (bits != 0 && erase) {
        const int e = DirectionIndex(static_cast<uint8_t>(bits));
        if (e > 7) { erase = false; break; }
        cx += kDirectionDx[e];
        cy += kDirectionDy[e];
        const int next = code(cx, cy);
        if (std::popcount(static_cast<unsigned>(next)) > 2) {
          if (ThinPairs(static_cast<uint8_t>(next)).found) path.emplace_back(cx, cy);
          break;
        }
        erase = ++simple <= 7;
        bits = next & ~(1 << ((e + 4) % 8));
        path.emplace_back(cx, cy);
      }
      if (!erase) continue;
      for (const auto& [px, py] : path) c[py * w + px] = 0;
    }
  }
}

TEST(FastPath, SpurRemovalMatchesTheFullScan) {
  std::mt19937 rng(17);
  int erased = 0;
  for (int round = 0; round < 8; ++round) {
    // Thinned blobs carry many short branches; the specks are isolated segments.
    Canvas fast = RandomBinary(rng, 20 + round % 2 * 25);
    Thin(fast.data());
    Canvas plain = fast;
    erased += static_cast<int>(std::count(fast.begin(), fast.end(), 1));
    RemoveSpurs(fast.data());
    PlainRemoveSpurs(plain.data());
    ASSERT_EQ(fast, plain) << "round " << round;
    erased -= static_cast<int>(std::count(fast.begin(), fast.end(), 1));
  }
  EXPECT_GT(erased, 1000);  // the rounds really erased spurs
}

}  // namespace
}  // namespace vantrel::extract
