// Template synthesis: choose a base capture, align the other two onto it with the
// matcher, merge what the captures share, add what only one of them could have seen,
// centre the result and seal it.
#include "reader/match/synthesis.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "reader/record/record.h"
#include "reader/match/matcher.h"

namespace vantrel::match {

namespace {

constexpr int kMaxMinutiae = record::kMaxMinutiae;
constexpr int kMaxTriples = kMaxPairs + 1;
// Triples, three pair merges and every single-capture minutia, before the cut at 50.
constexpr int kMergeRoom = kMaxTriples + 3 * (kMaxPairs + 1) + 3 * kMaxMinutiae;

using CanvasEntry = MergedEntry;
static_assert(kHullChainRoom >= 2 * kMaxMinutiae + 8, "room for the hull deque");

struct Capture {
  record::DecodedRecord record;
  int n = 0;
  int area_width = 256, area_height = 288;
  CanvasEntry canvas[kMaxMinutiae];
  bool on_canvas[kMaxMinutiae] = {};
  uint8_t hull[kHullRows][kHullColumns];
};

void ReadCapture(const uint8_t* bytes, Capture& c) {
  record::DecodeRecord(bytes, c.record);
  c.n = (bytes[0] == record::kFormat && c.record.usable >= 0 && c.record.usable <= kMaxMinutiae)
            ? c.record.usable : 0;
  c.area_height = bytes[4] == 0 ? 288 : bytes[4] * 8;
  c.area_width = bytes[5] == 0 ? 256 : bytes[5] * 8;
  // The direction field has 9 bits; a value past 359 would otherwise reach the template.
  for (int i = 0; i < c.n; ++i) c.record.minutiae[i].direction %= 360;
}

int64_t Cross(int ax, int ay, int bx, int by, int cx, int cy) {
  return int64_t{bx - ax} * (cy - ay) - int64_t{cx - ax} * (by - ay);
}

void SetCell(uint8_t grid[kHullRows][kHullColumns], int rows, int columns, int row, int column) {
  if (row < 0 || row >= rows || column < 0 || column >= columns) return;
  grid[row][column] = 0;
}

void DrawEdge(uint8_t grid[kHullRows][kHullColumns], int rows, int columns, int px0, int py0,
              int px1, int py1) {
  const int x0 = px0 / 8, y0 = py0 / 8, x1 = px1 / 8, y1 = py1 / 8;
  const int dx = x1 - x0, dy = y1 - y0;
  const int length = FloorRoot(int64_t{dx} * dx + int64_t{dy} * dy);
  for (int i = 0; i < length; ++i)
    SetCell(grid, rows, columns, y0 + (i * dy) / length, x0 + (i * dx) / length);
}

// Fills each inner row between its first and last drawn cell, searched from the middle.
void FillHullRows(uint8_t grid[kHullRows][kHullColumns], int rows, int columns) {
  const int w = columns;
  for (int row = 1; row < rows - 1; ++row) {
    int i = w / 2 + 1;
    for (int c = 0; c <= w / 2 && c < w; ++c)
      if (grid[row][c] == 0) {
        i = c;
        break;
      }
    int j = w / 2 - 1;
    for (int c = w - 1; c >= std::max(0, w / 2 - 2); --c)
      if (grid[row][c] == 0) {
        j = c;
        break;
      }
    for (int c = std::max(i, 0); c <= j && c < w; ++c) grid[row][c] = 0;
  }
}

// A pair of a base-side list and an other-side list, as in an alignment record.
int FirstIndexOf(const uint8_t* list, int count, int value) {
  for (int k = 0; k < count; ++k)
    if (list[k] == value) return k;
  return -1;
}

bool Contains(const uint8_t* list, int count, int value) {
  return FirstIndexOf(list, count, value) >= 0;
}

// Drops whatever an alignment record says that does not name real minutiae, so that
// nothing below ever indexes past a capture.
void CheckAlignment(Alignment& r, int na, int nb) {
  if (r.reference_a >= na || r.reference_b >= nb) {
    r.reference_a = kNoReference;
    r.reference_b = kNoReference;
  }
  int count = r.pair_count > kMaxPairs ? kMaxPairs : r.pair_count;
  for (int k = 0; k < count; ++k)
    if (r.pairs_a[k] >= na || r.pairs_b[k] >= nb) {
      count = k;
      break;
    }
  r.pair_count = static_cast<uint8_t>(count);
}

bool HasReference(const Alignment& r) { return r.reference_a != kNoReference; }

// Pair augmentation: minutiae the matcher left unpaired that land on each other on the
// canvas.
void AugmentPairs(Alignment& r, const Capture& x, const Capture& y) {
  for (int i = 0; i < x.n; ++i) {
    if (!x.on_canvas[i] || i == r.reference_a || Contains(r.pairs_a, r.pair_count, i)) continue;
    for (int j = 0; j < y.n; ++j) {
      if (r.pair_count >= kMaxPairs) return;
      if (!y.on_canvas[j] || j == r.reference_b) continue;
      if (Contains(r.pairs_b, r.pair_count, j)) continue;  // re-read as the list grows
      const int dx = x.canvas[i].x - y.canvas[j].x, dy = x.canvas[i].y - y.canvas[j].y;
      const int d = NearestRoot(int64_t{dx} * dx + int64_t{dy} * dy);
      const int delta = CircularDifference(x.canvas[i].direction, y.canvas[j].direction);
      if (d <= 8 && d + delta <= 24) {
        r.pairs_a[r.pair_count] = static_cast<uint8_t>(i);
        r.pairs_b[r.pair_count] = static_cast<uint8_t>(j);
        ++r.pair_count;
      }
    }
  }
}

CanvasEntry MergeTwo(const CanvasEntry& p, const CanvasEntry& q) {
  CanvasEntry e;
  e.x = (p.x + q.x) / 2;
  e.y = (p.y + q.y) / 2;
  e.direction = MeanOfTwo(p.direction, q.direction);
  e.reliability = std::max(p.reliability, q.reliability);
  e.type = (p.type == 1 || q.type == 1) ? 1 : 0;
  return e;
}

CanvasEntry MergeThree(const CanvasEntry& p, const CanvasEntry& q, const CanvasEntry& r) {
  CanvasEntry e;
  e.x = (p.x + q.x + r.x) / 3;
  e.y = (p.y + q.y + r.y) / 3;
  e.direction = MeanOfThree(p.direction, q.direction, r.direction);
  e.reliability = std::max({p.reliability, q.reliability, r.reliability});
  if (e.reliability < 15) ++e.reliability;
  e.type = (p.type + q.type + r.type) >= 2 ? 1 : 0;
  return e;
}

// The link between two captures for the single-capture test: the canvas shift that
// takes X's reference onto Y's. Without a usable reference pair the canvas positions
// are compared as they stand (shift 0): both captures are already on the base's frame.
struct Link {
  int dx = 0, dy = 0;
};

Link MakeLink(const Capture& x, int rx, const Capture& y, int ry) {
  Link link;
  if (rx == kNoReference || ry == kNoReference || rx >= x.n || ry >= y.n) return link;
  if (!x.on_canvas[rx] || !y.on_canvas[ry]) return link;
  link.dx = y.canvas[ry].x - x.canvas[rx].x;
  link.dy = y.canvas[ry].y - x.canvas[rx].y;
  return link;
}

bool OutsideHull(const CanvasEntry& m, const Link& link, const Capture& y, int l, int h) {
  const int column = (link.dx + m.x - l) / 8;  // truncating, as the merge always did
  const int row = (link.dy + m.y - h) / 8;
  if (column < 0 || column > kHullColumns - 1 || row < 0 || row > kHullRows - 1) return true;
  return y.hull[row][column] == 1;
}

}  // namespace

int MeanOfTwo(int p, int q) {
  if (std::abs(p - q) <= 180) return (p + q) / 2;
  const int a = p > 180 ? p - 360 : p, b = q > 180 ? q - 360 : q;
  int m = (a + b) / 2;
  if (m < 0) m += 360;
  return m;
}

int MeanOfThree(int p, int q, int r) {
  if (std::abs(p - q) + std::abs(q - r) + std::abs(p - r) <= 180) return (p + q + r) / 3;
  const int a = p > 180 ? p - 360 : p, b = q > 180 ? q - 360 : q, c = r > 180 ? r - 360 : r;
  int m = (a + b + c) / 3;
  if (m < 0) m += 360;
  return m;
}

int HullChain(const HullPoint* ordered, int n, HullPoint* chain) {
  if (n <= 0) return 0;
  if (n > kMaxMinutiae) n = kMaxMinutiae;
  const HullPoint* pts = ordered;
  const auto cross = [](const HullPoint& a, const HullPoint& b, const HullPoint& c) {
    return Cross(a.x, a.y, b.x, b.y, c.x, c.y);
  };
  // Degenerate hulls: a single point; points on one line give the segment between the
  // two extreme points, there and back.
  int k1 = 1;
  while (k1 < n && pts[k1].x == pts[0].x && pts[k1].y == pts[0].y) ++k1;
  if (k1 >= n) {
    chain[0] = pts[0];
    return 1;
  }
  int k2 = k1 + 1;
  while (k2 < n && cross(pts[0], pts[k1], pts[k2]) == 0) ++k2;
  if (k2 >= n) {
    chain[0] = pts[0];
    chain[1] = pts[n - 1];
    chain[2] = pts[0];
    return 3;
  }
  // Melkman over the ordered points. Points sorted by y then x form a simple chain,
  // which is what the algorithm needs. The collinear run before the first turn
  // contributes only its far end, pts[k2 - 1]. The deque d[bottom..top] holds the hull
  // with its newest vertex at both ends; a vertex stays only on a strictly convex turn.
  HullPoint d[kHullChainRoom];
  int bottom = kMaxMinutiae + 2, top = bottom + 3;
  const HullPoint p0 = pts[0], p1 = pts[k2 - 1], p2 = pts[k2];
  d[bottom] = p2;
  d[top] = p2;
  const bool turns_left = cross(p0, p1, p2) > 0;
  d[bottom + 1] = turns_left ? p0 : p1;
  d[bottom + 2] = turns_left ? p1 : p0;
  const auto left = [&](const HullPoint& a, const HullPoint& b, const HullPoint& c) {
    return cross(a, b, c) > 0;
  };
  for (int i = k2 + 1; i < n; ++i) {
    const HullPoint p = pts[i];
    if (left(d[bottom], d[bottom + 1], p) && left(d[top - 1], d[top], p)) continue;
    // A point outside a hull of three or more vertices never sees every edge, so each
    // loop stops with at least two entries left; the guard only keeps the indices sane.
    while (top - bottom > 1 && !left(d[bottom], d[bottom + 1], p)) ++bottom;
    d[--bottom] = p;
    while (top - bottom > 1 && !left(d[top - 1], d[top], p)) --top;
    d[++top] = p;
  }
  const int m = top - bottom + 1;
  for (int i = 0; i < m; ++i) chain[i] = d[bottom + i];
  return m;
}

void BuildHullMap(const int* xs, const int* ys, int n, int area_width, int area_height,
                  uint8_t grid[kHullRows][kHullColumns]) {
  std::memset(grid, 1, kHullRows * kHullColumns);
  const int rows = std::clamp(area_height / 8, 0, kHullRows);
  const int columns = std::clamp(area_width / 8, 0, kHullColumns);
  if (n <= 0 || rows == 0 || columns == 0) return;
  if (n > kMaxMinutiae) n = kMaxMinutiae;

  HullPoint pts[kMaxMinutiae];
  for (int i = 0; i < n; ++i) pts[i] = HullPoint{xs[i], ys[i]};
  std::stable_sort(pts, pts + n, [](const HullPoint& a, const HullPoint& b) {
    return a.y != b.y ? a.y < b.y : a.x < b.x;
  });
  HullPoint chain[kHullChainRoom];
  const int m = HullChain(pts, n, chain);
  if (m == 1) SetCell(grid, rows, columns, chain[0].y / 8, chain[0].x / 8);
  for (int i = 0; i + 1 < m; ++i)
    DrawEdge(grid, rows, columns, chain[i].x, chain[i].y, chain[i + 1].x, chain[i + 1].y);
  FillHullRows(grid, rows, columns);
}

int CentreMerged(const MergedEntry* entries, int count, MergedEntry* out) {
  if (entries == nullptr || out == nullptr || count <= 0) return 0;
  int64_t sum_x = 0, sum_y = 0;
  for (int e = 0; e < count; ++e) {
    sum_x += entries[e].x;
    sum_y += entries[e].y;
  }
  const int mean_x = static_cast<int>(sum_x / count), mean_y = static_cast<int>(sum_y / count);
  int n = 0;
  for (int e = 0; e < count && n < kMaxMinutiae; ++e) {
    const int x = entries[e].x - mean_x, y = entries[e].y - mean_y;
    if (x < -119 || x > 119 || y < -135 || y > 135) continue;
    out[n] = entries[e];
    out[n].x = x + 128;
    out[n].y = y + 144;
    ++n;
  }
  return n;
}

void GrowHullMap(uint8_t grid[kHullRows][kHullColumns]) {
  for (int pass = 0; pass < 2; ++pass) {
    uint8_t before[kHullRows][kHullColumns];
    std::memcpy(before, grid, sizeof(before));
    for (int r = 1; r <= kHullRows - 2; ++r)
      for (int c = 1; c <= kHullColumns - 2; ++c) {
        if (before[r][c] != 1) continue;
        int ones = 0;
        for (int dr = -1; dr <= 1; ++dr)
          for (int dc = -1; dc <= 1; ++dc)
            if ((dr != 0 || dc != 0) && before[r + dr][c + dc] == 1) ++ones;
        if (ones < 8) grid[r][c] = 0;
      }
  }
}

namespace {

// What the stages of one synthesis hand on to each other.
struct Work {
  const uint8_t* inputs[3] = {};  // base, first other, second other (unsealed)
  Capture captures[3];            // the same order
  Alignment R1, R2, R3;           // base-first, base-second, first-second
  int l = 0, h = 0;               // canvas margin: the larger other area width and height
  int canvas_width = 0, canvas_height = 0;
  int third_pairs = 0;            // R3's pairs before augmentation
  int triples[kMaxTriples][3] = {};
  int triple_count = 0;
  bool in_triple[3][kMaxMinutiae] = {};
  CanvasEntry merged[kMergeRoom];
  int count = 0;
  // used[k][i]: minutia i of capture k went into a pair merge.
  bool used[3][kMaxMinutiae] = {};
  bool used_with_first[kMaxMinutiae] = {}, used_with_second[kMaxMinutiae] = {};
  bool used_in_third[kMaxMinutiae] = {};
};

// The base is the first capture that scores at least 50 against both others; R1 and R2
// then hold its alignments with the first and the second other capture. Returns the
// order (base, first other, second other), or null when no capture agrees with both.
const int* ChooseBase(const uint8_t* const (&inputs)[3], Alignment& R1, Alignment& R2,
                      SynthesisReport& rep) {
  static constexpr int kOrder[3][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1}};
  for (int option = 0; option < 3; ++option) {
    const int* o = kOrder[option];
    const int first = MatchCore(inputs[o[0]], inputs[o[1]], R1);
    const int second = MatchCore(inputs[o[0]], inputs[o[2]], R2);
    rep.scores[2 * option] = first;
    rep.scores[2 * option + 1] = second;
    if (first >= kBaseAgreement && second >= kBaseAgreement) return o;
  }
  return nullptr;
}

// Decodes the captures, checks the two base alignments against them and draws each
// capture's hull map in its own frame.
void ReadCaptures(Work& w) {
  for (int k = 0; k < 3; ++k) ReadCapture(w.inputs[k], w.captures[k]);
  CheckAlignment(w.R1, w.captures[0].n, w.captures[1].n);
  CheckAlignment(w.R2, w.captures[0].n, w.captures[2].n);
  for (Capture& c : w.captures) {
    int xs[kMaxMinutiae], ys[kMaxMinutiae];
    for (int i = 0; i < c.n; ++i) {
      xs[i] = c.record.minutiae[i].x;
      ys[i] = c.record.minutiae[i].y;
    }
    BuildHullMap(xs, ys, c.n, c.area_width, c.area_height, c.hull);
  }
}

// The merge canvas, one frame of margin on each side of the base; the other captures come
// onto it through their alignment with the base. A minutia that falls off the canvas
// keeps its index but takes part in nothing afterwards.
void PlaceOnCanvas(Work& w) {
  Capture& base = w.captures[0];
  w.l = std::max(w.captures[1].area_width, w.captures[2].area_width);
  w.h = std::max(w.captures[1].area_height, w.captures[2].area_height);
  w.canvas_width = base.area_width + 2 * w.l;
  w.canvas_height = base.area_height + 2 * w.h;
  const auto on_canvas = [&](const CanvasEntry& e) {
    return e.x >= 0 && e.x < w.canvas_width && e.y >= 0 && e.y < w.canvas_height;
  };
  for (int i = 0; i < base.n; ++i) {
    const record::Minutia& m = base.record.minutiae[i];
    base.canvas[i] = CanvasEntry{m.x + w.l, m.y + w.h, m.direction, m.reliability, m.type};
    base.on_canvas[i] = on_canvas(base.canvas[i]);
  }
  const Alignment* links[2] = {&w.R1, &w.R2};
  for (int k = 0; k < 2; ++k) {
    Capture& c = w.captures[k + 1];
    const Alignment& r = *links[k];
    if (!HasReference(r) || !base.on_canvas[r.reference_a]) continue;  // all off canvas
    const CanvasEntry& rb = base.canvas[r.reference_a];
    const record::Minutia& ro = c.record.minutiae[r.reference_b];
    const Transform t = MakeTransform(ro.x, ro.y, rb.x - ro.x, rb.y - ro.y,
                                      NormaliseRotation(ro.direction - rb.direction));
    for (int i = 0; i < c.n; ++i) {
      const record::Minutia& m = c.record.minutiae[i];
      const Point p = ApplyTransform(t, m.x, m.y, m.direction);
      c.canvas[i] = CanvasEntry{p.x, p.y, p.direction, m.reliability, m.type};
      c.on_canvas[i] = on_canvas(c.canvas[i]);
    }
  }
}

// The two other captures against each other, in their own frames, then pair augmentation
// of the three alignments (R3 only when it held a pair).
void AlignTheOthers(Work& w, SynthesisReport& rep) {
  MatchCore(w.inputs[1], w.inputs[2], w.R3);
  CheckAlignment(w.R3, w.captures[1].n, w.captures[2].n);
  w.third_pairs = w.R3.pair_count;
  rep.third_pairs = w.third_pairs;
  AugmentPairs(w.R1, w.captures[0], w.captures[1]);
  AugmentPairs(w.R2, w.captures[0], w.captures[2]);
  if (w.third_pairs > 0) AugmentPairs(w.R3, w.captures[1], w.captures[2]);
}

// A triple needs all three on the canvas; one with a member off it is not formed.
void AddTriple(Work& w, int i, int j, int k) {
  if (w.triple_count >= kMaxTriples) return;
  if (!w.captures[0].on_canvas[i] || !w.captures[1].on_canvas[j] || !w.captures[2].on_canvas[k])
    return;
  w.triples[w.triple_count][0] = i;
  w.triples[w.triple_count][1] = j;
  w.triples[w.triple_count][2] = k;
  ++w.triple_count;
}

// Triples (base, first other, second other): the base minutiae that both base alignments
// pair, when the other two captures share a pair at all.
void FindTriples(Work& w, SynthesisReport& rep) {
  const Alignment& R1 = w.R1;
  const Alignment& R2 = w.R2;
  if (w.third_pairs > 0 && HasReference(R1) && HasReference(R2)) {
    if (R1.reference_a == R2.reference_a) {
      AddTriple(w, R1.reference_a, R1.reference_b, R2.reference_b);
    } else {
      const int at = FirstIndexOf(R2.pairs_a, R2.pair_count, R1.reference_a);
      if (at >= 0) AddTriple(w, R1.reference_a, R1.reference_b, R2.pairs_b[at]);
    }
    for (int p = 0; p < R1.pair_count; ++p) {
      const int i = R1.pairs_a[p], j = R1.pairs_b[p];
      if (i == R2.reference_a) {
        AddTriple(w, i, j, R2.reference_b);
      } else {
        const int at = FirstIndexOf(R2.pairs_a, R2.pair_count, i);
        if (at >= 0) AddTriple(w, i, j, R2.pairs_b[at]);
      }
    }
  }
  rep.triples = w.triple_count;
  for (int t = 0; t < w.triple_count; ++t)
    for (int k = 0; k < 3; ++k) w.in_triple[k][w.triples[t][k]] = true;
}

// The reference pair and then every pair of alignment r between captures xi and yi,
// merged two by two, unless the guarded side's minutia (of xi for guard_side 0, else of
// yi) is in a triple. The xi minutiae merged are remembered.
void MergePairs(Work& w, const Alignment& r, int xi, int yi, int guard_side, bool* remembered) {
  const Capture& x = w.captures[xi];
  const Capture& y = w.captures[yi];
  const int guard_capture = guard_side == 0 ? xi : yi;
  const auto merge_one = [&](int i, int j) {
    const int guarded = guard_side == 0 ? i : j;
    if (w.in_triple[guard_capture][guarded]) return;
    if (!x.on_canvas[i] || !y.on_canvas[j]) return;
    w.merged[w.count++] = MergeTwo(x.canvas[i], y.canvas[j]);
    remembered[i] = true;
    w.used[xi][i] = true;
    w.used[yi][j] = true;
  };
  if (HasReference(r)) merge_one(r.reference_a, r.reference_b);
  for (int p = 0; p < r.pair_count; ++p) merge_one(r.pairs_a[p], r.pairs_b[p]);
}

// Duplicate removal: with no link between the two others, a base minutia matched in both
// alignments appears twice. A removed entry is marked by x + y = 0.
void RemoveDuplicates(Work& w) {
  CanvasEntry* merged = w.merged;
  for (int e = 0; e < w.count; ++e) {
    if (merged[e].x + merged[e].y == 0) continue;
    for (int f = 0; f < w.count; ++f) {
      if (f == e || merged[f].x + merged[f].y == 0) continue;
      const int dx = merged[e].x - merged[f].x, dy = merged[e].y - merged[f].y;
      const int d = NearestRoot(int64_t{dx} * dx + int64_t{dy} * dy);
      const int delta = CircularDifference(merged[e].direction, merged[f].direction);
      if (d + delta > 12) continue;
      merged[e].x = (merged[e].x + merged[f].x) / 2;
      merged[e].y = (merged[e].y + merged[f].y) / 2;
      merged[e].direction = MeanOfTwo(merged[e].direction, merged[f].direction);
      merged[e].reliability = std::max(merged[e].reliability, merged[f].reliability);
      merged[f].x = 0;
      merged[f].y = 0;
    }
  }
  int kept = 0;
  for (int e = 0; e < w.count; ++e)
    if (merged[e].x + merged[e].y != 0) merged[kept++] = merged[e];
  w.count = kept;
}

// The merged list of what the captures share: the triples, then the pairs of R1, R2, R3.
void MergeShared(Work& w, SynthesisReport& rep) {
  for (int t = 0; t < w.triple_count; ++t)
    w.merged[w.count++] = MergeThree(w.captures[0].canvas[w.triples[t][0]],
                                     w.captures[1].canvas[w.triples[t][1]],
                                     w.captures[2].canvas[w.triples[t][2]]);
  MergePairs(w, w.R1, 0, 1, 0, w.used_with_first);
  MergePairs(w, w.R2, 0, 2, 0, w.used_with_second);
  MergePairs(w, w.R3, 1, 2, 1, w.used_in_third);
  if (w.R3.pair_count == 0) RemoveDuplicates(w);
  if (w.count > kMaxMinutiae) w.count = kMaxMinutiae;  // shared minutiae alone fill the template
  rep.merged = w.count;
}

// Whether minutia i of capture x was merged with another capture's minutia.
bool MergedAlready(const Work& w, int x, int i) {
  // used[][] also holds the reference minutiae merged as reference pairs: a minutia
  // merged in any pair merge counts as merged and is not offered again as a single.
  if (w.in_triple[x][i] || w.used[x][i]) return true;
  if (x == 0) return w.used_with_first[i] || w.used_with_second[i];
  if (x == 1) return Contains(w.R1.pairs_b, w.R1.pair_count, i) || w.used_in_third[i];
  return Contains(w.R2.pairs_b, w.R2.pair_count, i) || Contains(w.R3.pairs_b, w.R3.pair_count, i);
}

// Minutiae only one capture saw, kept when they lie outside both other hulls; past 50
// entries the most reliable of them are kept.
void AddSingleCaptureMinutiae(Work& w, SynthesisReport& rep) {
  if (w.count < kMaxMinutiae) {
    const int singles_start = w.count;
    const Capture (&c)[3] = w.captures;
    Link link[3][3];
    link[0][1] = MakeLink(c[0], w.R1.reference_a, c[1], w.R1.reference_b);
    link[1][0] = MakeLink(c[1], w.R1.reference_b, c[0], w.R1.reference_a);
    link[0][2] = MakeLink(c[0], w.R2.reference_a, c[2], w.R2.reference_b);
    link[2][0] = MakeLink(c[2], w.R2.reference_b, c[0], w.R2.reference_a);
    link[1][2] = MakeLink(c[1], w.R3.reference_a, c[2], w.R3.reference_b);
    // With no third alignment (R3 without a reference pair) the links between the two
    // other captures have no shift: a minutia's canvas position is tested against the
    // other capture's hull as it stands.
    link[2][1] = MakeLink(c[2], w.R3.reference_b, c[1], w.R3.reference_a);
    for (int x = 0; x < 3; ++x)
      for (int i = 0; i < c[x].n; ++i) {
        if (!c[x].on_canvas[i] || MergedAlready(w, x, i)) continue;
        bool keep = true;
        for (int y = 0; y < 3 && keep; ++y)
          if (y != x && !OutsideHull(c[x].canvas[i], link[x][y], c[y], w.l, w.h)) keep = false;
        if (keep && w.count < kMergeRoom) w.merged[w.count++] = c[x].canvas[i];
      }
    rep.singles = w.count - singles_start;
    if (w.count > kMaxMinutiae) {
      // Exchange selection over the single-capture entries only, most reliable first.
      for (int p = singles_start; p < w.count; ++p)
        for (int q = p + 1; q < w.count; ++q)
          if (w.merged[q].reliability > w.merged[p].reliability) std::swap(w.merged[p], w.merged[q]);
      w.count = kMaxMinutiae;
    }
  }
  rep.listed = w.count;
}

// Centring, the background map around the kept minutiae grown by two cells, and the
// template record: no cores, area 256 x 288.
int BuildTemplate(const Work& w, const uint8_t* const (&inputs)[3], uint8_t* out,
                  SynthesisReport& rep) {
  // An empty merge has no centre: it is refused, never divided by.
  if (w.count == 0) return kSynthesisNoAgreement;
  MergedEntry centred[kMaxMinutiae];
  const int n = CentreMerged(w.merged, w.count, centred);
  record::RecordContent content;
  int xs[kMaxMinutiae], ys[kMaxMinutiae];
  for (int i = 0; i < n; ++i) {
    record::Minutia& m = content.minutiae[i];
    m.x = xs[i] = centred[i].x;
    m.y = ys[i] = centred[i].y;
    m.direction = centred[i].direction;
    m.reliability = centred[i].reliability;
    m.type = centred[i].type;
  }
  rep.kept = n;
  // Every minutia fell outside the window: a template without minutiae matches nothing,
  // so it is refused like an empty merge.
  if (n == 0) return kSynthesisNoAgreement;
  uint8_t grid[kHullRows][kHullColumns];
  BuildHullMap(xs, ys, n, 256, 288, grid);
  GrowHullMap(grid);
  content.count = n;
  content.quality = std::max({inputs[0][2], inputs[1][2], inputs[2][2]});
  std::memcpy(content.block_mask, grid, sizeof(grid));
  content.core1_x = content.core1_y = content.core2_x = content.core2_y = 0;
  content.core2_marker = false;
  content.area_height = content.area_width = 0;
  record::BuildRecord(content, out);
  return kSynthesisOk;
}

}  // namespace

int SynthesiseUnsealed(const uint8_t* r1, const uint8_t* r2, const uint8_t* r3, uint8_t* out,
                       SynthesisReport* report) {
  if (report == nullptr)
    return SynthesiseUnsealed(r1, r2, r3, out, static_cast<const SynthesisSink*>(nullptr));
  *report = SynthesisReport{};
  const SynthesisSink sink{report, [](void* user, const char*, const SynthesisReport& r) {
                             *static_cast<SynthesisReport*>(user) = r;
                           }};
  return SynthesiseUnsealed(r1, r2, r3, out, &sink);
}

int SynthesiseUnsealed(const uint8_t* r1, const uint8_t* r2, const uint8_t* r3, uint8_t* out,
                       const SynthesisSink* sink) {
  SynthesisReport rep;
  const auto report = [&](const char* stage) {
    if (sink != nullptr && sink->stage != nullptr) sink->stage(sink->user, stage, rep);
  };
  const uint8_t* inputs[3] = {r1, r2, r3};
  if (r1 == nullptr || r2 == nullptr || r3 == nullptr || out == nullptr)
    return kSynthesisNoAgreement;
  Alignment R1, R2;
  const int* order = ChooseBase(inputs, R1, R2, rep);
  if (order != nullptr) rep.base = order[0];
  report("ChooseBase");
  if (order == nullptr) return kSynthesisNoAgreement;

  const auto work = std::make_unique<Work>();  // kept off the caller's stack
  work->R1 = R1;
  work->R2 = R2;
  for (int k = 0; k < 3; ++k) work->inputs[k] = inputs[order[k]];
  ReadCaptures(*work);
  PlaceOnCanvas(*work);
  AlignTheOthers(*work, rep);
  report("AlignTheOthers");
  FindTriples(*work, rep);
  report("FindTriples");
  MergeShared(*work, rep);
  report("MergeShared");
  AddSingleCaptureMinutiae(*work, rep);
  report("AddSingleCaptureMinutiae");
  const int rc = BuildTemplate(*work, inputs, out, rep);
  report("BuildTemplate");
  return rc;
}

int SynthesiseTemplate(const uint8_t* f1, const uint8_t* f2, const uint8_t* f3, uint8_t* out,
                       uint16_t* length, SynthesisReport* report) {
  if (report) *report = SynthesisReport{};
  if (f1 == nullptr || f2 == nullptr || f3 == nullptr) return kSynthesisUnsealFailed;
  uint8_t r[3][record::kRecordBytes];
  const uint8_t* sealed[3] = {f1, f2, f3};
  for (int k = 0; k < 3; ++k)
    if (record::UnsealCopy(sealed[k], r[k]) != 0) return kSynthesisUnsealFailed;
  if (out == nullptr || length == nullptr) return kSynthesisNoAgreement;
  uint8_t result[record::kRecordBytes];
  const int rc = SynthesiseUnsealed(r[0], r[1], r[2], result, report);
  if (rc != kSynthesisOk) return rc;
  if (record::SealRecord(result) != 0) return kSynthesisNoAgreement;
  std::memcpy(out, result, sizeof(result));
  *length = record::kRecordBytes;
  return kSynthesisOk;
}

}  // namespace vantrel::match
