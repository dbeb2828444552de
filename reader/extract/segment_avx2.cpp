// The AVX2 form of the pre-filter rows, sixteen pixels at a time, held to
// PreFilterRowBaseline. Without AVX2 forms in the build the baseline form stands in.
#include "reader/cpu/vector_forms.h"
#include "reader/extract/extract_context.h"
#include "reader/extract/segment.h"

#if defined(VANTREL_AVX2_FORMS)
#include "reader/extract/avx2_loads.h"
#endif

namespace vantrel::extract {

#if defined(VANTREL_AVX2_FORMS)
namespace {

using avx2::Load;
using avx2::Widen16;

// a + 2 b + 4 c + 2 d + e in 16-bit lanes.
VANTREL_AVX2_TARGET inline __m256i Weighted(__m256i a, __m256i b, __m256i c, __m256i d,
                                            __m256i e) {
  return _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(a, e),
                                           _mm256_slli_epi16(_mm256_add_epi16(b, d), 1)),
                          _mm256_slli_epi16(c, 2));
}

}  // namespace

// Column sums reach 2550 and row sums 25 500: both fit 16-bit lanes, and for every value
// up to 25 500, (v x 41944) >> 22 is v / 100.
VANTREL_AVX2_TARGET void PreFilterRowWide(const uint8_t* s, uint8_t* out) {
  constexpr int w = kCanvasWidth;
  int16_t v[w];
  for (int x = 0; x < w; x += 16) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + x),
                       Weighted(Widen16(s + x - 2 * w), Widen16(s + x - w), Widen16(s + x),
                                Widen16(s + x + w), Widen16(s + x + 2 * w)));
  }
  const __m256i reciprocal = _mm256_set1_epi16(-23592);  // 41944 as an unsigned lane
  for (int x0 = 2; x0 <= w - 3; x0 += 16) {
    const int x = x0 + 16 <= w - 2 ? x0 : w - 2 - 16;  // the last group overlaps the one before
    const __m256i sum =
        Weighted(Load(v + x - 2), Load(v + x - 1), Load(v + x), Load(v + x + 1), Load(v + x + 2));
    const __m256i quotient = _mm256_srli_epi16(_mm256_mulhi_epu16(sum, reciprocal), 6);
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(quotient, quotient), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(bytes));
  }
  _mm256_zeroupper();
}

#else
void PreFilterRowWide(const uint8_t* s, uint8_t* out) { PreFilterRowBaseline(s, out); }
#endif

}  // namespace vantrel::extract
