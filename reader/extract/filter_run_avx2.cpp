// The AVX2 form of the oriented filters' inner loop, held to FilterRunBaseline. Without
// AVX2 forms in the build the baseline form stands in.
#include "reader/cpu/vector_forms.h"
#include "reader/extract/filter_run.h"

#if defined(VANTREL_AVX2_FORMS)
#include <immintrin.h>
#endif

namespace vantrel::extract {

#if defined(VANTREL_AVX2_FORMS)
// The wide form: 16 pixels to a 256-bit register. The 16-bit interleave and the 32-to-16-bit pack both
// work within 128-bit halves, so the sums come back in pixel order; only the final byte
// pack needs its halves brought together.
namespace {
VANTREL_AVX2_TARGET inline __m256i Widen16(const uint8_t* q) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}
}  // namespace

VANTREL_AVX2_TARGET void FilterRunWide(const uint8_t* p, uint8_t* out, int length,
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

#else
void FilterRunWide(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps) {
  FilterRunBaseline(p, out, length, taps);
}
#endif


}  // namespace vantrel::extract
