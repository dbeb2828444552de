#include "reader/extract/skeleton.h"

#include <array>
#include <bit>
#include <cstring>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/minutiae.h"
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

struct DeletionTables {
  std::array<bool, 256> pass_a{};
  std::array<bool, 256> pass_b{};
  // The same sets indexed by the 3 x 3 window as three row triples (left to right):
  // bits 0-2 the row above, 3-5 the pixel's own row, 6-8 the row below.
  std::array<bool, 512> window[2]{};
};

const DeletionTables& Deletions() {
  static const DeletionTables tables = [] {
    DeletionTables t;
    for (int p : kPassA) t.pass_a[p] = true;
    for (int p : kPassB) t.pass_b[p] = true;
    for (int i = 0; i < 512; ++i) {
      auto bit = [i](int k) { return (i >> k) & 1; };
      // Direction indices 0..7: right, up-right, up, up-left, left, down-left, down,
      // down-right.
      const int pattern = bit(5) | bit(2) << 1 | bit(1) << 2 | bit(0) << 3 | bit(3) << 4 |
                          bit(6) << 5 | bit(7) << 6 | bit(8) << 7;
      t.window[0][i] = t.pass_a[pattern];
      t.window[1][i] = t.pass_b[pattern];
    }
    return t;
  }();
  return tables;
}

// Contour directions of hole filling: 0 right, then clockwise on the display.
constexpr int kContourDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kContourDy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kMaxContour = 40;

inline bool Inside(int x, int y) {
  return x >= 0 && x < kCanvasWidth && y >= 0 && y < kCanvasHeight;
}

// Pixels outside the canvas read as 0.
inline uint8_t At(const uint8_t* canvas, int x, int y) {
  return Inside(x, y) ? canvas[y * kStride + x] : 0;
}

// One bit per column of a thinning row: `ridge` where the pixel holds 3, `set` where it
// holds anything but 0. Thinning rows hold only 0, 1 and 3 past column 0.
struct RowBits {
  uint64_t ridge[4];
  uint64_t set[4];
};

// Bit i of the result is the low bit of byte i of w.
inline uint64_t GatherLowBits(uint64_t w) {
  return ((w & 0x0101010101010101ULL) * 0x0102040810204080ULL) >> 56;
}

static_assert(std::endian::native == std::endian::little,
              "row masks read the canvas eight bytes at a time");

// The bits of columns x - 1, x and x + 1 of a row mask, x in 1..254.
inline unsigned Triple(const uint64_t* mask, int x) {
  const int first = x - 1, word = first >> 6, shift = first & 63;
  uint64_t v = mask[word] >> shift;
  if (shift > 61) v |= mask[word + 1] << (64 - shift);
  return static_cast<unsigned>(v & 7);
}

// One bit per column of a 256-pixel row: bits_of turns eight bytes (read as one word)
// into their eight bits.
template <typename BitsOf>
inline void RowMask(const uint8_t* row, BitsOf bits_of, uint64_t (&mask)[4]) {
  for (int i = 0; i < 4; ++i) {
    mask[i] = 0;
    for (int j = 0; j < 8; ++j) {
      uint64_t w;
      std::memcpy(&w, row + i * 64 + j * 8, 8);
      mask[i] |= static_cast<uint64_t>(bits_of(w)) << (8 * j);
    }
  }
}

// The mask moved one column right: bit x set where column x - 1 is.
inline uint64_t FromLeft(const uint64_t (&mask)[4], int i) {
  return (mask[i] << 1) | (i > 0 ? mask[i - 1] >> 63 : 0);
}

// The mask moved one column left: bit x set where column x + 1 is.
inline uint64_t FromRight(const uint64_t (&mask)[4], int i) {
  return (mask[i] >> 1) | (i < 3 ? mask[i + 1] << 63 : 0);
}

inline void RowMasks(const uint8_t* row, RowBits& bits) {
  RowMask(row, [](uint64_t w) { return GatherLowBits(w >> 1); }, bits.ridge);
  RowMask(row, [](uint64_t w) { return GatherLowBits(w | (w >> 1)); }, bits.set);
}

// One block row of eight pixels: 1 where the pixel is at most 250 and either below 10 or
// no brighter than the mean of its two samples across the ridge, else 0.
#if defined(VANTREL_SSE2)
using sse2::BinariseRun;
#else
inline void BinariseRun(const uint8_t* v, const uint8_t* plus, const uint8_t* minus,
                        uint8_t* out) {
  for (int i = 0; i < kBlockSize; ++i) {
    const int centre = v[i];
    const bool darker = plus[i] + minus[i] - 2 * centre >= 0;
    out[i] = static_cast<uint8_t>(centre <= 250 && (centre < 10 || darker));
  }
}
#endif

// Bit i of the result: byte i of w is not 0.
inline uint64_t NonZeroBytes(uint64_t w) {
  const uint64_t high = ((w & 0x7F7F7F7F7F7F7F7FULL) + 0x7F7F7F7F7F7F7F7FULL) | w;
  return GatherLowBits(high >> 7);
}

// Hole-filling starts of row y (1 <= y <= kCanvasHeight - 2), one bit per column.
inline void ContourStarts(const uint8_t* binary, int y, uint64_t (&starts)[4]) {
  uint64_t one[4], below[4];
  RowMask(binary + y * kStride,
          [](uint64_t w) { return ~NonZeroBytes(w ^ 0x0101010101010101ULL) & 0xFF; }, one);
  RowMask(binary + (y + 1) * kStride, NonZeroBytes, below);
  for (int i = 0; i < 4; ++i) starts[i] = one[i] & ~below[i] & FromLeft(below, i);
}

}  // namespace

void Binarise(const uint8_t* enhanced, uint8_t* binary, const ExtractionContext& context) {
  for (int y = 0; y < kCanvasHeight; ++y) {
    for (int bc = 0; bc < kBlockColumns; ++bc) {
      const int p0 = y * kStride + bc * kBlockSize;
      const int k = context.block_direction[y / kBlockSize][bc];
      uint8_t* out = binary + p0;
      if (k < 1 || k > 8) {
        // Background (or an invalid code) carries no ridge.
        std::memset(out, 0, kBlockSize);
        continue;
      }
      const int offset = kAcrossDy[k] * kStride + kAcrossDx[k];
      const uint8_t* v = enhanced + p0;
      if (p0 - offset >= 0 && p0 + kBlockSize - 1 + offset < kCanvasBytes) {
        // The two samples across the ridge lie on the canvas for the whole run.
        BinariseRun(v, v + offset, v - offset, out);
        continue;
      }
      for (int i = 0; i < kBlockSize; ++i) {
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

namespace {

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
    int step = -1;
    for (int t = 1; t <= 8; ++t) {
      const int e = (d - t + 16) % 8;
      if (At(binary, cx + kContourDx[e], cy + kContourDy[e]) != 0) {
        step = e;
        break;
      }
    }
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
  for (int y = 8; y <= 279; ++y) {
    // The starts of the row, in column order. Only a fill can change them; after one
    // they are worked out again for the columns still to come.
    uint64_t starts[4];
    ContourStarts(binary, y, starts);
    for (int i = 0; i < 4; ++i) {
      while (starts[i] != 0) {
        const int x = i * 64 + __builtin_ctzll(starts[i]);
        starts[i] &= starts[i] - 1;
        if (!FillContour(binary, x, y)) continue;
        ContourStarts(binary, y, starts);
        for (int j = 0; j < 4; ++j) {
          const int first = x + 1 - 64 * j;  // the first column still to come, in word j
          if (first >= 64) {
            starts[j] = 0;
          } else if (first > 0) {
            starts[j] &= ~0ULL << first;
          }
        }
      }
    }
  }
}

bool ThinDeletes(int pass, int pattern) {
  if (pattern < 0 || pattern > 255) return false;
  return (pass == 0 ? Deletions().pass_a : Deletions().pass_b)[static_cast<size_t>(pattern)];
}

void Thin(uint8_t* canvas) {
  const DeletionTables& tables = Deletions();
  constexpr int kFirstRow = 6, kLastRow = 281, kFirstColumn = 6, kLastColumn = 249;
  // Ridge pixels become 3; column 0 becomes the row marker (0 = changed). Column 0 lies
  // in the background block column, so nothing of the ridge is lost there.
  for (int i = 0; i < kCanvasBytes; i += 8) {
    // Eight pixels at a time: bit 0 of each byte gathers the byte's eight bits.
    uint64_t w;
    std::memcpy(&w, canvas + i, 8);
    w |= w >> 4;
    w |= w >> 2;
    w |= w >> 1;
    w = (w & 0x0101010101010101ULL) * 3;
    std::memcpy(canvas + i, &w, 8);
  }
  for (int y = 0; y < kCanvasHeight; ++y) canvas[y * kStride] = 0;
  // Pixels that pass the "both neighbours set" test are never deleted, and that test
  // cannot change within an iteration (a deleted pixel holds 1, still set), so each row
  // is scanned only at the pixels that fail it: the ends of the runs across the pass's
  // axis. They are visited in the same order as a full scan, on the live canvas. The
  // row masks follow the canvas: a deletion clears a ridge bit, the end-of-iteration
  // clearing of a row makes its set bits its ridge bits.
  static_assert(kFirstColumn / 64 == 0 && kLastColumn / 64 == 3 && kCanvasWidth == 256);
  constexpr uint64_t kColumnsFrom[4] = {~0ULL << (kFirstColumn % 64), ~0ULL, ~0ULL,
                                        ~0ULL >> (63 - kLastColumn % 64)};
  RowBits bits[kCanvasHeight];
  for (int y = kFirstRow - 1; y <= kLastRow + 1; ++y) RowMasks(canvas + y * kStride, bits[y]);
  bool changing = true;
  while (changing) {
    changing = false;
    bool start_changed[kCanvasHeight];
    bool row_changed[kCanvasHeight];
    for (int y = 0; y < kCanvasHeight; ++y) {
      start_changed[y] = canvas[y * kStride] != 2;
      row_changed[y] = false;
    }
    for (int pass = 0; pass < 2; ++pass) {
      const std::array<bool, 512>& set = tables.window[pass];
      for (int y = kFirstRow; y <= kLastRow; ++y) {
        if (!start_changed[y] && !start_changed[y - 1] && !start_changed[y + 1]) continue;
        uint8_t* row = canvas + y * kStride;
        RowBits& b = bits[y];
        uint64_t across[4];
        if (pass == 0) {
          // Left and right neighbours: the row's own set mask shifted by one column.
          for (int i = 0; i < 4; ++i) across[i] = FromLeft(b.set, i) & FromRight(b.set, i);
        } else {
          for (int i = 0; i < 4; ++i) across[i] = bits[y - 1].set[i] & bits[y + 1].set[i];
        }
        // The window is read from the masks as the row starts: the row above is done for
        // this pass and the row below untouched. Of the pixel's own row only the left
        // neighbour can have changed, when it was the candidate just before and went; both
        // answers are looked up, so the lookups do not wait on each other.
        const uint64_t* up = bits[y - 1].ridge;
        const uint64_t* down = bits[y + 1].ridge;
        uint64_t removed[4] = {};
        int previous = -2;
        bool previous_removed = false;
        for (int i = 0; i < 4; ++i) {
          uint64_t candidates = b.ridge[i] & ~across[i] & kColumnsFrom[i];
          while (candidates != 0) {
            const int bit = __builtin_ctzll(candidates);
            const int x = i * 64 + bit;
            candidates &= candidates - 1;
            const unsigned window = Triple(up, x) | Triple(b.ridge, x) << 3 | Triple(down, x) << 6;
            const bool as_started = set[window];
            const bool left_gone = set[window & ~(1u << 3)];
            const bool gone = previous_removed & (previous == x - 1);
            const bool remove = (gone & left_gone) | (!gone & as_started);
            row[x] = remove ? 1 : 3;
            removed[i] |= static_cast<uint64_t>(remove) << bit;
            previous = x;
            previous_removed = remove;
          }
        }
        bool deleted_any = false;
        for (int i = 0; i < 4; ++i) {
          b.ridge[i] &= ~removed[i];
          deleted_any |= removed[i] != 0;
        }
        if (deleted_any) {
          row_changed[y] = true;
          changing = true;
        }
      }
    }
    for (int y = 0; y < kCanvasHeight; ++y) {
      uint8_t* row = canvas + y * kStride;
      if (start_changed[y]) {
        // 1 (deleted) becomes 0 and 3 stays 3: every byte becomes 3 x its bit 1. Column 0
        // is rewritten below.
        for (int i = 0; i < kCanvasWidth; i += 8) {
          uint64_t w;
          std::memcpy(&w, row + i, 8);
          w = ((w >> 1) & 0x0101010101010101ULL) * 3;
          std::memcpy(row + i, &w, 8);
        }
        for (int i = 0; i < 4; ++i) bits[y].set[i] = bits[y].ridge[i];
        changing = true;
      }
      row[0] = row_changed[y] ? 0 : 2;
    }
  }
  for (int i = 0; i < kCanvasBytes; ++i) canvas[i] = canvas[i] & ~2 & 0xFF;
}

namespace {

// Follows the skeleton from the end (x, y), one neighbour or none, and erases the path
// when it ends or meets a junction within 8 pixels.
void EraseSpurFrom(uint8_t* skeleton, int x, int y) {
  // A path is erased only when it ends within 8 pixels, so 9 positions suffice; one
  // more for the junction pixel that may be taken along.
  constexpr int kMaxSimpleSteps = 7;
  int path_x[kMaxSimpleSteps + 3];
  int path_y[kMaxSimpleSteps + 3];
  const Neighbours start = NeighbourCode(skeleton, x, y);
  if (start.count >= 2) return;
  int count = 0;
  path_x[count] = x;
  path_y[count] = y;
  ++count;
  int cx = x, cy = y;
  uint8_t c = start.code;
  int simple_steps = 0;
  while (c != 0) {
    const int e = DirectionIndex(c);
    if (e > 7) return;  // several bits left: not a simple path, leave it
    cx += kDirectionDx[e];
    cy += kDirectionDy[e];
    const Neighbours next = NeighbourCode(skeleton, cx, cy);
    if (next.count <= 2) {
      if (++simple_steps > kMaxSimpleSteps) return;
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
}

}  // namespace

void RemoveSpurs(uint8_t* skeleton) {
  for (int y = 8; y <= 279; ++y) {
    // The row's skeleton pixels as it starts; erasing only clears pixels, so each is
    // checked again when its turn comes.
    uint64_t pixels[4];
    RowMask(skeleton + y * kStride, GatherLowBits, pixels);
    for (int i = 0; i < 4; ++i) {
      for (uint64_t left = pixels[i]; left != 0; left &= left - 1) {
        const int x = i * 64 + __builtin_ctzll(left);
        if ((skeleton[y * kStride + x] & 1) != 0) EraseSpurFrom(skeleton, x, y);
      }
    }
  }
}

}  // namespace vantrel::extract
