#include "reader/api/image_forms.h"

#include <cstring>

#include "reader/api/export_buffers.h"
#include "reader/api/result_codes.h"
#include "reader/extract/extract_feature.h"
#include "reader/match/synthesis.h"

namespace vantrel::api {

void FlipImageForm(const uint8_t* from, uint8_t* to) {
  for (int i = 0; i < kImageBytes; ++i) to[i] = static_cast<uint8_t>(255 - from[i]);
  uint8_t row[kImageWidth];
  for (int r = 0; r < kImageHeight / 2; ++r) {
    uint8_t* top = to + r * kImageWidth;
    uint8_t* bottom = to + (kImageHeight - 1 - r) * kImageWidth;
    std::memcpy(row, top, sizeof row);
    std::memcpy(top, bottom, sizeof row);
    std::memcpy(bottom, row, sizeof row);
  }
}

int ExtractGuarded(const uint8_t* reader_image, uint8_t* record, int* length) {
  try {
    uint16_t n = 0;
    if (extract::ExtractFeature(reader_image, record, &n) != 0) return kFailure;
    *length = n > kRecordBytes ? kRecordBytes : n;
    return kOk;
  } catch (...) {
    return kFailure;
  }
}

int SynthesiseGuarded(const uint8_t* f1, const uint8_t* f2, const uint8_t* f3, uint8_t* templ,
                      int* length) {
  try {
    uint16_t n = 0;
    if (match::SynthesiseTemplate(f1, f2, f3, templ, &n) != 0) return kFailure;
    *length = n > kRecordBytes ? kRecordBytes : n;
    return kOk;
  } catch (...) {
    return kFailure;
  }
}

}  // namespace vantrel::api
