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

// ---- Decoded records and descriptors ----

// No member initialisers: the work area is not cleared as a whole, each descriptor in use
// is cleared (Descriptor{}) right before it is filled.
struct Neighbour {
  int relative_direction;
  int distance;
  int relative_angle;
  int type;
};

struct Descriptor {
  int count;
  Neighbour neighbours[kMaxNeighbours];
  // Bit r set when a neighbour u of the other descriptor at relative direction r could
  // meet one of these neighbours: u looks at relative directions r - 12 .. r + 10 (the
  // scan window, and the last neighbour taken when none is far enough round, which passes
  // only within 12), so each neighbour v here reaches r = rel(v) - 10 .. rel(v) + 12.
  // A neighbour at 0 ends every scan and reaches nothing.
  // Word 6 stays zero: the probe of a relative direction outside 0..359 points there.
  uint64_t reach[7];
  // Where each neighbour's own relative direction sits in the other descriptor's reach
  // words, worked out once here instead of for every pair of descriptors.
  uint8_t probe_word[kMaxNeighbours];
  uint64_t probe_bit[kMaxNeighbours];
  // False when a direction field above 359 left a relative direction below 0: the
  // reach test above does not cover that, and such descriptors take the full scan.
  bool plain;
};

// What the core reads of one record: the minutiae, the expanded block mask and the
// cores, decoded here rather than through DecodeRecord, which clears and fills every field
// of a DecodedRecord the matcher never looks at.
struct SideRecord {
  record::Minutia minutiae[kMaxMinutiae];
  uint8_t block_mask[extract::kBlockRows][extract::kBlockColumns];
  int32_t core1_x, core1_y, core2_x, core2_y;  // stored bytes x 2
};

struct Side {
  SideRecord record;
  int n = 0;  // minutiae taken: 0 for a format other than 3 or a count above 50
  int area_width = 256, area_height = 288;
  bool core1 = false;
  int core2_packed = 0;
  bool fallback_marker = false;
  Descriptor descriptors[kMaxMinutiae];
  // Bit b of reached_by[r / 4]: descriptor b has a neighbour that a neighbour at some
  // relative direction of r's 4-degree bucket could meet (every bucket for a descriptor
  // that is not plain). A superset, only used to pass over hopeless pairs. Filled for B.
  uint64_t reached_by[90];
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
  SideRecord& r = side.record;
  const int count = bytes[3];
  side.n = (bytes[0] == record::kFormat && count <= kMaxMinutiae) ? count : 0;
  std::memset(r.block_mask[0], 1, extract::kBlockColumns);
  std::memset(r.block_mask[extract::kBlockRows - 1], 1, extract::kBlockColumns);
  for (int i = 0; 2 + 2 * i < extract::kBlockRows; ++i) {  // rows 1 + 2i and 2 + 2i are alike
    uint8_t* line = r.block_mask[1 + 2 * i];
    const unsigned word = WordAt(bytes, 6 + 2 * i);
    line[0] = 1;
    for (int j = 0; j < 15; ++j)
      line[1 + 2 * j] = line[2 + 2 * j] = static_cast<uint8_t>((word >> (15 - j)) & 1);
    line[extract::kBlockColumns - 1] = 1;
    std::memcpy(r.block_mask[2 + 2 * i], line, extract::kBlockColumns);
  }
  r.core1_x = bytes[40] * 2;
  r.core1_y = bytes[41] * 2;
  r.core2_x = bytes[42] * 2;
  r.core2_y = bytes[43] * 2;
  for (int i = 0; i < side.n; ++i) {
    const int offset = 56 + 4 * i;
    const uint32_t word = (static_cast<uint32_t>(WordAt(bytes, offset)) << 16) |
                          WordAt(bytes, offset + 2);
    r.minutiae[i] = record::UnpackMinutia(word);
  }
  side.area_height = bytes[4] == 0 ? 288 : bytes[4] * 8;
  side.area_width = bytes[5] == 0 ? 256 : bytes[5] * 8;
  side.core1 = r.core1_x != 0 && r.core1_y != 0;
  side.core2_packed = Packed(r.core2_x, r.core2_y);
  side.fallback_marker = side.core2_packed == 2;
}

// Block mask at a pixel; anything off the 36 x 32 grid counts as background, so a
// hostile area size can never reach outside the mask.
int MaskAt(const SideRecord& r, int x, int y) {
  if (x < 0 || y < 0) return 1;
  const int row = y / 8, column = x / 8;
  if (row >= extract::kBlockRows || column >= extract::kBlockColumns) return 1;
  return r.block_mask[row][column];
}

void BuildDescriptors(Side& side, int64_t radius_squared) {
  const record::Minutia* m = side.record.minutiae;
  // Coordinates have 9 bits, so squared distances fit an int with room to spare.
  const int limit = static_cast<int>(radius_squared);
  // Coordinates side by side, so that the squared distances from one centre to all
  // minutiae come out of one straight loop the compiler can vectorise.
  int xs[kMaxMinutiae], ys[kMaxMinutiae];
  for (int j = 0; j < side.n; ++j) {
    xs[j] = m[j].x;
    ys[j] = m[j].y;
  }
  for (int i = 0; i < side.n; ++i) {
    Descriptor& d = side.descriptors[i];
    d = Descriptor{};
    int squares[kMaxMinutiae];
    const int xi = xs[i], yi = ys[i];
    for (int j = 0; j < side.n; ++j) {
      const int dx = xs[j] - xi, dy = ys[j] - yi;
      squares[j] = dx * dx + dy * dy;
    }
    for (int j = 0; j < side.n && d.count < kMaxNeighbours; ++j) {
      const int sq = squares[j];
      if (sq <= 400 || sq > limit) continue;
      const int dx = m[j].x - m[i].x, dy = m[j].y - m[i].y;
      Neighbour& nb = d.neighbours[d.count++];
      nb.relative_direction = extract::AngleOf(dy, dx) - m[i].direction;
      if (nb.relative_direction < 0) nb.relative_direction += 360;
      nb.distance = NearestRoot(sq);
      nb.relative_angle = m[j].direction - m[i].direction;
      if (nb.relative_angle < 0) nb.relative_angle += 360;
      nb.type = m[j].type;
    }
    // Stable insertion sort by relative direction: equal ones keep their found order.
    for (int k = 1; k < d.count; ++k) {
      const Neighbour v = d.neighbours[k];
      int p = k;
      while (p > 0 && d.neighbours[p - 1].relative_direction > v.relative_direction) {
        d.neighbours[p] = d.neighbours[p - 1];
        --p;
      }
      d.neighbours[p] = v;
    }
    d.plain = true;
    for (int k = 0; k < d.count; ++k) {
      const int v = d.neighbours[k].relative_direction;
      if (v < 0) d.plain = false;
      const bool in_range = v >= 0 && v < 360;
      d.probe_word[k] = static_cast<uint8_t>(in_range ? v >> 6 : 6);
      d.probe_bit[k] = in_range ? uint64_t{1} << (v & 63) : 0;
      if (v < 1 || v > 359) continue;
      const int lo = v - 10 < 0 ? 0 : v - 10, hi = v + 12 > 359 ? 359 : v + 12;
      for (int w = lo >> 6; w <= hi >> 6; ++w) {  // 23 bits touch at most two words
        const int from = w == (lo >> 6) ? (lo & 63) : 0, to = w == (hi >> 6) ? (hi & 63) : 63;
        const uint64_t upto = to == 63 ? ~uint64_t{0} : (uint64_t{1} << (to + 1)) - 1;
        d.reach[w] |= upto & ~((uint64_t{1} << from) - 1);
      }
    }
  }
}

// The reach words of all B descriptors turned round: for one A descriptor, the B
// descriptors that at least three of its neighbours can meet come out of a few mask
// operations per neighbour instead of a bit test per neighbour and B descriptor.
void BuildReachedBy(Side& side) {
  std::memset(side.reached_by, 0, sizeof(side.reached_by));
  side.of_type[0] = side.of_type[1] = 0;
  for (int b = 0; b < side.n; ++b) {
    const Descriptor& d = side.descriptors[b];
    const uint64_t bit = uint64_t{1} << b;
    const int type = side.record.minutiae[b].type;
    if (type == 0 || type == 1) side.of_type[type] |= bit;
    if (!d.plain) {
      for (uint64_t& r : side.reached_by) r |= bit;
      continue;
    }
    // The buckets of the same spans as the reach words: rel(v) - 10 .. rel(v) + 12 within
    // 0..359, none for a neighbour at 0.
    for (int k = 0; k < d.count; ++k) {
      const int v = d.neighbours[k].relative_direction;
      if (v < 1 || v > 359) continue;
      const int lo = v - 10 < 0 ? 0 : v - 10, hi = v + 12 > 359 ? 359 : v + 12;
      for (int r = lo >> 2; r <= hi >> 2; ++r) side.reached_by[r] |= bit;
    }
  }
}

// B descriptors against which A descriptor da can reach a similarity of 80: those that
// LocalSimilarity would not turn away on its count of reachable neighbours.
uint64_t PossiblePartners(const Descriptor& da, const Side& B) {
  constexpr int kNeeded = (kReferenceSimilarity + 29) / 30;  // neighbours of 30 each
  static_assert(kNeeded == 3);
  const uint64_t all = B.n >= 64 ? ~uint64_t{0} : (uint64_t{1} << B.n) - 1;
  if (da.count < kNeeded) return 0;
  if (!da.plain) return all;  // every neighbour counts as reachable
  uint64_t one = 0, two = 0, three = 0;  // reached by at least 1, 2, 3 neighbours
  for (int u = 0; u < da.count; ++u) {
    const uint64_t m = B.reached_by[da.neighbours[u].relative_direction >> 2];
    three |= two & m;
    two |= one & m;
    one |= m;
  }
  return three & all;
}

// Only similarities of 80 and more can anchor a reference slot, and they always rank
// above lower ones, so the sum is abandoned (reported as 0) as soon as the neighbours
// left cannot lift it to 80: the slots come out exactly as with the full sums.
int LocalSimilarity(const Descriptor& da, const Descriptor& db) {
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
  if (30 * hits < kReferenceSimilarity) return 0;
  int s = 0;
  int start = 0;  // relative directions ascend, so the start of the scan only moves on
  for (int ui = 0; ui < da.count; ++ui) {
    if (s + 30 * hits < kReferenceSimilarity) return 0;
    if (!hit[ui]) continue;
    // Moved on only for the neighbours that scan: the start found for a later u is the
    // same whether or not the skipped ones moved it first.
    const Neighbour& u = da.neighbours[ui];
    while (start < db.count && db.neighbours[start].relative_direction < u.relative_direction - 10)
      ++start;
    --hits;
    int contribution = 0;
    // No neighbour far enough round: the scan starts at the last one.
    const int first = start < db.count ? start : db.count - 1;
    // Entries beyond the count are zero, and a zero relative direction ends the scan.
    for (int vi = first; vi < db.count; ++vi) {
      const Neighbour& v = db.neighbours[vi];
      if (v.relative_direction == 0 || v.relative_direction > u.relative_direction + 10) break;
      const int sum = u.distance + v.distance;
      if (std::abs(u.distance - v.distance) > 7 + sum / 64) continue;
      if (std::abs(u.relative_direction - v.relative_direction) + (sum - 20) / 32 > 12) continue;
      if (CircularDifference(u.relative_angle, v.relative_angle) > 10) continue;
      contribution = u.type == v.type ? 30 : 20;
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

// One minutia of an overlap set: transformed into the other frame, and as it was.
struct OverlapEntry {
  int x, y, direction;     // transformed
  int ox, oy, odirection;  // untransformed
  int reliability, type, index;
};

struct CorePoints {
  int x1 = 0, y1 = 0;  // core 1 in the other frame, 0, 0 when absent
  int x2 = 0, y2 = 0;  // core 2 in the other frame, or its raw values
};

int OverlapSet(const Side& from, int skip, const Transform& t, const Side& into,
               OverlapEntry* out) {
  int count = 0;
  for (int i = 0; i < from.n; ++i) {
    if (i == skip) continue;
    const record::Minutia& m = from.record.minutiae[i];
    const Point p = ApplyTransform(t, m.x, m.y, m.direction);
    if (p.x <= 0 || p.x >= into.area_width || p.y <= 0 || p.y >= into.area_height) continue;
    if (MaskAt(into.record, p.x, p.y) != 0) continue;
    out[count++] = OverlapEntry{p.x, p.y, p.direction, m.x, m.y, m.direction,
                                m.reliability, m.type, i};
  }
  return count;
}

CorePoints CoresInFrame(const Side& side, const Transform& t) {
  CorePoints c;
  const SideRecord& r = side.record;
  if (side.core1) {
    const Point p = ApplyTransform(t, r.core1_x, r.core1_y, 0);
    c.x1 = p.x;
    c.y1 = p.y;
  }
  if (side.core2_packed > 2) {
    const Point p = ApplyTransform(t, r.core2_x, r.core2_y, 0);
    c.x2 = p.x;
    c.y2 = p.y;
  } else {
    c.x2 = r.core2_x;
    c.y2 = r.core2_y;
  }
  return c;
}

int64_t SquaredDistance(int x0, int y0, int x1, int y1) {
  const int64_t dx = x1 - x0, dy = y1 - y0;
  return dx * dx + dy * dy;
}

// A core of one record falling well inside the other's print, with no partner core there.
int LoneCorePenalty(const CorePoints& cores, const SideRecord& other_mask, int penalty) {
  int total = 0;
  const int xs[2] = {cores.x1, cores.x2}, ys[2] = {cores.y1, cores.y2};
  for (int k = 0; k < 2; ++k) {
    if (k == 1 && Packed(cores.x2, cores.y2) <= 2) break;
    // Floor division, so that a point just left of or above the canvas is never block 0.
    const int cx = xs[k] >= 0 ? xs[k] / 8 : -1, cy = ys[k] >= 0 ? ys[k] / 8 : -1;
    if (cx < 1 || cx > 30 || cy < 1 || cy > 34) continue;
    bool inside = true;
    for (int r = cy - 1; r <= cy + 1 && inside; ++r)
      for (int c = cx - 1; c <= cx + 1; ++c)
        if (other_mask.block_mask[r][c] != 0) {
          inside = false;
          break;
        }
    if (inside) total += penalty;
  }
  return total;
}

int UnpairedWeight(int reliability) {
  if (reliability <= 10) return reliability;
  return reliability + SquareOf(reliability - 10);
}

struct CandidateResult {
  int score = 0;
  int pair_count = 0;
  uint8_t pairs_a[kMaxPairs];
  uint8_t pairs_b[kMaxPairs];
};

// Scores one rotation candidate of a reference pair (a, b).
// Polar direction and distance of every A minutia around the reference a: the same
// for the three rotations of a slot, so they are worked out once per slot.
struct PolarAroundA {
  int direction[kMaxMinutiae];
  int distance[kMaxMinutiae];
};

void ScoreRotation(const Side& A, const Side& B, int a, int b, int phi, int psi,
                   const PolarAroundA& polar_a, CandidateResult& result) {
  result.score = 0;
  result.pair_count = 0;
  const record::Minutia& ma = A.record.minutiae[a];
  const record::Minutia& mb = B.record.minutiae[b];
  const Transform forward = MakeTransform(ma.x, ma.y, mb.x - ma.x, mb.y - ma.y, phi);
  const Transform backward = MakeTransform(mb.x, mb.y, ma.x - mb.x, ma.y - mb.y, psi);

  OverlapEntry oa[kMaxMinutiae], ob[kMaxMinutiae];
  const int na = OverlapSet(A, a, forward, B, oa);
  if (na < 3) return;
  const CorePoints cores_a = CoresInFrame(A, forward);
  const int nb = OverlapSet(B, b, backward, A, ob);
  if (nb < 3) return;
  const CorePoints cores_b = CoresInFrame(B, backward);
  if (!(A.n <= 4 * na || B.n <= 4 * nb)) return;

  // Polar lists around A's reference point, both in A's frame.
  int pa_dir[kMaxMinutiae], pa_dist[kMaxMinutiae], pb_dir[kMaxMinutiae], pb_dist[kMaxMinutiae];
  for (int i = 0; i < na; ++i) {
    pa_dir[i] = polar_a.direction[oa[i].index];
    pa_dist[i] = polar_a.distance[oa[i].index];
  }
  for (int i = 0; i < nb; ++i) {
    const int dx = ob[i].x - ma.x, dy = ob[i].y - ma.y;
    pb_dir[i] = extract::AngleOf(dy, dx);
    pb_dist[i] = NearestRoot(int64_t{dx} * dx + int64_t{dy} * dy);
  }

  // PB bucketed by polar direction, 8 degrees a bucket, so that each p looks only at the
  // buckets that hold entries within 12 degrees of its own (the 12-degree test still runs
  // on each). The choice is the same as a scan of the whole list: lowest cost, and among
  // equal costs the first in PB order, which the comparison of q below settles whatever
  // the visiting order. first[k] is the first sorted position of bucket k or later.
  constexpr int kBucketShift = 3, kBuckets = 360 >> kBucketShift;  // 45
  int first[kBuckets + 1] = {};
  for (int i = 0; i < nb; ++i) ++first[(pb_dir[i] >> kBucketShift) + 1];
  for (int k = 0; k < kBuckets; ++k) first[k + 1] += first[k];
  int order[kMaxMinutiae];
  {
    int next[kBuckets];
    std::memcpy(next, first, sizeof(next));
    for (int i = 0; i < nb; ++i) order[next[pb_dir[i] >> kBucketShift]++] = i;
  }
  // First sorted position of the bucket holding direction value (0..359), or nb for 360.
  const auto lower = [&](int value) { return first[value >> kBucketShift]; };
  // One past the last sorted position of the bucket holding direction value (0..359).
  const auto upper = [&](int value) { return first[(value >> kBucketShift) + 1]; };

  bool paired_a[kMaxMinutiae] = {}, paired_b[kMaxMinutiae] = {};
  int pair_p[kMaxMinutiae], pair_q[kMaxMinutiae];
  int pairs = 0;
  for (int p = 0; p < na; ++p) {
    int best_q = -1, best_cost = 0;
    const auto consider = [&](int from, int to) {  // sorted positions [from, to)
      for (int k = from; k < to; ++k) {
        const int q = order[k];
        const int dr = CircularDifference(pa_dir[p], pb_dir[q]);
        if (dr > 12) continue;
        const int sum = pa_dist[p] + pb_dist[q];
        const int dd = std::abs(pa_dist[p] - pb_dist[q]);
        const int dd_limit = 7 + sum / 64;
        if (dd > (dd_limit < 10 ? dd_limit : 10)) continue;
        const int dr_limit = 12 - sum / 32;
        if (dr > (dr_limit > 3 ? dr_limit : 3)) continue;
        const int dt = CircularDifference(oa[p].odirection, ob[q].direction);
        if (dt > 10) continue;
        const int cost = dd + dr + dt + (oa[p].type != ob[q].type ? 5 : 0);
        if (best_q < 0 || cost < best_cost || (cost == best_cost && q < best_q)) {
          best_q = q;
          best_cost = cost;
        }
      }
    };
    const int lo = pa_dir[p] - 12, hi = pa_dir[p] + 12;
    if (lo < 0) {
      consider(0, upper(hi));
      consider(lower(lo + 360), nb);
    } else if (hi > 359) {
      consider(lower(lo), nb);
      consider(0, upper(hi - 360));
    } else {
      consider(lower(lo), upper(hi));
    }
    // The best partner only: when it is taken, p stays unpaired.
    if (best_q < 0 || paired_b[best_q]) continue;
    paired_a[p] = true;
    paired_b[best_q] = true;
    pair_p[pairs] = p;
    pair_q[pairs] = best_q;
    ++pairs;
  }
  if (pairs == 0) return;

  int64_t T = 0, N = 0;
  for (int k = 0; k < pairs; ++k) {
    const OverlapEntry& p = oa[pair_p[k]];
    const OverlapEntry& q = ob[pair_q[k]];
    const int low = p.reliability < q.reliability ? p.reliability : q.reliability;
    const int w = 2 * low + 5 + (p.type == q.type ? 10 : 0);
    const int e = std::abs(p.ox - q.x) + std::abs(p.oy - q.y) +
                  CircularDifference(p.odirection, q.direction);
    T += w - e;
    const int64_t dp = SquaredDistance(p.ox, p.oy, ma.x, ma.y);
    const int64_t dq = SquaredDistance(q.x, q.y, ma.x, ma.y);
    if ((dp < dq ? dp : dq) / 4 <= 2025) N += w - e;
  }

  const bool has_a = cores_a.x1 != 0 || cores_a.y1 != 0;
  const bool has_b = cores_b.x1 != 0 || cores_b.y1 != 0;
  if (has_a && has_b) {
    int ax[2] = {A.record.core1_x, A.record.core2_x}, ay[2] = {A.record.core1_y, A.record.core2_y};
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
    const int penalty = FloorRoot(m) - tolerance;
    if (penalty > 0) {
      T -= penalty;
      N -= penalty;
    }
  } else if (has_a) {
    const int penalty = LoneCorePenalty(cores_a, B.record, A.fallback_marker ? 16 : 32);
    T -= penalty;
    N -= penalty;
  } else if (has_b) {
    const int penalty = LoneCorePenalty(cores_b, A.record, B.fallback_marker ? 16 : 32);
    T -= penalty;
    N -= penalty;
  }
  if (T < 0) T = 0;
  if (N < 0) N = 0;

  int64_t U = 0, UN = 0;
  for (int i = 0; i < na; ++i) {
    if (paired_a[i]) continue;
    const int u = UnpairedWeight(oa[i].reliability);
    U += u;
    if (SquaredDistance(oa[i].x, oa[i].y, mb.x, mb.y) <= 8100) UN += u;
  }
  for (int i = 0; i < nb; ++i) {
    if (paired_b[i]) continue;
    const int u = UnpairedWeight(ob[i].reliability);
    U += u;
    if (SquaredDistance(ob[i].x, ob[i].y, ma.x, ma.y) <= 8100) UN += u;
  }
  if (U < 10) U = 10;
  if (UN < 10) UN = 10;

  int64_t S = T * T / (T + U) + (32 * T) / (U > 50 ? U : 50) + N * N / (N + UN) +
              (32 * N) / (UN > 50 ? UN : 50);
  if (pairs < 4) S = S * pairs / 4;
  result.score = static_cast<int>(S / 4);
  result.pair_count = pairs;
  for (int k = 0; k < pairs; ++k) {
    result.pairs_a[k] = static_cast<uint8_t>(oa[pair_p[k]].index);
    result.pairs_b[k] = static_cast<uint8_t>(ob[pair_q[k]].index);
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

int NearestRoot(int64_t d) {
  if (d < 0) return 0;
  if (d >= kRootTableSize) return 256;
  const int r = kIntegerTables.floor_root[d];
  // sqrt(d) lies above r + 0.5 exactly when d > r^2 + r (d is an integer).
  return d > int64_t{r} * r + r ? r + 1 : r;
}

int FloorRoot(int64_t d) {
  if (d < 0) return 0;
  if (d >= kRootTableSize) return 255;
  return kIntegerTables.floor_root[d];
}

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
  for (int a = 0; a < A.n; ++a) {
    Candidate kept[kCandidatesPerMinutia];
    int kept_count = 0;
    // Only B minutiae of the same type that can reach 80, in index order: a similarity
    // under 80 never anchors a slot and always ranks below one of 80 or more, so leaving
    // those out changes neither the kept candidates that count nor their order.
    const int type = A.record.minutiae[a].type;
    uint64_t partners = (type == 0 || type == 1) ? B.of_type[type] : 0;
    partners &= PossiblePartners(A.descriptors[a], B);
    for (; partners != 0; partners &= partners - 1) {
      const int b = std::countr_zero(partners);
      const int s = LocalSimilarity(A.descriptors[a], B.descriptors[b]);
      if (s < kReferenceSimilarity) continue;
      int pos = kept_count;
      while (pos > 0 && kept[pos - 1].similarity < s) --pos;
      if (pos >= kCandidatesPerMinutia) continue;
      const int last = kept_count < kCandidatesPerMinutia ? kept_count : kCandidatesPerMinutia - 1;
      for (int k = last; k > pos; --k) kept[k] = kept[k - 1];
      kept[pos] = Candidate{s, a, b};
      if (kept_count < kCandidatesPerMinutia) ++kept_count;
    }
    for (int k = 0; k < kept_count; ++k) candidates[candidate_count++] = kept[k];
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
    const int theta0 =
        NormaliseRotation(A.record.minutiae[slot.a].direction - B.record.minutiae[slot.b].direction);
    PolarAroundA polar_a;
    const record::Minutia& ma = A.record.minutiae[slot.a];
    for (int i = 0; i < A.n; ++i) {
      const int dx = A.record.minutiae[i].x - ma.x, dy = A.record.minutiae[i].y - ma.y;
      polar_a.direction[i] = extract::AngleOf(dy, dx);
      polar_a.distance[i] = NearestRoot(int64_t{dx} * dx + int64_t{dy} * dy);
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
    const record::Minutia* am = A.record.minutiae;
    const record::Minutia* bm = B.record.minutiae;
    const Slot& u = slots[best_slot];
    const Slot& w = slots[v];
    const int da = FloorRoot(SquaredDistance(am[u.a].x, am[u.a].y, am[w.a].x, am[w.a].y));
    const int db = FloorRoot(SquaredDistance(bm[u.b].x, bm[u.b].y, bm[w.b].x, bm[w.b].y));
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
