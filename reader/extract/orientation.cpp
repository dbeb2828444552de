#include "reader/extract/orientation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/orientation_sse2.h"
#include "reader/record/angle.h"

namespace vantrel::extract {

using record::AngleOfShort;

namespace {

constexpr int kContrastMinVariance = 100;
constexpr int kContrastMean = 120;
constexpr int kUnitRows = 65;
constexpr int kUnitColumns = 66;
constexpr int kSectorRows = 128;

struct DirectionTables {
  int8_t unit[kUnitRows][kUnitColumns];
  SectorBounds sector[kSectorRows];

  DirectionTables() {
    for (int i = 0; i < kUnitRows; ++i) {
      for (int j = 0; j < kUnitColumns; ++j) {
        if (i == 0) {
          unit[i][j] = 0;
        } else {
          const double v = 127.0 * i / std::sqrt(static_cast<double>(i * i + j * j));
          unit[i][j] = static_cast<int8_t>(std::lround(v));
        }
      }
    }
    const double tan_low = std::tan(22.5 * 3.14159265358979323846 / 180.0);
    const double tan_high = std::tan(67.5 * 3.14159265358979323846 / 180.0);
    for (int i = 0; i < kSectorRows; ++i) {
      sector[i].lower = static_cast<uint8_t>(std::ceil(i * tan_low));
      const double upper = std::floor(i * tan_high);
      sector[i].upper = static_cast<uint8_t>(upper > 127.0 ? 127.0 : upper);
    }
  }
};

const DirectionTables& Tables() {
  static const DirectionTables tables;
  return tables;
}

// Least k >= 0 with -64 <= value >> k < 64.
// For v >= 0 that is the bit length of v less 6; for v < 0, that of ~v = -v - 1.
int ShiftOf(int64_t value) {
  const int length = std::bit_width(static_cast<uint64_t>(value >= 0 ? value : ~value));
  return length > 6 ? length - 6 : 0;
}


#if !defined(VANTREL_SSE2)
// Counts of the values (-127..127) in a sliding 5 x 5 block window, in 16 coarse and 256
// fine bins, so that any rank is found by two short scans instead of a sort.
struct WindowHistogram {
  uint8_t fine[256] = {};
  uint8_t coarse[16] = {};

  // Values are counted by their bins, value + 128.
  void Add(unsigned bin) {
    ++fine[bin];
    ++coarse[bin >> 4];
  }
  void Remove(unsigned bin) {
    --fine[bin];
    --coarse[bin >> 4];
  }
  // The value of rank k (0-based, ascending); k below the count of values.
  int Rank(int k) const {
    int bucket = 0;
    while (k >= coarse[bucket]) k -= coarse[bucket++];
    int bin = bucket << 4;
    while (k >= fine[bin]) k -= fine[bin++];
    return bin - 128;
  }
  // The median of n values as the direction smoothing defines it: the middle value, or
  // for an even count the mean of the two middle ones rounded towards zero.
  int Median(int n) const {
    if (n % 2 == 1) return Rank(n / 2);
    return (Rank(n / 2 - 1) + Rank(n / 2)) / 2;
  }
};
#endif

// Sums of gx^2, gy^2 and gx*gy (3 x 3 Sobel) over the 8 x 8 block whose top-left pixel
// is at `block`. |gx|, |gy| <= 1020 fit 16 bits and 64 of their products stay below
// 2^27, so the sums are 32-bit sums of 16 x 16-bit products, in any order.
#if defined(VANTREL_SSE2)
using sse2::GradientSums;
#else
inline void GradientSums(const uint8_t* block, int32_t& gxx, int32_t& gyy, int32_t& gxy) {
  gxx = gyy = gxy = 0;
  for (int y = 0; y < kBlockSize; ++y) {
    const uint8_t* mid = block + y * kCanvasWidth;
    const uint8_t* up = mid - kCanvasWidth;
    const uint8_t* down = mid + kCanvasWidth;
    for (int x = 0; x < kBlockSize; ++x) {
      const auto gx = static_cast<int16_t>(up[x + 1] + 2 * mid[x + 1] + down[x + 1] -
                                           up[x - 1] - 2 * mid[x - 1] - down[x - 1]);
      const auto gy = static_cast<int16_t>(down[x - 1] + 2 * down[x] + down[x + 1] -
                                           up[x - 1] - 2 * up[x] - up[x + 1]);
      gxx += gx * gx;
      gyy += gy * gy;
      gxy += gx * gy;
    }
  }
}
#endif

// Sum and sum of squares of the 8 x 8 block whose top-left pixel is at `block`; both
// fit 32 bits (64 x 255 x 255 < 2^22).
#if defined(VANTREL_SSE2)
using sse2::BlockSums;
#else
inline void BlockSums(const uint8_t* block, int32_t& sum, int32_t& squares) {
  sum = squares = 0;
  for (int y = 0; y < kBlockSize; ++y) {
    for (int x = 0; x < kBlockSize; ++x) {
      const int v = block[y * kCanvasWidth + x];
      sum += v;
      squares += v * v;
    }
  }
}
#endif

// Every canvas pixel g becomes ((g - m) x k >> 13) + target_mean, clamped to 0..255; the
// gain k of a variance of at least 100 is at most 28 381.
#if defined(VANTREL_SSE2)
using sse2::MapContrast;
#else
void MapContrast(uint8_t* canvas, int m, int k, int target_mean) {
  // The new value depends on the old one only: one table of 256 entries.
  uint8_t map[256];
  for (int g = 0; g < 256; ++g) {
    // >> on a negative value is an arithmetic shift (C++20).
    const int p = ((g - m) * k >> 13) + target_mean;
    map[g] = static_cast<uint8_t>(std::clamp(p, 0, 255));
  }
  for (int i = 0; i < kCanvasBytes; ++i) canvas[i] = map[canvas[i]];
}
#endif

inline DoubledAngle DoubledAngleFrom(const DirectionTables& tables, int64_t a_sum,
                                     int64_t c_sum) {
  const int s = std::max(ShiftOf(a_sum), ShiftOf(c_sum));
  const int a = static_cast<int>(a_sum >> s);
  const int c = -static_cast<int>(c_sum >> s);
  // The shift brings both within -64..63 before c's sign turns, so both magnitudes are
  // at most 64 and index the unit table directly.
  const int abs_a = a < 0 ? -a : a;
  const int abs_c = c < 0 ? -c : c;
  const auto& unit = tables.unit;
  int u = unit[abs_a][abs_c];
  int w = unit[abs_c][abs_a];
  if (a >= 0) u = -u;
  if (c >= 0) w = -w;
  return {u, w};
}

inline int QuantiseDirectionFrom(const DirectionTables& tables, int u, int w) {
  int sector = 0;
  if (u == 0 && w == 0) {
    sector = 0;
  } else if (u == 0) {
    sector = w > 0 ? 2 : 6;
  } else if (w == 0) {
    sector = u > 0 ? 0 : 4;
  } else {
    const int abs_u = u < 0 ? -u : u;
    const int abs_w = w < 0 ? -w : w;
    const SectorBounds b = abs_u < kSectorRows ? tables.sector[abs_u] : SectorBounds{0, 0};
    sector = abs_w < b.lower ? 0 : (abs_w > b.upper ? 2 : 1);
    if (u > 0 && w < 0) {
      sector = (8 - sector) % 8;
    } else if (u < 0 && w < 0) {
      sector += 4;
    } else if (u < 0 && w > 0) {
      sector = 4 - sector;
    }
  }
  int code = sector + 1;
  if (u != 0 && w != 0) {
    // T[|u|][|w|] of the degree table; both are 1..127 here, short enough for the table
    // without rescaling.
    const int t = AngleOfShort(w < 0 ? -w : w, u < 0 ? -u : u);
    if ((t == 67 && u * w < 0) || (t == 23 && u * w > 0)) --code;
  }
  return code;
}

}  // namespace

int8_t UnitVector(int i, int j) {
  if (i < 0 || i >= kUnitRows || j < 0 || j >= kUnitColumns) return 0;
  return Tables().unit[i][j];
}

SectorBounds SectorBoundsFor(int i) {
  if (i < 0 || i >= kSectorRows) return {0, 0};
  return Tables().sector[i];
}

int64_t ContrastGain(int64_t variance) {
  if (variance < 1) return 0;
  const int64_t ratio = 1228800 / variance;
  return static_cast<int64_t>((std::sqrt(static_cast<double>(ratio)) * 32.0 + 0.5) * 8.0);
}

void NormaliseContrast(uint8_t* canvas, const ExtractionContext& context) {
  // Sum and sum of squares of the foreground pixels. With the mean m truncated to a whole
  // number, the sum of squared deviations is squares - 2 m sum + n m m exactly.
  int64_t sum = 0, squares = 0, blocks = 0;
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      if (context.block_mask[r][c] != 0) continue;
      ++blocks;
      int32_t block_sum = 0, block_squares = 0;
      BlockSums(canvas + r * kBlockSize * kCanvasWidth + c * kBlockSize, block_sum,
                block_squares);
      sum += block_sum;
      squares += block_squares;
    }
  }
  const int64_t n = 64 * blocks;
  int64_t m = 0, v = 0;
  if (n > 0) {
    m = sum / n;
    v = (squares - 2 * m * sum + n * m * m) / n;
  }
  if (v < kContrastMinVariance) return;

  const int64_t k = ContrastGain(v);
  MapContrast(canvas, static_cast<int>(m), static_cast<int>(k), kContrastMean);
}

DoubledAngle DoubledAngleOf(int64_t a_sum, int64_t c_sum) {
  return DoubledAngleFrom(Tables(), a_sum, c_sum);
}

int QuantiseDirection(int u, int w) {
  return QuantiseDirectionFrom(Tables(), u, w);
}

void RowGradientSumsBaseline(const uint8_t* canvas, int block_row, const uint8_t* mask_row,
                             GradientRow& sums) {
  for (int c = 1; c <= 30; ++c) {
    if (mask_row[c] != 0) continue;
    GradientSums(canvas + block_row * kBlockSize * kCanvasWidth + c * kBlockSize, sums.gxx[c],
                 sums.gyy[c], sums.gxy[c]);
  }
}

void RowGradientSums(const uint8_t* canvas, int block_row, const uint8_t* mask_row,
                     GradientRow& sums) {
  static const auto form = cpu::Choose(&RowGradientSumsWide, &RowGradientSumsBaseline);
  form(canvas, block_row, mask_row, sums);
}

void BlockDirections(const uint8_t* canvas, ExtractionContext& context) {
  const DirectionTables& tables = Tables();
  const auto& mask = context.block_mask;
  // The doubled-angle vectors of the measured blocks as histogram bins, value + 128; a
  // block not measured holds (0, 0).
  uint8_t u_bin[kBlockRows][kBlockColumns];
  uint8_t w_bin[kBlockRows][kBlockColumns];
  std::memset(u_bin, 128, sizeof u_bin);
  std::memset(w_bin, 128, sizeof w_bin);

  for (int r = 1; r <= 34; ++r) {
    GradientRow sums;
    RowGradientSums(canvas, r, mask[r], sums);
    for (int c = 1; c <= 30; ++c) {
      if (mask[r][c] != 0) continue;
      const int32_t a_sum = sums.gxx[c] - sums.gyy[c];
      const int32_t c_sum = sums.gxy[c];
      const DoubledAngle d = DoubledAngleFrom(tables, a_sum, 2 * c_sum);
      u_bin[r][c] = static_cast<uint8_t>(d.u + 128);
      w_bin[r][c] = static_cast<uint8_t>(d.w + 128);
    }
  }

  // A foreground block outside the smoothed rows and columns keeps the null vector,
  // whose code is 1; background blocks get 0. The smoothed blocks are coded as their
  // medians come.
  auto& code = context.block_direction;
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) code[r][c] = mask[r][c] != 0 ? 0 : 1;
  }

  // 5 x 5 median over the foreground blocks of the window. Windows of the blocks in
  // columns 1 and 30 reach past the block grid; there is no block there, so nothing is
  // collected from outside it.
#if defined(VANTREL_SSE2)
  // Sixteen blocks of a row at a time: each window sorted whole, its background and the
  // cells beyond the grid as 0, below every bin; the ranks of the foreground values then
  // start after those.
  constexpr int kStride = 48;  // column c at c + 2; 0 beyond the grid on both sides
  alignas(16) uint8_t u_pad[kBlockRows][kStride] = {};
  alignas(16) uint8_t w_pad[kBlockRows][kStride] = {};
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      if (mask[r][c] != 0) continue;
      u_pad[r][c + 2] = u_bin[r][c];
      w_pad[r][c + 2] = w_bin[r][c];
    }
  }
  for (int r = 2; r <= 33; ++r) {
    for (int c0 = 1; c0 <= 30; c0 += 16) {
      __m128i u_sorted[sse2::kWindowCells], w_sorted[sse2::kWindowCells];
      uint8_t empty[16], w_empty[16];
      // Byte `lane` of a sorted vector; reading a vector's bytes as bytes is allowed.
      auto at = [](const __m128i& v, int lane) { return reinterpret_cast<const uint8_t*>(&v)[lane]; };
      sse2::SortWindows(u_pad, r, c0, u_sorted, empty);
      sse2::SortWindows(w_pad, r, c0, w_sorted, w_empty);
      for (int lane = 0; lane < 16 && c0 + lane <= 30; ++lane) {
        const int c = c0 + lane;
        if (mask[r][c] != 0) continue;
        // The median of n values as the direction smoothing defines it: the middle value,
        // or for an even count the mean of the two middle ones rounded towards zero.
        const int z = empty[lane], n = sse2::kWindowCells - z;
        const int low = z + (n - 1) / 2, high = z + n / 2;
        const int u = (at(u_sorted[low], lane) - 128 + at(u_sorted[high], lane) - 128) / 2;
        const int w = (at(w_sorted[low], lane) - 128 + at(w_sorted[high], lane) - 128) / 2;
        code[r][c] = static_cast<uint8_t>(QuantiseDirectionFrom(tables, u, w));
      }
    }
  }
#else
  // The window slides along each block row.
  for (int r = 2; r <= 33; ++r) {
    WindowHistogram uh, wh;
    int n = 0;  // values in the window, the same for both
    auto column = [&](int wc, bool add) {
      if (wc < 0 || wc >= kBlockColumns) return;
      for (int wr = r - 2; wr <= r + 2; ++wr) {
        if (mask[wr][wc] != 0) continue;
        if (add) {
          uh.Add(u_bin[wr][wc]);
          wh.Add(w_bin[wr][wc]);
          ++n;
        } else {
          uh.Remove(u_bin[wr][wc]);
          wh.Remove(w_bin[wr][wc]);
          --n;
        }
      }
    };
    for (int wc = -1; wc <= 2; ++wc) column(wc, true);
    for (int c = 1; c <= 30; ++c) {
      column(c - 3, false);
      column(c + 2, true);
      if (mask[r][c] != 0) continue;
      code[r][c] = static_cast<uint8_t>(QuantiseDirectionFrom(tables, uh.Median(n), wh.Median(n)));
    }
  }
#endif

  // The first and last rows of measured blocks have half a median window; take the
  // direction of the row inside.
  for (int c = 0; c < kBlockColumns; ++c) {
    if (code[1][c] != 0) code[1][c] = code[2][c];
    if (code[34][c] != 0) code[34][c] = code[33][c];
  }
}

}  // namespace vantrel::extract
