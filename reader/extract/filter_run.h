// The inner loop of the oriented filters: the runs of one block row, each through one
// kernel held as pairs of neighbouring taps. Two forms give the same bytes: a baseline
// that every x86-64 (or, without SSE2, any) processor runs, and a wide one for
// processors with AVX2.
#pragma once

#include <cstdint>

#include "reader/extract/extract_context.h"
#include "reader/extract/ridge_filter.h"

namespace vantrel::extract {

// A kernel as the filters run it: the point-symmetric cells as (offset, coefficient)
// taps on the flat canvas, each standing for the pixels at +offset and -offset, and the
// centre cell on its own. Taps go in pairs of neighbours in a kernel row, at offsets o
// and o + 1, so that a pair reads two neighbouring pixels ahead (o, o + 1) and two
// behind (-o, -o - 1). Cells of coefficient 0 add nothing and are left out: each row is
// covered from the left, a pair starting at each cell not 0 that the pair before did not
// take. A pair whose second cell lies past the row (or is the centre) takes it with the
// coefficient 0, and so reads at most one pixel past the kernel on each side.
struct TapPair {
  int32_t first, second;  // canvas offsets of the two taps: second = first + 1
  int32_t coefficients;   // first tap's coefficient in the low 16 bits, second's above
  // Where the wide form reads the pair, in bytes on its bands of 32-bit pixel pairs:
  // ahead at +first, behind at -second.
  int32_t ahead_bytes, behind_bytes;
};
struct TapProgram {
  static constexpr int kReach = kEnhanceSide / 2;
  static constexpr int kMaxPairs = kReach * ((kEnhanceSide + 1) / 2) + (kReach + 1) / 2;
  int pairs = 0;
  TapPair pair[kMaxPairs];
  int16_t middle = 0;
  // The same cells on a fixed grid of pairs, cells of 0 kept, for the wide form that
  // reuses each row's loads: grid[dy + R][q] holds the coefficients of the pair at row
  // offset dy (-R..0) and column offsets -R + 2 q, -R + 2 q + 1 (q = 0..R), packed as in
  // TapPair; a second cell past the row, and on the centre row the centre and all after
  // it, count as 0.
  int32_t grid[kReach + 1][kReach + 1] = {};
};

template <int N>
TapProgram MakeTaps(const int16_t (&k)[N][N]) {
  static_assert(N >= 3 && N % 2 == 1, "a kernel has a centre and at least one pair");
  constexpr int R = N / 2;
  TapProgram program;
  auto add_pair = [&program](int32_t offset, int16_t first, int16_t second) {
    constexpr int b = sizeof(int32_t);
    program.pair[program.pairs++] = {
        offset, offset + 1,
        static_cast<int32_t>(static_cast<uint16_t>(first) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16)),
        b * offset, -b * (offset + 1)};
  };
  // Rows above the centre whole, the centre row up to the centre.
  for (int ky = 0; ky <= R; ++ky) {
    const int cells = ky < R ? N : R;
    for (int kx = 0; kx < cells;) {
      if (k[ky][kx] == 0) {
        ++kx;
        continue;
      }
      add_pair((ky - R) * kCanvasWidth + (kx - R), k[ky][kx], kx + 1 < cells ? k[ky][kx + 1] : 0);
      kx += 2;
    }
  }
  // The wide form runs every program's first pair before it tests for the end: a kernel
  // that is 0 but for its centre still gets one, of coefficients 0.
  if (program.pairs == 0) add_pair(-1, 0, 0);
  program.middle = k[R][R];
  for (int ky = 0; ky <= R; ++ky) {
    const int cells = ky < R ? N : R;
    for (int q = 0; q <= R; ++q) {
      const int kx = 2 * q;
      const int16_t first = kx < cells ? k[ky][kx] : 0;
      const int16_t second = kx + 1 < cells ? k[ky][kx + 1] : 0;
      program.grid[ky][q] = static_cast<int32_t>(
          static_cast<uint16_t>(first) | (static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16));
    }
  }
  return program;
}

// A filter sum as a pixel: shifted by 9 and clamped to 0..255.
inline uint8_t ClampFiltered(int sum) {
  if (sum <= 0) return 0;
  const int v = sum >> 9;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

// One run of a block row: `length` pixels (a multiple of 8) from column x0 in each of
// the block row's 8 pixel rows, through one kernel.
struct BlockRun {
  int x0, length;
  const TapProgram* taps;
};

// Filters the runs of block row `block_row` from src into the same pixels of dst, with
// kernels of reach R (N = 2 R + 1, R at most 5); window pixels before the first or after
// the last canvas byte count as 0. Sums are shifted by 9 and clamped to 0..255.
void FilterBlockRow(const uint8_t* src, uint8_t* dst, int block_row, int reach,
                    const BlockRun* runs, int count);

// The two forms behind FilterBlockRow. The wide one may only run where
// WideFiltersAvailable().
void FilterBlockRowBaseline(const uint8_t* src, uint8_t* dst, int block_row, int reach,
                            const BlockRun* runs, int count);
void FilterBlockRowWide(const uint8_t* src, uint8_t* dst, int block_row, int reach,
                        const BlockRun* runs, int count);
bool WideFiltersAvailable();

// Both forms read the block row's band of the canvas widened to 16 bits: one flat array
// from R rows and R + 1 pixels before the block row's first pixel to R rows and R + 1
// pixels after its last, so that the offsets of a TapProgram hold in it unchanged. Band
// pixels before the first or after the last canvas byte are 0, and so are the spare ones
// past the end, which the wide form's pair building reads.
inline constexpr int kBandMargin = TapProgram::kReach + 1;
inline constexpr int kBandPixels =
    (kBlockSize + 2 * TapProgram::kReach) * kCanvasWidth + 2 * kBandMargin + 32;
// Index in the band of the block row's first pixel.
inline int BandOrigin(int reach) { return reach * kCanvasWidth + reach + 1; }
void WidenBand(const uint8_t* canvas, int block_row, int reach, int16_t* band);

// The baseline form of one run on the band: `rows` rows (up to kBlockSize) of `length`
// pixels, rows kCanvasWidth apart, from p (in the band) into out.
void FilterRunBaseline(const int16_t* p, uint8_t* out, int length, int rows,
                       const TapProgram& taps);

}  // namespace vantrel::extract
