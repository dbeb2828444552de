// The 8-bit grey BMP files of the image exports.
#pragma once

#include <cstdint>

namespace vantrel::api {

inline constexpr int kBmpHeaderBytes = 1078;  // file and information headers, palette
inline constexpr int kBmpFileBytes = kBmpHeaderBytes + 30400;

// Writes a reader-form 152 x 200 image as a BMP showing the display form upright.
// 0, or -1 when the file cannot be opened or written.
int WriteBmpFile(const char* path, const uint8_t* reader_image);

// Reads a BMP into a reader-form 30400-byte image: pixels from offset 1078, one byte
// each, rows of exactly width bytes, bottom row first. A file whose corners are bright
// holds the display form and is turned back. -1 when the file cannot be opened, its
// size does not fit 30400 bytes, or it ends before its pixels do.
int ReadBmpFile(const char* path, uint8_t* reader_image);

}  // namespace vantrel::api
