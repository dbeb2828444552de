// Rows of a canvas as bit masks (one bit per column, four 64-bit words per 256-pixel
// row) and the eight neighbours of 64 pixels at once as bit planes. Thinning, spur
// removal and minutia detection decide on neighbour patterns; on planes they decide for
// a whole word of pixels with a few logic operations instead of one lookup per pixel.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "reader/extract/extract_context.h"
#include "reader/extract/neighbour_planes_sse2.h"

namespace vantrel::extract {

inline constexpr int kRowWords = kCanvasWidth / 64;
static_assert(kRowWords * 64 == kCanvasWidth);

// A row mask with a clear word on each side, so that the neighbours of the end words
// read as clear without a test. Word i (0..kRowWords - 1) holds columns 64 i .. 64 i + 63.
struct RowMask {
  uint64_t guarded[kRowWords + 2] = {};
  uint64_t& operator[](int i) { return guarded[i + 1]; }
  uint64_t operator[](int i) const { return guarded[i + 1]; }
};

static_assert(std::endian::native == std::endian::little,
              "row masks read the canvas eight bytes at a time");

namespace plain {

// Bit i of the result is the low bit of byte i of w.
inline uint64_t GatherLowBits(uint64_t w) {
  return ((w & 0x0101010101010101ULL) * 0x0102040810204080ULL) >> 56;
}

// Bit i of the result: byte i of w is not 0.
inline uint64_t NonZeroBytes(uint64_t w) {
  const uint64_t high = ((w & 0x7F7F7F7F7F7F7F7FULL) + 0x7F7F7F7F7F7F7F7FULL) | w;
  return GatherLowBits(high >> 7);
}

// Bit i of the result is bits_of(eight bytes read as one word) for the byte i of 64.
template <typename BitsOf>
inline uint64_t BitsOf64(const uint8_t* p, BitsOf bits_of) {
  uint64_t bits = 0;
  for (int j = 0; j < 8; ++j) {
    uint64_t w;
    std::memcpy(&w, p + j * 8, 8);
    bits |= static_cast<uint64_t>(bits_of(w)) << (8 * j);
  }
  return bits;
}

// Bit i: byte i of the 64 from p has bit 0 set.
inline uint64_t LowBitsOf64(const uint8_t* p) { return BitsOf64(p, GatherLowBits); }

// Bit i: byte i is not 0.
inline uint64_t NonZeroOf64(const uint8_t* p) { return BitsOf64(p, NonZeroBytes); }

// Bit i: byte i is 1.
inline uint64_t OnesOf64(const uint8_t* p) {
  return BitsOf64(p, [](uint64_t w) { return ~NonZeroBytes(w ^ 0x0101010101010101ULL) & 0xFF; });
}

}  // namespace plain

#if defined(VANTREL_SSE2)
using sse2::LowBitsOf64;
using sse2::NonZeroOf64;
using sse2::OnesOf64;
#else
using plain::LowBitsOf64;
using plain::NonZeroOf64;
using plain::OnesOf64;
#endif

// One bit per column of a 256-pixel row: bits_of turns 64 bytes into their 64 bits
// (LowBitsOf64, NonZeroOf64, OnesOf64).
template <typename BitsOf>
inline void MaskOfRow(const uint8_t* row, BitsOf bits_of, RowMask& mask) {
  for (int i = 0; i < kRowWords; ++i) mask[i] = bits_of(row + 64 * i);
}

// The mask moved one column right: bit x set where column x - 1 is.
inline uint64_t FromLeft(const RowMask& mask, int i) {
  return (mask[i] << 1) | (mask[i - 1] >> 63);
}

// The mask moved one column left: bit x set where column x + 1 is.
inline uint64_t FromRight(const RowMask& mask, int i) {
  return (mask[i] >> 1) | (mask[i + 1] << 63);
}

// The eight neighbours of the 64 pixels of word i of a row, named by direction (y grows
// downwards); bit j of each plane belongs to column 64 i + j. Columns beyond the row ends
// read as clear. The vector forms hold several words of a row in one `Bits`.
template <typename Bits>
struct Planes {
  Bits e, ne, n, nw, w, sw, s, se;
};
using NeighbourPlanes = Planes<uint64_t>;

inline NeighbourPlanes PlanesOf(const RowMask& up, const RowMask& row, const RowMask& down,
                                int i) {
  return {FromRight(row, i), FromRight(up, i), up[i],   FromLeft(up, i),
          FromLeft(row, i),  FromLeft(down, i), down[i], FromRight(down, i)};
}

// The thinning deletion sets (ThinDeletes) as logic: bit j set when the pattern of
// pixel j is in the set of the pass. A pass-0 pixel goes when exactly one of its left
// and right neighbours is ridge and some neighbour lies above or below; a pass-1 pixel
// when exactly one of its upper and lower neighbours is ridge and some neighbour lies
// to the left or right. In both passes every ridge diagonal neighbour must touch one of
// the two side neighbours beside it in the ring. The tests compare this with the sets
// for every pattern. Written once for a word and for the vector registers (whose
// logic operators the compilers provide); the answer goes through a pointer, since a
// 256-bit vector returned by a function built for the baseline would change the
// function's calling convention.
template <typename Bits>
__attribute__((always_inline)) inline void ThinDeletesInto(int pass, const Planes<Bits>& p,
                                                           Bits* out) {
  const Bits corners = (p.e | p.n | ~p.ne) & (p.w | p.n | ~p.nw) & (p.w | p.s | ~p.sw) &
                       (p.e | p.s | ~p.se);
  const Bits diagonals = p.ne | p.nw | p.sw | p.se;
  if (pass == 0) {
    *out = (p.e ^ p.w) & (p.n | p.s | diagonals) & corners;
  } else {
    *out = (p.n ^ p.s) & (p.e | p.w | diagonals) & corners;
  }
}

template <typename Bits>
inline Bits ThinDeletesAll(int pass, const Planes<Bits>& p) {
  Bits out;
  ThinDeletesInto(pass, p, &out);
  return out;
}

// Bit j set where pixel j has at most one neighbour set.
inline uint64_t AtMostOneNeighbour(const NeighbourPlanes& p) {
  uint64_t one = 0, two = 0;
  for (const uint64_t v : {p.e, p.ne, p.n, p.nw, p.w, p.sw, p.s, p.se}) {
    two |= one & v;
    one |= v;
  }
  return ~two;
}

// The neighbour count of 64 pixels, as one plane per binary digit.
struct CountPlanes {
  uint64_t ones, twos, fours, eights;
};

inline CountPlanes NeighbourCounts(const NeighbourPlanes& p) {
  // Full and half adders: sum and carry of three planes, then of the carries.
  auto add3 = [](uint64_t a, uint64_t b, uint64_t c, uint64_t& carry) {
    carry = (a & b) | (c & (a ^ b));
    return a ^ b ^ c;
  };
  uint64_t c1, c2, c4;
  const uint64_t s1 = add3(p.e, p.ne, p.n, c1);
  const uint64_t s2 = add3(p.nw, p.w, p.sw, c2);
  const uint64_t s3 = p.s ^ p.se, c3 = p.s & p.se;
  const uint64_t ones = add3(s1, s2, s3, c4);
  uint64_t fours_a;
  const uint64_t twos_a = add3(c1, c2, c3, fours_a);
  const uint64_t twos = twos_a ^ c4, fours_b = twos_a & c4;
  return {ones, twos, fours_a ^ fours_b, fours_a & fours_b};
}

// Bit j set where two neighbours of pixel j that lie next to each other in the ring are
// both set (what ThinPairs finds).
inline uint64_t AdjacentNeighbours(const NeighbourPlanes& p) {
  return (p.e & p.ne) | (p.ne & p.n) | (p.n & p.nw) | (p.nw & p.w) | (p.w & p.sw) |
         (p.sw & p.s) | (p.s & p.se) | (p.se & p.e);
}

// The masks of rows y - 1, y and y + 1 of a canvas, 1 <= y <= kCanvasHeight - 2, by
// one byte test (LowBitsOf64 or NonZeroOf64).
template <uint64_t (*kBitsOf)(const uint8_t*)>
struct RowWindowOf {
  RowMask up, row, down;

  // Reads the three rows from the canvas.
  void Load(const uint8_t* canvas, int y) {
    MaskOfRow(canvas + (y - 1) * kCanvasWidth, kBitsOf, up);
    MaskOfRow(canvas + y * kCanvasWidth, kBitsOf, row);
    MaskOfRow(canvas + (y + 1) * kCanvasWidth, kBitsOf, down);
  }

  // Moves from row y - 1 to row y; rows y - 1 and y must not have changed since they
  // were read.
  void Next(const uint8_t* canvas, int y) {
    up = row;
    row = down;
    MaskOfRow(canvas + (y + 1) * kCanvasWidth, kBitsOf, down);
  }

  NeighbourPlanes Planes(int i) const { return PlanesOf(up, row, down, i); }
};

// The neighbours of minutia detection and spur removal: bit 0 of each byte.
using RowWindow = RowWindowOf<LowBitsOf64>;

}  // namespace vantrel::extract
