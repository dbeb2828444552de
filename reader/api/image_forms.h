// The two forms of a 152 x 200 image: reader form (as the reader delivers it and as
// extraction takes it) and display form (every pixel inverted, rows in reverse order:
// what callers, BMP files and dialogs see).
#pragma once

#include <cstdint>

namespace vantrel::api {

// Converts 30400 bytes between the forms; the conversion is its own inverse. from and to
// may be the same buffer.
void FlipImageForm(const uint8_t* from, uint8_t* to);

// Extraction of a reader-form image, guarded: 0 with the record (a 1024-byte area) and
// its length capped at 256, or -1 for any failure, an exception included.
int ExtractGuarded(const uint8_t* reader_image, uint8_t* record, int* length);

// Template synthesis of three sealed features, guarded: 0 with the template (256 bytes)
// and its length capped at 256, -1 for any failure, an exception included.
int SynthesiseGuarded(const uint8_t* f1, const uint8_t* f2, const uint8_t* f3, uint8_t* templ,
                      int* length);

}  // namespace vantrel::api
