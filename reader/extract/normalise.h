// First extraction stage: enlarge the reader image and centre it on the work canvas.
#pragma once

#include <cstdint>

namespace vantrel::extract {

// General 8-bit resampler: same-size copy, exact 2:1 halving, otherwise bilinear with
// percent weights. Does nothing when a pointer is null or a dimension is not positive.
void Resample(int src_width, int src_height, const uint8_t* src, int dst_width,
              int dst_height, uint8_t* dst);

// Resamples the 152 x 200 image to 209 x 275 and places it at column 23, row 6 of the
// 256 x 288 canvas, everything else 10. Returns kExtractOk: the image is resampled
// straight onto the canvas, with no buffer of its own that could fail.
int NormaliseToCanvas(const uint8_t* image, uint8_t* canvas);

}  // namespace vantrel::extract
