#include "reader/extract/ridge_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "reader/extract/filter_run.h"
#include "reader/extract/ridge_period_sse2.h"

namespace vantrel::extract {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerCode = 22.5;

// Gabor coefficient of the horizontal-ridge kernel, unrounded: Gaussian along both axes
// times a cosine across the ridge (the row offset).
double Gabor(double amplitude, double spread, double period, int dx, int dy) {
  return amplitude * std::exp(-(dx * dx + dy * dy) / spread) *
         std::cos(2.0 * kPi * dy / period);
}

// Builds the horizontal-ridge kernel and brings its sum to target by moving whole
// symmetry classes (the kernel is symmetric in dx and in dy) by 1, those whose rounding
// was furthest off first. Every coefficient stays within 1 of the rounded formula.
template <int N>
void BaseKernel(double amplitude, double spread, double period, int target,
                int16_t (&out)[N][N]) {
  constexpr int R = N / 2;
  double exact[N][N];
  int sum = 0;
  for (int dy = -R; dy <= R; ++dy) {
    for (int dx = -R; dx <= R; ++dx) {
      exact[dy + R][dx + R] = Gabor(amplitude, spread, period, dx, dy);
      // Halves rounded up.
      out[dy + R][dx + R] = static_cast<int16_t>(std::floor(exact[dy + R][dx + R] + 0.5));
      sum += out[dy + R][dx + R];
    }
  }
  if (sum == target) return;

  struct Orbit {
    int dx, dy, size;
    double excess;  // rounded minus exact, in the direction we must move
  };
  const int step = sum > target ? -1 : 1;
  Orbit orbits[(R + 1) * (R + 1)];
  int n_orbits = 0;
  for (int dy = 0; dy <= R; ++dy) {
    for (int dx = 0; dx <= R; ++dx) {
      const int size = (dx == 0 ? 1 : 2) * (dy == 0 ? 1 : 2);
      const double excess = (out[dy + R][dx + R] - exact[dy + R][dx + R]) * -step;
      orbits[n_orbits++] = {dx, dy, size, excess};
    }
  }
  // Stable insertion sort, largest excess first (std::stable_sort may allocate).
  for (int i = 1; i < n_orbits; ++i) {
    const Orbit o = orbits[i];
    int j = i - 1;
    while (j >= 0 && orbits[j].excess < o.excess) {
      orbits[j + 1] = orbits[j];
      --j;
    }
    orbits[j + 1] = o;
  }
  int remaining = (target - sum) * step;
  for (const Orbit& o : orbits) {
    if (remaining == 0) break;
    if (o.size > remaining) continue;
    for (int sy : {-1, 1}) {
      for (int sx : {-1, 1}) {
        if ((sy < 0 && o.dy == 0) || (sx < 0 && o.dx == 0)) continue;
        int16_t& cell = out[sy * o.dy + R][sx * o.dx + R];
        cell = static_cast<int16_t>(cell + step);
      }
    }
    remaining -= o.size;
  }
}

// Places the coefficients of the horizontal-ridge kernel for direction code `code`: every
// grid cell of the base is rotated by (code - 1) x 22.5 degrees counter-clockwise as the
// canvas is shown (row 0 at the top), and the cells are paired one to one with the grid,
// nearest pairs first (ties by base cell, then grid cell, in raster order). Cells go in
// mirror pairs (offset o and -o): the base is point-symmetric and so is every rotated
// kernel, which the filters use to halve their multiplications. The result holds
// exactly the base coefficients, so values and sum are kept; codes 1 and 5 come out as
// the base and its transpose. Corners of the base that rotate out of the square take
// the grid corners that nothing else reaches.
template <int N>
void PlaceRotated(const int16_t (&base)[N][N], int code, int16_t (&out)[N][N]) {
  constexpr int R = N / 2;
  constexpr int kCells = N * N;
  constexpr int kHalf = kCells / 2;  // cells before the centre in raster order
  const double psi = (code - 1) * kDegreesPerCode * kPi / 180.0;
  const double cs = std::cos(psi), sn = std::sin(psi);
  // Squared distances in millionths of a pixel: ties that differ only by rounding noise
  // become exact ties, so the placement does not hang on the last bits of cos and sin.
  auto key = [](double d2) { return static_cast<int64_t>(std::llround(d2 * 1e6)); };
  struct Pair {
    int64_t d2;
    int from, to;  // cells before the centre; `to` >= kHalf stands for the mirror of to - kHalf
  };
  // Scratch for the one-time table build, which runs under the guard of the tables'
  // function-local static: no heap, no second user.
  static Pair pairs[kHalf * kHalf * 2];
  int n_pairs = 0;
  for (int from = 0; from < kHalf; ++from) {
    const double sx = from % N - R, sy = from / N - R;
    // Along the ridge (sx) runs (cos, -sin); across it (sy) runs (sin, cos), y down.
    const double px = sx * cs + sy * sn;
    const double py = -sx * sn + sy * cs;
    for (int to = 0; to < kHalf; ++to) {
      const double gx = to % N - R, gy = to / N - R;
      pairs[n_pairs++] = {key((px - gx) * (px - gx) + (py - gy) * (py - gy)), from, to};
      pairs[n_pairs++] = {key((px + gx) * (px + gx) + (py + gy) * (py + gy)), from, to + kHalf};
    }
  }
  std::sort(pairs, pairs + n_pairs, [](const Pair& a, const Pair& b) {
    if (a.d2 != b.d2) return a.d2 < b.d2;
    if (a.from != b.from) return a.from < b.from;
    return a.to < b.to;
  });
  bool used_from[kHalf] = {}, used_to[kHalf] = {};
  int placed = 0;
  for (int i = 0; i < n_pairs; ++i) {
    const Pair& p = pairs[i];
    const int to = p.to % kHalf;
    if (used_from[p.from] || used_to[to]) continue;
    used_from[p.from] = used_to[to] = true;
    // The base is point-symmetric, so both cells of the pair carry the same value.
    const int16_t v = base[p.from / N][p.from % N];
    out[to / N][to % N] = v;
    out[N - 1 - to / N][N - 1 - to % N] = v;
    if (++placed == kHalf) break;
  }
  out[R][R] = base[R][R];
}

// The farthest a ridge signature sample can lie from its centre along either axis: a
// sample is at most 8 along and 16 across, so within hypot(8, 16) < 18 of it, and
// rounding adds at most a half (a test holds every code to it).
constexpr int kMaxSignatureReach = 18;

struct FilterTables {
  SmoothingKernel smooth[kDirectionCodes];
  EnhancementKernel enhance[kPeriodClasses][kDirectionCodes];
  SampleOffset signature[kDirectionCodes][kSignatureLength][kSignatureSamples];
  TapProgram smooth_taps[kDirectionCodes];
  TapProgram enhance_taps[kPeriodClasses][kDirectionCodes];
  // The signature samples as offsets on the flat canvas, and how far they reach.
  int16_t signature_offset[kDirectionCodes][kSignatureLength * kSignatureSamples];
  int signature_reach = 0;  // the largest |dx| or |dy| of any code
  // Codes whose samples lie on whole rows (position p on row offset 16 - p, column
  // offsets -8..7) or whole columns (column offset 16 - p, row offsets 8 - s), as the
  // rounded table came out: those are summed a row or a column at a time.
  enum class SignatureShape : uint8_t { kScattered, kRows, kColumns };
  SignatureShape signature_shape[kDirectionCodes] = {};

  FilterTables() {
    int16_t smooth_base[kSmoothSide][kSmoothSide];
    BaseKernel(854.0, 8.0, 5.0, 524, smooth_base);
    for (int k = 1; k <= kDirectionCodes; ++k) {
      PlaceRotated(smooth_base, k, smooth[k - 1].c);
      smooth_taps[k - 1] = MakeTaps(smooth[k - 1].c);
    }

    // (amplitude, spread, period, sum) per period class: ridge periods 5, 8 and 10.
    constexpr double kEnhance[kPeriodClasses][4] = {
        {488.0, 8.0, 5.0, 510}, {679.0, 20.48, 8.0, 509}, {222.0, 50.0, 10.0, 508}};
    for (int cls = 0; cls < kPeriodClasses; ++cls) {
      int16_t base[kEnhanceSide][kEnhanceSide];
      BaseKernel(kEnhance[cls][0], kEnhance[cls][1], kEnhance[cls][2],
                 static_cast<int>(kEnhance[cls][3]), base);
      for (int k = 1; k <= kDirectionCodes; ++k) {
        PlaceRotated(base, k, enhance[cls][k - 1].c);
        enhance_taps[cls][k - 1] = MakeTaps(enhance[cls][k - 1].c);
      }
    }

    // Code 1: position p at row offset 16 - p, samples at column offsets -8..7; the other
    // codes rotate that pattern like the kernels, rounded to whole pixels.
    for (int k = 1; k <= kDirectionCodes; ++k) {
      const double psi = (k - 1) * kDegreesPerCode * kPi / 180.0;
      const double cs = std::cos(psi), sn = std::sin(psi);
      for (int p = 0; p < kSignatureLength; ++p) {
        for (int s = 0; s < kSignatureSamples; ++s) {
          const double along = s - 8, across = 16 - p;
          signature[k - 1][p][s].dx = static_cast<int8_t>(std::lround(along * cs + across * sn));
          signature[k - 1][p][s].dy = static_cast<int8_t>(std::lround(-along * sn + across * cs));
          const SampleOffset o = signature[k - 1][p][s];
          signature_offset[k - 1][p * kSignatureSamples + s] =
              static_cast<int16_t>(o.dy * kCanvasWidth + o.dx);
          signature_reach = std::max({signature_reach, std::abs(int{o.dx}), std::abs(int{o.dy})});
        }
      }
      bool rows = true, columns = true;
      for (int p = 0; p < kSignatureLength; ++p) {
        for (int s = 0; s < kSignatureSamples; ++s) {
          const SampleOffset o = signature[k - 1][p][s];
          rows = rows && o.dy == 16 - p && o.dx == s - 8;
          columns = columns && o.dx == 16 - p && o.dy == 8 - s;
        }
      }
      signature_shape[k - 1] = rows      ? SignatureShape::kRows
                               : columns ? SignatureShape::kColumns
                                         : SignatureShape::kScattered;
    }
  }
};

const FilterTables& Tables() {
  static const FilterTables tables;
  return tables;
}

template <int N>
struct OrientedKernel {
  const int16_t (*cells)[N];  // null: the block is copied
  const TapProgram* taps;
};

// Applies an N x N kernel chosen per block to every pixel, the window taken on the
// canvas as one flat array; window pixels before the first or after the last canvas
// byte count as 0. Blocks of code 0 are copied. Each block row is worked in runs of
// neighbouring blocks that share a kernel, which gives the inner loops some length, all
// from one band of the canvas around the block row, widened once.
template <int N, typename KernelOf>
void OrientedFilter(const uint8_t* src, uint8_t* dst, const ExtractionContext& context,
                    KernelOf kernel_of) {
  constexpr int R = N / 2;
  static_assert(R <= TapProgram::kReach);
  constexpr int w = kCanvasWidth;
  OrientedKernel<N> kernels[kBlockRows][kBlockColumns];
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      const int code = context.block_direction[r][c];
      kernels[r][c] = code == 0 ? OrientedKernel<N>{nullptr, nullptr} : kernel_of(r, c, code);
    }
  }
  for (int r = 0; r < kBlockRows; ++r) {
    BlockRun runs[kBlockColumns];
    int count = 0;
    for (int c0 = 0; c0 < kBlockColumns;) {
      const OrientedKernel<N> k = kernels[r][c0];
      int c1 = c0 + 1;
      while (c1 < kBlockColumns && kernels[r][c1].cells == k.cells) ++c1;
      const int x0 = c0 * kBlockSize;
      const int length = (c1 - c0) * kBlockSize;
      c0 = c1;
      if (k.cells != nullptr) {
        runs[count++] = {x0, length, k.taps};
        continue;
      }
      for (int y = r * kBlockSize; y < (r + 1) * kBlockSize; ++y) {
        std::memcpy(dst + y * w + x0, src + y * w + x0, static_cast<size_t>(length));
      }
    }
    if (count > 0) FilterBlockRow(src, dst, r, R, runs, count);
  }
}

constexpr int kMinSpacing = 4;
constexpr int kMaxSpacing = 15;
constexpr int kDefaultPeriod = 8;

}  // namespace

const SmoothingKernel& SmoothingKernelFor(int code) {
  return Tables().smooth[std::clamp(code, 1, kDirectionCodes) - 1];
}

const EnhancementKernel& EnhancementKernelFor(int period_class, int code) {
  return Tables().enhance[std::clamp(period_class, 0, kPeriodClasses - 1)]
                         [std::clamp(code, 1, kDirectionCodes) - 1];
}

SampleOffset SignatureOffset(int code, int position, int sample) {
  return Tables().signature[std::clamp(code, 1, kDirectionCodes) - 1]
                           [std::clamp(position, 0, kSignatureLength - 1)]
                           [std::clamp(sample, 0, kSignatureSamples - 1)];
}

void SmoothAlongRidges(const uint8_t* src, uint8_t* dst, const ExtractionContext& context) {
  const FilterTables& t = Tables();
  OrientedFilter<kSmoothSide>(src, dst, context, [&t](int, int, int code) {
    return OrientedKernel<kSmoothSide>{t.smooth[code - 1].c, &t.smooth_taps[code - 1]};
  });
}

void EnhanceRidges(const uint8_t* src, uint8_t* dst, const ExtractionContext& context) {
  const FilterTables& t = Tables();
  OrientedFilter<kEnhanceSide>(src, dst, context, [&t, &context](int r, int c, int code) {
    // Classes other than 0..2 cannot come out of MeasureRidgePeriod; clamp regardless.
    const int cls = std::min<int>(context.ridge_period[r][c], kPeriodClasses - 1);
    return OrientedKernel<kEnhanceSide>{t.enhance[cls][code - 1].c,
                                        &t.enhance_taps[cls][code - 1]};
  });
}

int SignaturePeriod(const int (&signature)[kSignatureLength]) {
  int v[kSignatureLength];
  v[0] = signature[0];
  v[kSignatureLength - 1] = signature[kSignatureLength - 1];
  for (int p = 1; p < kSignatureLength - 1; ++p) {
    v[p] = (signature[p - 1] + 2 * signature[p] + signature[p + 1]) / 4;
  }

  int peaks[kSignatureLength], valleys[kSignatureLength];
  int n_peaks = 0, n_valleys = 0;
  int rise = -1, fall = -1;
  for (int p = 1; p < kSignatureLength; ++p) {
    if (v[p] > v[p - 1]) {
      if (fall >= 0) {
        valleys[n_valleys++] = (p + fall) / 2;
        fall = -1;
      }
      rise = p;
    } else if (v[p] < v[p - 1]) {
      if (rise >= 0) {
        peaks[n_peaks++] = (p + rise) / 2;
        rise = -1;
      }
      fall = p;
    }
  }

  int sum = 0, count = 0;
  for (int i = 1; i < n_peaks; ++i) {
    const int d = peaks[i] - peaks[i - 1];
    if (d >= kMinSpacing && d <= kMaxSpacing) {
      sum += d;
      ++count;
    }
  }
  for (int i = 1; i < n_valleys; ++i) {
    const int d = valleys[i] - valleys[i - 1];
    if (d >= kMinSpacing && d <= kMaxSpacing) {
      sum += d;
      ++count;
    }
  }
  return count > 0 ? sum / count : 0;
}

void MeasureRidgePeriod(const uint8_t* canvas, ExtractionContext& context) {
  const FilterTables& t = Tables();
  const auto& mask = context.block_mask;
  auto& period = context.ridge_period;
  std::memset(period, 0, sizeof period);

  for (int i = 0; i <= 16; ++i) {
    for (int j = 0; j <= 14; ++j) {
      const int br = 2 * i + 1, bc = 2 * j + 1;
      if (mask[br][bc] != 0 || mask[br][bc + 1] != 0 || mask[br + 1][bc] != 0 ||
          mask[br + 1][bc + 1] != 0) {
        continue;
      }
      const int code = context.block_direction[br][bc];
      // A foreground block always has a code; the edge-row copy can still leave 0 when
      // the row inside is background, and such a cell has no direction to sample along.
      if (code < 1 || code > kDirectionCodes) continue;
      const int cx = 16 + 16 * j, cy = 16 + 16 * i;
      int signature[kSignatureLength];
      const int reach = t.signature_reach;
      if (cx - reach >= 0 && cx + reach < kCanvasWidth && cy - reach >= 0 &&
          cy + reach < kCanvasHeight) {
        // Every sample lies on the canvas: no clamping needed.
        const uint8_t* centre = canvas + cy * kCanvasWidth + cx;
#if defined(VANTREL_SSE2)
        const FilterTables::SignatureShape shape = t.signature_shape[code - 1];
        if (shape == FilterTables::SignatureShape::kRows) {
          sse2::RowSignature(centre, signature);
        } else if (shape == FilterTables::SignatureShape::kColumns) {
          sse2::ColumnSignature(centre, signature);
        } else
#endif
        {
          const int16_t* offset = t.signature_offset[code - 1];
          for (int p = 0; p < kSignatureLength; ++p, offset += kSignatureSamples) {
            // Four offsets to a load, the pixel loads being enough for the load ports; the
            // sum does not depend on which offset comes out first.
            int sum = 0;
            for (int s = 0; s < kSignatureSamples; s += 4) {
              uint64_t four = 0;
              std::memcpy(&four, offset + s, sizeof four);
              sum += centre[static_cast<int16_t>(four)] + centre[static_cast<int16_t>(four >> 16)] +
                     centre[static_cast<int16_t>(four >> 32)] + centre[static_cast<int16_t>(four >> 48)];
            }
            signature[p] = sum / kSignatureSamples;
          }
        }
      } else {
        // Samples off the canvas take the nearest edge pixel: the clamped rows and
        // columns within reach of the centre, worked out once for the cell.
        int row_at[2 * kMaxSignatureReach + 1], column_at[2 * kMaxSignatureReach + 1];
        for (int d = -reach; d <= reach; ++d) {
          row_at[d + reach] = std::clamp(cy + d, 0, kCanvasHeight - 1) * kCanvasWidth;
          column_at[d + reach] = std::clamp(cx + d, 0, kCanvasWidth - 1);
        }
        for (int p = 0; p < kSignatureLength; ++p) {
          int sum = 0;
          for (int s = 0; s < kSignatureSamples; ++s) {
            const SampleOffset o = t.signature[code - 1][p][s];
            sum += canvas[row_at[o.dy + reach] + column_at[o.dx + reach]];
          }
          signature[p] = sum / kSignatureSamples;
        }
      }
      const int measured = SignaturePeriod(signature);
      if (measured > 0) {
        period[br][bc] = period[br][bc + 1] = period[br + 1][bc] = period[br + 1][bc + 1] =
            static_cast<uint8_t>(measured);
      }
    }
  }

  // Every block of rows 2..33, columns 2..29 takes the mean of the measured periods (those
  // not 0) in its 5 x 5 window: the sums and counts of the windows from prefix sums over
  // the grid as it stood before, sum[r][c] covering rows below r and columns below c.
  int sum[kBlockRows + 1][kBlockColumns + 1] = {};
  int count[kBlockRows + 1][kBlockColumns + 1] = {};
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      sum[r + 1][c + 1] = sum[r][c + 1] + sum[r + 1][c] - sum[r][c] + period[r][c];
      count[r + 1][c + 1] = count[r][c + 1] + count[r + 1][c] - count[r][c] + (period[r][c] != 0);
    }
  }
  auto window = [](const int (&table)[kBlockRows + 1][kBlockColumns + 1], int r, int c) {
    return table[r + 3][c + 3] - table[r - 2][c + 3] - table[r + 3][c - 2] + table[r - 2][c - 2];
  };
  for (int r = 2; r <= 33; ++r) {
    for (int c = 2; c <= 29; ++c) {
      const int n = window(count, r, c);
      period[r][c] = static_cast<uint8_t>(n > 0 ? window(sum, r, c) / n : 0);
    }
  }
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      const int p = period[r][c] == 0 ? kDefaultPeriod : period[r][c];
      period[r][c] = static_cast<uint8_t>(p <= 6 ? 0 : (p <= 9 ? 1 : 2));
    }
  }
}

}  // namespace vantrel::extract
