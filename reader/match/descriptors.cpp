// The neighbourhood descriptors of a side in their plain form: for each minutia the first
// eight others (in record order) more than 20 and at most the radius away, with their
// relative direction, distance, relative angle and type, sorted by relative direction.
// The build_descriptors kernel of each form is held to this one.
#include <bit>
#include <cstdlib>

#include "reader/record/angle.h"
#include "reader/match/matcher_internal.h"

namespace vantrel::match::detail {

namespace {

// The first eight neighbours of a minutia, in record order, unsorted.
struct FoundNeighbours {
  int count = 0;
  int rel[kMaxNeighbours], dist[kMaxNeighbours], ang[kMaxNeighbours], typ[kMaxNeighbours];
};

// Bit j: minutia j lies between 20 (exclusive) and the radius from minutia i; squares[j]
// its squared distance.
uint64_t NearMinutiae(const Side& side, int i, int limit, int* squares) {
  const int xi = side.x[i], yi = side.y[i];
  uint64_t candidates = 0;
  for (int j = 0; j < side.n; ++j) {
    const int dx = side.x[j] - xi, dy = side.y[j] - yi;
    const int sq = dx * dx + dy * dy;
    squares[j] = sq;
    if (sq > 400 && sq <= limit) candidates |= uint64_t{1} << j;
  }
  return candidates;
}

// Relative direction, distance, relative angle and type of the first eight candidates.
void TakeNeighbours(const Side& side, int i, uint64_t candidates, const int* squares,
                    FoundNeighbours& f) {
  const int xi = side.x[i], yi = side.y[i], di = side.direction[i];
  for (; candidates != 0 && f.count < kMaxNeighbours; candidates &= candidates - 1) {
    const int j = std::countr_zero(candidates);
    int r = record::AngleOf(side.y[j] - yi, side.x[j] - xi) - di;
    if (r < 0) r += 360;
    int a = side.direction[j] - di;
    if (a < 0) a += 360;
    f.rel[f.count] = r;
    f.dist[f.count] = RootOf(squares[j]);
    f.ang[f.count] = a;
    f.typ[f.count] = side.type[j];
    ++f.count;
  }
}

// The descriptor of the neighbours found, sorted by relative direction; the lanes past
// the count are zero.
void FillDescriptor(const FoundNeighbours& f, Descriptor& d) {
  const int count = f.count;
  // Stable sort by relative direction, equal ones in their found order: each goes to
  // the place given by the ones before it in that order.
  int place[kMaxNeighbours];
  for (int k = 0; k < count; ++k) {
    int p = 0;
    for (int m = 0; m < count; ++m) p += (f.rel[m] < f.rel[k]) | ((f.rel[m] == f.rel[k]) & (m < k));
    place[k] = p;
  }
  d.count = count;
  bool plain = true, normal = true;
  for (int k = count; k < kMaxNeighbours; ++k)
    d.relative_direction[k] = d.distance[k] = d.relative_angle[k] = d.type[k] = 0;
  for (int k = 0; k < count; ++k) {
    const int p = place[k];
    const int v = f.rel[k];
    d.relative_direction[p] = static_cast<int16_t>(v);
    d.distance[p] = static_cast<int16_t>(f.dist[k]);
    d.relative_angle[p] = static_cast<int16_t>(f.ang[k]);
    d.type[p] = static_cast<int16_t>(f.typ[k]);
    plain &= v >= 0;
    normal &= v >= 0 && f.ang[k] >= 0 && f.ang[k] < 360;
  }
  d.plain = plain;
  d.normal = normal;
}

}  // namespace

void BuildDescriptorsPlain(Side& side, int64_t radius_squared) {
  // Coordinates have 9 bits, so squared distances fit an int with room to spare.
  const int limit = static_cast<int>(radius_squared);
  for (int i = 0; i < side.n; ++i) {
    int squares[kMaxMinutiae];
    const uint64_t candidates = NearMinutiae(side, i, limit, squares);
    FoundNeighbours found;
    TakeNeighbours(side, i, candidates, squares, found);
    FillDescriptor(found, side.descriptors[i]);
  }
}

int LocalSimilarityPlain(const Descriptor& da, const Descriptor& db, int need) {
  (void)need;
  const int nb = db.count;
  if (nb == 0) return 0;
  int s = 0;
  for (int ui = 0; ui < da.count; ++ui) {
    const int u_rel = da.relative_direction[ui], u_dist = da.distance[ui];
    const int u_ang = da.relative_angle[ui], u_type = da.type[ui];
    // The first neighbour of db no more than 10 below u; the last one when none is.
    int first = 0;
    while (first < nb - 1 && db.relative_direction[first] < u_rel - 10) ++first;
    int contribution = 0;
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

}  // namespace vantrel::match::detail
