// Minutia detection on the skeleton, false-minutia removal, scoring and the unsealed
// feature record.
#pragma once

#include <cstdint>

#include "reader/extract/extract_context.h"

namespace vantrel::extract {

// Result codes of ExtractMinutiae.
inline constexpr int kMinutiaeOk = 0;
inline constexpr int kMinutiaeNullArgument = -1;
inline constexpr int kMinutiaeTooFewEndings = -2;  // 10 or fewer ending candidates
inline constexpr int kMinutiaeTooFewFinal = -3;    // 4 or fewer minutiae survive

// Candidate list capacities; a full list keeps overwriting its last slot.
inline constexpr int kMaxEndingCandidates = 300;
inline constexpr int kMaxBifurcationCandidates = 200;

// Direction indices: 0 right, 1 up-right, 2 up, 3 up-left, 4 left, 5 down-left, 6 down,
// 7 down-right (y grows downwards).
inline constexpr int kDirectionDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
inline constexpr int kDirectionDy[8] = {0, -1, -1, -1, 0, 1, 1, 1};

struct Neighbours {
  uint8_t code = 0;  // bit k set when the neighbour in direction k has bit 0 set
  int count = 0;
};
// Neighbours outside the canvas count as clear.
Neighbours NeighbourCode(const uint8_t* canvas, int x, int y);

// round(log2 code), halves up, 0 for 0; a single bit k gives k. Entries reach 8.
int DirectionIndex(uint8_t code);

struct PairResult {
  uint8_t code = 0;
  bool found = false;
};
// Clears the diagonal bit of every pair of ring-adjacent set bits, k = 0..7 in order.
PairResult ThinPairs(uint8_t code);

struct TraceResult {
  int x = 0, y = 0;   // end position
  int direction = 0;  // last direction; 10 when the trace stopped
  int result = 0;     // 0 limit reached, 1 ridge ended, 2 fork
  int steps = 0;
};
// Follows the skeleton from (x, y) in direction for at most limit moves.
TraceResult TraceRidge(const uint8_t* skeleton, int x, int y, int direction, int limit);

// TraceRidge to each of count increasing limits in one walk: out[j] is
// TraceRidge(skeleton, x, y, direction, limits[j]).
void TraceRidgeTo(const uint8_t* skeleton, int x, int y, int direction, const int* limits,
                  int count, TraceResult* out);

// Image quality G from the block direction field and the block mask.
int ImageQuality(const ExtractionContext& context);

// Finds, scores and selects minutiae on the skeleton and writes the unsealed record
// (256 bytes). The context is taken as a private copy. On failure only record bytes 2
// and 3 are written (both 0).
int ExtractMinutiae(const uint8_t* skeleton, uint8_t* record, ExtractionContext context);

}  // namespace vantrel::extract
