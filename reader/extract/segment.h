// Blank-image check, foreground segmentation and the pre-filter.
#pragma once

#include <cstdint>

#include "reader/extract/extract_context.h"

namespace vantrel::extract {

// Mean and variance of the 8 x 8 square whose top-left pixel is *block (row stride 256):
// mean = sum >> 6, variance = sum of squared deviations >> 6. The caller keeps the square
// inside the canvas.
void BlockStats(const uint8_t* block, int* mean, int* variance);

// True when the canvas looks like an empty sensor (bright and flat in the middle, with
// no more texture there than in the corners).
bool IsBlankImage(const uint8_t* canvas);

// Fills the block mask, the foreground centre and the foreground percentage.
void SegmentForeground(const uint8_t* canvas, ExtractionContext& context);

// Separable 5 x 5 smoothing with weights 1, 2, 4, 2, 1 from src to dst; the two outer
// rows and columns on each side are copied unchanged. src and dst must differ.
void PreFilter(const uint8_t* src, uint8_t* dst);

// One row of the pre-filter, s the source row and out the target row (columns 2..253),
// in its two forms; the wide one (AVX2) may only run where cpu::RunsAvx2().
void PreFilterRowBaseline(const uint8_t* s, uint8_t* out);
void PreFilterRowWide(const uint8_t* s, uint8_t* out);

// Foreground share, in percent of the 1020 inner blocks, below which the finger is
// too small to use.
inline constexpr int kMinForegroundPercent = 40;

// Blank check, segmentation of a, pre-filter a -> b, acceptance. Returns 1 when the
// image is accepted, 0 when it is rejected (blank, or foreground below 40 %).
int PrepareImage(const uint8_t* a, uint8_t* b, ExtractionContext& context);

}  // namespace vantrel::extract
