// Sizes of the private work areas the exports hand to the links, so that a link never
// writes into caller memory beyond what the caller was promised.
#pragma once

#include <cstdint>

#include "reader/links/link_ops.h"

namespace vantrel::api {

// The serial link's frame receiver holds 2112 characters; no link answer is longer.
inline constexpr int kReplyAreaBytes = 2112;
inline constexpr int kVersionBufferBytes = 2112;  // FPI_VERSION_BUFFER_BYTES
inline constexpr int kSearchBufferBytes = 1056;   // FPI_SEARCH_BUFFER_BYTES
// The areas and the caller's buffers take the longest answer of any link (the serial
// link's, bounded by its frame receiver); the search answer gets a zero behind it.
static_assert(kReplyAreaBytes >= links::kMaxVersionBytes);
static_assert(kReplyAreaBytes >= links::kMaxRecordTextChars);
static_assert(kReplyAreaBytes >= links::kMaxSearchBytes + 1);
static_assert(kVersionBufferBytes >= links::kMaxVersionBytes);
static_assert(kSearchBufferBytes >= links::kMaxSearchBytes + 1);
inline constexpr int kSequenceBytes = 32;
inline constexpr int kKeyBytes = 16;
inline constexpr int kRecordTextChars = 512;      // nibble text of a 256-byte record
inline constexpr int kTextBufferBytes = 513;      // FPI_TEXT_BUFFER_BYTES
inline constexpr int kBase64Chars = 344;          // base64 text of a 256-byte record
inline constexpr int kRecordBytes = 256;
inline constexpr int kImageWidth = 152;
inline constexpr int kImageHeight = 200;
inline constexpr int kImageBytes = kImageWidth * kImageHeight;
// Largest image any link delivers (the HID link's 256 x 360) and its reply frame.
inline constexpr int kImageAreaBytes = 93184;

// Insert-template request limits of the command frame: the whole data part (identifier,
// name length, name, template length, template bytes) and the template part alone.
inline constexpr int kInsertDataMaxBytes = 1015;
inline constexpr int kInsertTemplateMaxBytes = 512;

}  // namespace vantrel::api
