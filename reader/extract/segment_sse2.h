// The SSE2 forms of the segmentation stages: block statistics and the pre-filter rows.
// Each gives the same results as the plain form beside it in segment.cpp, which builds
// where SSE2 does not; the tests hold the two to each other and to the golden records.
#pragma once

#include <cstdint>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/extract_context.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract::sse2 {

// Mean and variance of an 8 x 8 block (the block of BlockStats), eight pixels at a time.
inline void BlockStats(const uint8_t* block, int* mean, int* variance) {
  // The same sums eight pixels at a time: the squares of the differences are exact.
  const __m128i zero = _mm_setzero_si128();
  __m128i rows[kBlockSize];
  __m128i total = zero;
  for (int y = 0; y < kBlockSize; ++y) {
    rows[y] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block + y * kCanvasWidth));
    total = _mm_add_epi64(total, _mm_sad_epu8(rows[y], zero));
  }
  const int m = _mm_cvtsi128_si32(total) >> 6;
  const __m128i mm = _mm_set1_epi16(static_cast<int16_t>(m));
  __m128i squares = zero;
  for (int y = 0; y < kBlockSize; ++y) {
    const __m128i d = _mm_sub_epi16(_mm_unpacklo_epi8(rows[y], zero), mm);
    squares = _mm_add_epi32(squares, _mm_madd_epi16(d, d));
  }
  squares = _mm_add_epi32(squares, _mm_shuffle_epi32(squares, _MM_SHUFFLE(1, 0, 3, 2)));
  squares = _mm_add_epi32(squares, _mm_shuffle_epi32(squares, _MM_SHUFFLE(2, 3, 0, 1)));
  *mean = m;
  *variance = _mm_cvtsi128_si32(squares) >> 6;
}

// One row of the pre-filter, s the source row and out the target row (columns 2..253).
inline void PreFilterRow(const uint8_t* s, uint8_t* out) {
  constexpr int w = kCanvasWidth;
  // Column sums reach 2550 and row sums 25 500: both fit 16-bit lanes, and for every
  // value up to 25 500, (v x 41944) >> 22 is v / 100.
  alignas(16) int16_t v[w];
  const __m128i zero = _mm_setzero_si128();
  auto load = [&](const uint8_t* q) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
  };
  for (int x = 0; x < w; x += 8) {
    const __m128i outer = _mm_add_epi16(load(s + x - 2 * w), load(s + x + 2 * w));
    const __m128i inner = _mm_add_epi16(load(s + x - w), load(s + x + w));
    const __m128i centre = load(s + x);
    const __m128i sum = _mm_add_epi16(
        _mm_add_epi16(outer, _mm_slli_epi16(inner, 1)), _mm_slli_epi16(centre, 2));
    _mm_store_si128(reinterpret_cast<__m128i*>(v + x), sum);
  }
  auto at = [&](int x) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x)); };
  for (int x0 = 2; x0 <= w - 3; x0 += 8) {
    const int x = x0 + 8 <= w - 2 ? x0 : w - 2 - 8;  // the last group overlaps the one before
    const __m128i outer = _mm_add_epi16(at(x - 2), at(x + 2));
    const __m128i inner = _mm_add_epi16(at(x - 1), at(x + 1));
    const __m128i sum = _mm_add_epi16(
        _mm_add_epi16(outer, _mm_slli_epi16(inner, 1)), _mm_slli_epi16(at(x), 2));
    const __m128i quotient = _mm_srli_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(-23592)), 6);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(quotient, zero));
  }
}

}  // namespace vantrel::extract::sse2
#endif
