// The SSE2 forms of the contrast and direction stages: the block sums and the contrast
// map, the running-sum rank scan of the window histogram and the gradient sums of a block.
// Each gives the same results as the plain form beside it in orientation.cpp, which builds
// where SSE2 does not; the tests hold the two to each other and to the golden records.
#pragma once

#include <cstdint>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/extract_context.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract::sse2 {

// Sum and sum of squares of an 8 x 8 block, eight pixels at a time.
inline void BlockSums(const uint8_t* block, int32_t& sum, int32_t& squares) {
  const __m128i zero = _mm_setzero_si128();
  __m128i total = zero, square_sums = zero;
  for (int y = 0; y < kBlockSize; ++y) {
    const __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block + y * kCanvasWidth));
    total = _mm_add_epi64(total, _mm_sad_epu8(row, zero));
    const __m128i wide = _mm_unpacklo_epi8(row, zero);
    square_sums = _mm_add_epi32(square_sums, _mm_madd_epi16(wide, wide));
  }
  square_sums = _mm_add_epi32(square_sums, _mm_shuffle_epi32(square_sums, _MM_SHUFFLE(1, 0, 3, 2)));
  square_sums = _mm_add_epi32(square_sums, _mm_shuffle_epi32(square_sums, _MM_SHUFFLE(2, 3, 0, 1)));
  sum = _mm_cvtsi128_si32(total);
  squares = _mm_cvtsi128_si32(square_sums);
}

// The contrast map on 16 pixels at a time. With d = g - m in -255..255 and k at most
// 28 381, the high half of the 16-bit product (8 d) x k is (8 d k) >> 16, that is
// (d k) >> 13 exactly (both floor); adding the target (0..255) stays within 16 bits, and
// the unsigned pack clamps to 0..255.
inline void MapContrast(uint8_t* canvas, int m, int k, int target_mean) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i mean8 = _mm_set1_epi16(static_cast<int16_t>(8 * m));
  const __m128i gain = _mm_set1_epi16(static_cast<int16_t>(k));
  const __m128i target = _mm_set1_epi16(static_cast<int16_t>(target_mean));
  auto map = [&](__m128i g) {
    const __m128i d8 = _mm_sub_epi16(_mm_slli_epi16(g, 3), mean8);
    return _mm_add_epi16(_mm_mulhi_epi16(d8, gain), target);
  };
  for (int i = 0; i < kCanvasBytes; i += 16) {
    auto* at = reinterpret_cast<__m128i*>(canvas + i);
    const __m128i g = _mm_loadu_si128(at);
    _mm_storeu_si128(at, _mm_packus_epi16(map(_mm_unpacklo_epi8(g, zero)),
                                          map(_mm_unpackhi_epi8(g, zero))));
  }
}

// Index of the first of 16 counts whose running sum exceeds k, and k less the counts
// before it. The counts must sum to more than k, and to at most 127.
inline int FirstPast(const uint8_t* counts, int& k) {
  __m128i sum = _mm_load_si128(reinterpret_cast<const __m128i*>(counts));
  sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 1));
  sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 2));
  sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 4));
  sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 8));
  const int past = _mm_movemask_epi8(_mm_cmpgt_epi8(sum, _mm_set1_epi8(static_cast<char>(k))));
  const int index = __builtin_ctz(static_cast<unsigned>(past));
  alignas(16) uint8_t running[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(running), sum);
  if (index > 0) k -= running[index - 1];
  return index;
}

// Adds (step 1) or takes away (step -1) one at count `index` of 16 counts, as one 16-byte
// load and store. The scans read the counts 16 bytes at a time right after they change;
// a byte store into such a load cannot be forwarded and waits for the store to retire,
// a whole-width one can.
inline void StepCount(uint8_t* counts, unsigned index, int step) {
  alignas(16) static constexpr uint8_t kOne[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                   1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  // The 16 bytes from kOne + 16 - index hold a 1 at `index` only.
  const __m128i one = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOne + 16 - index));
  auto* at = reinterpret_cast<__m128i*>(counts);
  const __m128i v = _mm_load_si128(at);
  _mm_store_si128(at, step > 0 ? _mm_add_epi8(v, one) : _mm_sub_epi8(v, one));
}

// FirstPast for k0 and k1 = k0 + 1 at once, from one set of running sums: the indexes
// in i0 and i1, each k less the counts before its index. The counts must sum to more
// than k1, and to at most 127.
inline void FirstPastTwo(const uint8_t* counts, int& k0, int& k1, int& i0, int& i1) {
  __m128i sum = _mm_load_si128(reinterpret_cast<const __m128i*>(counts));
  sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 1));
  sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 2));
  sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 4));
  sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 8));
  const int past0 = _mm_movemask_epi8(_mm_cmpgt_epi8(sum, _mm_set1_epi8(static_cast<char>(k0))));
  const int past1 = _mm_movemask_epi8(_mm_cmpgt_epi8(sum, _mm_set1_epi8(static_cast<char>(k1))));
  i0 = __builtin_ctz(static_cast<unsigned>(past0));
  i1 = __builtin_ctz(static_cast<unsigned>(past1));
  alignas(16) uint8_t running[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(running), sum);
  if (i0 > 0) k0 -= running[i0 - 1];
  if (i1 > 0) k1 -= running[i1 - 1];
}

// Sums of gx^2, gy^2 and gx*gy over an 8 x 8 block, eight pixels at a time.
inline void GradientSums(const uint8_t* block, int32_t& gxx, int32_t& gyy, int32_t& gxy) {
  const __m128i zero = _mm_setzero_si128();
  auto load = [&](const uint8_t* q) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
  };
  __m128i sxx = zero, syy = zero, sxy = zero;
  for (int y = 0; y < kBlockSize; ++y) {
    const uint8_t* mid = block + y * kCanvasWidth;
    const uint8_t* up = mid - kCanvasWidth;
    const uint8_t* down = mid + kCanvasWidth;
    const __m128i ul = load(up - 1), uc = load(up), ur = load(up + 1);
    const __m128i ml = load(mid - 1), mr = load(mid + 1);
    const __m128i dl = load(down - 1), dc = load(down), dr = load(down + 1);
    const __m128i gx = _mm_sub_epi16(_mm_add_epi16(_mm_add_epi16(ur, dr), _mm_add_epi16(mr, mr)),
                                     _mm_add_epi16(_mm_add_epi16(ul, dl), _mm_add_epi16(ml, ml)));
    const __m128i gy = _mm_sub_epi16(_mm_add_epi16(_mm_add_epi16(dl, dr), _mm_add_epi16(dc, dc)),
                                     _mm_add_epi16(_mm_add_epi16(ul, ur), _mm_add_epi16(uc, uc)));
    sxx = _mm_add_epi32(sxx, _mm_madd_epi16(gx, gx));
    syy = _mm_add_epi32(syy, _mm_madd_epi16(gy, gy));
    sxy = _mm_add_epi32(sxy, _mm_madd_epi16(gx, gy));
  }
  auto total = [](__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
  };
  gxx = total(sxx);
  gyy = total(syy);
  gxy = total(sxy);
}

}  // namespace vantrel::extract::sse2
#endif
