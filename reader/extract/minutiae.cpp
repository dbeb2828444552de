#include "reader/extract/minutiae.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "reader/extract/image_quality.h"
#include "reader/extract/image_quality_sse2.h"
#include "reader/extract/neighbour_planes.h"
#include "reader/record/angle.h"
#include "reader/record/record.h"

namespace vantrel::extract {

using record::AngleDifference;
using record::AngleOf;
using record::CircularMean;
using record::CircularMeanResult;
namespace {

constexpr int kStride = kCanvasWidth;

// Search window of detection: every stored position fits in 9 bits.
constexpr int kFirstRow = 8, kLastRow = 279, kFirstColumn = 8, kLastColumn = 247;

constexpr int kMinEndingCandidates = 11;
constexpr int kMinFinalMinutiae = 5;
constexpr int kDirectionTraceLimit = 12;

struct Point {
  int16_t x = 0, y = 0;
};

// A candidate with its direction; `source` is its index in its candidate list, where
// the traces of its ridges are kept.
struct Oriented {
  int16_t x = 0, y = 0, direction = 0;
  int16_t source = 0;
};

struct Entry {
  int16_t x = 0, y = 0, direction = 0;
  uint8_t reliability = 0;
  uint8_t type = 0;
  int16_t source = 0;
};

// Where a trace stopped, or stood at its limit.
struct Stop {
  int16_t x = 0, y = 0;
  int8_t result = 0, steps = 0;
};

// The traces the rules take along an ending's ridge and a bifurcation's three branches.
// Every trace of a candidate along one ridge starts where the direction trace starts,
// so they are all points of that one walk (TraceRidgeTo).
struct EndingTraces {
  bool forks_within_8 = false;   // the spur rule
  bool stops_within_12 = false;  // the trace check of the reliability
};
struct BranchTraces {
  Stop at15[3];  // the spread rule and the trace check
  Stop at30[3];  // the branch check
};

// All working lists of one call; lives on the caller's stack, nothing allocates.
struct Work {
  Point endings[kMaxEndingCandidates];
  Point bifurcations[kMaxBifurcationCandidates];
  int ending_count = 0;
  int bifurcation_count = 0;
  Oriented kept_endings[kMaxEndingCandidates];
  Oriented kept_bifurcations[kMaxBifurcationCandidates];
  int kept_ending_count = 0;
  int kept_bifurcation_count = 0;
  bool marked[kMaxEndingCandidates];
  Entry entries[kMaxEndingCandidates + kMaxBifurcationCandidates];
  int entry_count = 0;
  EndingTraces ending_traces[kMaxEndingCandidates];
  BranchTraces branch_traces[kMaxBifurcationCandidates];
};

constexpr std::array<uint8_t, 256> kDirectionTable = [] {
  std::array<uint8_t, 256> t{};
  for (int m = 1; m < 256; ++m) {
    int k = 0;
    while ((m >> (k + 1)) != 0) ++k;
    // log2 m rounds up past k + 0.5 exactly when m * m >= 2^(2k + 1).
    t[m] = static_cast<uint8_t>(m * m >= (1 << (2 * k + 1)) ? k + 1 : k);
  }
  return t;
}();

// The pair thinning of every code, worked out once by the rule itself (bits in order,
// each pair seeing the clearings before it).
constexpr PairResult PairsOf(unsigned c) {
  PairResult r;
  for (int k = 0; k < 8; ++k) {
    const int next = (k + 1) % 8;
    if ((c & (1u << k)) && (c & (1u << next))) {
      c &= ~(1u << (k | 1));
      r.found = true;
    }
  }
  r.code = static_cast<uint8_t>(c);
  return r;
}

constexpr std::array<PairResult, 256> kPairTable = [] {
  std::array<PairResult, 256> t{};
  for (unsigned c = 0; c < 256; ++c) t[c] = PairsOf(c);
  return t;
}();

inline bool Inside(int x, int y) {
  return x >= 0 && x < kCanvasWidth && y >= 0 && y < kCanvasHeight;
}

inline uint8_t Pixel(const uint8_t* canvas, int x, int y) {
  return Inside(x, y) ? canvas[y * kStride + x] : 0;
}

// The neighbour code of a 3 x 3 window given as three row triples, left to right: bits
// 0-2 the row above, 3-5 the pixel's own row (its centre bit 4 unused), 6-8 the row below.
constexpr std::array<uint8_t, 512> kWindowCode = [] {
  std::array<uint8_t, 512> t{};
  for (int i = 0; i < 512; ++i) {
    auto bit = [i](int k) { return (i >> k) & 1; };
    t[i] = static_cast<uint8_t>(bit(5) | bit(2) << 1 | bit(1) << 2 | bit(0) << 3 | bit(3) << 4 |
                                bit(6) << 5 | bit(7) << 6 | bit(8) << 7);
  }
  return t;
}();

// Bits 0-2: bit 0 of the bytes p[0], p[1], p[2] (p[3] is read too). Shifts rather than
// a gathering multiply: a ridge trace waits on this from step to step.
inline unsigned Triple(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return (w & 1) | ((w >> 7) & 2) | ((w >> 14) & 4);
}

// The 3 x 3 window of (x, y) as three row triples (kWindowCode), bit 0 of each byte;
// off the canvas counts as 0. Away from the edges the three rows are read four bytes at
// a time (the fourth byte, one column right of the window, lies on the canvas there).
// The window of the pixel at p, 1 <= x <= kCanvasWidth - 3, 1 <= y <= kCanvasHeight - 2.
inline unsigned InnerWindow(const uint8_t* p) {
  return Triple(p - 1 - kStride) | Triple(p - 1) << 3 | Triple(p - 1 + kStride) << 6;
}

inline unsigned NeighbourWindow(const uint8_t* canvas, int x, int y) {
  if (x >= 1 && x < kCanvasWidth - 2 && y >= 1 && y < kCanvasHeight - 1) {
    return InnerWindow(canvas + y * kStride + x);
  }
  unsigned window = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      if ((dx != 0 || dy != 0) && (Pixel(canvas, x + dx, y + dy) & 1)) {
        window |= 1u << (3 * (dy + 1) + dx + 1);
      }
    }
  }
  return window;
}

// Bit k set when the neighbour in direction index k has bit 0 set; off the canvas
// counts as 0.
inline unsigned NeighbourBits(const uint8_t* canvas, int x, int y) {
  return kWindowCode[NeighbourWindow(canvas, x, y)];
}

// The three neighbours behind direction d (d + 3 .. d + 5), as a mask to clear.
constexpr std::array<uint8_t, 8> kBehind = [] {
  std::array<uint8_t, 8> t{};
  for (int d = 0; d < 8; ++d) {
    for (int back = 3; back <= 5; ++back) t[d] = static_cast<uint8_t>(t[d] | 1u << ((d + back) % 8));
  }
  return t;
}();

inline int SquaredDistance(int x1, int y1, int x2, int y2) {
  return (x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2);
}

// Set bits of an 8-neighbour code (0..255), by halves, quarters and nibbles: the
// baseline instruction set has no population count instruction.
constexpr int BitCount(unsigned v) {
  v &= 0xFF;
  v = v - ((v >> 1) & 0x55);
  v = (v & 0x33) + ((v >> 2) & 0x33);
  return static_cast<int>((v + (v >> 4)) & 0x0F);
}

// One step of a trace, by the direction d it arrived in and the window of the pixel it
// arrived at: the three neighbours behind cleared, the corners of ring pairs thinned, an
// odd count goes on in the direction of the code, an even one stops with 1 (nothing
// ahead) or the count. Each step waits on the one before, so the table gives the canvas
// offset of the next move too, and the window is its index.
struct TraceStep {
  uint8_t next;    // direction to go on in; kStop when the trace stops here
  uint8_t result;  // when it stops
  int16_t move;    // canvas offset of a move in direction next
};
constexpr uint8_t kStop = 8;

// The canvas offset of a move in direction d (0 for the index 8 of several bits, which
// the step table never moves on in).
constexpr int16_t MoveOf(int d) {
  return d < 8 ? static_cast<int16_t>(kDirectionDy[d] * kStride + kDirectionDx[d]) : 0;
}

constexpr std::array<std::array<TraceStep, 512>, 8> kTraceSteps = [] {
  std::array<std::array<TraceStep, 512>, 8> t{};
  for (int d = 0; d < 8; ++d) {
    for (unsigned window = 0; window < 512; ++window) {
      const unsigned bits = kWindowCode[window];
      const uint8_t code = kPairTable[bits & ~unsigned{kBehind[d]}].code;
      const int count = BitCount(code);
      const uint8_t next = kDirectionTable[code];
      const auto stop = static_cast<uint8_t>(count == 0 ? 1 : count);
      t[d][window] = count % 2 == 0 ? TraceStep{kStop, stop, 0} : TraceStep{next, 0, MoveOf(next)};
    }
  }
  return t;
}();

// Is there a skeleton pixel on the digital line between P and Q (ends excluded)?
bool RidgeBetween(const uint8_t* skeleton, int px, int py, int qx, int qy) {
  const int dx = qx - px, dy = qy - py;
  // On a diagonal both axes are equally long; x is taken as the major one.
  const bool x_major = std::abs(dx) >= std::abs(dy);
  const int major = x_major ? std::abs(dx) : std::abs(dy);
  const int minor = x_major ? std::abs(dy) : std::abs(dx);
  if (major <= 6) return false;
  const int major_sign = (x_major ? dx : dy) < 0 ? -1 : 1;
  const int minor_sign = (x_major ? dy : dx) < 0 ? -1 : 1;
  int x = px, y = py;
  int error = -major;
  const int last_step = 2 + (major - 5);
  for (int step = 1; step <= last_step; ++step) {
    if (x_major) x += major_sign; else y += major_sign;
    const int before_x = x, before_y = y;
    bool minor_moved = false;
    error += 2 * minor;
    if (error >= 0) {
      if (x_major) y += minor_sign; else x += minor_sign;
      error -= 2 * major;
      minor_moved = true;
    }
    if (step <= 2) continue;
    if (Pixel(skeleton, x, y) == 1) return true;
    if (minor_moved && Pixel(skeleton, before_x, before_y) == 1) return true;
  }
  return false;
}

// Direction of a ridge leaving (x, y): four chained traces of 12, which are the points
// after 12, 24, 36 and 48 steps of one walk (a chained trace from where the one before
// stopped stays there); the far half and the near half averaged.
int RidgeAngle(int x, int y, const TraceResult (&at)[4]) {
  int angles[4];
  for (int i = 0; i < 4; ++i) angles[i] = AngleOf(at[i].y - y, at[i].x - x);
  const int far = CircularMean(angles[2], angles[3]).mean;
  const int near = CircularMean(angles[0], angles[1]).mean;
  return CircularMean(far, near).mean;
}

Stop StopOf(const TraceResult& t) {
  return {static_cast<int16_t>(t.x), static_cast<int16_t>(t.y), static_cast<int8_t>(t.result),
          static_cast<int8_t>(t.steps)};
}

// The set bits of a code in increasing order; returns how many (at most 8).
int Branches(uint8_t code, int* directions) {
  int n = 0;
  for (int k = 0; k < 8; ++k) {
    if (code & (1 << k)) directions[n++] = k;
  }
  return n;
}

int InitialDirection(const uint8_t* skeleton, int x, int y) {
  return DirectionIndex(NeighbourCode(skeleton, x, y).code);
}

// Raw candidates (endings and bifurcations) within squared distance below limit.
int RawWithin(const Work& w, int x, int y, int limit) {
  int n = 0;
  for (int i = 0; i < w.ending_count; ++i) {
    if (SquaredDistance(x, y, w.endings[i].x, w.endings[i].y) < limit) ++n;
  }
  for (int i = 0; i < w.bifurcation_count; ++i) {
    if (SquaredDistance(x, y, w.bifurcations[i].x, w.bifurcations[i].y) < limit) ++n;
  }
  return n;
}

// Drops entries whose position was set to (0, 0), keeping order.
int Compact(Oriented* list, int count) {
  int n = 0;
  for (int i = 0; i < count; ++i) {
    if (list[i].x == 0 && list[i].y == 0) continue;
    list[n++] = list[i];
  }
  return n;
}

void ApplyMarks(Oriented* list, int count, const bool* marked) {
  for (int i = 0; i < count; ++i) {
    if (marked[i]) list[i].x = list[i].y = 0;
  }
}

// Removes the marked entries; returns the count left.
int DropMarked(Oriented* list, int count, const bool* marked) {
  ApplyMarks(list, count, marked);
  return Compact(list, count);
}

// The density rule of both lists: a point with five or more raw candidates closer than
// 16 pixels goes. The new count.
int DropCrowded(Work& w, Oriented* list, int n) {
  for (int i = 0; i < n; ++i) w.marked[i] = RawWithin(w, list[i].x, list[i].y, 256) >= 5;
  return DropMarked(list, n, w.marked);
}

// Broken ridge: two endings facing each other across an empty gap.
void DropBrokenRidges(const uint8_t* skeleton, Work& w) {
  Oriented* e = w.kept_endings;
  int& n = w.kept_ending_count;
  if (n < 3) return;
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      if (e[i].x == 0 && e[i].y == 0) break;
      if (e[j].x == 0 && e[j].y == 0) continue;
      if (SquaredDistance(e[i].x, e[i].y, e[j].x, e[j].y) >= 400) continue;
      if (RidgeBetween(skeleton, e[i].x, e[i].y, e[j].x, e[j].y)) continue;
      const int t = AngleOf(e[j].y - e[i].y, e[j].x - e[i].x);
      if (AngleDifference(t, e[j].direction) <= 45 &&
          AngleDifference((t + 180) % 360, e[i].direction) <= 45) {
        e[i].x = e[i].y = 0;
        e[j].x = e[j].y = 0;
      }
    }
  }
  n = Compact(e, n);
}

// Crowding: an ending with another within 7 pixels goes, and one with more than two
// between 7 and 14 pixels goes with all of them.
void DropCrowdedEndings(Work& w) {
  Oriented* e = w.kept_endings;
  int& n = w.kept_ending_count;
  if (n < 2) return;
  for (int i = 0; i < n; ++i) w.marked[i] = false;
  int noted[kMaxEndingCandidates];
  for (int i = 0; i < n; ++i) {
    int noted_count = 0;
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      const int d2 = SquaredDistance(e[i].x, e[i].y, e[j].x, e[j].y);
      if (d2 >= 1 && d2 <= 49) {
        w.marked[i] = true;
        break;
      }
      if (d2 >= 50 && d2 <= 196) noted[noted_count++] = j;
    }
    if (noted_count > 2) {
      w.marked[i] = true;
      for (int k = 0; k < noted_count; ++k) w.marked[noted[k]] = true;
    }
  }
  n = DropMarked(e, n, w.marked);
}

// Parallel neighbours: two endings within 16 pixels, not opposed, with no ridge between.
void DropParallelEndings(const uint8_t* skeleton, Work& w) {
  Oriented* e = w.kept_endings;
  int& n = w.kept_ending_count;
  if (n < 3) return;
  for (int i = 0; i < n; ++i) w.marked[i] = false;
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      if (SquaredDistance(e[i].x, e[i].y, e[j].x, e[j].y) >= 256) continue;
      if (AngleDifference(e[i].direction, e[j].direction) >= 135) continue;
      if (RidgeBetween(skeleton, e[i].x, e[i].y, e[j].x, e[j].y)) continue;
      w.marked[i] = w.marked[j] = true;
    }
  }
  n = DropMarked(e, n, w.marked);
}

// Spur: the ridge forks within 8 pixels.
void DropSpurEndings(Work& w) {
  Oriented* e = w.kept_endings;
  int& n = w.kept_ending_count;
  if (n < 2) return;
  for (int i = 0; i < n; ++i) w.marked[i] = w.ending_traces[e[i].source].forks_within_8;
  n = DropMarked(e, n, w.marked);
}

void EndingRules(const uint8_t* skeleton, Work& w) {
  DropBrokenRidges(skeleton, w);
  DropCrowdedEndings(w);
  DropParallelEndings(skeleton, w);
  DropSpurEndings(w);
  // Density.
  int& n = w.kept_ending_count;
  if (n >= 2) n = DropCrowded(w, w.kept_endings, n);
}

int FindBifurcation(const Oriented* list, int count, int x, int y) {
  for (int i = 0; i < count; ++i) {
    if (list[i].x == x && list[i].y == y) return i;
  }
  return -1;
}

// Branch check: each of the three branches traced 30 pixels.
void CheckBranches(const uint8_t* skeleton, Work& w) {
  Oriented* b = w.kept_bifurcations;
  int& n = w.kept_bifurcation_count;
  if (n < 2) return;
  for (int i = 0; i < n; ++i) w.marked[i] = false;
  for (int i = 0; i < n; ++i) {
    int dirs[8];
    const int branches = Branches(NeighbourCode(skeleton, b[i].x, b[i].y).code, dirs);
    if (branches != 3) {  // not a clean fork any more; cannot be checked
      w.marked[i] = true;
      continue;
    }
    const Stop* t = w.branch_traces[b[i].source].at30;
    bool mark = false;
    int ended = 0, short_ended = 0;
    Point forks[3];
    int fork_count = 0;
    for (int k = 0; k < 3; ++k) {
      if (t[k].x == b[i].x && t[k].y == b[i].y) mark = true;
      if (t[k].result == 1) ++ended;
      if ((t[k].result == 1 || t[k].result == 2) && t[k].steps < 9) mark = true;
      if (t[k].result == 1 && t[k].steps < 12) ++short_ended;
      if (t[k].result >= 2 && t[k].steps < 13) {
        const int other = FindBifurcation(b, n, t[k].x, t[k].y);
        if (other < 0 || AngleDifference(b[other].direction, b[i].direction) > 60) mark = true;
      }
      if (t[k].result >= 2 && t[k].steps < 17) {
        forks[fork_count].x = static_cast<int16_t>(t[k].x);
        forks[fork_count].y = static_cast<int16_t>(t[k].y);
        ++fork_count;
      }
    }
    if (ended == 3 || short_ended >= 2) mark = true;
    if (fork_count >= 2 &&
        SquaredDistance(forks[0].x, forks[0].y, forks[1].x, forks[1].y) < 400) {
      mark = true;
      for (int f = 0; f < 2; ++f) {
        const int other = FindBifurcation(b, n, forks[f].x, forks[f].y);
        if (other >= 0) w.marked[other] = true;
      }
    }
    if (mark) w.marked[i] = true;
  }
  n = DropMarked(b, n, w.marked);
}

// Spread: the two closest branches of a true fork leave together.
void DropSpreadForks(const uint8_t* skeleton, Work& w) {
  Oriented* b = w.kept_bifurcations;
  int& n = w.kept_bifurcation_count;
  if (n < 2) return;
  for (int i = 0; i < n; ++i) {
    int dirs[8];
    const int branches = Branches(NeighbourCode(skeleton, b[i].x, b[i].y).code, dirs);
    w.marked[i] = false;
    if (branches != 3) continue;
    int angle[3];
    for (int k = 0; k < 3; ++k) {
      const Stop& t = w.branch_traces[b[i].source].at15[k];
      angle[k] = AngleOf(t.y - b[i].y, t.x - b[i].x);
    }
    int smallest = AngleDifference(angle[0], angle[1]);
    const int d12 = AngleDifference(angle[1], angle[2]);
    const int d20 = AngleDifference(angle[2], angle[0]);
    if (d12 < smallest) smallest = d12;
    if (d20 < smallest) smallest = d20;
    w.marked[i] = smallest > 70;
  }
  n = DropMarked(b, n, w.marked);
}

void BifurcationRules(const uint8_t* skeleton, Work& w) {
  CheckBranches(skeleton, w);
  // Density.
  int& n = w.kept_bifurcation_count;
  if (n >= 2) n = DropCrowded(w, w.kept_bifurcations, n);
  DropSpreadForks(skeleton, w);
}

// Mean consistency M: around each survivor, the share (in percent) of the raw
// candidates within 48 pixels that survived. Both counts are taken within the radius:
// counting all survivors instead gives shares of several hundred percent on real
// fingers, and the record's 8-bit quality then wraps round for nearly every image.
int MeanConsistency(const Work& w) {
  constexpr int kRadius2 = 2304;
  const int survivors = w.kept_ending_count + w.kept_bifurcation_count;
  if (survivors == 0) return 0;
  auto survivor = [&w](int s) -> const Oriented& {
    return s < w.kept_ending_count ? w.kept_endings[s] : w.kept_bifurcations[s - w.kept_ending_count];
  };
  // The numerator is the whole survivor count, not the survivors near m, so the mean
  // often exceeds 100 and the record keeps only the low 8 bits of the quality. Stored
  // records carry this value; it must not change.
  int64_t sum = 0;
  for (int s = 0; s < survivors; ++s) {
    const Oriented& m = survivor(s);
    const int j = RawWithin(w, m.x, m.y, kRadius2 + 1);
    if (j > 0) sum += static_cast<int64_t>(survivors) * 100 / j;
  }
  return static_cast<int>(sum / survivors);
}

int Reliability(const Work& w, int x, int y) {
  constexpr int kRadius2 = 484;
  int raw_near = 0, nearest2 = kRadius2;
  auto consider = [&](int px, int py) {
    const int d2 = SquaredDistance(x, y, px, py);
    if (d2 < 1 || d2 > kRadius2) return;
    ++raw_near;
    if (d2 < nearest2) nearest2 = d2;
  };
  for (int i = 0; i < w.ending_count; ++i) consider(w.endings[i].x, w.endings[i].y);
  for (int i = 0; i < w.bifurcation_count; ++i) consider(w.bifurcations[i].x, w.bifurcations[i].y);
  int survivors_near = 0;
  auto count_survivor = [&](const Oriented& m) {
    const int d2 = SquaredDistance(x, y, m.x, m.y);
    if (d2 >= 1 && d2 <= kRadius2) ++survivors_near;
  };
  for (int i = 0; i < w.kept_ending_count; ++i) count_survivor(w.kept_endings[i]);
  for (int i = 0; i < w.kept_bifurcation_count; ++i) count_survivor(w.kept_bifurcations[i]);

  const int spacing = static_cast<int>(std::sqrt(static_cast<double>(nearest2)) * 32) / 128;
  int r = spacing < 5 ? spacing : 5;
  const int lost = raw_near - survivors_near;
  if (6 - lost > 0) r += 6 - lost;
  if (5 - raw_near / 2 > 0) r += 5 - raw_near / 2;
  return r > 15 ? 15 : r;
}

}  // namespace

Neighbours NeighbourCode(const uint8_t* canvas, int x, int y) {
  const unsigned code = NeighbourBits(canvas, x, y);
  Neighbours n;
  n.code = static_cast<uint8_t>(code);
  n.count = BitCount(code);
  return n;
}

int DirectionIndex(uint8_t code) { return kDirectionTable[code]; }

PairResult ThinPairs(uint8_t code) { return kPairTable[code]; }

TraceResult TraceRidge(const uint8_t* skeleton, int x, int y, int direction, int limit) {
  TraceResult r;
  r.x = x;
  r.y = y;
  if (direction >= 8) {  // the previous trace already stopped here
    r.direction = direction;
    r.result = limit;
    r.steps = direction - 8;
    return r;
  }
  int d = direction < 0 ? 0 : direction;
  // The position as a canvas offset too, moved by the step table's offsets; it is read
  // only where (x, y) lies away from the edges.
  int at = y * kStride + x;
  int move = MoveOf(d);
  for (int step = 1; step <= limit; ++step) {
    const int nx = r.x + kDirectionDx[d], ny = r.y + kDirectionDy[d];
    if (!Inside(nx, ny)) {
      // Only a caller-chosen first direction can point off the canvas; the ridge
      // ends at the edge.
      r.direction = 10;
      r.result = 1;
      r.steps = step - 1;
      return r;
    }
    r.x = nx;
    r.y = ny;
    at += move;
    const unsigned window = nx >= 1 && nx < kCanvasWidth - 2 && ny >= 1 && ny < kCanvasHeight - 1
                                ? InnerWindow(skeleton + at)
                                : NeighbourWindow(skeleton, nx, ny);
    const TraceStep next = kTraceSteps[d][window];
    if (next.next == kStop) {
      r.direction = 10;
      r.result = next.result;
      r.steps = step;
      return r;
    }
    d = next.next;
    move = next.move;
  }
  r.direction = d;
  r.result = 0;
  r.steps = limit < 0 ? 0 : limit;
  return r;
}

void TraceRidgeTo(const uint8_t* skeleton, int x, int y, int direction, const int* limits,
                  int count, TraceResult* out) {
  // A trace that reached its limit goes on from where it stands, in the direction it
  // holds; one that stopped stays stopped. A direction of 8 or more does not move.
  int done = 0;
  for (int j = 0; j < count; ++j) {
    if (direction >= 8) {
      out[j] = TraceRidge(skeleton, x, y, direction, limits[j]);
      continue;
    }
    if (j > 0 && out[j - 1].result != 0) {
      out[j] = out[j - 1];
      continue;
    }
    const TraceResult from = j == 0 ? TraceResult{x, y, direction, 0, 0} : out[j - 1];
    out[j] = TraceRidge(skeleton, from.x, from.y, from.direction, limits[j] - done);
    out[j].steps += done;
    done = limits[j];
  }
}

int ImageQuality(const ExtractionContext& context) {
#if defined(VANTREL_SSE2)
  const int64_t s = sse2::DirectionDifferences(context);
#else
  const int64_t s = plain::DirectionDifferences(context);
#endif
  int foreground = 0;
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) foreground += context.block_mask[r][c] == 0;
  }
  const int64_t q = foreground == 0 ? 0 : 16 * s / foreground;
  return static_cast<int>(std::llabs(2 * q - 120));
}

namespace {

// How many candidates the scan found, before the border rejection.
struct RawCounts {
  int endings = 0, bifurcations = 0;
};

// Detection, in scan order. A full list keeps overwriting its last slot. A row's
// candidates are found for all its pixels at once from the neighbour counts: endings
// have 1, 5 or 7 neighbours, bifurcations 3 with no two of them side by side in the ring.
// Each list is filled in column order, as a pixel-by-pixel scan fills it.
RawCounts DetectCandidates(const uint8_t* skeleton, Work& w) {
  static_assert(kFirstColumn / 64 == 0 && kLastColumn / 64 == kRowWords - 1);
  constexpr uint64_t kColumns[kRowWords] = {~0ULL << kFirstColumn, ~0ULL, ~0ULL,
                                            ~0ULL >> (63 - kLastColumn % 64)};
  RawCounts raw;
  RowWindow rows;
  rows.Load(skeleton, kFirstRow);
  for (int y = kFirstRow; y <= kLastRow; ++y) {
    if (y > kFirstRow) rows.Next(skeleton, y);
    RowMask centre;
    MaskOfRow(skeleton + y * kStride, NonZeroOf64, centre);
    for (int i = 0; i < kRowWords; ++i) {
      const uint64_t pixels = centre[i] & kColumns[i];
      if (pixels == 0) continue;
      const NeighbourPlanes p = rows.Planes(i);
      const CountPlanes count = NeighbourCounts(p);
      uint64_t endings = pixels & count.ones & ~(count.twos & ~count.fours);
      uint64_t forks = pixels & count.ones & count.twos & ~count.fours & ~AdjacentNeighbours(p);
      for (; endings != 0; endings &= endings - 1) {
        const int x = i * 64 + __builtin_ctzll(endings);
        w.endings[raw.endings] = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
        if (++raw.endings == kMaxEndingCandidates) raw.endings = kMaxEndingCandidates - 1;
      }
      for (; forks != 0; forks &= forks - 1) {
        const int x = i * 64 + __builtin_ctzll(forks);
        w.bifurcations[raw.bifurcations] = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
        if (++raw.bifurcations == kMaxBifurcationCandidates) {
          raw.bifurcations = kMaxBifurcationCandidates - 1;
        }
      }
    }
  }
  return raw;
}

// Border rejection against the block mask (1 = background): an ending with a background
// block among its four neighbours goes, a bifurcation with two among its eight.
void RejectBorderCandidates(const ExtractionContext& context, const RawCounts& raw, Work& w) {
  const auto& mask = context.block_mask;
  for (int i = 0; i < raw.endings; ++i) {
    const int r = w.endings[i].y / kBlockSize, c = w.endings[i].x / kBlockSize;
    const int sum = mask[r - 1][c] + mask[r + 1][c] + mask[r][c - 1] + mask[r][c + 1];
    if (sum >= 1) continue;
    w.endings[w.ending_count++] = w.endings[i];
  }
  for (int i = 0; i < raw.bifurcations; ++i) {
    const int r = w.bifurcations[i].y / kBlockSize, c = w.bifurcations[i].x / kBlockSize;
    int sum = 0;
    for (int dr = -1; dr <= 1; ++dr) {
      for (int dc = -1; dc <= 1; ++dc) {
        if (dr != 0 || dc != 0) sum += mask[r + dr][c + dc];
      }
    }
    if (sum >= 2) continue;
    w.bifurcations[w.bifurcation_count++] = w.bifurcations[i];
  }
}

// Directions of the candidates: an ending along its ridge, a bifurcation the mean of its
// two closest branches.
void OrientCandidates(const uint8_t* skeleton, Work& w) {
  for (int i = 0; i < w.ending_count; ++i) {
    const Point p = w.endings[i];
    constexpr int kLimits[5] = {8, kDirectionTraceLimit, 2 * kDirectionTraceLimit,
                                3 * kDirectionTraceLimit, 4 * kDirectionTraceLimit};
    TraceResult at[5];
    TraceRidgeTo(skeleton, p.x, p.y, InitialDirection(skeleton, p.x, p.y), kLimits, 5, at);
    Oriented& o = w.kept_endings[i];
    o.x = p.x;
    o.y = p.y;
    o.direction = static_cast<int16_t>(RidgeAngle(p.x, p.y, {at[1], at[2], at[3], at[4]}));
    o.source = static_cast<int16_t>(i);
    w.ending_traces[i] = {at[0].result == 2, at[1].result != 0};
  }
  w.kept_ending_count = w.ending_count;
  for (int i = 0; i < w.bifurcation_count; ++i) {
    const Point p = w.bifurcations[i];
    int dirs[8];
    const int branches = Branches(NeighbourCode(skeleton, p.x, p.y).code, dirs);
    int angle[3] = {0, 0, 0};
    for (int k = 0; k < 3 && k < branches; ++k) {
      constexpr int kLimits[6] = {kDirectionTraceLimit,     15, 2 * kDirectionTraceLimit, 30,
                                  3 * kDirectionTraceLimit, 4 * kDirectionTraceLimit};
      TraceResult at[6];
      TraceRidgeTo(skeleton, p.x, p.y, dirs[k], kLimits, 6, at);
      angle[k] = RidgeAngle(p.x, p.y, {at[0], at[2], at[4], at[5]});
      w.branch_traces[i].at15[k] = StopOf(at[1]);
      w.branch_traces[i].at30[k] = StopOf(at[3]);
    }
    CircularMeanResult best = CircularMean(angle[0], angle[1]);
    const CircularMeanResult m12 = CircularMean(angle[1], angle[2]);
    const CircularMeanResult m20 = CircularMean(angle[2], angle[0]);
    if (m12.difference < best.difference) best = m12;
    if (m20.difference < best.difference) best = m20;
    Oriented& o = w.kept_bifurcations[i];
    o.x = p.x;
    o.y = p.y;
    o.direction = static_cast<int16_t>(best.mean);
    o.source = static_cast<int16_t>(i);
  }
  w.kept_bifurcation_count = w.bifurcation_count;
}

// The surviving minutiae with their reliabilities, endings first.
void ListEntries(Work& w) {
  for (int i = 0; i < w.kept_ending_count; ++i) {
    const Oriented& m = w.kept_endings[i];
    w.entries[w.entry_count++] = {m.x, m.y, m.direction,
                                  static_cast<uint8_t>(Reliability(w, m.x, m.y)),
                                  record::kRidgeEnding, m.source};
  }
  for (int i = 0; i < w.kept_bifurcation_count; ++i) {
    const Oriented& m = w.kept_bifurcations[i];
    w.entries[w.entry_count++] = {m.x, m.y, m.direction,
                                  static_cast<uint8_t>(Reliability(w, m.x, m.y)),
                                  record::kBifurcation, m.source};
  }
}

// Trace check: a minutia whose ridge does not run on loses a quarter of its reliability.
int TracedReliability(const uint8_t* skeleton, const Work& w, const Entry& e) {
  int r = e.reliability;
  if (e.type == record::kRidgeEnding) {
    if (w.ending_traces[e.source].stops_within_12) r = 3 * r / 4;
    return r;
  }
  int dirs[8];
  const int branches = Branches(NeighbourCode(skeleton, e.x, e.y).code, dirs);
  for (int b = 0; b < branches && b < 3; ++b) {
    if (w.branch_traces[e.source].at15[b].result == 1) return 3 * r / 4;
  }
  return r;
}

// The record's minutiae: most reliable first, earliest first on ties, at most 50.
void SelectMinutiae(const uint8_t* skeleton, const Work& w, record::RecordContent& content) {
  const int keep = w.entry_count < record::kMaxMinutiae ? w.entry_count : record::kMaxMinutiae;
  bool taken[kMaxEndingCandidates + kMaxBifurcationCandidates] = {};
  for (int k = 0; k < keep; ++k) {
    int best = -1;
    for (int i = 0; i < w.entry_count; ++i) {
      if (taken[i]) continue;
      if (best < 0 || w.entries[i].reliability > w.entries[best].reliability) best = i;
    }
    taken[best] = true;
    const Entry& e = w.entries[best];
    record::Minutia& m = content.minutiae[k];
    m.x = e.x;
    m.y = e.y;
    m.direction = e.direction;
    m.reliability = TracedReliability(skeleton, w, e);
    m.type = e.type;
  }
  content.count = keep;
}

// Quality, background map and cores of the record.
void DescribeRecord(const ExtractionContext& context, int quality, int consistency,
                    record::RecordContent& content) {
  content.quality = static_cast<uint8_t>(((quality + consistency) / 2) & 0xFF);
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) content.block_mask[r][c] = context.block_mask[r][c];
  }
  content.core1_x = context.core1_x;
  content.core1_y = context.core1_y;
  content.core2_x = context.core2_x;
  content.core2_y = context.core2_y;
  content.core2_marker = context.delta_x == 0 && context.delta_y == 2;
  content.area_height = 0;
  content.area_width = 0;
}

}  // namespace

int ExtractMinutiae(const uint8_t* skeleton, uint8_t* record, ExtractionContext context) {
  if (skeleton == nullptr || record == nullptr) return kMinutiaeNullArgument;
  auto fail = [record](int code) {
    record[2] = 0;
    record[3] = 0;
    return code;
  };
  Work w;
  const RawCounts raw = DetectCandidates(skeleton, w);
  if (raw.endings < kMinEndingCandidates) return fail(kMinutiaeTooFewEndings);
  RejectBorderCandidates(context, raw, w);
  OrientCandidates(skeleton, w);
  EndingRules(skeleton, w);
  BifurcationRules(skeleton, w);
  const int consistency = MeanConsistency(w);
  const int quality = ImageQuality(context);
  ListEntries(w);
  if (w.entry_count < kMinFinalMinutiae) return fail(kMinutiaeTooFewFinal);
  record::RecordContent content;
  SelectMinutiae(skeleton, w, content);
  DescribeRecord(context, quality, consistency, content);
  record::BuildRecord(content, record);
  return kMinutiaeOk;
}

}  // namespace vantrel::extract
