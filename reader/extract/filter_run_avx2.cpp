// The AVX2 form of the oriented filters' inner loop, held to FilterBlockRowBaseline.
// Without AVX2 forms in the build the baseline form stands in.
#include "reader/cpu/vector_forms.h"
#include "reader/extract/filter_run.h"

#if defined(VANTREL_AVX2_FORMS)
#include "reader/extract/avx2_loads.h"
#endif

namespace vantrel::extract {

#if defined(VANTREL_AVX2_FORMS)
namespace {

using avx2::Load;
using avx2::Widen16;

// The band as the wide form reads it: at every band position k the neighbouring pixels
// as the two 16-bit halves of a 32-bit lane, (p[k], p[k + 1]) ahead and (p[k + 1], p[k])
// behind. A tap pair at offsets o, o + 1 then takes, for 8 pixels at once, ahead at
// i + o plus behind at i - o - 1: the pair sums (p[i+o] + p[i-o], p[i+o+1] + p[i-o-1])
// side by side, which one multiply-add turns into c1 x s1 + c2 x s2 per pixel, already
// in pixel order. 2 x 4 x 4652 bytes, on the stack.
struct PairBand {
  int32_t ahead[kBandPixels];
  int32_t behind[kBandPixels];
};

VANTREL_AVX2_TARGET inline void Store(int32_t* q, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(q), v);
}

// 16 positions of the pair bands from their pixels a (p[k..k+15]) and b (p[k+1..k+16]).
// The 16-bit interleaves work within 128-bit halves; the two lane swaps put the
// positions back in order.
VANTREL_AVX2_TARGET inline void StorePairs(__m256i a, __m256i b, int32_t* ahead, int32_t* behind) {
  const __m256i lo = _mm256_unpacklo_epi16(a, b), hi = _mm256_unpackhi_epi16(a, b);
  Store(ahead, _mm256_permute2x128_si256(lo, hi, 0x20));
  Store(ahead + 8, _mm256_permute2x128_si256(lo, hi, 0x31));
  const __m256i rlo = _mm256_unpacklo_epi16(b, a), rhi = _mm256_unpackhi_epi16(b, a);
  Store(behind, _mm256_permute2x128_si256(rlo, rhi, 0x20));
  Store(behind + 8, _mm256_permute2x128_si256(rlo, rhi, 0x31));
}

// The band's pixels as the pair building reads them, 16 from band position k: straight
// from the canvas (every block row but the first and the last, where the band and the 16
// pixels past its end lie on it) or from the widened band with its zero and spare pixels.
struct CanvasPixels {
  const uint8_t* p;  // the canvas byte at band position 0
  VANTREL_AVX2_TARGET __m256i operator()(int k) const { return Widen16(p + k); }
};
struct WidenedPixels {
  const int16_t* p;
  VANTREL_AVX2_TARGET __m256i operator()(int k) const { return Load(p + k); }
};

// The pair bands are built in columns of 16 positions, column q holding band positions
// 16 q .. 16 q + 15 of each of the band's rows, as the runs come to need them: the part
// of the bands in use stays small enough for the first-level cache, and the columns of
// copied blocks are built only where a window reaches into them. Column 16 is the first
// 16 positions of each next row (the row after the last included), which the windows of
// the last pixels of a row reach.
constexpr int kChunk = 16;
constexpr int kChunks = kCanvasWidth / kChunk + 1;

template <typename Pixels>
VANTREL_AVX2_TARGET inline void BuildChunk(Pixels pixels, int rows, int chunk, PairBand& pairs) {
  for (int j = 0, k = chunk * kChunk; j < rows; ++j, k += kCanvasWidth) {
    StorePairs(pixels(k), pixels(k + 1), pairs.ahead + k, pairs.behind + k);
  }
}

// The form for kernels of other reaches and for 32-bit builds (kernels of reach 4 and 5
// go through FilterGrid on 64-bit ones). Groups of 8 pixels worked at once, one to a row,
// so that each tap pair's coefficient and offsets are fetched once for all of them: the 8 rows of a block row take 8 of the
// 16 registers for their sums and leave the rest for the work, so no sum is spilled to
// the stack (checked in the generated code). A 32-bit build has 8 registers: 2 groups.
#if defined(__x86_64__)
constexpr int kGroups = kBlockSize;
#else
constexpr int kGroups = 2;
#endif

// Shift by 9 and clamp to 0..255 (ClampFiltered) for the sums of two rows' groups, stored
// to out_a and out_b: a sum of 0 or less gives 0 through the unsigned pack. The packs
// work within 128-bit halves; one lane permutation brings each row's 8 words together.
VANTREL_AVX2_TARGET inline void StoreTwo(__m256i a, __m256i b, uint8_t* out_a, uint8_t* out_b) {
  const __m256i words = _mm256_permute4x64_epi64(
      _mm256_packs_epi32(_mm256_srai_epi32(a, 9), _mm256_srai_epi32(b, 9)), 0xD8);
  const __m256i bytes = _mm256_packus_epi16(words, words);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out_a), _mm256_castsi256_si128(bytes));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out_b), _mm256_extracti128_si256(bytes, 1));
}

// G groups of 8 pixels, group g kCanvasWidth x g after band position `at`.
template <int G>
VANTREL_AVX2_TARGET inline void FilterGroups(const PairBand& band, int at, uint8_t* out,
                                             const TapProgram& taps) {
  static_assert(G % 2 == 0, "groups are stored two at a time");
  constexpr int row = kCanvasWidth * sizeof(int32_t);  // bytes from one group to the next
  const char* ahead = reinterpret_cast<const char*>(band.ahead + at);
  const char* behind = reinterpret_cast<const char*>(band.behind + at);
  // The centre: (p[i], p[i + 1]) times (middle, 0).
  const __m256i middle = _mm256_set1_epi32(static_cast<uint16_t>(taps.middle));
  __m256i acc[G];
  for (int g = 0; g < G; ++g) acc[g] = _mm256_madd_epi16(Load(ahead + g * row), middle);
  // Every program has a pair (MakeTaps), so the loop runs at least once. Each sum is
  // added to in place: left to itself the compiler adds into the product's register and
  // copies the result back, a copy per sum and pair, and spills one of the eight.
  const TapPair* pair = taps.pair;
  do {
    const __m256i c = _mm256_set1_epi32(pair->coefficients);
    const char* a = ahead + pair->ahead_bytes;
    const char* b = behind + pair->behind_bytes;
    for (int g = 0; g < G; ++g) {
      const __m256i sums = _mm256_add_epi16(Load(a + g * row), Load(b + g * row));
      const __m256i products = _mm256_madd_epi16(sums, c);
      asm("vpaddd %1, %0, %0" : "+x"(acc[g]) : "x"(products));
    }
  } while (++pair != taps.pair + taps.pairs);
  for (int g = 0; g < G; g += 2) {
    StoreTwo(acc[g], acc[g + 1], out + g * kCanvasWidth, out + (g + 1) * kCanvasWidth);
  }
}

// The same sums as FilterGroups<8> for a kernel of reach R, from the program's grid of
// pairs, which reuses loads across the rows: a pair at row offset dy (-R..0) and column
// offset dx adds, to output row y, ahead at band row y + dy plus behind at band row
// y - dy. Taking the pairs of one dx together, each band row's ahead load serves every
// output row within R below it, so that only the behind loads are made per pair and row.
// The sums are of integers in 32 bits, so their order does not change them.
template <int R, int G>
VANTREL_AVX2_TARGET inline void FilterGrid(const PairBand& band, int at, uint8_t* out,
                                           const TapProgram& taps) {
  static_assert(G % 2 == 0, "groups are stored two at a time");
  constexpr int row = kCanvasWidth * sizeof(int32_t);
  const char* ahead = reinterpret_cast<const char*>(band.ahead + at);
  const char* behind = reinterpret_cast<const char*>(band.behind + at);
  const __m256i middle = _mm256_set1_epi32(static_cast<uint16_t>(taps.middle));
  __m256i acc[G];
#pragma GCC unroll 8
  for (int g = 0; g < G; ++g) acc[g] = _mm256_madd_epi16(Load(ahead + g * row), middle);
  for (int q = 0; q <= R; ++q) {
    __m256i c[R + 1];
#pragma GCC unroll 8
    for (int d = 0; d <= R; ++d) c[d] = _mm256_set1_epi32(taps.grid[d][q]);
    const int dx = -R + 2 * q;
    const char* a = ahead + static_cast<int>(sizeof(int32_t)) * dx;
    const char* b = behind - static_cast<int>(sizeof(int32_t)) * (dx + 1);
    // On the centre row only the pairs left of the centre are taken (2 q < R).
    const bool centre_row = 2 * q < R;
#pragma GCC unroll 16
    for (int r = -R; r < G; ++r) {
      const __m256i av = Load(a + r * row);
#pragma GCC unroll 8
      for (int y = r < 0 ? 0 : r; y <= (r + R < G - 1 ? r + R : G - 1); ++y) {
        const int dy = r - y;
        if (dy == 0 && !centre_row) continue;
        const __m256i sums = _mm256_add_epi16(av, Load(b + (2 * y - r) * row));
        const __m256i products = _mm256_madd_epi16(sums, c[dy + R]);
        asm("vpaddd %1, %0, %0" : "+x"(acc[y]) : "x"(products));
      }
    }
  }
  for (int g = 0; g < G; g += 2) {
    StoreTwo(acc[g], acc[g + 1], out + g * kCanvasWidth, out + (g + 1) * kCanvasWidth);
  }
}

// Rows of a group the grid form works at once: 4 sums, R + 1 coefficients, a load and
// the work fit the 16 registers (8 sums spill the coefficients to the stack).
constexpr int kGridRows = 4;

// The runs of one block row from the band whose pixels `pixels` gives. The group at
// column x reads, in every band row, positions x .. x + 2 R + 8 (the behind taps from x,
// the ahead ones up to x + 2 R + 8, each holding the pixel after it as well): columns
// x / 16 to (x + 2 R + 8) / 16 cover them, the last at most column 16.
template <typename Pixels>
VANTREL_AVX2_TARGET void FilterRuns(Pixels pixels, uint8_t* dst, int block_row, int reach,
                                    const BlockRun* runs, int count) {
  PairBand pairs;
  const int rows = kBlockSize + 2 * reach;
  uint32_t built = 0;  // bit q: column q of the pair bands is built
  static_assert(kChunks <= 32);
  const int row0 = block_row * kBlockSize * kCanvasWidth;
  for (int n = 0; n < count; ++n) {
    const BlockRun& run = runs[n];
    for (int x = run.x0; x < run.x0 + run.length; x += 8) {
      for (int q = x / kChunk; q <= (x + 2 * reach + 8) / kChunk; ++q) {
        if ((built >> q & 1u) != 0) continue;
        built |= 1u << q;
        BuildChunk(pixels, rows, q, pairs);
      }
#if defined(__x86_64__)
      if (reach == 5 || reach == 4) {
        for (int y = 0; y < kBlockSize; y += kGridRows) {
          const int at = BandOrigin(reach) + y * kCanvasWidth + x;
          uint8_t* out = dst + row0 + y * kCanvasWidth + x;
          if (reach == 5) {
            FilterGrid<5, kGridRows>(pairs, at, out, *run.taps);
          } else {
            FilterGrid<4, kGridRows>(pairs, at, out, *run.taps);
          }
        }
        continue;
      }
#endif
      for (int y = 0; y < kBlockSize; y += kGroups) {
        FilterGroups<kGroups>(pairs, BandOrigin(reach) + y * kCanvasWidth + x,
                              dst + row0 + y * kCanvasWidth + x, *run.taps);
      }
    }
  }
}

}  // namespace

VANTREL_AVX2_TARGET void FilterBlockRowWide(const uint8_t* src, uint8_t* dst, int block_row,
                                            int reach, const BlockRun* runs, int count) {
  // The last column of pairs reads at most 16 pixels past the band's end.
  const int base = block_row * kBlockSize * kCanvasWidth - BandOrigin(reach);
  const int size = (kBlockSize + 2 * reach) * kCanvasWidth + 2 * (reach + 1);
  if (base >= 0 && base + size + 32 <= kCanvasBytes) {
    FilterRuns(CanvasPixels{src + base}, dst, block_row, reach, runs, count);
  } else {
    int16_t band[kBandPixels];
    WidenBand(src, block_row, reach, band);
    FilterRuns(WidenedPixels{band}, dst, block_row, reach, runs, count);
  }
  _mm256_zeroupper();
}

#else
void FilterBlockRowWide(const uint8_t* src, uint8_t* dst, int block_row, int reach,
                        const BlockRun* runs, int count) {
  FilterBlockRowBaseline(src, dst, block_row, reach, runs, count);
}
#endif

}  // namespace vantrel::extract
