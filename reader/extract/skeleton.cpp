#include "reader/extract/skeleton.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/minutiae.h"
#include "reader/extract/neighbour_planes.h"
#include "reader/extract/skeleton_rows.h"
#include "reader/extract/skeleton_sse2.h"

namespace vantrel::extract {
namespace {

constexpr int kStride = kCanvasWidth;

// Across-ridge sample offsets (dx, dy) per direction code 1..8; index 0 unused.
constexpr int kAcrossDx[9] = {0, 0, 1, 2, 2, 2, 2, 2, 1};
constexpr int kAcrossDy[9] = {0, 2, 2, 2, 1, 0, -1, -2, -2};

// Thinning deletion sets, indexed by the 8-bit neighbour pattern.
constexpr int kPassA[] = {
    3,   5,   7,   13,  15,  20,  22,  24,  28,  30,  48,  52,  54,  56,  60,  62,  65,  67,
    69,  71,  77,  79,  80,  84,  86,  88,  92,  94,  97,  99,  101, 103, 109, 111, 112, 116,
    118, 120, 124, 126, 129, 131, 133, 135, 141, 143, 193, 195, 197, 199, 205, 207, 208, 212,
    214, 216, 220, 222, 225, 227, 229, 231, 237, 239, 240, 244, 246, 248, 252, 254};
constexpr int kPassB[] = {
    5,   6,   7,   12,  13,  14,  15,  20,  21,  22,  23,  28,  29,  30,  31,  52,  53,  54,
    55,  60,  61,  62,  63,  65,  67,  80,  81,  83,  88,  89,  91,  96,  97,  99,  112, 113,
    115, 120, 121, 123, 133, 135, 141, 143, 149, 151, 157, 159, 181, 183, 189, 191, 192, 193,
    195, 208, 209, 211, 216, 217, 219, 224, 225, 227, 240, 241, 243, 248, 249, 251};

// The deletion sets indexed by the 8-bit neighbour pattern.
struct DeletionTables {
  std::array<bool, 256> pass_a{};
  std::array<bool, 256> pass_b{};
};

const DeletionTables& Deletions() {
  static const DeletionTables tables = [] {
    DeletionTables t;
    for (int p : kPassA) t.pass_a[p] = true;
    for (int p : kPassB) t.pass_b[p] = true;
    return t;
  }();
  return tables;
}

// Contour directions of hole filling: 0 right, then clockwise on the display.
constexpr int kContourDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kContourDy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kMaxContour = 40;
constexpr std::array<int, 8> kContourOffset = [] {
  std::array<int, 8> t{};
  for (int e = 0; e < 8; ++e) t[e] = kContourDy[e] * kStride + kContourDx[e];
  return t;
}();

inline bool Inside(int x, int y) {
  return x >= 0 && x < kCanvasWidth && y >= 0 && y < kCanvasHeight;
}

// Pixels outside the canvas read as 0.
inline uint8_t At(const uint8_t* canvas, int x, int y) {
  return Inside(x, y) ? canvas[y * kStride + x] : 0;
}

#if defined(VANTREL_SSE2)
using sse2::BinariseRun;
using sse2::ThinAnswersOf;
#else
using plain::BinariseRun;
using plain::ThinAnswersOf;
#endif

// Clears the bits of columns 0..x of a row's bits.
inline void ClearColumnsUpTo(int x, uint64_t (&bits)[kRowWords]) {
  for (int j = 0; j < kRowWords; ++j) {
    const int first = x + 1 - 64 * j;  // the first column still to come, in word j
    if (first >= 64) {
      bits[j] = 0;
    } else if (first > 0) {
      bits[j] &= ~0ULL << first;
    }
  }
}

// Visits rows 8..279 of a canvas in order, each at the columns whose bits `work_out`
// gives from the masks of the rows around it (a Window), in column order. When `visit`
// changes the canvas (returns true) the masks are read again and only the columns still
// to come are visited; between changes the canvas stays as it is.
template <typename Window, typename WorkOut, typename Visit>
void ScanRows(uint8_t* canvas, WorkOut work_out, Visit visit) {
  constexpr int kFirstRow = 8, kLastRow = 279;
  Window rows;
  rows.Load(canvas, kFirstRow);
  for (int y = kFirstRow; y <= kLastRow; ++y) {
    if (y > kFirstRow) rows.Next(canvas, y);
    uint64_t bits[kRowWords];
    work_out(rows, y, bits);
    for (int i = 0; i < kRowWords; ++i) {
      while (bits[i] != 0) {
        const int x = i * 64 + __builtin_ctzll(bits[i]);
        bits[i] &= bits[i] - 1;
        if (!visit(x, y)) continue;
        rows.Load(canvas, y);
        work_out(rows, y, bits);
        ClearColumnsUpTo(x, bits);
      }
    }
  }
}

// Hole-filling starts of row y, one bit per column, from the row's pixels that hold 1
// and the non-zero masks around it; leaving out those whose contour gives up at its
// first step. That step goes down-right, else right, else to the first set neighbour of
// up-right, up, up-left and left (all before the start in scan order, where the trace
// gives up), else down-left.
inline void ContourStarts(const RowMask& one, const RowWindowOf<NonZeroOf64>& rows,
                          uint64_t (&starts)[kRowWords]) {
  for (int i = 0; i < kRowWords; ++i) {
    const NeighbourPlanes p = rows.Planes(i);
    const uint64_t goes_on = p.se | p.e | ~(p.ne | p.n | p.nw | p.w);
    starts[i] = one[i] & ~p.s & p.sw & goes_on;
  }
}

}  // namespace

// Block by block, blocks of one code in a block row taken as one run.
void Binarise(const uint8_t* enhanced, uint8_t* binary, const ExtractionContext& context) {
  static_assert(kBlockRows * kBlockSize == kCanvasHeight);
  struct Run {
    int first, blocks, code;
  };
  for (int r = 0; r < kBlockRows; ++r) {
    const uint8_t* codes = context.block_direction[r];
    Run runs[kBlockColumns];
    int run_count = 0;
    for (int bc = 0; bc < kBlockColumns;) {
      int blocks = 1;
      while (bc + blocks < kBlockColumns && codes[bc + blocks] == codes[bc]) ++blocks;
      runs[run_count++] = {bc, blocks, codes[bc]};
      bc += blocks;
    }
    for (int y = r * kBlockSize; y < (r + 1) * kBlockSize; ++y) {
      for (int j = 0; j < run_count; ++j) {
        const int k = runs[j].code;
        const int p0 = y * kStride + runs[j].first * kBlockSize;
        const int length = runs[j].blocks * kBlockSize;
        uint8_t* out = binary + p0;
        if (k < 1 || k > 8) {
          // Background (or an invalid code) carries no ridge.
          std::memset(out, 0, length);
          continue;
        }
        const int offset = kAcrossDy[k] * kStride + kAcrossDx[k];
        const uint8_t* v = enhanced + p0;
        if (p0 - offset >= 0 && p0 + length - 1 + offset < kCanvasBytes) {
          // The two samples across the ridge lie on the canvas for the whole run.
          BinariseRun(v, v + offset, v - offset, out, length);
          continue;
        }
        for (int i = 0; i < length; ++i) {
          // Samples taken on the flat canvas; beyond either end of it they count as 0.
          const int p = p0 + i;
          const int a = (p + offset >= 0 && p + offset < kCanvasBytes) ? enhanced[p + offset] : 0;
          const int b = (p - offset >= 0 && p - offset < kCanvasBytes) ? enhanced[p - offset] : 0;
          const int centre = v[i];
          out[i] = static_cast<uint8_t>(centre <= 250 && (centre < 10 || a + b - 2 * centre >= 0));
        }
      }
    }
  }
}

namespace {

// The first of the directions d - 1, d - 2, ... (modulo 8) in which the neighbour of
// (x, y) is not 0, or -1. Away from the canvas edges the neighbours are read directly.
inline int NextContourStep(const uint8_t* binary, int x, int y, int d) {
  if (x >= 1 && x < kCanvasWidth - 1 && y >= 1 && y < kCanvasHeight - 1) {
    const uint8_t* p = binary + y * kStride + x;
    for (int t = 1; t <= 8; ++t) {
      const int e = (d - t) & 7;
      if (p[kContourOffset[e]] != 0) return e;
    }
    return -1;
  }
  for (int t = 1; t <= 8; ++t) {
    const int e = (d - t) & 7;
    if (At(binary, x + kContourDx[e], y + kContourDy[e]) != 0) return e;
  }
  return -1;
}

// Traces the contour from the start (x, y) and, when it closes within kMaxContour
// pixels, fills the runs of 0 between its points. Whether anything was filled.
bool FillContour(uint8_t* binary, int x, int y) {
  int contour_x[kMaxContour];
  int contour_y[kMaxContour];
  int count = 0;
  contour_x[count] = x;
  contour_y[count] = y;
  ++count;
  int cx = x, cy = y, d = 3;
  bool closed = false;
  for (;;) {
    const int step = NextContourStep(binary, cx, cy, d);
    if (step < 0) break;  // cannot happen from a start, whose lower-left is set
    cx += kContourDx[step];
    cy += kContourDy[step];
    d = (step + 4) % 8;
    if (cx == x && cy == y) {
      closed = true;
      break;
    }
    if (cy < y || (cy == y && cx < x)) break;  // an earlier start owns this contour
    if (count == kMaxContour) break;
    contour_x[count] = cx;
    contour_y[count] = cy;
    ++count;
    if (count == kMaxContour) break;
  }
  if (!closed) return false;
  bool filled = false;
  for (int i = 0; i < count; ++i) {
    const int qx = contour_x[i], qy = contour_y[i];
    if (At(binary, qx + 1, qy) != 0) continue;
    int rx = qx + 1;
    while (rx < kCanvasWidth && binary[qy * kStride + rx] == 0) ++rx;
    if (rx >= kCanvasWidth) continue;
    bool on_contour = false;
    for (int j = 0; j < count; ++j) {
      if (contour_x[j] == rx && contour_y[j] == qy) on_contour = true;
    }
    if (!on_contour) continue;
    for (int fx = qx + 1; fx < rx; ++fx) binary[qy * kStride + fx] = 1;
    filled = true;
  }
  return filled;
}

}  // namespace

void FillHoles(uint8_t* binary) {
  // The starts of a row; only a fill can change them.
  ScanRows<RowWindowOf<NonZeroOf64>>(
      binary,
      [binary](const RowWindowOf<NonZeroOf64>& rows, int y, uint64_t (&starts)[kRowWords]) {
        RowMask one;
        MaskOfRow(binary + y * kStride, OnesOf64, one);
        ContourStarts(one, rows, starts);
      },
      [binary](int x, int y) { return FillContour(binary, x, y); });
}

bool ThinDeletes(int pass, int pattern) {
  if (pattern < 0 || pattern > 255) return false;
  return (pass == 0 ? Deletions().pass_a : Deletions().pass_b)[static_cast<size_t>(pattern)];
}

namespace {

// Eight bytes of 0 or 1 for each value of a byte of a row mask.
constexpr std::array<uint64_t, 256> kBytesOfBits = [] {
  std::array<uint64_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    for (int j = 0; j < 8; ++j) t[b] |= static_cast<uint64_t>((b >> j) & 1) << (8 * j);
  }
  return t;
}();

// The state of a thinning: the rows as masks and the row markers.
struct Thinning {
  ThinRow rows[kCanvasHeight];
  // The row's marker reads 0 (changed) as the iteration starts; all do at first.
  bool start_changed[kCanvasHeight];
  bool row_changed[kCanvasHeight];
  bool wide = cpu::RunsAvx2();  // the AVX2 form of the row answers
};

// One pass over row y, between the row above (done with this pass) and the row below
// (not yet reached). Returns whether a pixel was deleted. The answers of the whole row
// are read from the masks as the row starts; only the chained pixels are decided again,
// in column order, with their left neighbour's final state.
template <int pass>
bool ThinPass(Thinning& t, int y) {
  ThinRow& row = t.rows[y];
  ThinAnswers answers;
  const ThinRow& up = t.rows[y - 1];
  const ThinRow& down = t.rows[y + 1];
  const bool considered = !t.wide ? ThinAnswersOf<pass>(up, row, down, answers)
                          : pass == 0 ? avx2::ThinAnswersOf0(up, row, down, answers)
                                      : avx2::ThinAnswersOf1(up, row, down, answers);
  if (!considered) return false;
  uint64_t left_deleted = 0;  // bit 63 of the word before
  uint64_t deleted_any = 0;
  for (int i = 0; i < kRowWords; ++i) {
    uint64_t d = answers.deleted[i];
    for (uint64_t chained = answers.chained[i]; chained != 0; chained &= chained - 1) {
      const int bit = __builtin_ctzll(chained);
      const uint64_t gone = bit == 0 ? left_deleted : (d >> (bit - 1)) & 1;
      if (gone != 0) d = (d & ~(1ULL << bit)) | (answers.without_left[i] & (1ULL << bit));
    }
    row.ridge[i] &= ~d;
    deleted_any |= d;
    left_deleted = d >> 63;
  }
  return deleted_any != 0;
}

// One pass over the rows; a row is skipped when its marker and those of the rows above
// and below read 2 (unchanged).
template <int pass>
void ThinRows(Thinning& t) {
  for (int y = kThinFirstRow; y <= kThinLastRow; ++y) {
    if (!t.start_changed[y] && !t.start_changed[y - 1] && !t.start_changed[y + 1]) continue;
    if (ThinPass<pass>(t, y)) t.row_changed[y] = true;
  }
}

}  // namespace

// Works on row masks and writes the canvas once at the end. Column 0 carries the row
// markers in the plain statement of the rule; it is never read as a neighbour (the
// first column considered is 6) and ends 0, so the masks keep it clear and the markers
// live in their own array. Deleted pixels are cleared, and the markers moved on, at the
// end of each iteration exactly as the markers say.
void Thin(uint8_t* canvas) {
  Thinning t;
  for (int y = 0; y < kCanvasHeight; ++y) {
    ThinRow& row = t.rows[y];
    MaskOfRow(canvas + y * kStride, NonZeroOf64, row.ridge);
    row.ridge[0] &= ~1ULL;
    row.set = row.ridge;
    t.start_changed[y] = true;
  }
  // An iteration in which no marker reads 0 scans nothing and changes nothing.
  bool changing = true;
  while (changing) {
    std::fill(std::begin(t.row_changed), std::end(t.row_changed), false);
    ThinRows<0>(t);
    ThinRows<1>(t);
    changing = false;
    for (int y = 0; y < kCanvasHeight; ++y) {
      ThinRow& row = t.rows[y];
      if (t.start_changed[y]) row.set = row.ridge;
      t.start_changed[y] = t.row_changed[y];
      changing |= t.row_changed[y];
    }
  }
  for (int y = 0; y < kCanvasHeight; ++y) {
    uint8_t* out = canvas + y * kStride;
    for (int i = 0; i < kRowWords; ++i) {
      for (int j = 0; j < 8; ++j) {
        const uint64_t bytes = kBytesOfBits[(t.rows[y].ridge[i] >> (8 * j)) & 0xFF];
        std::memcpy(out + i * 64 + j * 8, &bytes, 8);
      }
    }
  }
}

namespace {

// Follows the skeleton from the end (x, y), one neighbour or none, and erases the path
// when it ends or meets a junction within 8 pixels. Whether anything was erased.
bool EraseSpurFrom(uint8_t* skeleton, int x, int y) {
  // A path is erased only when it ends within 8 pixels, so 9 positions suffice; one
  // more for the junction pixel that may be taken along.
  constexpr int kMaxSimpleSteps = 7;
  int path_x[kMaxSimpleSteps + 3];
  int path_y[kMaxSimpleSteps + 3];
  const Neighbours start = NeighbourCode(skeleton, x, y);
  if (start.count >= 2) return false;
  int count = 0;
  path_x[count] = x;
  path_y[count] = y;
  ++count;
  int cx = x, cy = y;
  uint8_t c = start.code;
  int simple_steps = 0;
  while (c != 0) {
    const int e = DirectionIndex(c);
    if (e > 7) return false;  // several bits left: not a simple path, leave it
    cx += kDirectionDx[e];
    cy += kDirectionDy[e];
    const Neighbours next = NeighbourCode(skeleton, cx, cy);
    if (next.count <= 2) {
      if (++simple_steps > kMaxSimpleSteps) return false;
      c = next.code & ~(1 << ((e + 4) % 8)) & 0xFF;
      path_x[count] = cx;
      path_y[count] = cy;
      ++count;
      continue;
    }
    // A junction: the pixel goes too when it only makes a corner of two ring-adjacent
    // neighbours.
    if (ThinPairs(next.code).found) {
      path_x[count] = cx;
      path_y[count] = cy;
      ++count;
    }
    break;
  }
  for (int i = 0; i < count; ++i) skeleton[path_y[i] * kStride + path_x[i]] = 0;
  return true;
}

// The ends of row y, one bit per column: pixels with bit 0 set and fewer than two
// neighbours.
void SpurEnds(const RowWindow& rows, uint64_t (&ends)[kRowWords]) {
  for (int i = 0; i < kRowWords; ++i) ends[i] = rows.row[i] & AtMostOneNeighbour(rows.Planes(i));
}

}  // namespace

// Only ends can start an erasure, and between erasures the canvas stays as it is, so
// each row is visited at its ends, worked out as the row starts and again after each
// erasure for the columns still to come.
void RemoveSpurs(uint8_t* skeleton) {
  ScanRows<RowWindow>(
      skeleton,
      [](const RowWindow& rows, int, uint64_t (&ends)[kRowWords]) { SpurEnds(rows, ends); },
      [skeleton](int x, int y) { return EraseSpurFrom(skeleton, x, y); });
}

}  // namespace vantrel::extract
