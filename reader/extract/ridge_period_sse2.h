// The SSE2 forms of the ridge signature for the two directions whose samples lie on
// whole pixel rows or columns: code 1 samples position p along row offset 16 - p from the
// centre, column offsets -8..7; code 5 along column offset 16 - p, row offsets -7..8.
// Each gives the same values as the sample-by-sample sum in ridge_filter.cpp (means of
// 16 samples, truncated), which the tests hold them to.
#pragma once

#include <cstdint>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/extract_context.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract::sse2 {

// Position p: the 16 pixels of row 16 - p, columns -8..7, summed by one SAD.
inline void RowSignature(const uint8_t* centre, int (&signature)[32]) {
  const __m128i zero = _mm_setzero_si128();
  for (int p = 0; p < 32; ++p) {
    const __m128i row =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(centre + (16 - p) * kCanvasWidth - 8));
    const __m128i sad = _mm_sad_epu8(row, zero);
    const int sum = _mm_cvtsi128_si32(sad) + _mm_cvtsi128_si32(_mm_srli_si128(sad, 8));
    signature[p] = sum >> 4;  // sums are not negative: the shift is the truncated mean
  }
}

// Position p: column 16 - p, rows -7..8. The 32 columns -15..16 summed over the 16 rows
// at once, in 16-bit lanes (16 x 255 fits).
inline void ColumnSignature(const uint8_t* centre, int (&signature)[32]) {
  const __m128i zero = _mm_setzero_si128();
  __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;  // columns -15..-8, -7..0, 1..8, 9..16
  for (int dy = -7; dy <= 8; ++dy) {
    const uint8_t* row = centre + dy * kCanvasWidth - 15;
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16));
    s0 = _mm_add_epi16(s0, _mm_unpacklo_epi8(a, zero));
    s1 = _mm_add_epi16(s1, _mm_unpackhi_epi8(a, zero));
    s2 = _mm_add_epi16(s2, _mm_unpacklo_epi8(b, zero));
    s3 = _mm_add_epi16(s3, _mm_unpackhi_epi8(b, zero));
  }
  alignas(16) uint16_t sums[32];  // sums[i]: column i - 15
  _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_srli_epi16(s0, 4));
  _mm_store_si128(reinterpret_cast<__m128i*>(sums + 8), _mm_srli_epi16(s1, 4));
  _mm_store_si128(reinterpret_cast<__m128i*>(sums + 16), _mm_srli_epi16(s2, 4));
  _mm_store_si128(reinterpret_cast<__m128i*>(sums + 24), _mm_srli_epi16(s3, 4));
  // Column 16 - p is sums[31 - p].
  for (int p = 0; p < 32; ++p) signature[p] = sums[31 - p];
}

}  // namespace vantrel::extract::sse2
#endif
