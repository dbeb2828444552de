// Contrast normalisation and the block direction field.
#pragma once

#include <cstdint>

#include "reader/extract/extract_context.h"

namespace vantrel::extract {

// Gives the canvas mean 120 and a spread of about 34.6 grey levels measured over the
// foreground blocks; leaves it unchanged when their variance is below 100.
void NormaliseContrast(uint8_t* canvas, const ExtractionContext& context);

// Estimates, smooths and quantises the ridge direction of every foreground block into
// the codes 1..8 (0 for background); writes context.block_direction.
void BlockDirections(const uint8_t* canvas, ExtractionContext& context);

// --- Pieces of NormaliseContrast and BlockDirections, exposed for tests ---

// Contrast gain K for a foreground variance v >= 1: trunc((sqrt(1228800 / v) x 32 + 0.5)
// x 8), the division an integer one.
int64_t ContrastGain(int64_t variance);

// Unit-vector table: [i][j] = 127 i / sqrt(i i + j j) rounded, [0][j] = 0; i 0..64, j 0..65.
int8_t UnitVector(int i, int j);

// Sector bounds for row i (0..127): lower = ceil(i tan 22.5), upper = min(127,
// floor(i tan 67.5)).
struct SectorBounds {
  uint8_t lower, upper;
};
SectorBounds SectorBoundsFor(int i);

// Doubled-angle vector (u, w) of one block from its gradient sums A and C.
struct DoubledAngle {
  int u, w;
};
DoubledAngle DoubledAngleOf(int64_t a_sum, int64_t c_sum);

// Direction code 1..8 of a foreground block with smoothed vector (u, w).
int QuantiseDirection(int u, int w);

// Sums of gx^2, gy^2 and gx*gy (3 x 3 Sobel) over the 8 x 8 blocks of one block row;
// filled for the foreground blocks (mask 0) of columns 1..30, the rest left as they are.
struct GradientRow {
  int32_t gxx[kBlockColumns], gyy[kBlockColumns], gxy[kBlockColumns];
};
void RowGradientSums(const uint8_t* canvas, int block_row, const uint8_t* mask_row,
                     GradientRow& sums);
// The two forms behind it; the wide one (AVX2, two blocks to a register) may only run
// where cpu::RunsAvx2().
void RowGradientSumsBaseline(const uint8_t* canvas, int block_row, const uint8_t* mask_row,
                             GradientRow& sums);
void RowGradientSumsWide(const uint8_t* canvas, int block_row, const uint8_t* mask_row,
                         GradientRow& sums);

}  // namespace vantrel::extract
