// The SSE2 form of the resampler's row blend, eight pixels at a time. It gives the same
// results as the plain form beside it in normalise.cpp, which builds where SSE2 does not;
// the tests hold the two to each other and to the golden records.
#pragma once

#include <cstdint>

#include "reader/cpu/vector_forms.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract::sse2 {

// (w0 x top + w1 x bottom + 5000) / 10000 for n pixels; top and bottom are 0..25 500 and
// w0 + w1 = 100. The division runs in single floats and is exact: the dividend is a
// whole number below 2^24 and so held exactly, and a quotient that is not whole lies at
// least 1/10 000 from the next whole numbers, while below 256 a float is off by less
// than 2^-16 in any rounding mode; truncation then gives the integer quotient.
inline void BlendRows(const int16_t* top, const int16_t* bottom, int w0, int w1,
                      uint8_t* out, int n) {
  const __m128i weights = _mm_set1_epi32(static_cast<int>(
      static_cast<uint32_t>(w0) | (static_cast<uint32_t>(w1) << 16)));
  const __m128i half = _mm_set1_epi32(5000);
  const __m128 divisor = _mm_set1_ps(10000.0f);
  auto quotient = [&](__m128i sums) {
    return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(_mm_add_epi32(sums, half)), divisor));
  };
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + x));
    const __m128i lo = quotient(_mm_madd_epi16(_mm_unpacklo_epi16(t, b), weights));
    const __m128i hi = quotient(_mm_madd_epi16(_mm_unpackhi_epi16(t, b), weights));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(lo, hi), _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), bytes);
  }
  for (; x < n; ++x) {
    out[x] = static_cast<uint8_t>((w0 * top[x] + w1 * bottom[x] + 5000) / 10000);
  }
}

}  // namespace vantrel::extract::sse2
#endif
