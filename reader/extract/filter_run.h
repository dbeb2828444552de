// The inner loop of the oriented filters: one run of pixels through one kernel, with the
// kernel held as tap pairs. Two forms give the same bytes: a baseline that every x86-64
// (or, without SSE2, any) processor runs, and a wide one for processors with AVX2.
#pragma once

#include <cstdint>

#include "reader/extract/extract_context.h"
#include "reader/extract/ridge_filter.h"

namespace vantrel::extract {

// A kernel as the filters run it: the point-symmetric cells as (offset, coefficient)
// taps on the flat canvas, each standing for the pixels at +offset and -offset, two taps
// to a pair, and the centre cell on its own.
struct TapPair {
  int32_t first, second;  // canvas offsets, one per tap
  int32_t coefficients;   // first tap's coefficient in the low 16 bits, second's above
  // The same offsets in bytes on the 16-bit band, as the vector forms address it:
  // +first, -first, +second, -second.
  int32_t bytes[4];
};
struct TapProgram {
  static constexpr int kMaxPairs = (kEnhanceSide * kEnhanceSide / 2 + 1) / 2;
  int pairs = 0;
  TapPair pair[kMaxPairs];
  int16_t middle = 0;
};

template <int N>
TapProgram MakeTaps(const int16_t (&k)[N][N]) {
  constexpr int R = N / 2;
  int32_t offset[N * N / 2];
  int16_t coefficient[N * N / 2];
  int n = 0;
  for (int ky = 0; ky <= R; ++ky) {
    for (int kx = 0; kx < (ky < R ? N : R); ++kx) {
      offset[n] = (ky - R) * kCanvasWidth + (kx - R);
      coefficient[n] = k[ky][kx];
      ++n;
    }
  }
  TapProgram program;
  // An odd count leaves a last tap paired with a zero coefficient on itself.
  for (int t = 0; t < n; t += 2) {
    const int u = t + 1 < n ? t + 1 : t;
    const int16_t second = t + 1 < n ? coefficient[u] : 0;
    constexpr int b = sizeof(int16_t);
    program.pair[program.pairs++] = {
        offset[t], offset[u],
        static_cast<int32_t>(static_cast<uint16_t>(coefficient[t]) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16)),
        {b * offset[t], -b * offset[t], b * offset[u], -b * offset[u]}};
  }
  program.middle = k[R][R];
  return program;
}

// A filter sum as a pixel: shifted by 9 and clamped to 0..255.
inline uint8_t ClampFiltered(int sum) {
  if (sum <= 0) return 0;
  const int v = sum >> 9;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

// The filters read the canvas widened to 16 bits, one block row at a time: a band of the
// canvas as one flat array from R rows and R pixels before the block row's first pixel
// to R rows and R pixels after its last, where R is the kernel's reach (at most 5), so
// that the offsets of a TapProgram hold in it unchanged. Band pixels that lie before the
// first or after the last canvas byte are 0.
inline constexpr int kMaxReach = kEnhanceSide / 2;
inline constexpr int kBandPixels = (kBlockSize + 2 * kMaxReach) * kCanvasWidth + 2 * kMaxReach;
void WidenBand(const uint8_t* canvas, int block_row, int reach, int16_t* band);

// Filters `rows` rows (up to kBlockSize) of `length` pixels (a multiple of 8) each, rows
// kCanvasWidth apart: the pixels at p (16-bit) into out. Every kernel window must lie in
// p's array. Sums are shifted by 9 and clamped to 0..255.
void FilterRun(const int16_t* p, uint8_t* out, int length, int rows, const TapProgram& taps);

// The two forms behind FilterRun. FilterRunWide may only run where WideFiltersAvailable().
void FilterRunBaseline(const int16_t* p, uint8_t* out, int length, int rows,
                       const TapProgram& taps);
void FilterRunWide(const int16_t* p, uint8_t* out, int length, int rows,
                   const TapProgram& taps);
bool WideFiltersAvailable();

}  // namespace vantrel::extract
