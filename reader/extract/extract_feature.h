// The single way into feature extraction: a 152 x 200 reader image in, a sealed
// 256-byte feature record out.
#pragma once

#include <cstdint>

#include "reader/extract/extract_context.h"

namespace vantrel::extract {

// Runs the whole pipeline on image (kImageBytes, reader form) and writes the sealed record
// into record (at least 256 bytes). Returns kExtractOk and sets *out_length to 256;
// kExtractFailed for a null argument (out_length included: it is always written on
// success), a blank or too small finger, too few minutiae or a failed seal;
// kExtractNoMemory when a work buffer cannot be allocated. *out_length is written on
// success only.
int ExtractFeature(const uint8_t* image, uint8_t* record, uint16_t* out_length);

// The same, reporting every intermediate canvas and the context after each stage to
// sink (which may be null). The sink sees the record only through the result.
int ExtractFeature(const uint8_t* image, uint8_t* record, uint16_t* out_length,
                   const InspectionSink* sink);

}  // namespace vantrel::extract
