// Oriented filtering along the ridges, ridge period and ridge enhancement.
#pragma once

#include <cstdint>

#include "reader/extract/extract_context.h"

namespace vantrel::extract {

inline constexpr int kSmoothSide = 9;    // smoothing kernels are 9 x 9
inline constexpr int kEnhanceSide = 11;  // enhancement kernels are 11 x 11
inline constexpr int kPeriodClasses = 3;
inline constexpr int kDirectionCodes = 8;
inline constexpr int kSignatureLength = 32;  // positions across the ridge
inline constexpr int kSignatureSamples = 16; // samples along the ridge per position

// Kernels are indexed [row offset + R][column offset + R], y down; code 1..8.
struct SmoothingKernel {
  int16_t c[kSmoothSide][kSmoothSide];
};
struct EnhancementKernel {
  int16_t c[kEnhanceSide][kEnhanceSide];
};
const SmoothingKernel& SmoothingKernelFor(int code);
const EnhancementKernel& EnhancementKernelFor(int period_class, int code);

// Sample offset of the ridge signature: position p (0..31) across, sample s (0..15) along.
struct SampleOffset {
  int8_t dy, dx;
};
SampleOffset SignatureOffset(int code, int position, int sample);

// 9 x 9 Gabor smoothing chosen by block direction, src -> dst (dst must differ).
void SmoothAlongRidges(const uint8_t* src, uint8_t* dst, const ExtractionContext& context);

// Period class (0, 1, 2) of every block from the ridge spacing in 16 x 16 cells.
void MeasureRidgePeriod(const uint8_t* canvas, ExtractionContext& context);

// 11 x 11 Gabor enhancement chosen by block direction and period class, src -> dst.
void EnhanceRidges(const uint8_t* src, uint8_t* dst, const ExtractionContext& context);

// --- Pieces of MeasureRidgePeriod, exposed for tests ---

// Mean spacing of the peaks and valleys of a smoothed 32-value signature over the
// spacings within 4..15; 0 when there is none. The signature is smoothed here.
int SignaturePeriod(const int (&signature)[kSignatureLength]);

}  // namespace vantrel::extract
