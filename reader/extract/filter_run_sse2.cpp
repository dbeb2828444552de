// The SSE2 form of the oriented filters' inner loop, the baseline on every x86-64
// processor; held to the plain form in filter_run.cpp, which builds where SSE2 does not.
#include "reader/cpu/vector_forms.h"
#include "reader/extract/filter_run.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract {

namespace {

// Sums of one tap pair for 8 pixels: the two taps' pair sums (0..510) interleaved as
// 16-bit lanes, so that one multiply-add gives c1 x s1 + c2 x s2 per pixel.
inline void AddTapPair(const uint8_t* p, const TapPair& t, __m128i (&acc)[2]) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c = _mm_set1_epi32(t.coefficients);
  auto widen = [&](const uint8_t* q) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
  };
  const __m128i s1 = _mm_add_epi16(widen(p + t.first), widen(p - t.first));
  const __m128i s2 = _mm_add_epi16(widen(p + t.second), widen(p - t.second));
  acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi16(s1, s2), c));
  acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi16(s1, s2), c));
}

// The same for 16 pixels.
inline void AddTapPair(const uint8_t* p, const TapPair& t, __m128i (&acc)[4]) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c = _mm_set1_epi32(t.coefficients);
  auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  const __m128i a1 = load(p + t.first), b1 = load(p - t.first);
  const __m128i a2 = load(p + t.second), b2 = load(p - t.second);
  const __m128i s1lo = _mm_add_epi16(_mm_unpacklo_epi8(a1, zero), _mm_unpacklo_epi8(b1, zero));
  const __m128i s1hi = _mm_add_epi16(_mm_unpackhi_epi8(a1, zero), _mm_unpackhi_epi8(b1, zero));
  const __m128i s2lo = _mm_add_epi16(_mm_unpacklo_epi8(a2, zero), _mm_unpacklo_epi8(b2, zero));
  const __m128i s2hi = _mm_add_epi16(_mm_unpackhi_epi8(a2, zero), _mm_unpackhi_epi8(b2, zero));
  acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi16(s1lo, s2lo), c));
  acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi16(s1lo, s2lo), c));
  acc[2] = _mm_add_epi32(acc[2], _mm_madd_epi16(_mm_unpacklo_epi16(s1hi, s2hi), c));
  acc[3] = _mm_add_epi32(acc[3], _mm_madd_epi16(_mm_unpackhi_epi16(s1hi, s2hi), c));
}

// Shift by 9 and clamp to 0..255 (ClampFiltered), 4 sums per register, two registers to
// 8 pixels: a sum of 0 or less gives 0 through the unsigned pack.
inline __m128i ClampSums(__m128i lo, __m128i hi) {
  return _mm_packs_epi32(_mm_srai_epi32(lo, 9), _mm_srai_epi32(hi, 9));
}

}  // namespace

// The sums stay in registers across all taps.
void FilterRunBaseline(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i middle = _mm_set1_epi32(static_cast<uint16_t>(taps.middle));
  int i = 0;
  for (; i + 16 <= length; i += 16) {
    __m128i acc[4] = {zero, zero, zero, zero};
    for (int t = 0; t < taps.pairs; ++t) AddTapPair(p + i, taps.pair[t], acc);
    const __m128i centre = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i clo = _mm_unpacklo_epi8(centre, zero), chi = _mm_unpackhi_epi8(centre, zero);
    acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi16(clo, zero), middle));
    acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi16(clo, zero), middle));
    acc[2] = _mm_add_epi32(acc[2], _mm_madd_epi16(_mm_unpacklo_epi16(chi, zero), middle));
    acc[3] = _mm_add_epi32(acc[3], _mm_madd_epi16(_mm_unpackhi_epi16(chi, zero), middle));
    const __m128i bytes =
        _mm_packus_epi16(ClampSums(acc[0], acc[1]), ClampSums(acc[2], acc[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
  }
  for (; i < length; i += 8) {
    __m128i acc[2] = {zero, zero};
    for (int t = 0; t < taps.pairs; ++t) AddTapPair(p + i, taps.pair[t], acc);
    const __m128i c = _mm_unpacklo_epi8(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i)), zero);
    acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi16(c, zero), middle));
    acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi16(c, zero), middle));
    const __m128i bytes = _mm_packus_epi16(ClampSums(acc[0], acc[1]), zero);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), bytes);
  }
}
}  // namespace vantrel::extract
#endif
