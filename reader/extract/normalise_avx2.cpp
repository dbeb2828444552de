// The AVX2 form of the resampler's across-blend, held to BlendAcross. Without AVX2 forms
// in the build PlanAcross declines and the plain form serves.
#include "reader/cpu/vector_forms.h"
#include "reader/extract/resample_across.h"

#if defined(VANTREL_AVX2_FORMS)
#include <immintrin.h>
#endif

namespace vantrel::extract {

#if defined(VANTREL_AVX2_FORMS)
bool PlanAcross(const AxisStep* columns, int n, int src_width, AcrossPlan& plan) {
  if (!cpu::RunsAvx2() || src_width < 16 || n <= 0 || n > kMaxBlendColumns) return false;
  constexpr uint8_t kZero = 0x80;  // a shuffle index that gives 0
  plan.groups = (n + 7) / 8;
  for (int g = 0; g < plan.groups; ++g) {
    const int x0 = 8 * g;
    // The run starts at the group's first pixel, or earlier so as not to reach past the
    // row's end; every index is then 0..15 within it or the group does not fit.
    int first = columns[x0].i0;
    if (first > src_width - 16) first = src_width - 16;
    plan.first[g] = first;
    for (int j = 0; j < 8; ++j) {
      uint8_t* s = &plan.shuffle[g][4 * j];  // lane j of 8: bytes 4j..4j+3
      int16_t* weight = &plan.weights[g][2 * j];
      if (x0 + j >= n) {
        s[0] = s[1] = s[2] = s[3] = kZero;
        weight[0] = weight[1] = 0;
        continue;
      }
      const AxisStep& step = columns[x0 + j];
      const int a = step.i0 - first, b = step.i1 - first;
      if (a < 0 || a > 15 || b < 0 || b > 15) return false;
      s[0] = static_cast<uint8_t>(a);
      s[2] = static_cast<uint8_t>(b);
      s[1] = s[3] = kZero;
      weight[0] = static_cast<int16_t>(step.w0);
      weight[1] = static_cast<int16_t>(step.w1);
    }
  }
  return true;
}

// The 16 source pixels go to both 128-bit halves, which shuffle independently: the low
// half gathers the pixel pairs of the group's first 4 columns as 16-bit lanes, the high
// half those of the last 4, and one multiply-add with the weights gives the 8 blends.
VANTREL_AVX2_TARGET void BlendAcrossWide(const uint8_t* r, const AcrossPlan& plan,
                                         int16_t* out) {
  for (int g = 0; g < plan.groups; ++g) {
    const __m256i pixels = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + plan.first[g])));
    const __m256i pairs = _mm256_shuffle_epi8(
        pixels, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(plan.shuffle[g])));
    const __m256i blends = _mm256_madd_epi16(
        pairs, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(plan.weights[g])));
    const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(blends, blends), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * g), _mm256_castsi256_si128(words));
  }
  _mm256_zeroupper();
}

#else
bool PlanAcross(const AxisStep*, int, int, AcrossPlan&) { return false; }
void BlendAcrossWide(const uint8_t*, const AcrossPlan&, int16_t*) {}
#endif

}  // namespace vantrel::extract
