// The SSE2 forms of the contrast and direction stages: the block sums and the contrast
// map, the sorted windows of the direction smoothing and the gradient sums of a block.
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

// The window values of the direction smoothing sorted for 16 neighbouring blocks at once.
// Bins (value + 128) lie in 1..255; a cell that holds no value (background, or outside
// the block grid) holds 0 and so sorts below every value. The sort is Batcher's odd-even
// merge network for 32 inputs with every comparator that reaches past input 24 left out:
// inputs 25..31 stand for values above all others, which such a comparator would leave
// where they are.
struct Comparator {
  uint8_t low, high;
};
inline constexpr int kWindowCells = 25;
struct WindowNetwork {
  Comparator pairs[200] = {};
  int count = 0;
  constexpr WindowNetwork() {
    constexpr int n = 32;
    for (int p = 1; p < n; p <<= 1) {
      for (int k = p; k >= 1; k >>= 1) {
        for (int j = k % p; j + k < n; j += 2 * k) {
          for (int i = 0; i < k && i + j + k < n; ++i) {
            const int a = i + j, b = i + j + k;
            if (a / (2 * p) != b / (2 * p) || b >= kWindowCells) continue;
            pairs[count++] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
          }
        }
      }
    }
  }
};
inline constexpr WindowNetwork kWindowNetwork{};

// Sorts the window bins of blocks c0..c0 + 15 of block row r, `bins` holding block
// column c at index c + 2 of each row with 0 beyond the grid: v[i] holds the bins of
// rank i (byte lane l: block c0 + l), and empty[] the number of cells without a value.
template <int kStride>
inline void SortWindows(const uint8_t (*bins)[kStride], int r, int c0, __m128i (&v)[kWindowCells],
                        uint8_t (&empty)[16]) {
  const __m128i zero = _mm_setzero_si128();
  __m128i zeros = zero;
  for (int dr = 0; dr < 5; ++dr) {
    for (int dc = 0; dc < 5; ++dc) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&bins[r - 2 + dr][c0 + dc]));
      v[dr * 5 + dc] = x;
      zeros = _mm_sub_epi8(zeros, _mm_cmpeq_epi8(x, zero));
    }
  }
#pragma GCC unroll 200
  for (int i = 0; i < kWindowNetwork.count; ++i) {
    const Comparator cmp = kWindowNetwork.pairs[i];
    const __m128i a = v[cmp.low], b = v[cmp.high];
    v[cmp.low] = _mm_min_epu8(a, b);
    v[cmp.high] = _mm_max_epu8(a, b);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(empty), zeros);
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
