// The files the vantrel program reads and writes: fingerprint images (PGM, BMP, PNG)
// and feature records (nibble text, base64 text or the 256 raw bytes). Every file is
// outside input: sizes and headers are checked before a byte is used.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "vantrel/vantrel.h"

namespace vantrel::tools {

inline constexpr int kWidth = FPI_IMAGE_WIDTH;
inline constexpr int kHeight = FPI_IMAGE_HEIGHT;
inline constexpr int kPixels = FPI_IMAGE_BYTES;
inline constexpr int kRecordBytes = FPI_RECORD_BYTES;
inline constexpr int kNibbleChars = 2 * FPI_RECORD_BYTES;
inline constexpr int kBase64Chars = FPI_B64_BUFFER_BYTES;

using Image = std::vector<uint8_t>;  // kPixels bytes, rows from the top
using Record = std::array<uint8_t, kRecordBytes>;

enum class ImageFormat { kPgm, kBmp, kPng, kUnknown };
enum class RecordForm { kNibble, kBase64, kRaw };

// By file name extension (case ignored).
ImageFormat ImageFormatOf(const std::string& path);

// Display form <-> reader form: every pixel inverted and the row order reversed. The
// conversion is its own inverse.
void FlipForm(Image& image);

// A 152 x 200 grey image from a PGM (binary), BMP (8-bit palette or 24-bit, any row
// order) or PNG file. False with a message naming the file and what is wrong.
bool ReadImage(const std::string& path, Image& image, std::string& error);
bool WriteImage(const std::string& path, const Image& image, std::string& error);
// width x height pixels of 3 bytes (red, green, blue), as PNG; other extensions give PPM.
bool WriteRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb,
              std::string& error);

// The record forms, told apart by content: exactly 256 bytes are the raw record; else,
// trailing white space dropped, 512 characters '0'..'?' are nibble text and 344
// characters of the base64 alphabet are base64 text.
bool ParseRecord(const std::string& content, Record& record, RecordForm* form,
                 std::string& why);
bool ReadRecord(const std::string& path, Record& record, std::string& error);
bool WriteRecord(const std::string& path, const Record& record, RecordForm form,
                 std::string& error);
bool ParseRecordForm(const std::string& name, RecordForm* form);

std::string NibbleText(const Record& record);     // 512 characters
std::string Base64Text(const Record& record);     // 344 characters
bool NibbleToRecord(const char* text, Record& record);  // 512 characters '0'..'?'
bool Base64ToRecord(const std::string& text, Record& record);

bool ReadFile(const std::string& path, std::string& content, std::string& error);

}  // namespace vantrel::tools
