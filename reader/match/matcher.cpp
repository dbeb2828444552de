// The minutia matcher. Everything is integer arithmetic over the fixed tables (here and
// in matcher_internal.h), apart from the rotation products, which are formed in double
// precision. MatchCore reads as its stages: decode both sides, build their descriptors,
// find the candidate reference pairs, fill the six slots, score three rotations of each,
// combine the best slot with a consistent second one.
#include "reader/match/matcher.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "reader/cpu/vector_forms.h"
#include "reader/record/angle.h"
#include "reader/record/record.h"
#include "reader/record/record_text.h"
#include "reader/match/matcher_internal.h"

namespace vantrel::match::detail {

namespace {

// ---- Fixed tables ----

// Sine and cosine come from the C library at run time, built once on first use, with
// their nearest floats.
struct Tables {
  double sine[360];
  double cosine[360];
  float sine_single[360];
  float cosine_single[360];
};

Tables BuildTables() {
  Tables t{};
  // The C library's sine and cosine of d * pi / 180, no value snapped: cos 90 is 6e-17,
  // not 0, and R() of a tiny negative product is -1. Scores depend on this, so it is fixed.
  const double pi = std::acos(-1.0);
  for (int d = 0; d < 360; ++d) {
    t.sine[d] = std::sin(d * pi / 180.0);
    t.cosine[d] = std::cos(d * pi / 180.0);
    t.sine_single[d] = static_cast<float>(t.sine[d]);
    t.cosine_single[d] = static_cast<float>(t.cosine[d]);
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

// MakeTransform with the tables at hand, for an angle within -359..359.
Transform TransformOf(const Tables& tables, int cx, int cy, int tx, int ty, int angle) {
  Transform t;
  t.cx = cx;
  t.cy = cy;
  t.tx = tx;
  t.ty = ty;
  t.angle = angle;
  const int index = angle < 0 ? angle + 360 : angle;
  t.c = tables.cosine[index];
  t.s = tables.sine[index];
  return t;
}

// Whether the products of each angle may be formed in single precision, settled on first
// use of the angle (a check over the offsets costs far more than a comparison): 0 not yet
// known, 1 no, 2 yes. Every thread that settles an angle finds the same answer, so a race
// only repeats the work.
std::atomic<uint8_t> single_angles[360];

// Out of line: met once per angle and process.
[[gnu::noinline]] uint8_t SettleSingleAngle(const Tables& tables, int index) {
  const Kernels& kernels = ChosenKernels();
  const bool single = kernels.single_products_hold(std::fabs(tables.cosine[index])) &&
                      kernels.single_products_hold(std::fabs(tables.sine[index]));
  const uint8_t state = single ? 2 : 1;
  single_angles[index].store(state, std::memory_order_relaxed);
  return state;
}

bool SingleAngle(const Tables& tables, int index) {
  uint8_t state = single_angles[index].load(std::memory_order_relaxed);
  if (state == 0) state = SettleSingleAngle(tables, index);
  return state == 2;
}

// TransformOf with the single-precision products where they hold.
Transform CoreTransformOf(const Tables& tables, int cx, int cy, int tx, int ty, int angle) {
  Transform t = TransformOf(tables, cx, cy, tx, ty, angle);
  const int index = angle < 0 ? angle + 360 : angle;
  t.cf = tables.cosine_single[index];
  t.sf = tables.sine_single[index];
  t.single = SingleAngle(tables, index);
  return t;
}


// The one heap allocation of a core call.
struct WorkArea {
  Side a, b;
  ReachIndex reach_b;
};

int Packed(int x, int y) {
  int xm = x % 256;
  if (xm < 0) xm += 256;
  return xm * 256 + y;
}

// turned_doubled[b]: bit 7 - k of b in bits 2k and 2k + 1.
struct MaskBytes {
  uint16_t turned_doubled[256];
};

constexpr MaskBytes BuildMaskBytes() {
  MaskBytes t{};
  for (int b = 0; b < 256; ++b)
    for (int k = 0; k < 8; ++k)
      if ((b >> (7 - k)) & 1) t.turned_doubled[b] = static_cast<uint16_t>(t.turned_doubled[b] | (3u << (2 * k)));
  return t;
}

constexpr MaskBytes kMaskBytes = BuildMaskBytes();

uint16_t WordAt(const uint8_t* bytes, int offset) {
  return static_cast<uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

}  // namespace

// The same fields and values as DecodeRecord gives: map word 3 + i covers block rows
// 1 + 2i and 2 + 2i, bit 15 - (c - 1) / 2 of it block column c; the outer ring is
// background.
void ReadSide(const uint8_t* bytes, Side& side, const Kernels& kernels) {
  static_assert(record::kBlockColumns == 32 && record::kBlockRows == 36);
  const int count = bytes[3];
  side.n = (bytes[0] == record::kFormat && count <= kMaxMinutiae) ? count : 0;
  const int area_height = bytes[4] == 0 ? 288 : bytes[4] * 8;
  const int area_width = bytes[5] == 0 ? 256 : bytes[5] * 8;
  // Blocks below the area: rows below height / 8, columns below width / 8 (both at least 1).
  const int inside_row_limit = area_height / 8;
  const int inside_column_limit = area_width / 8;
  const uint32_t inside_columns =
      inside_column_limit >= 32 ? ~uint32_t{0} : (uint32_t{1} << inside_column_limit) - 1;
  side.background_rows[0] = side.background_rows[record::kBlockRows - 1] = ~uint32_t{0};
  for (int i = 0; 2 + 2 * i < record::kBlockRows; ++i) {  // rows 1 + 2i and 2 + 2i are alike
    // Bit 15 - j of the word, j = 0..14, to row bits 1 + 2j and 2 + 2j: the word's bytes
    // turned round and their bits doubled, moved up by one, bit 15 of the word dropped.
    const unsigned word = WordAt(bytes, 6 + 2 * i);
    const uint32_t doubled = kMaskBytes.turned_doubled[word >> 8] |
                             uint32_t{kMaskBytes.turned_doubled[word & 0xFF]} << 16;
    const uint32_t row = 1u | (1u << 31) | ((doubled << 1) & 0x7FFFFFFEu);
    side.background_rows[1 + 2 * i] = side.background_rows[2 + 2 * i] = row;
  }
  for (int r = 0; r < record::kBlockRows; ++r)  // no branch: the compiler takes rows in groups
    side.inside_rows[r] = ~side.background_rows[r] & inside_columns & -uint32_t{r < inside_row_limit};
  side.core1_x = bytes[40] * 2;
  side.core1_y = bytes[41] * 2;
  side.core2_x = bytes[42] * 2;
  side.core2_y = bytes[43] * 2;
  kernels.read_minutiae(bytes, side);
  side.core1 = side.core1_x != 0 && side.core1_y != 0;
  side.core2_packed = Packed(side.core2_x, side.core2_y);
  side.fallback_marker = side.core2_packed == 2;
}

void ReadSide(const uint8_t* bytes, Side& side) { ReadSide(bytes, side, ChosenKernels()); }

void ReadMinutiaePlain(const uint8_t* bytes, Side& side) {
  for (int i = 0; i < side.n; ++i) {
    const int offset = kMinutiaeStart + 4 * i;
    const uint32_t word = (static_cast<uint32_t>(WordAt(bytes, offset)) << 16) |
                          WordAt(bytes, offset + 2);
    const record::Minutia m = record::UnpackMinutia(word);
    side.word[i] = word;
    side.x[i] = m.x;
    side.y[i] = m.y;
    side.direction[i] = m.direction;
    side.reliability[i] = m.reliability;
    const int r = m.reliability - 10;
    side.unpaired_weight[i] = m.reliability + (r > 0) * r * r;
    side.type[i] = m.type;
  }
  for (int i = side.n; i < kPaddedMinutiae; ++i) {
    side.x[i] = side.y[i] = side.direction[i] = side.reliability[i] = side.unpaired_weight[i] =
        side.type[i] = 0;
    side.word[i] = 0;
  }
}

void PolarAroundPlain(const int* xs, const int* ys, int n, int ox, int oy, int* direction,
                      int* distance) {
  for (int i = 0; i < n; ++i) {
    const int dx = xs[i] - ox, dy = ys[i] - oy;
    direction[i] = record::AngleOf(dy, dx);
    distance[i] = RootOf(int64_t{dx} * dx + int64_t{dy} * dy);
  }
}

bool SingleProductsHoldPlain(double v) {
  const float vf = static_cast<float>(v);
  for (int r = -kMaxCoreOffset - 1; r <= kMaxCoreOffset; ++r) {
    const float single = static_cast<float>(r) * vf;
    const int rounded = single >= 0 ? static_cast<int>(single) : static_cast<int>(single - 1.0f);
    if (rounded != RoundProduct(r * v)) return false;
  }
  return true;
}

void TransformPositionsPlain(const int* xs, const int* ys, int n, int cx, int cy, int bx, int by,
                             double c, double s, int* px, int* py) {
  for (int i = 0; i < n; ++i) {
    const double rx = static_cast<double>(xs[i] - cx), ry = static_cast<double>(ys[i] - cy);
    px[i] = bx + RoundProduct(rx * c) + RoundProduct(ry * s);
    py[i] = by + RoundProduct(ry * c) - RoundProduct(rx * s);
  }
}

void BuildReachIndexPlain(const Side& side, ReachIndex& reach) {
  std::memset(reach.reached_by, 0xFF, sizeof(reach.reached_by));
  reach.reached_by[kEmptyReachCell] = 0;
  reach.of_type[0] = reach.of_type[1] = 0;
  for (int b = 0; b < side.n; ++b)
    if (side.type[b] == 0 || side.type[b] == 1) reach.of_type[side.type[b]] |= uint64_t{1} << b;
}

int PairUpPlain(const PairingLists& l, uint64_t& paired_a, uint64_t& paired_b, int* pair_p,
                int* pair_q) {
  int pairs = 0;
  paired_a = paired_b = 0;
  for (int p = 0; p < l.na; ++p) {
    const int p_dir = l.pa_dir_dist[p] & 0xFFFF, p_dist = l.pa_dir_dist[p] >> 16;
    const int p_odir = l.pa_odir_type[p] & 0xFFFF, p_flip = l.pa_odir_type[p] >> 16;
    int best_q = -1, best_cost = 0;
    for (int k = 0; k < l.nb; ++k) {
      const int dr = CircularDifference(p_dir, l.s_dir[k]);
      const int dd = std::abs(p_dist - l.s_dist[k]);
      const int dt = CircularDifference(p_odir, l.s_tdir[k]);
      const int sum = p_dist + l.s_dist[k];
      const int dd_limit = 7 + sum / 64;
      const int dr_limit = 12 - sum / 32 > 3 ? 12 - sum / 32 : 3;
      if (dr > 12 || dd > 10 || dd > dd_limit || dr > dr_limit || dt > 10) continue;
      const int key = l.s_key[k] ^ p_flip;  // the type's cost and q
      const int cost = dd + dr + dt + (key >> 6);
      const int q = key & 63;
      if (best_q < 0 || cost < best_cost || (cost == best_cost && q < best_q)) {
        best_q = q;
        best_cost = cost;
      }
    }
    if (best_q < 0 || ((paired_b >> best_q) & 1)) continue;
    paired_a |= uint64_t{1} << p;
    paired_b |= uint64_t{1} << best_q;
    pair_p[pairs] = p;
    pair_q[pairs] = best_q;
    ++pairs;
  }
  return pairs;
}

void UnpairedSumsPlain(const int* xs, const int* ys, const int* weights, uint64_t paired, int n,
                       int ox, int oy, int (&sums)[2]) {
  sums[0] = sums[1] = 0;
  for (int i = 0; i < n; ++i) {
    if ((paired >> i) & 1) continue;
    const int dx = xs[i] - ox, dy = ys[i] - oy;
    sums[0] += weights[i];
    if (dx * dx + dy * dy <= 8100) sums[1] += weights[i];
  }
}

int PackKeptPlain(uint64_t kept, int n, const int* const (&from)[kKeptFields],
                  int* const (&to)[kKeptFields], int* index) {
  (void)n;
  int count = 0;
  for (; kept != 0; kept &= kept - 1) {
    const int i = std::countr_zero(kept);
    index[count] = i;
    for (int f = 0; f < kKeptFields; ++f) to[f][count] = from[f][i];
    ++count;
  }
  return count;
}

// Each minutia is tested on its own: anything off the grid counts as background (the
// lookup then reads block (0, 0), and the answer is false anyway), so a hostile area size
// can never reach outside the mask.
uint64_t LandingPlain(const int* px, const int* py, int n, const uint32_t* inside_rows,
                      const int* directions, int angle, int* turned) {
  uint64_t inside = 0;
  for (int i = 0; i < n; ++i) {
    const int x = px[i], y = py[i];
    const bool on_grid = (static_cast<unsigned>(x) < 256u) & (static_cast<unsigned>(y) < 288u);
    const int row = on_grid ? y >> 3 : 0, column = on_grid ? x >> 3 : 0;
    inside |= uint64_t{on_grid & ((inside_rows[row] >> column) & 1)} << i;
    int d = directions[i] - angle;
    if (d >= 360) d -= 360;
    if (d < 0) d += 360;
    turned[i] = d;
  }
  return inside;
}

void PairedSumsPlain(const Side& A, const Side& B, const OverlapSet& oa, const OverlapSet& ob,
                     const int* pair_p, const int* pair_q, int pairs, int ox, int oy,
                     int64_t (&sums)[2]) {
  int64_t T = 0, N = 0;
  for (int k = 0; k < pairs; ++k) {
    const int p = pair_p[k], q = pair_q[k];
    const int ia = oa.index[p], ib = ob.index[q];
    const int low = A.reliability[ia] < B.reliability[ib] ? A.reliability[ia] : B.reliability[ib];
    const int weight = 2 * low + 5 + (A.type[ia] == B.type[ib] ? 10 : 0);
    const int e = std::abs(A.x[ia] - ob.x[q]) + std::abs(A.y[ia] - ob.y[q]) +
                  CircularDifference(A.direction[ia], ob.direction[q]);
    T += weight - e;
    const int64_t dp = int64_t{A.x[ia] - ox} * (A.x[ia] - ox) + int64_t{A.y[ia] - oy} * (A.y[ia] - oy);
    const int64_t dq = int64_t{ob.x[q] - ox} * (ob.x[q] - ox) + int64_t{ob.y[q] - oy} * (ob.y[q] - oy);
    // (d / 4 <= 2025 for the nearer d: squares are never negative, so d <= 8103.)
    if ((dp < dq ? dp : dq) <= 4 * 2025 + 3) N += weight - e;
  }
  sums[0] = T;
  sums[1] = N;
}

void FindOverlapPlain(const Side& from, int skip, const Transform& t, const uint32_t* inside_rows,
                      const MoreKeptFields* more, OverlapSet& out) {
  int px[kPaddedMinutiae], py[kPaddedMinutiae], turned[kPaddedMinutiae];
  TransformPositionsPlain(from.x, from.y, from.n, t.cx, t.cy, t.cx + t.tx, t.cy + t.ty, t.c, t.s,
                          px, py);
  uint64_t kept = LandingPlain(px, py, from.n, inside_rows, from.direction, t.angle, turned);
  kept &= ~(uint64_t{1} << skip);
  out.kept = kept;
  out.count = PackKeptPlain(kept, from.n, {px, py, turned, from.unpaired_weight},
                            {out.x, out.y, out.direction, out.weight}, out.index);
  for (int k = 0; more && k < out.count; ++k)
    for (int f = 0; f < more->fields; ++f) more->to[f][k] = more->from[f][out.index[k]];
}

namespace {

// Each neighbour adds at most 30 to a similarity: a similarity of need or more takes at
// least this many contributing neighbours.
constexpr int NeighboursNeeded(int need) { return (need + 29) / 30; }

// The B descriptors of cells whose bits are set in at least needed of the eight cells
// given: bit-sliced counts, at_least[k] holding those set in k + 1 or more so far. A fixed
// number of steps, which the compiler lays out straight.
template <int kNeeded>
uint64_t SetInAtLeast(const uint64_t* reached_by, const int16_t* cell) {
  uint64_t at_least[kNeeded] = {};
  for (int u = 0; u < kMaxNeighbours; ++u) {
    const uint64_t m = reached_by[cell[u]];
    for (int k = kNeeded - 1; k > 0; --k) at_least[k] |= at_least[k - 1] & m;
    at_least[0] |= m;
  }
  return at_least[kNeeded - 1];
}

// B descriptors against which A descriptor da can reach a similarity of need (80 or
// more): a superset of those that enough neighbours of da can meet, each adding at most 30.
uint64_t PossiblePartners(const Descriptor& da, const Side& B, const ReachIndex& reach, int need) {
  const int needed = NeighboursNeeded(need);
  static_assert(NeighboursNeeded(kReferenceSimilarity) == 3);
  const uint64_t all = B.n >= 64 ? ~uint64_t{0} : (uint64_t{1} << B.n) - 1;
  if (da.count < needed) return 0;
  if (!da.normal) return all;  // every neighbour counts as reachable
  // The cells of all eight lanes at once (relative directions and angles lie within 0..359
  // for the neighbours of a normal descriptor); the lanes past the count read the empty
  // cell, which adds nothing.
  Shorts8 rel, ang;
  std::memcpy(&rel, da.relative_direction, sizeof rel);
  std::memcpy(&ang, da.relative_angle, sizeof ang);
  const Shorts8 lane = {0, 1, 2, 3, 4, 5, 6, 7};
  const Shorts8 cells = lane < static_cast<short>(da.count) ? ReachCell(rel, ang)
                                                             : Shorts8{} + kEmptyReachCell;
  int16_t cell[kMaxNeighbours];
  std::memcpy(cell, &cells, sizeof cell);
  const uint64_t* r = reach.reached_by;
  static_assert(kMaxNeighbours == 8);
  switch (needed) {  // a need of 61..90 is the one met most
    case 1: return SetInAtLeast<1>(r, cell) & all;
    case 2: return SetInAtLeast<2>(r, cell) & all;
    case 3: return SetInAtLeast<3>(r, cell) & all;
    case 4: return SetInAtLeast<4>(r, cell) & all;
    case 5: return SetInAtLeast<5>(r, cell) & all;
    case 6: return SetInAtLeast<6>(r, cell) & all;
    case 7: return SetInAtLeast<7>(r, cell) & all;
    default: return SetInAtLeast<8>(r, cell) & all;  // needed is at most the count
  }
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

struct CorePoints {
  int x1 = 0, y1 = 0;  // core 1 in the other frame, 0, 0 when absent
  int x2 = 0, y2 = 0;  // core 2 in the other frame, or its raw values
};

void FindOverlap(const Kernels& kernels, const Side& from, int skip, const Transform& t,
                 const Side& into, const MoreKeptFields* more, OverlapSet& out) {
  kernels.find_overlap(from, skip, t, into.inside_rows, more, out);
  // The kernels read whole groups of eight: the rest of the last one is defined (eight
  // zeros of fixed length, not a loop whose length follows the count).
  std::memset(out.x + out.count, 0, 8 * sizeof out.x[0]);
  std::memset(out.y + out.count, 0, 8 * sizeof out.y[0]);
  std::memset(out.weight + out.count, 0, 8 * sizeof out.weight[0]);
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

// Polar direction and distance of every A minutia around the reference a: the same
// for the three rotations of a slot, so they are worked out once per slot. Both fit 16
// bits (0..359 and 0..256), and the pairing reads them as direction | distance << 16.
struct PolarAroundA {
  int direction[kPaddedMinutiae];
  int distance[kPaddedMinutiae];
  int direction_distance[kPaddedMinutiae];
};

// What the stages of one rotation candidate hand on to each other.
struct RotationWork {
  const Tables* tables = nullptr;  // the sines and cosines
  // A's direction fields (0..511) | their types' key flips << 16, for the pairing.
  int direction_type[kPaddedMinutiae];
  int b_type_key[kPaddedMinutiae];  // kTypeKey times each B minutia's type
  int max = 0, may = 0;  // reference minutia a of A
  int mbx = 0, mby = 0;  // reference minutia b of B
  OverlapSet oa, ob;     // A carried into B's print, B carried into A's
  CorePoints cores_a, cores_b;
  PairingLists lists;
  uint64_t paired_a = 0, paired_b = 0;  // bit i: overlap entry i is paired
  int pair_p[kMaxMinutiae], pair_q[kMaxMinutiae];  // overlap positions of each pair
  int pairs = 0;
};

// The two overlaps of a rotation; false when either holds fewer than 3 minutiae or
// neither side has a quarter of its minutiae in the overlap. The fields of the A entries
// that the pairing reads are packed with A's overlap.
bool FindOverlaps(const Kernels& kernels, const Side& A, const Side& B, int a, int b, int phi,
                  int psi, const PolarAroundA& polar_a, RotationWork& w) {
  w.max = A.x[a], w.may = A.y[a];
  w.mbx = B.x[b], w.mby = B.y[b];
  // Rotations lie within -179..180.
  const Tables& tables = *w.tables;
  // Positions and anchors are 9-bit fields (ReadSide), as CoreTransform requires.
  const Transform forward = CoreTransformOf(tables, w.max, w.may, w.mbx - w.max, w.mby - w.may, phi);
  const Transform backward = CoreTransformOf(tables, w.mbx, w.mby, w.max - w.mbx, w.may - w.mby, psi);
  PairingLists& lists = w.lists;
  const MoreKeptFields pairing_fields = {2, {polar_a.direction_distance, w.direction_type},
                                         {lists.pa_dir_dist, lists.pa_odir_type}};
  FindOverlap(kernels, A, a, forward, B, &pairing_fields, w.oa);
  if (w.oa.count < 3) return false;
  w.cores_a = CoresInFrame(A, forward);
  FindOverlap(kernels, B, b, backward, A, nullptr, w.ob);
  if (w.ob.count < 3) return false;
  w.cores_b = CoresInFrame(B, backward);
  return A.n <= 4 * w.oa.count || B.n <= 4 * w.ob.count;
}

// Polar lists around A's reference point, both in A's frame, with what the pairing
// reads of each entry.
void BuildPairingLists(const Kernels& kernels, RotationWork& w) {
  PairingLists& lists = w.lists;
  const int na = w.oa.count, nb = w.ob.count;
  lists.na = na;
  lists.nb = nb;
  // The fields of the A entries are in the order of the overlap already.
  std::memset(lists.pa_dir_dist + na, 0, 4 * sizeof lists.pa_dir_dist[0]);
  std::memset(lists.pa_odir_type + na, 0, 4 * sizeof lists.pa_odir_type[0]);
  int pb_dir[kPaddedMinutiae], pb_dist[kPaddedMinutiae];
  kernels.polar_around(w.ob.x, w.ob.y, nb, w.max, w.may, pb_dir, pb_dist);

  // PB bucketed by polar direction, 8 degrees a bucket, so that each p looks only at the
  // buckets that hold entries within 12 degrees of its own. The choice is the same as a
  // scan of the whole list: lowest cost, and among equal costs the first in PB order. The
  // fields of the entries are copied into sorted order, so that the scan reads
  // neighbouring memory.
  uint8_t* first = lists.first;
  // Entries per bucket, and first[k] the sum of those before bucket k, sixteen buckets at
  // a time (four shifted adds give the sums within a group, the carry those before it):
  // integer sums, in any order the same, and all within a byte (at most 50). Buckets
  // 45..47 are empty, so first[45] is nb.
  static_assert(kBuckets + kWrappedBuckets == 48);
  uint8_t counts[kBuckets + kWrappedBuckets] = {};
  int bucket[kPaddedMinutiae];
  for (int i = 0; i < nb; ++i) bucket[i] = pb_dir[i] >> kBucketShift;
  for (int i = 0; i < nb; ++i) ++counts[bucket[i]];
  using Bytes16 = uint8_t __attribute__((vector_size(16)));
  const Bytes16 none = {};
  Bytes16 carry = {};
  for (int k = 0; k < kBuckets + kWrappedBuckets; k += 16) {
    Bytes16 v;
    std::memcpy(&v, counts + k, sizeof v);
    v += __builtin_shufflevector(v, none, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14);
    v += __builtin_shufflevector(v, none, 16, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13);
    v += __builtin_shufflevector(v, none, 16, 16, 16, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
    v += __builtin_shufflevector(v, none, 16, 16, 16, 16, 16, 16, 16, 16, 0, 1, 2, 3, 4, 5, 6, 7);
    const Bytes16 before =
        __builtin_shufflevector(v, none, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14) + carry;
    std::memcpy(first + k, &before, sizeof before);
    carry += __builtin_shufflevector(v, v, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15);
  }
  uint8_t next[kBuckets];
  std::memcpy(next, first, sizeof(next));
  for (int i = 0; i < nb; ++i) {
    const int k = next[bucket[i]]++;
    lists.s_dir[k] = static_cast<int16_t>(pb_dir[i]);
    lists.s_dist[k] = static_cast<int16_t>(pb_dist[i]);
    lists.s_tdir[k] = static_cast<int16_t>(w.ob.direction[i]);
    lists.s_key[k] = static_cast<int16_t>(i + w.b_type_key[w.ob.index[i]]);
  }
  // Buckets 45..47 repeat buckets 0..2 after the end.
  const int wrapped = first[kWrappedBuckets];
  for (int k = 0; k < wrapped; ++k) {
    lists.s_dir[nb + k] = lists.s_dir[k];
    lists.s_dist[nb + k] = lists.s_dist[k];
    lists.s_tdir[nb + k] = lists.s_tdir[k];
    lists.s_key[nb + k] = lists.s_key[k];
  }
  for (int j = 1; j <= kWrappedBuckets; ++j)
    first[kBuckets + j] = static_cast<uint8_t>(nb + first[j]);  // at most 100
  for (int k = nb + wrapped; k < nb + wrapped + kPairingLanes; ++k) {
    lists.s_dir[k] = lists.s_tdir[k] = lists.s_key[k] = 0;
    lists.s_dist[k] = kPaddingDistance;
  }
}

// T and N: the weights of the pairs less their errors; N only of pairs near the reference.
void PairedSums(const Kernels& kernels, const Side& A, const Side& B, const RotationWork& w,
                int64_t& T, int64_t& N) {
  int64_t sums[2];
  kernels.paired_sums(A, B, w.oa, w.ob, w.pair_p, w.pair_q, w.pairs, w.max, w.may, sums);
  T = sums[0];
  N = sums[1];
}

// What the cores take off T and N: the distance of the nearest core pair past its
// tolerance, or a core of one side alone well inside the other's print.
int CorePenalty(const Side& A, const Side& B, const RotationWork& w) {
  const CorePoints& cores_a = w.cores_a;
  const CorePoints& cores_b = w.cores_b;
  const bool has_a = cores_a.x1 != 0 || cores_a.y1 != 0;
  const bool has_b = cores_b.x1 != 0 || cores_b.y1 != 0;
  if (has_a && has_b) {
    const int ax[2] = {A.core1_x, A.core2_x}, ay[2] = {A.core1_y, A.core2_y};
    const int a_points = A.core2_packed > 2 ? 2 : 1;
    const int bx[2] = {cores_b.x1, cores_b.x2}, by[2] = {cores_b.y1, cores_b.y2};
    const int b_points = Packed(cores_b.x2, cores_b.y2) > 2 ? 2 : 1;
    int64_t m = 6400;
    for (int i = 0; i < a_points; ++i)
      for (int j = 0; j < b_points; ++j) {
        const int64_t d = SquaredDistance(ax[i], ay[i], bx[j], by[j]);
        if (d < m) m = d;
      }
    const int tolerance = (A.fallback_marker || B.fallback_marker) ? 32 : 16;
    const int penalty = FloorRootOf(m) - tolerance;
    return penalty > 0 ? penalty : 0;
  }
  if (has_a) return LoneCorePenalty(cores_a, B, A.fallback_marker ? 16 : 32);
  if (has_b) return LoneCorePenalty(cores_b, A, B.fallback_marker ? 16 : 32);
  return 0;
}

// U and UN: the weights of the unpaired minutiae of both overlaps, UN only of those near
// the other side's reference point; each at least 10.
void UnpairedSums(const Kernels& kernels, const RotationWork& w, int64_t& U, int64_t& UN) {
  int sums_a[2], sums_b[2];
  kernels.unpaired_sums(w.oa.x, w.oa.y, w.oa.weight, w.paired_a, w.oa.count, w.mbx, w.mby, sums_a);
  kernels.unpaired_sums(w.ob.x, w.ob.y, w.ob.weight, w.paired_b, w.ob.count, w.max, w.may, sums_b);
  U = sums_a[0] + sums_b[0];
  UN = sums_a[1] + sums_b[1];
  if (U < 10) U = 10;
  if (UN < 10) UN = 10;
}

// Scores one rotation candidate of a reference pair (a, b); the pairs are left in w
// (overlap positions pair_p, pair_q).
int ScoreRotation(const Kernels& kernels, const Side& A, const Side& B, int a, int b, int phi,
                  int psi, const PolarAroundA& polar_a, RotationWork& w) {
  w.pairs = 0;
  w.paired_a = w.paired_b = 0;
  if (!FindOverlaps(kernels, A, B, a, b, phi, psi, polar_a, w)) return 0;
  BuildPairingLists(kernels, w);
  w.pairs = kernels.pair_up(w.lists, w.paired_a, w.paired_b, w.pair_p, w.pair_q);
  if (w.pairs == 0) return 0;

  int64_t T, N, U, UN;
  PairedSums(kernels, A, B, w, T, N);
  const int penalty = CorePenalty(A, B, w);
  T -= penalty;
  N -= penalty;
  if (T < 0) T = 0;
  if (N < 0) N = 0;
  UnpairedSums(kernels, w, U, UN);

  int64_t S = T * T / (T + U) + (32 * T) / (U > 50 ? U : 50) + N * N / (N + UN) +
              (32 * N) / (UN > 50 ? UN : 50);
  if (w.pairs < 4) S = S * w.pairs / 4;
  return static_cast<int>(S / 4);
}

// The candidates of a comparison (up to three B partners of each A minutia, highest
// similarity first, lower B first, in A order) as far as the slots need them: the six
// highest so far, highest first and the earliest among equals.
struct CandidateList {
  Candidate top[kReferenceSlots];
  int top_count = 0;
};

// The similarity a candidate of a later A minutia must reach to matter: 80, or one more
// than the sixth highest similarity so far once there are six. The slots are the six best
// candidates, highest similarity first and the earliest among equals, so once six earlier
// candidates reach some similarity, a later one at that similarity or under it never
// takes a slot. Leaving it out changes no slot either: the candidates it would have pushed
// out of its minutia's three rank lower still, and the ones that stay are the same, in the
// same order. A similarity under 80 never anchors a slot and always ranks below one of 80
// or more.
int NeedOf(const CandidateList& list) {
  int need = kReferenceSimilarity;
  const int sixth = list.top[kReferenceSlots - 1].similarity;
  if (list.top_count == kReferenceSlots && sixth + 1 > need) need = sixth + 1;
  return need;
}

// The three best partners of A minutia a among the B minutiae of its type that can
// reach need, in index order. Returns how many were kept.
int BestPartners(const Kernels& kernels, const Side& A, const Side& B, const ReachIndex& reach,
                 int a, int need, Candidate (&kept)[kCandidatesPerMinutia]) {
  int kept_count = 0;
  const int type = A.type[a];
  uint64_t partners = (type == 0 || type == 1) ? reach.of_type[type] : 0;
  if (partners != 0) partners &= PossiblePartners(A.descriptors[a], B, reach, need);
  for (; partners != 0; partners &= partners - 1) {
    const int b = std::countr_zero(partners);
    const int s = kernels.local_similarity(A.descriptors[a], B.descriptors[b], need);
    if (s < need) continue;
    int pos = kept_count;
    while (pos > 0 && kept[pos - 1].similarity < s) --pos;
    if (pos >= kCandidatesPerMinutia) continue;
    const int last = kept_count < kCandidatesPerMinutia ? kept_count : kCandidatesPerMinutia - 1;
    for (int k = last; k > pos; --k) kept[k] = kept[k - 1];
    kept[pos] = Candidate{s, a, b};
    if (kept_count < kCandidatesPerMinutia) ++kept_count;
  }
  return kept_count;
}

// Puts a candidate into the six highest, after any equal ones: a later candidate that
// does not rise above the sixth would rank seventh or lower, and so would the sixth one
// that a higher candidate pushes out.
void AddToTop(CandidateList& list, const Candidate& c) {
  const int s = c.similarity;
  int pos = list.top_count < kReferenceSlots ? list.top_count : kReferenceSlots;
  if (pos == kReferenceSlots && list.top[kReferenceSlots - 1].similarity >= s) return;
  if (pos == kReferenceSlots) --pos;
  while (pos > 0 && list.top[pos - 1].similarity < s) {
    list.top[pos] = list.top[pos - 1];
    --pos;
  }
  list.top[pos] = c;
  if (list.top_count < kReferenceSlots) ++list.top_count;
}

void FindCandidates(const Kernels& kernels, const Side& A, const Side& B, const ReachIndex& reach,
                    CandidateList& list) {
  for (int a = 0; a < A.n; ++a) {
    Candidate kept[kCandidatesPerMinutia];
    const int kept_count = BestPartners(kernels, A, B, reach, a, NeedOf(list), kept);
    for (int k = 0; k < kept_count; ++k) AddToTop(list, kept[k]);
  }
}

// The reference slots: the six best candidates of 80 or more, highest first, the earliest
// among equals, which are the six highest kept (every candidate reaches 80).
void FillSlots(const CandidateList& list, Slot (&slots)[kReferenceSlots], MatchTrace* trace) {
  for (int k = 0; k < list.top_count; ++k) {
    const Candidate& c = list.top[k];
    if (c.similarity < kReferenceSimilarity) break;  // every later slot stays empty as well
    Slot& slot = slots[k];
    slot.filled = true;
    slot.a = c.a;
    slot.b = c.b;
    if (trace) {
      trace->filled_slots = k + 1;
      trace->slot_a[k] = slot.a;
      trace->slot_b[k] = slot.b;
      trace->slot_similarity[k] = c.similarity;
    }
  }
}

// Three rotations of each filled slot; each slot keeps its best score and the alignment
// the best candidate of all.
void ScoreSlots(const Kernels& kernels, const Side& A, const Side& B,
                Slot (&slots)[kReferenceSlots], Alignment& alignment, MatchTrace* trace) {
  SetAlignmentNone(alignment);
  int best_candidate = 0;
  RotationWork w;
  w.tables = &FixedTables();
  for (int i = 0; i < kPaddedMinutiae; ++i)
    w.direction_type[i] = A.direction[i] | (A.type[i] ? kTypeKey : 0) << 16;
  for (int i = 0; i < kPaddedMinutiae; ++i) w.b_type_key[i] = kTypeKey * B.type[i];
  for (int si = 0; si < kReferenceSlots; ++si) {
    Slot& slot = slots[si];
    if (!slot.filled) continue;
    const int theta0 = NormaliseRotation(A.direction[slot.a] - B.direction[slot.b]);
    PolarAroundA polar_a;
    kernels.polar_around(A.x, A.y, A.n, A.x[slot.a], A.y[slot.a], polar_a.direction,
                         polar_a.distance);
    for (int i = 0; i < kPaddedMinutiae; ++i)
      polar_a.direction_distance[i] = polar_a.direction[i] | polar_a.distance[i] << 16;
    for (int k = 0; k < kRotations; ++k) {
      const int phi = NormaliseRotation(theta0 - 2 + 2 * k);
      const int psi = NormaliseRotation(-phi);
      const int score = ScoreRotation(kernels, A, B, slot.a, slot.b, phi, psi, polar_a, w);
      if (trace) trace->candidate_scores[si][k] = score;
      if (score > slot.score) slot.score = score;
      if (score > best_candidate) {  // a score above 0 has pairs
        best_candidate = score;
        alignment.reference_a = static_cast<uint8_t>(slot.a);
        alignment.reference_b = static_cast<uint8_t>(slot.b);
        alignment.rotation = static_cast<int16_t>(psi);
        alignment.pair_count = static_cast<uint8_t>(w.pairs);
        for (int p = 0; p < w.pairs; ++p) {
          alignment.pairs_a[p] = static_cast<uint8_t>(w.oa.index[w.pair_p[p]]);
          alignment.pairs_b[p] = static_cast<uint8_t>(w.ob.index[w.pair_q[p]]);
        }
      }
    }
  }
}

// The score: the mean of the best slot and a second slot whose anchors sit at a
// consistent distance from it (0 when none of the next five does).
int CombineSlots(const Side& A, const Side& B, Slot (&slots)[kReferenceSlots], MatchTrace* trace) {
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
  return (best + second) / 2;
}

}  // namespace

int64_t RadiusSquared(const Alignment& alignment) {
  // Radii above 256 would need squared distances past the root tables; they are cut.
  int radius = alignment.radius;
  if (radius < 0) radius = 0;
  if (radius > 256) radius = 256;
  return int64_t{radius} * radius;
}

namespace {

int CompareSidesWith(const Kernels& kernels, const Side& A, const Side& B,
                     const ReachIndex& reach_b, Alignment& alignment, const MatchSink* sink) {
  // The trace is kept only for a sink that listens.
  MatchTrace kept;
  MatchTrace* trace = sink != nullptr && sink->stage != nullptr ? &kept : nullptr;
  const auto report = [&](const char* stage) {
    if (trace) sink->stage(sink->user, stage, *trace);
  };
  CandidateList candidates;
  FindCandidates(kernels, A, B, reach_b, candidates);
  Slot slots[kReferenceSlots];
  FillSlots(candidates, slots, trace);
  report("FillSlots");
  ScoreSlots(kernels, A, B, slots, alignment, trace);
  report("ScoreSlots");
  const int score = CombineSlots(A, B, slots, trace);
  report("CombineSlots");
  return score;
}

}  // namespace

int CompareSides(const Side& A, const Side& B, const ReachIndex& reach_b, Alignment& alignment,
                 const MatchSink* sink) {
  return CompareSidesWith(ChosenKernels(), A, B, reach_b, alignment, sink);
}

}  // namespace vantrel::match::detail

namespace vantrel::match {

using namespace detail;

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

Transform detail::CoreTransform(int cx, int cy, int tx, int ty, int angle) {
  return CoreTransformOf(FixedTables(), cx, cy, tx, ty, angle);
}

Transform MakeTransform(int cx, int cy, int tx, int ty, int angle) {
  Transform t = TransformOf(FixedTables(), cx, cy, tx, ty, DegreeIndex(angle));
  t.angle = angle;
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
  if (trace == nullptr) return MatchCore(record_a, record_b, alignment, static_cast<const MatchSink*>(nullptr));
  *trace = MatchTrace{};
  const MatchSink sink{trace, [](void* user, const char*, const MatchTrace& t) {
                         *static_cast<MatchTrace*>(user) = t;
                       }};
  return MatchCore(record_a, record_b, alignment, &sink);
}

int MatchCore(const uint8_t* record_a, const uint8_t* record_b, Alignment& alignment,
              const MatchSink* sink) {
  return MatchCoreWith(ChosenKernels(), record_a, record_b, alignment, sink);
}

int detail::MatchCoreWith(const Kernels& kernels, const uint8_t* record_a, const uint8_t* record_b,
                          Alignment& alignment, const MatchSink* sink) {
  // Cheap early exit before any allocation: a format other than 3, or no usable count.
  if (record_a == nullptr || record_b == nullptr || EmptyForCore(record_a) ||
      EmptyForCore(record_b)) {
    SetAlignmentNone(alignment);
    return 0;
  }
  // Not value-initialised: every field the core reads is written before it is read.
  const std::unique_ptr<WorkArea> work(new (std::nothrow) WorkArea);
  if (!work) return kMatchNoWorkArea;
  Side& A = work->a;
  Side& B = work->b;
  ReadSide(record_a, A, kernels);
  ReadSide(record_b, B, kernels);
  if (A.n == 0 || B.n == 0) {
    SetAlignmentNone(alignment);
    return 0;
  }
  const int64_t radius_squared = RadiusSquared(alignment);
  kernels.build_descriptors(A, radius_squared);
  kernels.build_descriptors(B, radius_squared);
  kernels.build_reach_index(B, work->reach_b);
  return CompareSidesWith(kernels, A, B, work->reach_b, alignment, sink);
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
