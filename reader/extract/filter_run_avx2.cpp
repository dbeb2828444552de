// The AVX2 form of the oriented filters' inner loop, held to FilterRunBaseline. Without
// AVX2 forms in the build the baseline form stands in.
#include "reader/cpu/vector_forms.h"
#include "reader/extract/filter_run.h"

#if defined(VANTREL_AVX2_FORMS)
#include <immintrin.h>
#endif

namespace vantrel::extract {

#if defined(VANTREL_AVX2_FORMS)
namespace {

// Groups of pixels worked at once, one to a row, so that each tap pair's coefficient and
// offsets are fetched once for all of them: three take 6 of the 16 registers for their
// sums and leave the rest for the work, so no sum is spilled to the stack (checked in
// the generated code; 8 registers on a 32-bit build take one group).
#if defined(__x86_64__)
constexpr int kGroups = 3;
#else
constexpr int kGroups = 1;
#endif

// The two widths one kernel is written for: 16 pixels to a 256-bit register, and 8 to a
// 128-bit one for the last 8 pixels of a run whose length is not a multiple of 16. The
// 16-bit interleave and the 32-to-16-bit pack both work within 128-bit halves, so the
// sums come back in pixel order; only the final byte pack needs its halves brought
// together.
struct Sixteen {
  using V = __m256i;
  static constexpr int kPixels = 16;
  VANTREL_AVX2_TARGET static V Load(const char* q) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
  }
  VANTREL_AVX2_TARGET static V Zero() { return _mm256_setzero_si256(); }
  VANTREL_AVX2_TARGET static V Broadcast(int32_t v) { return _mm256_set1_epi32(v); }
  VANTREL_AVX2_TARGET static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
  VANTREL_AVX2_TARGET static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
  VANTREL_AVX2_TARGET static V Low(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  VANTREL_AVX2_TARGET static V High(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  VANTREL_AVX2_TARGET static V MulAdd(V a, V b) { return _mm256_madd_epi16(a, b); }
  VANTREL_AVX2_TARGET static void Store(uint8_t* out, V lo, V hi) {
    const V words = _mm256_packs_epi32(_mm256_srai_epi32(lo, 9), _mm256_srai_epi32(hi, 9));
    const V bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
  }
};
struct Eight {
  using V = __m128i;
  static constexpr int kPixels = 8;
  VANTREL_AVX2_TARGET static V Load(const char* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  }
  VANTREL_AVX2_TARGET static V Zero() { return _mm_setzero_si128(); }
  VANTREL_AVX2_TARGET static V Broadcast(int32_t v) { return _mm_set1_epi32(v); }
  VANTREL_AVX2_TARGET static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
  VANTREL_AVX2_TARGET static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
  VANTREL_AVX2_TARGET static V Low(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  VANTREL_AVX2_TARGET static V High(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  VANTREL_AVX2_TARGET static V MulAdd(V a, V b) { return _mm_madd_epi16(a, b); }
  VANTREL_AVX2_TARGET static void Store(uint8_t* out, V lo, V hi) {
    const V words = _mm_packs_epi32(_mm_srai_epi32(lo, 9), _mm_srai_epi32(hi, 9));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
  }
};

// G groups of X::kPixels pixels, group g kCanvasWidth x g after p: per tap pair, the two
// taps' pair sums (0..510) interleaved as 16-bit lanes, so that one multiply-add gives
// c1 x s1 + c2 x s2 per pixel. A sum of 0 or less gives 0 through the unsigned pack.
template <typename X, int G>
VANTREL_AVX2_TARGET inline void FilterGroups(const int16_t* p, uint8_t* out,
                                             const TapProgram& taps) {
  using V = typename X::V;
  constexpr int row = kCanvasWidth * sizeof(int16_t);  // bytes from one group to the next
  const char* q = reinterpret_cast<const char*>(p);
  const V middle = X::Broadcast(static_cast<uint16_t>(taps.middle));
  V lo[G], hi[G];
  for (int g = 0; g < G; ++g) {
    const V centre = X::Load(q + g * row);
    lo[g] = X::MulAdd(X::Low(centre, X::Zero()), middle);
    hi[g] = X::MulAdd(X::High(centre, X::Zero()), middle);
  }
  for (const TapPair* pair = taps.pair; pair != taps.pair + taps.pairs; ++pair) {
    const V c = X::Broadcast(pair->coefficients);
    const char* a1 = q + pair->bytes[0];
    const char* b1 = q + pair->bytes[1];
    const char* a2 = q + pair->bytes[2];
    const char* b2 = q + pair->bytes[3];
    for (int g = 0; g < G; ++g) {
      const V s1 = X::Add16(X::Load(a1 + g * row), X::Load(b1 + g * row));
      const V s2 = X::Add16(X::Load(a2 + g * row), X::Load(b2 + g * row));
      lo[g] = X::Add32(X::MulAdd(X::Low(s1, s2), c), lo[g]);
      hi[g] = X::Add32(X::MulAdd(X::High(s1, s2), c), hi[g]);
    }
  }
  for (int g = 0; g < G; ++g) X::Store(out + g * kCanvasWidth, lo[g], hi[g]);
}

// Every row of one column of groups X::kPixels wide.
template <typename X>
VANTREL_AVX2_TARGET inline void FilterColumn(const int16_t* p, uint8_t* out, int rows,
                                             const TapProgram& taps) {
  constexpr int w = kCanvasWidth;
  int y = 0;
  for (; y + kGroups <= rows; y += kGroups) FilterGroups<X, kGroups>(p + y * w, out + y * w, taps);
  if (kGroups > 2 && y + 2 <= rows) {
    FilterGroups<X, 2>(p + y * w, out + y * w, taps);
    y += 2;
  }
  for (; y < rows; ++y) FilterGroups<X, 1>(p + y * w, out + y * w, taps);
}

}  // namespace

VANTREL_AVX2_TARGET void FilterRunWide(const int16_t* p, uint8_t* out, int length, int rows,
                                       const TapProgram& taps) {
  int x = 0;
  for (; x + 16 <= length; x += 16) FilterColumn<Sixteen>(p + x, out + x, rows, taps);
  if (x < length) FilterColumn<Eight>(p + x, out + x, rows, taps);
  _mm256_zeroupper();
}

#else
void FilterRunWide(const int16_t* p, uint8_t* out, int length, int rows,
                   const TapProgram& taps) {
  FilterRunBaseline(p, out, length, rows, taps);
}
#endif

}  // namespace vantrel::extract
