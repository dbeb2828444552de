// The row kernels of binarisation and thinning in their plain forms; skeleton_sse2.h
// holds their SSE2 forms and skeleton_avx2.cpp the AVX2 form of the thinning one.
// Binarise and Thin (skeleton.cpp) run them row by row.
#pragma once

#include <cstdint>

#include "reader/extract/neighbour_planes.h"

namespace vantrel::extract {

inline constexpr int kThinFirstRow = 6, kThinLastRow = 281;
inline constexpr int kThinFirstColumn = 6, kThinLastColumn = 249;

// The columns a pass considers, as a row mask.
static_assert(kThinFirstColumn / 64 == 0 && kThinLastColumn / 64 == kRowWords - 1);
inline constexpr uint64_t kThinColumns[kRowWords] = {
    ~0ULL << (kThinFirstColumn % 64), ~0ULL, ~0ULL, ~0ULL >> (63 - kThinLastColumn % 64)};

// One thinning row as bit masks: `ridge` where the pixel holds 3, `set` where it is not
// 0 (ridge, or deleted in this iteration and not yet cleared).
struct ThinRow {
  RowMask ridge;
  RowMask set;
};

// A pass's answers for the pixels it considers in a row, read from the masks as the row
// starts: the ridge pixels that fail the pass's "both neighbours set" test, which
// cannot change within an iteration (a deleted pixel stays set). Of the pixel's window
// only its left neighbour can change while the row is scanned, when it was considered
// just before and went; `chained` marks the considered pixels whose answer turns on
// that (their left neighbour is considered too), and `without_left` holds their answer
// for it gone.
struct ThinAnswers {
  uint64_t deleted[kRowWords];       // the answer with the left neighbour as the row started
  uint64_t chained[kRowWords];
  uint64_t without_left[kRowWords];
};

namespace plain {

// length pixels of one row: 1 where the pixel is at most 250 and either below 10 or no
// brighter than the mean of its two samples across the ridge, else 0.
inline void BinariseRun(const uint8_t* v, const uint8_t* plus, const uint8_t* minus,
                        uint8_t* out, int length) {
  for (int i = 0; i < length; ++i) {
    const int centre = v[i];
    const bool darker = plus[i] + minus[i] - 2 * centre >= 0;
    out[i] = static_cast<uint8_t>(centre <= 250 && (centre < 10 || darker));
  }
}

// One thinning pass over one row, on row bit masks: whether the pass considers any
// pixel of the row; when it does, its answers for all of them at once. Thin chains the
// left neighbours and applies the deletions. any pixel of the row; when it does, its answers.
template <int pass>
inline bool ThinAnswersOf(const ThinRow& up, const ThinRow& row, const ThinRow& down,
                          ThinAnswers& out) {
  RowMask considered;
  uint64_t any = 0;
  for (int i = 0; i < kRowWords; ++i) {
    const uint64_t both = pass == 0 ? FromLeft(row.set, i) & FromRight(row.set, i)
                                    : up.set[i] & down.set[i];
    considered[i] = row.ridge[i] & ~both & kThinColumns[i];
    any |= considered[i];
  }
  if (any == 0) return false;
  for (int i = 0; i < kRowWords; ++i) {
    out.deleted[i] = out.chained[i] = out.without_left[i] = 0;
    if (considered[i] == 0) continue;
    NeighbourPlanes p = PlanesOf(up.ridge, row.ridge, down.ridge, i);
    const uint64_t left = p.w;
    p.w = 0;
    const uint64_t without_left = ThinDeletesAll(pass, p);
    p.w = ~0ULL;
    const uint64_t with_left = ThinDeletesAll(pass, p);
    out.deleted[i] = considered[i] & ((left & with_left) | (~left & without_left));
    out.chained[i] = considered[i] & FromLeft(considered, i) & (with_left ^ without_left);
    out.without_left[i] = without_left;
  }
  return true;
}

}  // namespace plain

namespace avx2 {

// The AVX2 form of ThinAnswersOf for pass 0 and pass 1 (skeleton_avx2.cpp); may only run
// where cpu::RunsAvx2(). Built without AVX2 forms they are the plain form.
bool ThinAnswersOf0(const ThinRow& up, const ThinRow& row, const ThinRow& down, ThinAnswers& out);
bool ThinAnswersOf1(const ThinRow& up, const ThinRow& row, const ThinRow& down, ThinAnswers& out);

}  // namespace avx2
}  // namespace vantrel::extract
