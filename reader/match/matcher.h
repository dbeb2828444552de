// The minutia matcher: neighbourhood descriptors, reference pairs, rigid alignments and
// the match score, with the record and nibble-text entries and the security levels.
#pragma once

#include <cstdint>

namespace vantrel::match {

// Result codes of the matching layer.
inline constexpr int kMatchBelowThreshold = -1;  // record match entry: score under the level
inline constexpr int kMatchNoWorkArea = -1;      // core: the work area could not be had
inline constexpr int kMatchUnsealFailed = -2;    // a record (or text) did not unseal

inline constexpr int kNeighbourhoodRadius = 90;  // what every caller passes
inline constexpr uint8_t kNoReference = 100;     // reference index meaning "none"
inline constexpr int kMaxPairs = 50;

// In and out of the core: radius in, the winning alignment out. Pair lists name the
// paired minutiae of A and of B by record index, in pairing order.
struct Alignment {
  int32_t radius = kNeighbourhoodRadius;
  uint8_t reference_a = kNoReference;
  uint8_t reference_b = kNoReference;
  int16_t rotation = 0;  // maps B onto A, -179..180
  uint8_t pair_count = 0;
  uint8_t pairs_a[kMaxPairs] = {};
  uint8_t pairs_b[kMaxPairs] = {};
};

// Resets every output field to "none" (radius kept).
void SetAlignmentNone(Alignment& alignment);

// Security level -> threshold; every level outside the table (3, negatives, 10+) is 50.
int ThresholdOfLevel(int level);

// What one core call weighed, for tests and for a person studying a comparison.
struct MatchTrace {
  int filled_slots = 0;
  int slot_a[6] = {}, slot_b[6] = {}, slot_similarity[6] = {};
  int candidate_scores[6][3] = {};  // [slot][rotation]
  int reference_scores[6] = {};
  int best_slot = -1, second_slot = -1;  // second_slot -1: no second score counted
};

// Receives what one core call weighed, stage by stage, for a person studying a
// comparison. Passed in by the caller (never a global); stage may be left empty. After
// "FillSlots" the trace holds the slots, after "ScoreSlots" the candidate scores, after
// "CombineSlots" the reference scores and the best and second slot.
struct MatchSink {
  void* user = nullptr;
  void (*stage)(void* user, const char* stage, const MatchTrace& trace) = nullptr;
};

// The core on two unsealed 256-byte records. Returns the score (0 or more) or
// kMatchNoWorkArea. Neither record is modified. Reentrant. sink may be null.
int MatchCore(const uint8_t* record_a, const uint8_t* record_b, Alignment& alignment,
              const MatchSink* sink);
// The same, with the whole trace of the call written to *trace (when not null).
int MatchCore(const uint8_t* record_a, const uint8_t* record_b, Alignment& alignment,
              MatchTrace* trace = nullptr);

// Sealed records in. -2 when A (tried first) or B does not unseal, -1 under the
// threshold of the level, else the score. The callers' buffers are never changed.
int MatchRecords(const uint8_t* sealed_a, const uint8_t* sealed_b, int level);

// Two nibble texts of at least 512 characters in; each character gives its low four
// bits. A text that ends early (NUL) is not read past its end; a null text gives -2.
int MatchNibbleTexts(const char* text_a, const char* text_b, int level);

// ---- Fixed tables and the transform, shared with template synthesis ----

double SineOfDegree(int degree);    // any integer degree, reduced modulo 360
double CosineOfDegree(int degree);
int SquareOf(int v);                // v in -256..256 from the table, else computed
int NearestRoot(int64_t d);         // nearest integer to sqrt(d) for d < 65536, else 256
int FloorRoot(int64_t d);           // floor(sqrt(d)) for d < 65536, else 255

// R(v): truncation toward zero for v >= 0, of v - 1 for v < 0. Written as one addition
// (v + 0.0 is v, also for -0.0, which truncates to 0 either way), so that the compiler
// picks the addend without a branch whose outcome follows the data.
inline int RoundProduct(double v) {
  const double adjust = v < 0 ? -1.0 : 0.0;
  return static_cast<int>(v + adjust);
}

// Brings an angle into -179..180 by one step of 360 at most.
int NormaliseRotation(int angle);
// Circular difference of two angles in 0..359: |p - q|, 360 - |p - q| above 180.
inline int CircularDifference(int p, int q) {
  const int d = p > q ? p - q : q - p;
  return d > 180 ? 360 - d : d;
}

struct Transform {
  int cx = 0, cy = 0;  // anchor
  int tx = 0, ty = 0;  // offset
  int angle = 0;       // degrees
  double c = 1.0, s = 0.0;
  // The core's overlap kernels may form the products in single precision, with cf and
  // sf, where single is set (see CoreTransform); elsewhere c and s are used.
  float cf = 1.0f, sf = 0.0f;
  bool single = false;
};
Transform MakeTransform(int cx, int cy, int tx, int ty, int angle);

struct Point {
  int x = 0, y = 0, direction = 0;
};
// Moves a point (and its direction, brought into 0..359 by one step) by the transform.
inline Point ApplyTransform(const Transform& t, int x, int y, int direction) {
  const double rx = static_cast<double>(x - t.cx), ry = static_cast<double>(y - t.cy);
  Point p;
  p.x = t.cx + t.tx + RoundProduct(rx * t.c) + RoundProduct(ry * t.s);
  p.y = t.cy + t.ty + RoundProduct(ry * t.c) - RoundProduct(rx * t.s);
  int d = direction - t.angle;
  if (d >= 360) d -= 360;
  if (d < 0) d += 360;
  p.direction = d;
  return p;
}

}  // namespace vantrel::match
