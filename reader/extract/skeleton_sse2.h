// The SSE2 forms of binarisation (sixteen pixels of a row at a time) and of a
// thinning pass's answers for a row (two words of the row masks to a register).
// Each gives the same results as its plain form in skeleton_rows.h,
// which builds where SSE2 does not; the tests hold the two to each other and to the
// golden records.
#pragma once

#include <cstdint>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/extract_context.h"
#include "reader/extract/skeleton_rows.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract::sse2 {

// length (a multiple of 8) pixels of one row, sixteen at a time in bytes: a pixel is
// darker than or as dark as the mean of its two samples exactly when the mean rounded
// down is at least the pixel, and the rounded-down mean is the rounded-up average less
// the low bit of the samples' difference.
inline void BinariseRun(const uint8_t* v, const uint8_t* plus, const uint8_t* minus,
                        uint8_t* out, int length) {
  auto ridge = [](__m128i centre, __m128i a, __m128i b) {
    const __m128i one = _mm_set1_epi8(1);
    const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
    const __m128i darker = _mm_cmpeq_epi8(_mm_max_epu8(mean, centre), mean);
    const __m128i dark = _mm_cmpeq_epi8(_mm_min_epu8(centre, _mm_set1_epi8(9)), centre);
    const __m128i above250 = _mm_set1_epi8(static_cast<char>(251));
    const __m128i white = _mm_cmpeq_epi8(_mm_max_epu8(centre, above250), centre);
    return _mm_and_si128(_mm_andnot_si128(white, _mm_or_si128(dark, darker)), one);
  };
  auto load16 = [](const uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  };
  auto load8 = [](const uint8_t* q) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q));
  };
  int i = 0;
  for (; i + 16 <= length; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     ridge(load16(v + i), load16(plus + i), load16(minus + i)));
  }
  if (i < length) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i),
                     ridge(load8(v + i), load8(plus + i), load8(minus + i)));
  }
}

// Two words of a row mask as a vector with logic operators (the same register as
// __m128i, without its aliasing attribute, which a template argument cannot carry).
typedef long long TwoWords __attribute__((vector_size(16)));

// Words i and i + 1 of a row mask (i = -1 .. kRowWords - 1 reach the guard words).
inline __m128i Words(const RowMask& mask, int i) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(&mask.guarded[i + 1]));
}

// FromLeft and FromRight of words i and i + 1.
inline __m128i WordsFromLeft(const RowMask& mask, int i) {
  return _mm_or_si128(_mm_slli_epi64(Words(mask, i), 1), _mm_srli_epi64(Words(mask, i - 1), 63));
}
inline __m128i WordsFromRight(const RowMask& mask, int i) {
  return _mm_or_si128(_mm_srli_epi64(Words(mask, i), 1), _mm_slli_epi64(Words(mask, i + 1), 63));
}

template <int pass>
inline bool ThinAnswersOf(const ThinRow& up, const ThinRow& row, const ThinRow& down,
                          ThinAnswers& out) {
  constexpr int kHalves = kRowWords / 2;
  RowMask considered;
  __m128i any = _mm_setzero_si128();
  for (int h = 0; h < kHalves; ++h) {
    const int i = 2 * h;
    const __m128i both = pass == 0 ? WordsFromLeft(row.set, i) & WordsFromRight(row.set, i)
                                   : Words(up.set, i) & Words(down.set, i);
    const __m128i columns = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kThinColumns[i]));
    const __m128i c = _mm_andnot_si128(both, Words(row.ridge, i)) & columns;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&considered[i]), c);
    any = any | c;
  }
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF) return false;
  const __m128i none = _mm_setzero_si128(), all = _mm_set1_epi32(-1);
  for (int h = 0; h < kHalves; ++h) {
    const int i = 2 * h;
    const __m128i left = WordsFromLeft(row.ridge, i);
    Planes<TwoWords> p{WordsFromRight(row.ridge, i), WordsFromRight(up.ridge, i),
                       Words(up.ridge, i),           WordsFromLeft(up.ridge, i),
                       none,                         WordsFromLeft(down.ridge, i),
                       Words(down.ridge, i),         WordsFromRight(down.ridge, i)};
    const __m128i without_left = ThinDeletesAll(pass, p);
    p.w = all;
    const __m128i with_left = ThinDeletesAll(pass, p);
    const __m128i c = Words(considered, i);
    const __m128i deleted = c & ((left & with_left) | _mm_andnot_si128(left, without_left));
    const __m128i chained = c & WordsFromLeft(considered, i) & (with_left ^ without_left);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&out.deleted[i]), deleted);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&out.chained[i]), chained);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&out.without_left[i]), without_left);
  }
  return true;
}

}  // namespace vantrel::extract::sse2
#endif
