// The SSE2 form of the oriented filters' inner loop, the baseline on every x86-64
// processor; held to the plain form in filter_run.cpp, which builds where SSE2 does not.
#include "reader/cpu/vector_forms.h"
#include "reader/extract/filter_run.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract {

namespace {

// Groups of 8 pixels worked at once, one to a row, so that each tap pair's coefficient
// and offsets are fetched once for all of them: as many as 16 registers hold (8 on a
// 32-bit build).
#if defined(__x86_64__)
constexpr int kGroups = 4;
#else
constexpr int kGroups = 1;
#endif

// G groups of 8 pixels, group g kCanvasWidth x g after p. The sums stay in registers
// across all taps: per tap pair, the two taps' pair sums (0..510) interleaved as 16-bit
// lanes, so that one multiply-add gives c1 x s1 + c2 x s2 per pixel.
template <int G>
inline void FilterGroups(const int16_t* p, uint8_t* out, const TapProgram& taps) {
  constexpr int w = kCanvasWidth;
  const __m128i zero = _mm_setzero_si128();
  const __m128i middle = _mm_set1_epi32(static_cast<uint16_t>(taps.middle));
  auto load = [](const int16_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  __m128i lo[G], hi[G];
  for (int g = 0; g < G; ++g) {
    const __m128i centre = load(p + g * w);
    lo[g] = _mm_madd_epi16(_mm_unpacklo_epi16(centre, zero), middle);
    hi[g] = _mm_madd_epi16(_mm_unpackhi_epi16(centre, zero), middle);
  }
  for (int t = 0; t < taps.pairs; ++t) {
    const TapPair& pair = taps.pair[t];
    const __m128i c = _mm_set1_epi32(pair.coefficients);
    const int16_t* a1 = p + pair.first;
    const int16_t* b1 = p - pair.first;
    const int16_t* a2 = p + pair.second;
    const int16_t* b2 = p - pair.second;
    for (int g = 0; g < G; ++g) {
      const __m128i s1 = _mm_add_epi16(load(a1 + g * w), load(b1 + g * w));
      const __m128i s2 = _mm_add_epi16(load(a2 + g * w), load(b2 + g * w));
      lo[g] = _mm_add_epi32(lo[g], _mm_madd_epi16(_mm_unpacklo_epi16(s1, s2), c));
      hi[g] = _mm_add_epi32(hi[g], _mm_madd_epi16(_mm_unpackhi_epi16(s1, s2), c));
    }
  }
  // Shift by 9 and clamp to 0..255 (ClampFiltered): a sum of 0 or less gives 0 through
  // the unsigned pack.
  for (int g = 0; g < G; ++g) {
    const __m128i words = _mm_packs_epi32(_mm_srai_epi32(lo[g], 9), _mm_srai_epi32(hi[g], 9));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + g * w), _mm_packus_epi16(words, zero));
  }
}

}  // namespace

void FilterRunBaseline(const int16_t* p, uint8_t* out, int length, int rows,
                       const TapProgram& taps) {
  constexpr int w = kCanvasWidth;
  for (int x = 0; x < length; x += 8) {
    int y = 0;
    for (; y + kGroups <= rows; y += kGroups) FilterGroups<kGroups>(p + y * w + x, out + y * w + x, taps);
    for (; y < rows; ++y) FilterGroups<1>(p + y * w + x, out + y * w + x, taps);
  }
}

}  // namespace vantrel::extract
#endif
