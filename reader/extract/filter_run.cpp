#include "reader/extract/filter_run.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VANTREL_WIDE_FILTERS 1
#endif

namespace vantrel::extract {

namespace {

#if defined(__SSE2__)
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
#else
}  // namespace

// Portable form of the same sums, one tap pair at a time over the run.
void FilterRunBaseline(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps) {
  int acc[kCanvasWidth];
  for (int i = 0; i < length; ++i) acc[i] = taps.middle * p[i];
  for (int t = 0; t < taps.pairs; ++t) {
    const TapPair& pair = taps.pair[t];
    const int c1 = static_cast<int16_t>(pair.coefficients & 0xFFFF);
    const int c2 = static_cast<int16_t>(static_cast<uint32_t>(pair.coefficients) >> 16);
    for (int i = 0; i < length; ++i) {
      acc[i] += c1 * (p[i + pair.first] + p[i - pair.first]) +
                c2 * (p[i + pair.second] + p[i - pair.second]);
    }
  }
  for (int i = 0; i < length; ++i) out[i] = ClampFiltered(acc[i]);
}
#endif

#if defined(VANTREL_WIDE_FILTERS)
// The wide form: 16 pixels to a 256-bit register. The 16-bit interleave and the 32-to-16-bit pack both
// work within 128-bit halves, so the sums come back in pixel order; only the final byte
// pack needs its halves brought together.
namespace {
__attribute__((target("avx2"))) inline __m256i Widen16(const uint8_t* q) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}
}  // namespace

__attribute__((target("avx2"))) void FilterRunWide(const uint8_t* p, uint8_t* out, int length,
                                             const TapProgram& taps) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i middle = _mm256_set1_epi32(static_cast<uint16_t>(taps.middle));
  int i = 0;
  for (; i + 16 <= length; i += 16) {
    __m256i lo = zero, hi = zero;
    const uint8_t* q = p + i;
    for (int t = 0; t < taps.pairs; ++t) {
      const TapPair& pair = taps.pair[t];
      const __m256i c = _mm256_set1_epi32(pair.coefficients);
      const __m256i s1 = _mm256_add_epi16(Widen16(q + pair.first), Widen16(q - pair.first));
      const __m256i s2 = _mm256_add_epi16(Widen16(q + pair.second), Widen16(q - pair.second));
      lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(s1, s2), c));
      hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(s1, s2), c));
    }
    const __m256i centre = Widen16(q);
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(centre, zero), middle));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(centre, zero), middle));
    const __m256i words = _mm256_packs_epi32(_mm256_srai_epi32(lo, 9), _mm256_srai_epi32(hi, 9));
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(bytes));
  }
  _mm256_zeroupper();
  if (i < length) FilterRunBaseline(p + i, out + i, length - i, taps);
}

bool WideFiltersAvailable() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}
#else
void FilterRunWide(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps) {
  FilterRunBaseline(p, out, length, taps);
}

bool WideFiltersAvailable() { return false; }
#endif

void FilterRun(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps) {
  if (WideFiltersAvailable()) {
    FilterRunWide(p, out, length, taps);
  } else {
    FilterRunBaseline(p, out, length, taps);
  }
}

}  // namespace vantrel::extract
