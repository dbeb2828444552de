// Template synthesis: three captures of one finger merged into one sealed template.
#pragma once

#include <cstdint>

namespace vantrel::match {

// Result codes of template synthesis.
inline constexpr int kSynthesisOk = 0;
inline constexpr int kSynthesisNoAgreement = -1;   // no capture agrees with both others,
                                                   // or the merge kept no minutia
inline constexpr int kSynthesisUnsealFailed = -2;  // an input does not unseal (F1, F2, F3)

inline constexpr int kHullRows = 36;
inline constexpr int kHullColumns = 32;
inline constexpr int kBaseAgreement = 50;  // score the base needs against both others

// What one synthesis did, for tests and for a person looking at a template.
struct SynthesisReport {
  int base = -1;  // 0, 1, 2 for F1, F2, F3; -1 when none was chosen
  int scores[6] = {};  // core scores in the order they were taken; unused ones 0
  int third_pairs = 0;      // pairs of the third alignment before augmentation
  int triples = 0;
  int merged = 0;           // merged list length before single-capture minutiae
  int singles = 0;          // single-capture minutiae appended (before the cut at 50)
  int listed = 0;           // merged list length that was centred
  int kept = 0;             // minutiae in the template
};

// F1, F2, F3 sealed (256 bytes each, never changed). On success writes the sealed
// template to out (256 bytes) and 256 to *length and returns 0; on failure writes
// nothing. report may be null.
int SynthesiseTemplate(const uint8_t* f1, const uint8_t* f2, const uint8_t* f3,
                       uint8_t* out, uint16_t* length, SynthesisReport* report = nullptr);

// Receives the report of one synthesis as it grows, stage by stage ("ChooseBase",
// "AlignTheOthers", "FindTriples", "MergeShared", "AddSingleCaptureMinutiae",
// "BuildTemplate"), for a person looking at a template. Passed in by the caller; stage
// may be left empty. A synthesis that stops early reports only the stages it ran.
struct SynthesisSink {
  void* user = nullptr;
  void (*stage)(void* user, const char* stage, const SynthesisReport& report) = nullptr;
};

// The same on unsealed records; writes the unsealed template (header 3, 1) to out.
int SynthesiseUnsealed(const uint8_t* r1, const uint8_t* r2, const uint8_t* r3,
                       uint8_t* out, const SynthesisSink* sink);
// The same, with the final report written to *report (when not null).
int SynthesiseUnsealed(const uint8_t* r1, const uint8_t* r2, const uint8_t* r3,
                       uint8_t* out, SynthesisReport* report = nullptr);

// Hull map of n points (pixels) over a grid of area_height/8 rows by area_width/8
// columns (at most 36 x 32), 1 outside, 0 inside; cells past the grid stay 1.
void BuildHullMap(const int* xs, const int* ys, int n, int area_width, int area_height,
                  uint8_t grid[kHullRows][kHullColumns]);

// Convex hull of n points (at most 50) already ordered by y, then x: Melkman's algorithm,
// keeping only vertices of strictly convex turns. Writes the closed chain to chain (room
// for kHullChainRoom), its first vertex repeated at the end, and returns its length: 0
// for no point, 1 for a single point, 3 (there and back) for points on one line.
struct HullPoint {
  int x, y;
};
inline constexpr int kHullChainRoom = 2 * 50 + 8;
int HullChain(const HullPoint* ordered, int n, HullPoint* chain);

// The two growing passes of the template's background map.
void GrowHullMap(uint8_t grid[kHullRows][kHullColumns]);

// One entry of the merged list, canvas pixels.
struct MergedEntry {
  int x = 0, y = 0, direction = 0, reliability = 0, type = 0;
};

// Centring: subtracts the mean position (truncating), keeps in order the entries with
// -119 <= x <= 119 and -135 <= y <= 135, moved by (+128, +144), at most 50. Returns how
// many were written to out (room for 50); 0 for an empty list, which is never divided by.
int CentreMerged(const MergedEntry* entries, int count, MergedEntry* out);

// Circular means of synthesis (whole degrees 0..359, truncating divisions).
int MeanOfTwo(int p, int q);
int MeanOfThree(int p, int q, int r);

}  // namespace vantrel::match
