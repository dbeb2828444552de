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
    program.pair[program.pairs++] = {
        offset[t], offset[u],
        static_cast<int32_t>(static_cast<uint16_t>(coefficient[t]) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16))};
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

// Filters `length` pixels (a multiple of 8) starting at p into out; every kernel window
// of the run must lie on the canvas. Sums are shifted by 9 and clamped to 0..255.
void FilterRun(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps);

// The two forms behind FilterRun. FilterRunWide may only run where WideFiltersAvailable().
void FilterRunBaseline(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps);
void FilterRunWide(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps);
bool WideFiltersAvailable();

}  // namespace vantrel::extract
