// The minutia matcher. Everything is integer arithmetic over the fixed tables below,
// apart from the rotation products, which are formed in double precision.
#include "reader/match/matcher.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "reader/extract/record_text.h"
#include "reader/extract/angle.h"
#include "reader/extract/record.h"

namespace vantrel::match {

namespace {

constexpr int kMaxMinutiae = record::kMaxMinutiae;
constexpr int kMaxNeighbours = 8;
constexpr int kAngleBuckets = (359 >> 4) + 1;  // 23 buckets of 16 degrees
constexpr int kPaddedMinutiae = (kMaxMinutiae + 3) / 4 * 4;  // whole groups of four
constexpr int kCandidatesPerMinutia = 3;
constexpr int kReferenceSlots = 6;
constexpr int kRotations = 3;
constexpr int kReferenceSimilarity = 80;  // a candidate must reach this to anchor a slot
constexpr int kSecondSlotTries = 5;
constexpr int kRootTableSize = 65536;

// ---- Fixed tables ----

// Squares and floor roots are built by the compiler: the hot paths read them without the
// guard of a function-local static.
struct IntegerTables {
  int square[257];
  uint8_t floor_root[kRootTableSize];
};

constexpr IntegerTables BuildIntegerTables() {
  IntegerTables t{};
  for (int v = 0; v <= 256; ++v) t.square[v] = v * v;
  int r = 0;
  for (int d = 0; d < kRootTableSize; ++d) {
    while ((r + 1) * (r + 1) <= d) ++r;
    t.floor_root[d] = static_cast<uint8_t>(r);
  }
  return t;
}

constexpr IntegerTables kIntegerTables = BuildIntegerTables();

// Sine and cosine come from the C library at run time, built once on first use.
struct Tables {
  double sine[360];
  double cosine[360];
};

Tables BuildTables() {
  Tables t{};
  // The C library's sine and cosine of d * pi / 180, no value snapped: cos 90 is 6e-17,
  // not 0, and R() of a tiny negative product is -1. Scores depend on this, so it is fixed.
  const double pi = std::acos(-1.0);
  for (int d = 0; d < 360; ++d) {
    t.sine[d] = std::sin(d * pi / 180.0);
    t.cosine[d] = std::cos(d * pi / 180.0);
  }
  return t;
}

const Tables& FixedTables() {
  // Function-local static: built exactly once, thread-safe, read-only afterwards.
  static const Tables tables = BuildTables();
  return tables;
}

int DegreeIndex(int degree) {
  int i = degree % 360;
  return i < 0 ? i + 360 : i;
}

// Nearest integer to sqrt(d): the body of NearestRoot, inlined into the hot loops.
inline int RootOf(int64_t d) {
  if (d < 0) return 0;
  if (d >= kRootTableSize) return 256;
  const int r = kIntegerTables.floor_root[d];
  // sqrt(d) lies above r + 0.5 exactly when d > r^2 + r (d is an integer).
  return d > int64_t{r} * r + r ? r + 1 : r;
}

inline int FloorRootOf(int64_t d) {
  if (d < 0) return 0;
  if (d >= kRootTableSize) return 255;
  return kIntegerTables.floor_root[d];
}

// The hot functions are built twice on x86-64, for AVX2 and for any x86-64 processor, and
// the loader picks one. VANTREL_PLAIN_MATCHER builds the plain form only (the tests build
// it that way too, to hold it to the same scores). Windows has no ifunc for the loader to
// pick with, so it gets the plain form.
#if defined(__x86_64__) && !defined(VANTREL_PLAIN_MATCHER) && !defined(_WIN32)
#define VANTREL_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VANTREL_WIDE_CLONES
#endif

// Groups of lanes in the compiler's generic vectors: 256-bit operations where the
// processor has them (the functions built twice, for AVX2 and for any x86-64), pairs of
// 128-bit ones elsewhere.
using Doubles4 = double __attribute__((vector_size(32)));
using Ints4 = int __attribute__((vector_size(16)));
using Longs4 = long long __attribute__((vector_size(32)));
using Unsigned4 = unsigned long long __attribute__((vector_size(32)));
using Ints8 = int __attribute__((vector_size(32)));

// ---- Decoded records and descriptors ----

// Neighbours are kept side by side per field, sorted by relative direction. Only the
// first count entries of each field and the reach words are ever read; each descriptor in
// use has its count and reach words set right before it is filled.
struct Descriptor {
  int count;
  // False when a direction field above 359 left a relative direction below 0: the
  // reach test below does not cover that, and such descriptors take the full scan.
  bool plain;
  // Every relative direction and relative angle within 0..359.
  bool normal;
  int16_t relative_direction[kMaxNeighbours];
  int16_t distance[kMaxNeighbours];
  int16_t relative_angle[kMaxNeighbours];
  uint8_t type[kMaxNeighbours];
  // Where each neighbour's own relative direction sits in the other descriptor's reach
  // words, worked out once here instead of for every pair of descriptors.
  uint8_t probe_word[kMaxNeighbours];
  uint64_t probe_bit[kMaxNeighbours];
  // Bit r set when a neighbour u of the other descriptor at relative direction r could
  // meet one of these neighbours: u looks at relative directions r - 12 .. r + 10 (the
  // scan window, and the last neighbour taken when none is far enough round, which passes
  // only within 12), so each neighbour v here reaches r = rel(v) - 10 .. rel(v) + 12.
  // A neighbour at 0 ends every scan and reaches nothing.
  // Word 6 stays zero: the probe of a relative direction outside 0..359 points there.
  uint64_t reach[7];
};

// What the core reads of one record, decoded here rather than through DecodeRecord,
// which clears and fills every field of a DecodedRecord the matcher never looks at.
// The minutiae are kept field by field, so that the transforms of a whole record run
// as straight loops.
struct Side {
  int n = 0;  // minutiae taken: 0 for a format other than 3 or a count above 50
  int x[kPaddedMinutiae], y[kPaddedMinutiae];  // zero past n
  int direction[kMaxMinutiae], reliability[kMaxMinutiae], type[kMaxMinutiae];
  // Bit c of background_rows[r]: block (r, c) of the expanded block mask is background.
  uint32_t background_rows[extract::kBlockRows];
  // Bit c of inside_rows[r]: a point of block (r, c) lands inside this record's print,
  // that is in a foreground block and below the area width and height. Area sizes are
  // whole blocks, and the outer ring of blocks is background, so for a point (x, y) with
  // 0 <= x < 256 and 0 <= y < 288 the bit says the same as the tests
  // 0 < x < width, 0 < y < height and a foreground block at (x, y).
  uint32_t inside_rows[extract::kBlockRows];
  int32_t core1_x, core1_y, core2_x, core2_y;  // stored bytes x 2
  bool core1 = false;
  int core2_packed = 0;
  bool fallback_marker = false;
  Descriptor descriptors[kMaxMinutiae];
  // Bit b of reached_by[g / 16][r / 4]: descriptor b has a neighbour that a neighbour at
  // some relative direction of r's 4-degree bucket and some relative angle of g's
  // 16-degree bucket could meet (every bucket for a descriptor that is not normal). A
  // superset, only used to pass over hopeless pairs. Filled for B. 90 direction buckets,
  // and room for the writes just past the last.
  uint64_t reached_by[kAngleBuckets][104];
  uint64_t of_type[2];  // bit b: minutia b is of type 0 / 1
};

// The one heap allocation of a core call.
struct WorkArea {
  Side a, b;
};

int Packed(int x, int y) {
  int xm = x % 256;
  if (xm < 0) xm += 256;
  return xm * 256 + y;
}

uint16_t WordAt(const uint8_t* bytes, int offset) {
  return static_cast<uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

// The same fields and values as DecodeRecord gives: map word 3 + i covers block rows
// 1 + 2i and 2 + 2i, bit 15 - (c - 1) / 2 of it block column c; the outer ring is
// background.
void ReadSide(const uint8_t* bytes, Side& side) {
  static_assert(extract::kBlockColumns == 32 && extract::kBlockRows == 36);
  const int count = bytes[3];
  side.n = (bytes[0] == record::kFormat && count <= kMaxMinutiae) ? count : 0;
  const int area_height = bytes[4] == 0 ? 288 : bytes[4] * 8;
  const int area_width = bytes[5] == 0 ? 256 : bytes[5] * 8;
  // Blocks below the area: rows below height / 8, columns below width / 8 (both at least 1).
  const int inside_row_limit = area_height / 8;
  const int inside_column_limit = area_width / 8;
  const uint32_t inside_columns =
      inside_column_limit >= 32 ? ~uint32_t{0} : (uint32_t{1} << inside_column_limit) - 1;
  side.background_rows[0] = side.background_rows[extract::kBlockRows - 1] = ~uint32_t{0};
  for (int i = 0; 2 + 2 * i < extract::kBlockRows; ++i) {  // rows 1 + 2i and 2 + 2i are alike
    const unsigned word = WordAt(bytes, 6 + 2 * i);
    uint32_t row = 1u | (1u << 31);
    for (int j = 0; j < 15; ++j)
      row |= static_cast<uint32_t>((word >> (15 - j)) & 1) * (3u << (1 + 2 * j));
    side.background_rows[1 + 2 * i] = side.background_rows[2 + 2 * i] = row;
  }
  for (int r = 0; r < extract::kBlockRows; ++r)
    side.inside_rows[r] = r < inside_row_limit ? ~side.background_rows[r] & inside_columns : 0;
  side.core1_x = bytes[40] * 2;
  side.core1_y = bytes[41] * 2;
  side.core2_x = bytes[42] * 2;
  side.core2_y = bytes[43] * 2;
  for (int i = 0; i < side.n; ++i) {
    const int offset = 56 + 4 * i;
    const uint32_t word = (static_cast<uint32_t>(WordAt(bytes, offset)) << 16) |
                          WordAt(bytes, offset + 2);
    const record::Minutia m = record::UnpackMinutia(word);
    side.x[i] = m.x;
    side.y[i] = m.y;
    side.direction[i] = m.direction;
    side.reliability[i] = m.reliability;
    side.type[i] = m.type;
  }
  for (int i = side.n; i < kPaddedMinutiae; ++i) side.x[i] = side.y[i] = 0;
  side.core1 = side.core1_x != 0 && side.core1_y != 0;
  side.core2_packed = Packed(side.core2_x, side.core2_y);
  side.fallback_marker = side.core2_packed == 2;
}

// Whether a point of another record's frame lands inside this record's print: within
// 0 < x < width and 0 < y < height, on the 36 x 32 block grid and in a foreground block.
// Anything off the grid counts as background, so a hostile area size can never reach
// outside the mask.
inline bool Inside(const Side& side, int x, int y) {
  const bool on_grid = (static_cast<unsigned>(x) < 256u) & (static_cast<unsigned>(y) < 288u);
  // Off the grid the lookup reads block (0, 0), and the answer is false anyway.
  const int row = on_grid ? y >> 3 : 0, column = on_grid ? x >> 3 : 0;
  return on_grid & ((side.inside_rows[row] >> column) & 1);
}

// Bits 0..7 of the result: bytes 0..7 of eight bytes that are each 0 or 1.
inline uint64_t GatherBytes(const uint8_t* bytes) {
  uint64_t v;
  std::memcpy(&v, bytes, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return (v * 0x0102040810204080ull) >> 56;
}

VANTREL_WIDE_CLONES
void BuildDescriptors(Side& side, int64_t radius_squared) {
  // Coordinates have 9 bits, so squared distances fit an int with room to spare.
  const int limit = static_cast<int>(radius_squared);
  const int n = side.n;
  const int* xs = side.x;
  const int* ys = side.y;
  constexpr int kFlagBytes = (kMaxMinutiae + 7) / 8 * 8;
  const bool short_vectors = limit < extract::kAngleTableSide * extract::kAngleTableSide;
  for (int i = 0; i < n; ++i) {
    Descriptor& d = side.descriptors[i];
    int squares[kMaxMinutiae];
    uint8_t near[kFlagBytes] = {};
    const int xi = xs[i], yi = ys[i], di = side.direction[i];
    // One straight loop over all minutiae the compiler can vectorise: the squared
    // distances and whether each lies between 20 (exclusive) and the radius.
    for (int j = 0; j < n; ++j) {
      const int dx = xs[j] - xi, dy = ys[j] - yi;
      const int sq = dx * dx + dy * dy;
      squares[j] = sq;
      near[j] = static_cast<uint8_t>((sq > 400) & (sq <= limit));
    }
    uint64_t candidates = 0;
    for (int c = 0; c < kFlagBytes / 8; ++c) candidates |= GatherBytes(near + 8 * c) << (8 * c);
    // The first eight of them in record order, unsorted.
    int rel[kMaxNeighbours], dist[kMaxNeighbours], ang[kMaxNeighbours], typ[kMaxNeighbours];
    int count = 0;
    for (; candidates != 0 && count < kMaxNeighbours; candidates &= candidates - 1) {
      const int j = std::countr_zero(candidates);
      // Within a radius below 128 no difference reaches 128, and the table is read as is.
      int r = (short_vectors ? extract::AngleOfShort(ys[j] - yi, xs[j] - xi)
                             : extract::AngleOf(ys[j] - yi, xs[j] - xi)) - di;
      if (r < 0) r += 360;
      int a = side.direction[j] - di;
      if (a < 0) a += 360;
      rel[count] = r;
      dist[count] = RootOf(squares[j]);
      ang[count] = a;
      typ[count] = side.type[j];
      ++count;
    }
    // Stable sort by relative direction, equal ones in their found order: each goes to
    // the place given by the ones before it in that order.
    int place[kMaxNeighbours];
    for (int k = 0; k < count; ++k) {
      int p = 0;
      for (int m = 0; m < count; ++m) p += (rel[m] < rel[k]) | ((rel[m] == rel[k]) & (m < k));
      place[k] = p;
    }
    d.count = count;
    bool plain = true, normal = true;
    for (uint64_t& w : d.reach) w = 0;
    for (int k = 0; k < count; ++k) {
      const int p = place[k];
      const int v = rel[k];
      d.relative_direction[p] = static_cast<int16_t>(v);
      d.distance[p] = static_cast<int16_t>(dist[k]);
      d.relative_angle[p] = static_cast<int16_t>(ang[k]);
      d.type[p] = static_cast<uint8_t>(typ[k]);
      plain &= v >= 0;
      normal &= v >= 0 && ang[k] >= 0 && ang[k] < 360;
      const bool in_range = v >= 0 && v < 360;
      d.probe_word[p] = static_cast<uint8_t>(in_range ? v >> 6 : 6);
      d.probe_bit[p] = in_range ? uint64_t{1} << (v & 63) : 0;
      if (v < 1 || v > 359) continue;
      // Bits lo..hi, 23 at most, over word lo / 64 and the next one (word 6 gets none:
      // hi is at most 359).
      const int lo = v - 10 < 0 ? 0 : v - 10, hi = v + 12 > 359 ? 359 : v + 12;
      const int w = lo >> 6;
      const uint64_t from_lo = ~uint64_t{0} << (lo & 63);
      const uint64_t upto_hi = ~uint64_t{0} >> (63 - (hi & 63));
      const bool split = (hi >> 6) != w;
      d.reach[w] |= split ? from_lo : from_lo & upto_hi;
      d.reach[w + 1] |= split ? upto_hi : 0;
    }
    d.plain = plain;
    d.normal = normal;
  }
}

// The reach words of all B descriptors turned round, and split by relative angle: for
// one A descriptor, the B descriptors that enough of its neighbours can meet come out of
// a few mask operations per neighbour instead of a test per neighbour and B descriptor.
// A neighbour u meets a neighbour v only when u's relative direction lies within
// rel(v) - 10 .. rel(v) + 12 (the reach words) and the circular difference of their
// relative angles is at most 10.
VANTREL_WIDE_CLONES
void BuildReachedBy(Side& side) {
  std::memset(side.reached_by, 0, sizeof(side.reached_by));
  static_assert(89 + 8 <= sizeof(side.reached_by[0]) / sizeof(side.reached_by[0][0]));
  side.of_type[0] = side.of_type[1] = 0;
  for (int b = 0; b < side.n; ++b) {
    const Descriptor& d = side.descriptors[b];
    const uint64_t bit = uint64_t{1} << b;
    const int type = side.type[b];
    if (type == 0 || type == 1) side.of_type[type] |= bit;
    if (!d.normal) {
      for (auto& row : side.reached_by)
        for (uint64_t& r : row) r |= bit;
      continue;
    }
    // The direction buckets of the same spans as the reach words: rel(v) - 10 ..
    // rel(v) + 12 within 0..359, none for a neighbour at 0; the angle buckets of
    // ang(v) - 10 .. ang(v) + 10 round the circle.
    for (int k = 0; k < d.count; ++k) {
      const int v = d.relative_direction[k];
      if (v < 1 || v > 359) continue;
      const int lo = v - 10 < 0 ? 0 : v - 10, hi = v + 12 > 359 ? 359 : v + 12;
      const int a = d.relative_angle[k];
      // The angle buckets from that of ang(v) - 10 to that of ang(v) + 10, both taken round
      // the circle: consecutive modulo 23, and two or three of them (21 degrees over
      // buckets of 16, the last one 8 wide).
      const int first_angle = (a - 10 < 0 ? a - 10 + 360 : a - 10) >> 4;
      const int last_angle = (a + 10 > 359 ? a + 10 - 360 : a + 10) >> 4;
      const int angle_span = last_angle - first_angle + (last_angle < first_angle ? kAngleBuckets : 0);
      // Direction buckets lo / 4 .. hi / 4: seven at most, written as eight, four at a
      // time. Both loops have fixed lengths; the writes outside the spans add nothing, and
      // the entries past direction bucket 89 are never read.
      const long long span = (hi >> 2) - (lo >> 2);
      const Longs4 low_lanes = {0, 1, 2, 3}, high_lanes = {4, 5, 6, 7};
      const Unsigned4 in_low = reinterpret_cast<Unsigned4>(low_lanes <= span);
      const Unsigned4 in_high = reinterpret_cast<Unsigned4>(high_lanes <= span);
      for (int g = 0; g < 3; ++g) {
        const int bucket = first_angle + g - (first_angle + g >= kAngleBuckets ? kAngleBuckets : 0);
        const uint64_t add = g <= angle_span ? bit : 0;
        uint64_t* row = side.reached_by[bucket] + (lo >> 2);
        Unsigned4 low, high;
        std::memcpy(&low, row, sizeof low);
        std::memcpy(&high, row + 4, sizeof high);
        low |= in_low & add;
        high |= in_high & add;
        std::memcpy(row, &low, sizeof low);
        std::memcpy(row + 4, &high, sizeof high);
      }
    }
  }
}

// Each neighbour adds at most 30 to a similarity: a similarity of need or more takes at
// least this many contributing neighbours.
constexpr int NeighboursNeeded(int need) { return (need + 29) / 30; }

// B descriptors against which A descriptor da can reach a similarity of need (80 or
// more): those that LocalSimilarity would not turn away on its count of reachable
// neighbours.
uint64_t PossiblePartners(const Descriptor& da, const Side& B, int need) {
  const int needed = NeighboursNeeded(need);
  static_assert(NeighboursNeeded(kReferenceSimilarity) == 3);
  const uint64_t all = B.n >= 64 ? ~uint64_t{0} : (uint64_t{1} << B.n) - 1;
  if (da.count < needed) return 0;
  if (!da.normal) return all;  // every neighbour counts as reachable
  // at_least[k]: B descriptors reached by at least k + 1 of the neighbours so far.
  uint64_t at_least[kMaxNeighbours] = {};
  for (int u = 0; u < da.count; ++u) {
    const uint64_t m = B.reached_by[da.relative_angle[u] >> 4][da.relative_direction[u] >> 2];
    for (int k = needed - 1; k > 0; --k) at_least[k] |= at_least[k - 1] & m;
    at_least[0] |= m;
  }
  return at_least[needed - 1] & all;
}

// The similarity of two descriptors when it reaches need (80 or more), else 0 or some
// value under need. The sum is abandoned as soon as the neighbours left cannot lift it to
// need.
int LocalSimilarity(const Descriptor& da, const Descriptor& db, int need) {
  if (da.count == 0 || db.count == 0) return 0;
  // A neighbour u can only contribute when some v reaches it; each adds at most 30.
  bool hit[kMaxNeighbours];
  int hits = 0;
  if (da.plain && db.plain) {
    for (int ui = 0; ui < da.count; ++ui) {
      hit[ui] = (db.reach[da.probe_word[ui]] & da.probe_bit[ui]) != 0;
      hits += hit[ui];
    }
  } else {
    for (int ui = 0; ui < da.count; ++ui) hit[ui] = true;
    hits = da.count;
  }
  if (30 * hits < need) return 0;
  int s = 0;
  int start = 0;  // relative directions ascend, so the start of the scan only moves on
  const int nb = db.count;
  for (int ui = 0; ui < da.count; ++ui) {
    if (s + 30 * hits < need) return 0;
    if (!hit[ui]) continue;
    // Moved on only for the neighbours that scan: the start found for a later u is the
    // same whether or not the skipped ones moved it first.
    const int u_rel = da.relative_direction[ui], u_dist = da.distance[ui];
    const int u_ang = da.relative_angle[ui], u_type = da.type[ui];
    while (start < nb && db.relative_direction[start] < u_rel - 10) ++start;
    --hits;
    int contribution = 0;
    // No neighbour far enough round: the scan starts at the last one.
    const int first = start < nb ? start : nb - 1;
    // A zero relative direction ends the scan.
    for (int vi = first; vi < nb; ++vi) {
      const int v_rel = db.relative_direction[vi];
      if (v_rel == 0 || v_rel > u_rel + 10) break;
      const int v_dist = db.distance[vi];
      const int sum = u_dist + v_dist;
      if (std::abs(u_dist - v_dist) > 7 + sum / 64) continue;
      if (std::abs(u_rel - v_rel) + (sum - 20) / 32 > 12) continue;
      if (CircularDifference(u_ang, db.relative_angle[vi]) > 10) continue;
      contribution = u_type == db.type[vi] ? 30 : 20;
    }
    s += contribution;
  }
  return s;
}

struct Candidate {
  int similarity = 0;
  int a = 0, b = 0;
};

struct Slot {
  bool filled = false;
  int a = 0, b = 0;
  int score = 0;
};

// The minutiae of one record that a transform carries into the other's print, in record
// order: their indices and their transformed positions and directions.
struct OverlapSet {
  int count;
  int index[kMaxMinutiae];
  int x[kMaxMinutiae], y[kMaxMinutiae], direction[kMaxMinutiae];
};

struct CorePoints {
  int x1 = 0, y1 = 0;  // core 1 in the other frame, 0, 0 when absent
  int x2 = 0, y2 = 0;  // core 2 in the other frame, or its raw values
};

// RoundProduct of four products. v + 0.0 has its sign bit set exactly when v < 0 (it turns
// -0 into +0), so each lane is truncated as v + -1.0, which is v - 1.0, when negative and
// as v + 0.0, which truncates like v, otherwise: the same integers as RoundProduct,
// without a comparison the compiler would do lane by lane.
inline Ints4 RoundProducts(const Doubles4& v) {
  const Longs4 negative = -reinterpret_cast<Longs4>(reinterpret_cast<Unsigned4>(v + 0.0) >> 63);
  const Doubles4 minus_one = {-1.0, -1.0, -1.0, -1.0};
  const Doubles4 adjust = reinterpret_cast<Doubles4>(negative & reinterpret_cast<Longs4>(minus_one));
  return __builtin_convertvector(v + adjust, Ints4);
}

// The positions of ApplyTransform for the minutiae of a side, four at a time: the
// coordinate arrays hold whole groups of four (the lanes past n are zero, and their results
// are not read).
VANTREL_WIDE_CLONES
void TransformPositions(const int* xs, const int* ys, int n, int cx, int cy, int bx, int by,
                        double c, double s, int* px, int* py) {
  for (int i = 0; i < n; i += 4) {
    Ints4 x, y;
    std::memcpy(&x, xs + i, sizeof x);
    std::memcpy(&y, ys + i, sizeof y);
    const Doubles4 rx = __builtin_convertvector(x - cx, Doubles4);
    const Doubles4 ry = __builtin_convertvector(y - cy, Doubles4);
    const Ints4 ox = bx + RoundProducts(rx * c) + RoundProducts(ry * s);
    const Ints4 oy = by + RoundProducts(ry * c) - RoundProducts(rx * s);
    std::memcpy(px + i, &ox, sizeof ox);
    std::memcpy(py + i, &oy, sizeof oy);
  }
}

void FindOverlap(const Side& from, int skip, const Transform& t, const Side& into,
                 OverlapSet& out) {
  int px[kPaddedMinutiae], py[kPaddedMinutiae];
  TransformPositions(from.x, from.y, from.n, t.cx, t.cy, t.cx + t.tx, t.cy + t.ty, t.c, t.s,
                     px, py);
  // Every minutia is written at the next place and counted only when it is kept: the
  // place is never past i, so the writes stay inside the arrays.
  int count = 0;
  for (int i = 0; i < from.n; ++i) {
    const bool keep = (i != skip) & Inside(into, px[i], py[i]);
    int d = from.direction[i] - t.angle;
    d -= d >= 360 ? 360 : 0;
    d += d < 0 ? 360 : 0;
    out.index[count] = i;
    out.x[count] = px[i];
    out.y[count] = py[i];
    out.direction[count] = d;
    count += keep;
  }
  out.count = count;
}

CorePoints CoresInFrame(const Side& side, const Transform& t) {
  CorePoints c;
  if (side.core1) {
    const Point p = ApplyTransform(t, side.core1_x, side.core1_y, 0);
    c.x1 = p.x;
    c.y1 = p.y;
  }
  if (side.core2_packed > 2) {
    const Point p = ApplyTransform(t, side.core2_x, side.core2_y, 0);
    c.x2 = p.x;
    c.y2 = p.y;
  } else {
    c.x2 = side.core2_x;
    c.y2 = side.core2_y;
  }
  return c;
}

inline int64_t SquaredDistance(int x0, int y0, int x1, int y1) {
  const int64_t dx = x1 - x0, dy = y1 - y0;
  return dx * dx + dy * dy;
}

// A core of one record falling well inside the other's print, with no partner core there.
int LoneCorePenalty(const CorePoints& cores, const Side& other, int penalty) {
  int total = 0;
  const int xs[2] = {cores.x1, cores.x2}, ys[2] = {cores.y1, cores.y2};
  for (int k = 0; k < 2; ++k) {
    if (k == 1 && Packed(cores.x2, cores.y2) <= 2) break;
    // Floor division, so that a point just left of or above the canvas is never block 0.
    const int cx = xs[k] >= 0 ? xs[k] / 8 : -1, cy = ys[k] >= 0 ? ys[k] / 8 : -1;
    if (cx < 1 || cx > 30 || cy < 1 || cy > 34) continue;
    const uint32_t columns = 7u << (cx - 1);
    const bool inside = (other.background_rows[cy - 1] & columns) == 0 &&
                        (other.background_rows[cy] & columns) == 0 &&
                        (other.background_rows[cy + 1] & columns) == 0;
    if (inside) total += penalty;
  }
  return total;
}

inline int UnpairedWeight(int reliability) {
  const int r = reliability - 10;
  return reliability + (r > 0) * r * r;
}

struct CandidateResult {
  int score = 0;
  int pair_count = 0;
  uint8_t pairs_a[kMaxPairs];
  uint8_t pairs_b[kMaxPairs];
};

// The pairing of one rotation: the entries of A (p) in order and those of B (q) in
// buckets of 8 degrees of polar direction, with the fields each test reads. The B fields
// are in sorted order and hold 8 more entries past nb, zero, so that groups of eight can
// be read from any sorted position up to nb.
constexpr int kBucketShift = 3, kBuckets = 360 >> kBucketShift;  // 45
constexpr int kPairingLanes = 8;
constexpr int kPairingSlots = kMaxMinutiae + kPairingLanes;

struct PairingLists {
  int na, nb;
  int pa_dir[kMaxMinutiae], pa_dist[kMaxMinutiae], pa_odir[kMaxMinutiae], pa_type[kMaxMinutiae];
  int s_q[kPairingSlots], s_dir[kPairingSlots], s_dist[kPairingSlots], s_tdir[kPairingSlots],
      s_type[kPairingSlots];
  int first[kBuckets + 1];  // first sorted position of bucket k or later
};

// Each p in order takes its best q, the lowest cost and the lowest q among equal costs,
// when one passes every test; when that q is taken already, p stays unpaired. The visiting
// order of the q does not matter: the least cost * 64 + q decides (q is below 64; a cost
// can be negative only for hostile direction fields, and the order still holds). Eight q
// are tested at a time. Returns the number of pairs.
VANTREL_WIDE_CLONES
int PairUp(const PairingLists& l, bool* paired_a, bool* paired_b, int* pair_p, int* pair_q) {
  constexpr int kNone = 0x7FFFFFFF;
  const Ints8 lane = {0, 1, 2, 3, 4, 5, 6, 7};
  const int nb = l.nb;
  // First sorted position of the bucket holding direction value (0..359), or nb for 360.
  const auto lower = [&](int value) { return l.first[value >> kBucketShift]; };
  // One past the last sorted position of the bucket holding direction value (0..359).
  const auto upper = [&](int value) { return l.first[(value >> kBucketShift) + 1]; };
  int pairs = 0;
  for (int p = 0; p < l.na; ++p) {
    const int p_dir = l.pa_dir[p], p_dist = l.pa_dist[p], p_odir = l.pa_odir[p];
    const int p_type = l.pa_type[p];
    // Sorted positions [from[r], to[r]) for r = 0, 1: the buckets that hold entries within
    // 12 degrees of p_dir (the 12-degree test still runs on each), split in two where they
    // wrap round 0.
    const int lo = p_dir - 12, hi = p_dir + 12;
    int from[2], to[2];
    if (lo < 0) {
      from[0] = 0, to[0] = upper(hi), from[1] = lower(lo + 360), to[1] = nb;
    } else if (hi > 359) {
      from[0] = lower(lo), to[0] = nb, from[1] = 0, to[1] = upper(hi - 360);
    } else {
      from[0] = lower(lo), to[0] = upper(hi), from[1] = 0, to[1] = 0;
    }
    Ints8 best = Ints8{} + kNone;
    for (int r = 0; r < 2; ++r) {
      for (int k = from[r]; k < to[r]; k += kPairingLanes) {
        Ints8 dir, dist, tdir, type, q;
        std::memcpy(&dir, l.s_dir + k, sizeof dir);
        std::memcpy(&dist, l.s_dist + k, sizeof dist);
        std::memcpy(&tdir, l.s_tdir + k, sizeof tdir);
        std::memcpy(&type, l.s_type + k, sizeof type);
        std::memcpy(&q, l.s_q + k, sizeof q);
        // Every test as a difference that must not be negative, all at once; sums of
        // distances are never negative, so the divisions are shifts.
        // Absolute values as (v ^ sign) - sign; CircularDifference lane by lane.
        const Ints8 dir_difference = p_dir - dir, dir_sign = dir_difference >> 31;
        const Ints8 d1 = (dir_difference ^ dir_sign) - dir_sign;
        const Ints8 dr = d1 > 180 ? 360 - d1 : d1;
        const Ints8 dist_difference = p_dist - dist, dist_sign = dist_difference >> 31;
        const Ints8 dd = (dist_difference ^ dist_sign) - dist_sign;
        const Ints8 sum = p_dist + dist;
        const Ints8 dd_limit = 7 + (sum >> 6);
        const Ints8 dr_limit_raw = 12 - (sum >> 5);
        const Ints8 dr_limit = dr_limit_raw > 3 ? dr_limit_raw : 3;
        const Ints8 turn_difference = p_odir - tdir, turn_sign = turn_difference >> 31;
        const Ints8 d2 = (turn_difference ^ turn_sign) - turn_sign;
        const Ints8 dt = d2 > 180 ? 360 - d2 : d2;
        const Ints8 failed = (12 - dr) | (10 - dd) | (dd_limit - dd) | (dr_limit - dr) | (10 - dt);
        // Types are 0 or 1: a differing type adds 5.
        const Ints8 cost = dd + dr + dt + ((0 - (p_type ^ type)) & 5);
        const Ints8 key = (failed < 0) | (k + lane >= to[r]) ? kNone : cost * 64 + q;
        best = key < best ? key : best;
      }
    }
    // The least of the eight lanes.
    Ints8 other = __builtin_shufflevector(best, best, 4, 5, 6, 7, 0, 1, 2, 3);
    best = best < other ? best : other;
    other = __builtin_shufflevector(best, best, 2, 3, 0, 1, 6, 7, 4, 5);
    best = best < other ? best : other;
    other = __builtin_shufflevector(best, best, 1, 0, 3, 2, 5, 4, 7, 6);
    best = best < other ? best : other;
    const int least = best[0];
    if (least == kNone) continue;
    const int best_q = least & 63;
    if (paired_b[best_q]) continue;
    paired_a[p] = true;
    paired_b[best_q] = true;
    pair_p[pairs] = p;
    pair_q[pairs] = best_q;
    ++pairs;
  }
  return pairs;
}

// Polar direction and distance of every A minutia around the reference a: the same
// for the three rotations of a slot, so they are worked out once per slot.
struct PolarAroundA {
  int direction[kMaxMinutiae];
  int distance[kMaxMinutiae];
};

// Scores one rotation candidate of a reference pair (a, b).
void ScoreRotation(const Side& A, const Side& B, int a, int b, int phi, int psi,
                   const PolarAroundA& polar_a, CandidateResult& result) {
  result.score = 0;
  result.pair_count = 0;
  const int max = A.x[a], may = A.y[a];
  const int mbx = B.x[b], mby = B.y[b];
  const Transform forward = MakeTransform(max, may, mbx - max, mby - may, phi);
  const Transform backward = MakeTransform(mbx, mby, max - mbx, may - mby, psi);

  OverlapSet oa, ob;
  FindOverlap(A, a, forward, B, oa);
  const int na = oa.count;
  if (na < 3) return;
  const CorePoints cores_a = CoresInFrame(A, forward);
  FindOverlap(B, b, backward, A, ob);
  const int nb = ob.count;
  if (nb < 3) return;
  const CorePoints cores_b = CoresInFrame(B, backward);
  if (!(A.n <= 4 * na || B.n <= 4 * nb)) return;

  // Polar lists around A's reference point, both in A's frame, with what the pairing
  // reads of each entry.
  PairingLists lists;
  lists.na = na;
  lists.nb = nb;
  for (int i = 0; i < na; ++i) {
    const int m = oa.index[i];
    lists.pa_dir[i] = polar_a.direction[m];
    lists.pa_dist[i] = polar_a.distance[m];
    lists.pa_odir[i] = A.direction[m];
    lists.pa_type[i] = A.type[m];
  }
  int pb_dir[kMaxMinutiae], pb_dist[kMaxMinutiae];
  for (int i = 0; i < nb; ++i) {
    const int dx = ob.x[i] - max, dy = ob.y[i] - may;
    pb_dir[i] = extract::AngleOf(dy, dx);
    pb_dist[i] = RootOf(int64_t{dx} * dx + int64_t{dy} * dy);
  }

  // PB bucketed by polar direction, 8 degrees a bucket, so that each p looks only at the
  // buckets that hold entries within 12 degrees of its own. The choice is the same as a
  // scan of the whole list: lowest cost, and among equal costs the first in PB order. The
  // fields of the entries are copied into sorted order, so that the scan reads
  // neighbouring memory.
  int* first = lists.first;
  std::memset(first, 0, sizeof(lists.first));
  for (int i = 0; i < nb; ++i) ++first[(pb_dir[i] >> kBucketShift) + 1];
  for (int k = 0; k < kBuckets; ++k) first[k + 1] += first[k];
  {
    int next[kBuckets];
    std::memcpy(next, first, sizeof(next));
    for (int i = 0; i < nb; ++i) {
      const int k = next[pb_dir[i] >> kBucketShift]++;
      lists.s_q[k] = i;
      lists.s_dir[k] = pb_dir[i];
      lists.s_dist[k] = pb_dist[i];
      lists.s_tdir[k] = ob.direction[i];
      lists.s_type[k] = B.type[ob.index[i]];
    }
    for (int k = nb; k < nb + kPairingLanes; ++k)
      lists.s_q[k] = lists.s_dir[k] = lists.s_dist[k] = lists.s_tdir[k] = lists.s_type[k] = 0;
  }

  bool paired_a[kMaxMinutiae] = {}, paired_b[kMaxMinutiae] = {};
  int pair_p[kMaxMinutiae], pair_q[kMaxMinutiae];
  const int pairs = PairUp(lists, paired_a, paired_b, pair_p, pair_q);
  if (pairs == 0) return;

  int64_t T = 0, N = 0;
  for (int k = 0; k < pairs; ++k) {
    const int p = pair_p[k], q = pair_q[k];
    const int ia = oa.index[p], ib = ob.index[q];
    const int low = A.reliability[ia] < B.reliability[ib] ? A.reliability[ia] : B.reliability[ib];
    const int w = 2 * low + 5 + (A.type[ia] == B.type[ib] ? 10 : 0);
    const int e = std::abs(A.x[ia] - ob.x[q]) + std::abs(A.y[ia] - ob.y[q]) +
                  CircularDifference(A.direction[ia], ob.direction[q]);
    T += w - e;
    const int64_t dp = SquaredDistance(A.x[ia], A.y[ia], max, may);
    const int64_t dq = SquaredDistance(ob.x[q], ob.y[q], max, may);
    if ((dp < dq ? dp : dq) / 4 <= 2025) N += w - e;
  }

  const bool has_a = cores_a.x1 != 0 || cores_a.y1 != 0;
  const bool has_b = cores_b.x1 != 0 || cores_b.y1 != 0;
  if (has_a && has_b) {
    int ax[2] = {A.core1_x, A.core2_x}, ay[2] = {A.core1_y, A.core2_y};
    const int a_points = A.core2_packed > 2 ? 2 : 1;
    int bx[2] = {cores_b.x1, cores_b.x2}, by[2] = {cores_b.y1, cores_b.y2};
    const int b_points = Packed(cores_b.x2, cores_b.y2) > 2 ? 2 : 1;
    int64_t m = 6400;
    for (int i = 0; i < a_points; ++i)
      for (int j = 0; j < b_points; ++j) {
        const int64_t d = SquaredDistance(ax[i], ay[i], bx[j], by[j]);
        if (d < m) m = d;
      }
    const int tolerance = (A.fallback_marker || B.fallback_marker) ? 32 : 16;
    const int penalty = FloorRootOf(m) - tolerance;
    if (penalty > 0) {
      T -= penalty;
      N -= penalty;
    }
  } else if (has_a) {
    const int penalty = LoneCorePenalty(cores_a, B, A.fallback_marker ? 16 : 32);
    T -= penalty;
    N -= penalty;
  } else if (has_b) {
    const int penalty = LoneCorePenalty(cores_b, A, B.fallback_marker ? 16 : 32);
    T -= penalty;
    N -= penalty;
  }
  if (T < 0) T = 0;
  if (N < 0) N = 0;

  int64_t U = 0, UN = 0;
  for (int i = 0; i < na; ++i) {
    const int u = !paired_a[i] * UnpairedWeight(A.reliability[oa.index[i]]);
    U += u;
    UN += (SquaredDistance(oa.x[i], oa.y[i], mbx, mby) <= 8100) * u;
  }
  for (int i = 0; i < nb; ++i) {
    const int u = !paired_b[i] * UnpairedWeight(B.reliability[ob.index[i]]);
    U += u;
    UN += (SquaredDistance(ob.x[i], ob.y[i], max, may) <= 8100) * u;
  }
  if (U < 10) U = 10;
  if (UN < 10) UN = 10;

  int64_t S = T * T / (T + U) + (32 * T) / (U > 50 ? U : 50) + N * N / (N + UN) +
              (32 * N) / (UN > 50 ? UN : 50);
  if (pairs < 4) S = S * pairs / 4;
  result.score = static_cast<int>(S / 4);
  result.pair_count = pairs;
  for (int k = 0; k < pairs; ++k) {
    result.pairs_a[k] = static_cast<uint8_t>(oa.index[pair_p[k]]);
    result.pairs_b[k] = static_cast<uint8_t>(ob.index[pair_q[k]]);
  }
}

}  // namespace

// ---- Tables and helpers ----

double SineOfDegree(int degree) { return FixedTables().sine[DegreeIndex(degree)]; }
double CosineOfDegree(int degree) { return FixedTables().cosine[DegreeIndex(degree)]; }

int SquareOf(int v) {
  if (v >= -256 && v <= 256) return kIntegerTables.square[v < 0 ? -v : v];
  return v * v;
}

int NearestRoot(int64_t d) { return RootOf(d); }

int FloorRoot(int64_t d) { return FloorRootOf(d); }

int NormaliseRotation(int angle) {
  if (angle > 180) return angle - 360;
  if (angle <= -180) return angle + 360;
  return angle;
}

Transform MakeTransform(int cx, int cy, int tx, int ty, int angle) {
  Transform t;
  t.cx = cx;
  t.cy = cy;
  t.tx = tx;
  t.ty = ty;
  t.angle = angle;
  t.c = CosineOfDegree(angle);
  t.s = SineOfDegree(angle);
  return t;
}

void SetAlignmentNone(Alignment& alignment) {
  alignment.reference_a = kNoReference;
  alignment.reference_b = kNoReference;
  alignment.rotation = 0;
  alignment.pair_count = 0;
}

int ThresholdOfLevel(int level) {
  static constexpr int kThresholds[10] = {0, 40, 45, 50, 55, 60, 65, 70, 75, 80};
  // Level 3 sits at 50 like every level outside the table.
  if (level < 0 || level > 9) return 50;
  return kThresholds[level];
}

int MatchCore(const uint8_t* record_a, const uint8_t* record_b, Alignment& alignment,
              MatchTrace* trace) {
  if (trace) *trace = MatchTrace{};
  if (record_a == nullptr || record_b == nullptr) {
    SetAlignmentNone(alignment);
    return 0;
  }
  // Cheap early exit before any allocation: a format other than 3, or no usable count.
  const auto empty = [](const uint8_t* r) { return r[0] != record::kFormat || r[3] == 0 || r[3] > 50; };
  if (empty(record_a) || empty(record_b)) {
    SetAlignmentNone(alignment);
    return 0;
  }
  // Not value-initialised: every field the core reads is written before it is read.
  WorkArea* work = new (std::nothrow) WorkArea;
  if (work == nullptr) return kMatchNoWorkArea;
  Side& A = work->a;
  Side& B = work->b;
  ReadSide(record_a, A);
  ReadSide(record_b, B);
  if (A.n == 0 || B.n == 0) {
    delete work;
    SetAlignmentNone(alignment);
    return 0;
  }
  // Radii above 256 would need squared distances past the root tables; they are cut.
  int radius = alignment.radius;
  if (radius < 0) radius = 0;
  if (radius > 256) radius = 256;
  const int64_t radius_squared = int64_t{radius} * radius;
  BuildDescriptors(A, radius_squared);
  BuildDescriptors(B, radius_squared);
  BuildReachedBy(B);

  // Three best B partners of each A minutia, highest similarity first, lower B first.
  Candidate candidates[kMaxMinutiae * kCandidatesPerMinutia];
  int candidate_count = 0;
  // The six highest similarities among the candidates of the A minutiae done so far,
  // highest first. The slots are the six best candidates, highest similarity first and
  // the earliest among equals, so once six earlier candidates reach some similarity, a
  // later one at that similarity or under it never takes a slot. Leaving it out changes
  // no slot either: the candidates it would have pushed out of its minutia's three rank
  // lower still, and the ones that stay are the same, in the same order.
  int top[kReferenceSlots];
  int top_count = 0;
  for (int a = 0; a < A.n; ++a) {
    Candidate kept[kCandidatesPerMinutia];
    int kept_count = 0;
    // Only B minutiae of the same type that can reach need, in index order: 80, or one
    // more than the sixth highest similarity so far once there are six. A similarity
    // under 80 never anchors a slot and always ranks below one of 80 or more, so leaving
    // those out changes neither the kept candidates that count nor their order.
    int need = kReferenceSimilarity;
    if (top_count == kReferenceSlots && top[kReferenceSlots - 1] + 1 > need)
      need = top[kReferenceSlots - 1] + 1;
    const int type = A.type[a];
    uint64_t partners = (type == 0 || type == 1) ? B.of_type[type] : 0;
    if (partners != 0) partners &= PossiblePartners(A.descriptors[a], B, need);
    for (; partners != 0; partners &= partners - 1) {
      const int b = std::countr_zero(partners);
      const int s = LocalSimilarity(A.descriptors[a], B.descriptors[b], need);
      if (s < need) continue;
      int pos = kept_count;
      while (pos > 0 && kept[pos - 1].similarity < s) --pos;
      if (pos >= kCandidatesPerMinutia) continue;
      const int last = kept_count < kCandidatesPerMinutia ? kept_count : kCandidatesPerMinutia - 1;
      for (int k = last; k > pos; --k) kept[k] = kept[k - 1];
      kept[pos] = Candidate{s, a, b};
      if (kept_count < kCandidatesPerMinutia) ++kept_count;
    }
    for (int k = 0; k < kept_count; ++k) {
      candidates[candidate_count++] = kept[k];
      // Into the six highest, after any equal ones.
      const int s = kept[k].similarity;
      int pos = top_count < kReferenceSlots ? top_count : kReferenceSlots;
      if (pos == kReferenceSlots && top[kReferenceSlots - 1] >= s) continue;
      if (pos == kReferenceSlots) --pos;
      while (pos > 0 && top[pos - 1] < s) {
        top[pos] = top[pos - 1];
        --pos;
      }
      top[pos] = s;
      if (top_count < kReferenceSlots) ++top_count;
    }
  }

  Slot slots[kReferenceSlots];
  int slot_index = 0;
  bool taken[kMaxMinutiae * kCandidatesPerMinutia] = {};
  for (Slot& slot : slots) {
    int pick = -1;
    for (int c = 0; c < candidate_count; ++c) {
      if (taken[c] || candidates[c].similarity < kReferenceSimilarity) continue;
      if (pick < 0 || candidates[c].similarity > candidates[pick].similarity) pick = c;
    }
    if (pick < 0) break;  // every later slot stays empty as well
    taken[pick] = true;
    slot.filled = true;
    slot.a = candidates[pick].a;
    slot.b = candidates[pick].b;
    if (trace) {
      const int k = trace->filled_slots++;
      trace->slot_a[k] = slot.a;
      trace->slot_b[k] = slot.b;
      trace->slot_similarity[k] = candidates[pick].similarity;
    }
  }

  SetAlignmentNone(alignment);
  int best_candidate = 0;
  CandidateResult result;
  for (Slot& slot : slots) {
    const int si = slot_index++;
    if (!slot.filled) continue;
    const int theta0 = NormaliseRotation(A.direction[slot.a] - B.direction[slot.b]);
    PolarAroundA polar_a;
    const int max = A.x[slot.a], may = A.y[slot.a];
    for (int i = 0; i < A.n; ++i) {
      const int dx = A.x[i] - max, dy = A.y[i] - may;
      polar_a.direction[i] = extract::AngleOf(dy, dx);
      polar_a.distance[i] = RootOf(int64_t{dx} * dx + int64_t{dy} * dy);
    }
    for (int k = 0; k < kRotations; ++k) {
      const int phi = NormaliseRotation(theta0 - 2 + 2 * k);
      const int psi = NormaliseRotation(-phi);
      ScoreRotation(A, B, slot.a, slot.b, phi, psi, polar_a, result);
      if (trace) trace->candidate_scores[si][k] = result.score;
      if (result.score > slot.score) slot.score = result.score;
      if (result.score > best_candidate) {
        best_candidate = result.score;
        alignment.reference_a = static_cast<uint8_t>(slot.a);
        alignment.reference_b = static_cast<uint8_t>(slot.b);
        alignment.rotation = static_cast<int16_t>(psi);
        alignment.pair_count = static_cast<uint8_t>(result.pair_count);
        std::memcpy(alignment.pairs_a, result.pairs_a, result.pair_count);
        std::memcpy(alignment.pairs_b, result.pairs_b, result.pair_count);
      }
    }
  }

  // Best slot, then a second slot whose anchors sit at a consistent distance from it.
  int best_slot = 0;
  for (int i = 1; i < kReferenceSlots; ++i)
    if (slots[i].score > slots[best_slot].score) best_slot = i;
  if (trace) {
    for (int i = 0; i < kReferenceSlots; ++i) trace->reference_scores[i] = slots[i].score;
    trace->best_slot = best_slot;
  }
  const int best = slots[best_slot].score;
  slots[best_slot].score = 0;
  int second = 0;
  for (int attempt = 0; attempt < kSecondSlotTries; ++attempt) {
    int v = 0;
    for (int i = 1; i < kReferenceSlots; ++i)
      if (slots[i].score > slots[v].score) v = i;
    const int candidate_second = slots[v].score;
    slots[v].score = 0;
    // A slot at 0 contributes 0 whichever way the distance test goes; every later one is 0 too.
    if (candidate_second == 0) break;
    const Slot& u = slots[best_slot];
    const Slot& w = slots[v];
    const int da = FloorRootOf(SquaredDistance(A.x[u.a], A.y[u.a], A.x[w.a], A.y[w.a]));
    const int db = FloorRootOf(SquaredDistance(B.x[u.b], B.y[u.b], B.x[w.b], B.y[w.b]));
    if (std::abs(da - db) <= 20) {
      second = candidate_second;
      if (trace) trace->second_slot = v;
      break;
    }
  }
  delete work;
  return (best + second) / 2;
}

int MatchRecords(const uint8_t* sealed_a, const uint8_t* sealed_b, int level) {
  if (sealed_a == nullptr || sealed_b == nullptr) return kMatchUnsealFailed;
  uint8_t a[record::kRecordBytes], b[record::kRecordBytes];
  if (record::UnsealCopy(sealed_a, a) != 0) return kMatchUnsealFailed;
  if (record::UnsealCopy(sealed_b, b) != 0) return kMatchUnsealFailed;
  Alignment alignment;
  const int score = MatchCore(a, b, alignment);
  if (score < 0) return kMatchBelowThreshold;  // no work area: below every threshold
  if (score < ThresholdOfLevel(level)) return kMatchBelowThreshold;
  return score;
}

int MatchNibbleTexts(const char* text_a, const char* text_b, int level) {
  if (text_a == nullptr || text_b == nullptr) return kMatchUnsealFailed;
  uint8_t a[record::kRecordBytes], b[record::kRecordBytes];
  text::ReadNibbleText(text_a, record::kRecordBytes, a);
  text::ReadNibbleText(text_b, record::kRecordBytes, b);
  return MatchRecords(a, b, level);
}

}  // namespace vantrel::match
