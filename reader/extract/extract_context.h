// The work canvas and the extraction context shared by every extraction stage.
#pragma once

#include <cstdint>

#include "reader/record/record.h"

namespace vantrel::extract {

// Source image as the reader delivers it: 152 columns x 200 rows, row-major.
inline constexpr int kImageWidth = 152;
inline constexpr int kImageHeight = 200;
inline constexpr int kImageBytes = kImageWidth * kImageHeight;  // 30 400

// Resampled image placed on the canvas.
inline constexpr int kResampledWidth = 209;
inline constexpr int kResampledHeight = 275;
inline constexpr int kPlaceColumn = 23;
inline constexpr int kPlaceRow = 6;

// Work canvas: 256 x 288, row stride 256. Canvases are plain byte buffers of
// kCanvasBytes; stages take them as uint8_t* (or const uint8_t*).
inline constexpr int kCanvasWidth = 256;
inline constexpr int kCanvasHeight = 288;
inline constexpr int kCanvasBytes = kCanvasWidth * kCanvasHeight;  // 73 728

// 8 x 8 blocks: 32 across, 36 down. Block (r, c) covers rows 8r..8r+7, columns 8c..8c+7.
inline constexpr int kBlockSize = 8;
inline constexpr int kBlockColumns = record::kBlockColumns;
inline constexpr int kBlockRows = record::kBlockRows;
inline constexpr int kBlocks = kBlockColumns * kBlockRows;  // 1152

// One record per extraction call, created zeroed by ExtractFeature and passed to every
// stage. Block fields are indexed [block row][block column].
struct ExtractionContext {
  uint8_t block_mask[kBlockRows][kBlockColumns];        // 1 background, 0 foreground
  uint8_t block_direction[kBlockRows][kBlockColumns];   // direction code, 0 for background
  uint8_t ridge_period[kBlockRows][kBlockColumns];      // 0: <= 6 px, 1: 7..9, 2: >= 10
  int32_t foreground_centre_x;   // mean block column of foreground blocks x 8 + 4
  int32_t foreground_centre_y;   // mean block row of foreground blocks x 8 + 4
  int32_t foreground_percent;    // foreground blocks x 100 / 1020
  int32_t core1_x, core1_y, core2_x, core2_y;  // singular points in canvas pixels, 0 if none
  int32_t delta_x, delta_y;      // first delta point, or the marker 0, 2
};

// Receives intermediate results of one extraction for a person to look at. Passed in by
// the caller (never a global); every member may be left empty. Stage names are the
// function names ("NormaliseToCanvas", "PreFilter", "NormaliseContrast",
// "SmoothAlongRidges", "EnhanceRidges", "Binarise", "Thin", "RemoveSpurs", ...).
struct InspectionSink {
  void* user = nullptr;
  // A canvas (kCanvasBytes, stride 256) as it stands after the named stage.
  void (*canvas)(void* user, const char* stage, const uint8_t* canvas) = nullptr;
  // The context as it stands after the named stage (block fields, cores).
  void (*context)(void* user, const char* stage, const ExtractionContext& context) = nullptr;
};

// Results of ExtractFeature and of the stages that can fail.
inline constexpr int kExtractOk = 0;
inline constexpr int kExtractFailed = -1;    // null input, rejected image, too few minutiae
inline constexpr int kExtractNoMemory = -2;  // a work buffer could not be allocated

}  // namespace vantrel::extract
