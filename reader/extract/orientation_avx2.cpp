// The AVX2 form of the block gradient sums, two blocks to a register, held to
// RowGradientSumsBaseline. Without AVX2 forms in the build the baseline form stands in.
#include "reader/cpu/vector_forms.h"
#include "reader/extract/orientation.h"

#if defined(VANTREL_AVX2_FORMS)
#include "reader/extract/avx2_loads.h"
#endif

namespace vantrel::extract {

#if defined(VANTREL_AVX2_FORMS)
namespace {

using avx2::Widen16;

// H = left + 2 centre + right and D = right - left for the 16 pixels at q.
VANTREL_AVX2_TARGET inline void HorizontalTerms(const uint8_t* q, __m256i& h, __m256i& d) {
  const __m256i left = Widen16(q - 1), centre = Widen16(q), right = Widen16(q + 1);
  h = _mm256_add_epi16(_mm256_add_epi16(left, right), _mm256_add_epi16(centre, centre));
  d = _mm256_sub_epi16(right, left);
}

// The sum of the four 32-bit lanes of each 128-bit half: the half's block.
VANTREL_AVX2_TARGET inline void HalfSums(__m256i v, int32_t& low, int32_t& high) {
  v = _mm256_add_epi32(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm256_add_epi32(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
  low = _mm256_cvtsi256_si32(v);
  high = _mm256_extract_epi32(v, 4);
}

}  // namespace

// The Sobel gradients of 16 pixels (blocks c and c + 1) row by row, each row's pixels
// read once: with H = left + 2 centre + right and D = right - left of a pixel row,
// gy = H(below) - H(above) and gx = D(above) + 2 D(row) + D(below). Every value stays
// within -1020..1020, so 16-bit lanes hold them exactly, and the sums of 64 products
// stay below 2^27.
VANTREL_AVX2_TARGET void RowGradientSumsWide(const uint8_t* canvas, int block_row,
                                             const uint8_t* mask_row, GradientRow& sums) {
  constexpr int w = kCanvasWidth;
  const uint8_t* top = canvas + block_row * kBlockSize * w;
  for (int c = 0; c < kBlockColumns; c += 2) {
    const bool first = c >= 1 && mask_row[c] == 0;
    const bool second = c + 1 <= 30 && mask_row[c + 1] == 0;
    if (!first && !second) continue;
    const uint8_t* p = top + c * kBlockSize - w;  // the pixel row above the block row
    __m256i h_above, d_above, h_row, d_row;
    HorizontalTerms(p, h_above, d_above);
    HorizontalTerms(p + w, h_row, d_row);
    __m256i sxx = _mm256_setzero_si256(), syy = sxx, sxy = sxx;
    for (int y = 0; y < kBlockSize; ++y) {
      __m256i h_below, d_below;
      HorizontalTerms(p + (y + 2) * w, h_below, d_below);
      const __m256i gy = _mm256_sub_epi16(h_below, h_above);
      const __m256i gx = _mm256_add_epi16(_mm256_add_epi16(d_above, d_below),
                                          _mm256_add_epi16(d_row, d_row));
      sxx = _mm256_add_epi32(sxx, _mm256_madd_epi16(gx, gx));
      syy = _mm256_add_epi32(syy, _mm256_madd_epi16(gy, gy));
      sxy = _mm256_add_epi32(sxy, _mm256_madd_epi16(gx, gy));
      h_above = h_row;
      d_above = d_row;
      h_row = h_below;
      d_row = d_below;
    }
    int32_t xx[2], yy[2], xy[2];
    HalfSums(sxx, xx[0], xx[1]);
    HalfSums(syy, yy[0], yy[1]);
    HalfSums(sxy, xy[0], xy[1]);
    for (int k = 0; k < 2; ++k) {
      if (!(k == 0 ? first : second)) continue;
      sums.gxx[c + k] = xx[k];
      sums.gyy[c + k] = yy[k];
      sums.gxy[c + k] = xy[k];
    }
  }
  _mm256_zeroupper();
}

#else
void RowGradientSumsWide(const uint8_t* canvas, int block_row, const uint8_t* mask_row,
                         GradientRow& sums) {
  RowGradientSumsBaseline(canvas, block_row, mask_row, sums);
}
#endif

}  // namespace vantrel::extract
