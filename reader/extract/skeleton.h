// From the enhanced grey image to the one-pixel-wide ridge skeleton: binarisation,
// hole filling, thinning and spur removal. Canvases are kCanvasBytes, stride 256.
#pragma once

#include <cstdint>

#include "reader/extract/extract_context.h"

namespace vantrel::extract {

// Enhanced canvas (read) to binary canvas (written, 1 ridge / 0 valley or background),
// sampling across the ridge of each block's direction code. Only reads the context.
void Binarise(const uint8_t* enhanced, uint8_t* binary, const ExtractionContext& context);

// Closes small holes (contours of fewer than 40 pixels) inside ridges, in place.
void FillHoles(uint8_t* binary);

// Whether a thinning pass (0 or 1) deletes a ridge pixel whose neighbours form `pattern`:
// bit k set when the neighbour in direction index k is ridge.
bool ThinDeletes(int pass, int pattern);

// Thins the binary ridges to one pixel, in place; every pixel ends 1 (skeleton) or 0.
void Thin(uint8_t* binary);

// Erases spurs of up to 8 pixels and isolated segments of up to 8 pixels, in place.
void RemoveSpurs(uint8_t* skeleton);

}  // namespace vantrel::extract
