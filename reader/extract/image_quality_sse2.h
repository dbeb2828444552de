// The SSE2 form of the direction differences behind ImageQuality: sixteen blocks of a
// block row at a time. It gives the same sum as the plain form in image_quality.h, which
// builds where SSE2 does not; the tests hold the two to each other and to the golden
// records.
#pragma once

#include <cstdint>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/extract_context.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract::sse2 {

// Per pair, with d the codes' absolute difference (0..255), the plain form adds d up to 4
// and |d - 8| above; that is min(d, |d - 8|) for every d, which bytes compute exactly.
inline int64_t DirectionDifferences(const ExtractionContext& context) {
  static_assert(kBlockColumns == 32);
  const __m128i zero = _mm_setzero_si128(), eight = _mm_set1_epi8(8);
  auto load = [&](int r, int c) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(&context.block_direction[r][c]));
  };
  // Centres of columns 1..16, then 17..30 (read as 15..30, the first two left out).
  const int first[2] = {1, 15};
  const __m128i columns[2] = {
      _mm_set1_epi8(-1),
      _mm_setr_epi8(0, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)};
  __m128i sums = zero;
  for (int r = 1; r <= 34; ++r) {
    for (int half = 0; half < 2; ++half) {
      const int c = first[half];
      const __m128i a = load(r, c);
      const __m128i centres = _mm_andnot_si128(_mm_cmpeq_epi8(a, zero), columns[half]);
      for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
          if (dr == 0 && dc == 0) continue;
          const __m128i b = load(r + dr, c + dc);
          const __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
          const __m128i from8 = _mm_or_si128(_mm_subs_epu8(d, eight), _mm_subs_epu8(eight, d));
          const __m128i pair = _mm_andnot_si128(_mm_cmpeq_epi8(b, zero), centres);
          const __m128i cost = _mm_and_si128(_mm_min_epu8(d, from8), pair);
          sums = _mm_add_epi64(sums, _mm_sad_epu8(cost, zero));
        }
      }
    }
  }
  alignas(16) int64_t lanes[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sums);
  return lanes[0] + lanes[1];
}

}  // namespace vantrel::extract::sse2
#endif
