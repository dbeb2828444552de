// Match, extract and enrol exports: work on the caller's data, touch no device. Thin
// frames around the algorithm entries: check and convert the inputs, guard each
// algorithm call, convert the results.
#include <cstring>

#include "reader/api/export_buffers.h"
#include "reader/api/image_forms.h"
#include "reader/record/record_text.h"
#include "reader/api/result_codes.h"
#include "reader/match/matcher.h"
#include "reader/match/quality.h"
#include "vantrel/vantrel.h"

namespace api = vantrel::api;

namespace {

// Equal as zero-terminated strings. The comparison stops one character after a full text
// (512 nibble or 344 base64 characters), so an unterminated text of full length is not
// read beyond the byte its terminator would take.
bool SameText(const char* a, const char* b, int text_chars) {
  return std::strncmp(a, b, static_cast<size_t>(text_chars) + 1) == 0;
}

// Nibble match entry, guarded; the entry's result (score or negative code).
int NibbleMatch(const char* a, const char* b, int level) {
  try {
    return vantrel::match::MatchNibbleTexts(a, b, level);
  } catch (...) {
    return api::kAlgorithmException;
  }
}

// Extraction from a caller image (display form) into record (a 1024-byte area).
int ExtractFromDisplay(const unsigned char* image, uint8_t* record, int* length) {
  uint8_t reader[api::kImageBytes];
  api::FlipImageForm(image, reader);
  return api::ExtractGuarded(reader, record, length);
}

// Writes the nibble text of n record bytes and a terminator; *length = 2n.
void DeliverNibbles(const uint8_t* record, int n, char* text, int* length) {
  vantrel::text::WriteNibbleText(record, n, text);
  text[2 * n] = '\0';
  *length = 2 * n;
}

// Base64 text of a record as the B64 exports give it: exactly 344 characters are read,
// but never past the text's terminator (the rest counts as zero, as characters outside
// the alphabet do). -99 when the conversion refuses.
int DecodeRecordB64(const char* text, uint8_t* record) {
  char area[1025] = {};
  const char* end = static_cast<const char*>(std::memchr(text, '\0', api::kBase64Chars));
  std::memcpy(area, text, end != nullptr ? static_cast<size_t>(end - text) : api::kBase64Chars);
  uint8_t decoded[api::kBase64Chars] = {};
  int n = 0;
  if (vantrel::text::Base64Convert(0, area, api::kBase64Chars, decoded, sizeof decoded, &n) !=
      0) {
    return api::kAlgorithmException;
  }
  if (n > api::kRecordBytes) n = api::kRecordBytes;
  if (n < 0) n = 0;
  std::memset(record, 0, api::kRecordBytes);
  std::memcpy(record, decoded, static_cast<size_t>(n));
  return api::kOk;
}

int MatchFrame(const char* a, const char* b, int level, bool score) {
  if (a == nullptr || b == nullptr) return api::kFailure;
  if (SameText(a, b, api::kRecordTextChars)) return api::kBadPortOrSame;
  const int rc = NibbleMatch(a, b, level);
  if (score) return rc;
  return rc < 0 ? rc : api::kOk;
}

}  // namespace

extern "C" int FPIFpMatch(const char* text_a, const char* text_b, int level) {
  return MatchFrame(text_a, text_b, level, false);
}

extern "C" int FPIMatch(const char* text_a, const char* text_b, int level) {
  return MatchFrame(text_a, text_b, level, false);
}

extern "C" int FPIVerifyAsc(const char* text_a, const char* text_b, int level) {
  return MatchFrame(text_a, text_b, level, true);
}

extern "C" int FPIFpMatchB64(const char* text_a, const char* text_b, int level) {
  if (text_a == nullptr || text_b == nullptr) return api::kFailure;
  if (SameText(text_a, text_b, api::kBase64Chars)) return api::kBadPortOrSame;
  try {
    uint8_t a[api::kRecordBytes];
    uint8_t b[api::kRecordBytes];
    int rc = DecodeRecordB64(text_a, a);
    if (rc != 0) return rc;
    rc = DecodeRecordB64(text_b, b);
    if (rc != 0) return rc;
    rc = vantrel::match::MatchRecords(a, b, level);
    return rc < 0 ? rc : api::kOk;
  } catch (...) {
    return api::kAlgorithmException;
  }
}

extern "C" int FPIFingerMatch(int, int, int, int) { return api::kOk; }

extern "C" int FPIGetFeatureQuality(const unsigned char* record) {
  if (record == nullptr) return api::kUnsealFailed;  // nothing there unseals
  try {
    return vantrel::match::FeatureQuality(record);
  } catch (...) {
    return api::kAlgorithmException;
  }
}

extern "C" int FPIExtract(const unsigned char* image, char* text, int* length) {
  if (image == nullptr || text == nullptr || length == nullptr) return api::kFailure;
  uint8_t record[1024] = {};
  int n = 0;
  if (ExtractFromDisplay(image, record, &n) != 0) return api::kFailure;
  DeliverNibbles(record, n, text, length);
  return api::kOk;
}

extern "C" int FPIEnroll(const unsigned char* image1, const unsigned char* image2,
                         const unsigned char* image3, char* text, int* length) {
  if (image1 == nullptr || image2 == nullptr || image3 == nullptr || text == nullptr ||
      length == nullptr) {
    return api::kFailure;
  }
  const unsigned char* images[3] = {image1, image2, image3};
  uint8_t features[3][1024] = {};
  for (int i = 0; i < 3; ++i) {
    int n = 0;
    if (ExtractFromDisplay(images[i], features[i], &n) != 0) return api::kFailure;
  }
  uint8_t templ[1024] = {};
  int n = 0;
  if (api::SynthesiseGuarded(features[0], features[1], features[2], templ, &n) != 0) {
    return api::kFailure;
  }
  DeliverNibbles(templ, n, text, length);
  return api::kOk;
}
