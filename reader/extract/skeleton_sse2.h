// The SSE2 form of binarisation: eight pixels of one block row at a time.
// Each gives the same results as the plain form beside it in skeleton.cpp, which builds
// where SSE2 does not; the tests hold the two to each other and to the golden records.
#pragma once

#include <cstdint>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/extract_context.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract::sse2 {

inline void BinariseRun(const uint8_t* v, const uint8_t* plus, const uint8_t* minus,
                        uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  auto load = [&](const uint8_t* q) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
  };
  const __m128i centre = load(v);
  const __m128i sum = _mm_add_epi16(load(plus), load(minus));
  const __m128i brighter = _mm_cmpgt_epi16(_mm_add_epi16(centre, centre), sum);
  const __m128i dark = _mm_cmplt_epi16(centre, _mm_set1_epi16(10));
  const __m128i white = _mm_cmpgt_epi16(centre, _mm_set1_epi16(250));
  const __m128i not_brighter = _mm_andnot_si128(brighter, _mm_set1_epi16(-1));
  const __m128i ridge = _mm_andnot_si128(white, _mm_or_si128(dark, not_brighter));
  const __m128i bits = _mm_and_si128(ridge, _mm_set1_epi16(1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(bits, zero));
}

}  // namespace vantrel::extract::sse2
#endif
