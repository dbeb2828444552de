// The AVX2 form of a thinning pass's answers for a row: the four words of each row mask
// in one register. Held to the plain form in skeleton_rows.h like the SSE2 form; without
// AVX2 forms in the build the baseline form stands in.
#include "reader/cpu/vector_forms.h"
#include "reader/extract/skeleton_rows.h"
#include "reader/extract/skeleton_sse2.h"

#if defined(VANTREL_AVX2_FORMS)
#include <immintrin.h>
#endif

namespace vantrel::extract::avx2 {

#if defined(VANTREL_AVX2_FORMS)
namespace {

// The four words of a row mask as a vector with logic operators (see TwoWords).
typedef long long FourWords __attribute__((vector_size(32)));

// Words from `shift` on (-1, 0 or 1 reach a guard word).
VANTREL_AVX2_TARGET inline __m256i Words(const RowMask& mask, int shift) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&mask.guarded[1 + shift]));
}
VANTREL_AVX2_TARGET inline __m256i WordsFromLeft(const RowMask& mask) {
  return _mm256_or_si256(_mm256_slli_epi64(Words(mask, 0), 1),
                         _mm256_srli_epi64(Words(mask, -1), 63));
}
VANTREL_AVX2_TARGET inline __m256i WordsFromRight(const RowMask& mask) {
  return _mm256_or_si256(_mm256_srli_epi64(Words(mask, 0), 1),
                         _mm256_slli_epi64(Words(mask, 1), 63));
}

template <int pass>
VANTREL_AVX2_TARGET inline bool Answers(const ThinRow& up, const ThinRow& row, const ThinRow& down,
                                        ThinAnswers& out) {
  static_assert(kRowWords == 4);
  const __m256i none = _mm256_setzero_si256(), all = _mm256_set1_epi32(-1);
  const __m256i both = pass == 0 ? WordsFromLeft(row.set) & WordsFromRight(row.set)
                                 : Words(up.set, 0) & Words(down.set, 0);
  const __m256i columns = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kThinColumns));
  const __m256i c = _mm256_andnot_si256(both, Words(row.ridge, 0)) & columns;
  if (_mm256_testz_si256(c, c)) return false;
  const __m256i left = WordsFromLeft(row.ridge);
  Planes<FourWords> p{WordsFromRight(row.ridge),  WordsFromRight(up.ridge),
                      Words(up.ridge, 0),         WordsFromLeft(up.ridge),
                      none,                       WordsFromLeft(down.ridge),
                      Words(down.ridge, 0),       WordsFromRight(down.ridge)};
  FourWords without_left, with_left;
  ThinDeletesInto(pass, p, &without_left);
  p.w = all;
  ThinDeletesInto(pass, p, &with_left);
  // The considered pixels moved one column right: each word, and the top bit of the word
  // before (none before the first).
  const __m256i before =
      _mm256_blend_epi32(_mm256_permute4x64_epi64(c, _MM_SHUFFLE(2, 1, 0, 0)), none, 0x03);
  const __m256i c_from_left =
      _mm256_or_si256(_mm256_slli_epi64(c, 1), _mm256_srli_epi64(before, 63));
  const __m256i deleted = c & ((left & with_left) | _mm256_andnot_si256(left, without_left));
  const __m256i chained = c & c_from_left & (with_left ^ without_left);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.deleted), deleted);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.chained), chained);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.without_left), without_left);
  _mm256_zeroupper();
  return true;
}

}  // namespace

VANTREL_AVX2_TARGET bool ThinAnswersOf0(const ThinRow& up, const ThinRow& row, const ThinRow& down,
                                        ThinAnswers& out) {
  return Answers<0>(up, row, down, out);
}
VANTREL_AVX2_TARGET bool ThinAnswersOf1(const ThinRow& up, const ThinRow& row, const ThinRow& down,
                                        ThinAnswers& out) {
  return Answers<1>(up, row, down, out);
}

#else
bool ThinAnswersOf0(const ThinRow& up, const ThinRow& row, const ThinRow& down, ThinAnswers& out) {
  return plain::ThinAnswersOf<0>(up, row, down, out);
}
bool ThinAnswersOf1(const ThinRow& up, const ThinRow& row, const ThinRow& down, ThinAnswers& out) {
  return plain::ThinAnswersOf<1>(up, row, down, out);
}
#endif

}  // namespace vantrel::extract::avx2
