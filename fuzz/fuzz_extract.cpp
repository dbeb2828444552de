// Any 30400 bytes as a 152 x 200 image into extraction, through FPIExtract (display form).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/rules.h"
#include "reader/record/record.h"
#include "reader/record/record_text.h"
#include "vantrel/vantrel.h"

using vantrel::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // Short inputs are repeated to fill the image, so that small inputs still make ridges.
  std::vector<uint8_t> image(FPI_IMAGE_BYTES);
  for (size_t i = 0; i < image.size(); ++i) image[i] = data[i % size];
  const std::vector<uint8_t> before = image;
  std::vector<char> text(FPI_TEXT_BUFFER_BYTES + 16, '\x5A');
  int length = -7;
  const int rc = FPIExtract(image.data(), text.data(), &length);
  Require(image == before, "the caller's image is unchanged");
  for (size_t i = FPI_TEXT_BUFFER_BYTES; i < text.size(); ++i) {
    Require(text[i] == '\x5A', "FPIExtract writes inside its buffer");
  }
  Require(rc == 0 || rc == -1 || rc == -9 || rc == -99, "FPIExtract result");
  if (rc == 0) {
    Require(length == 512 && text[512] == 0, "a feature is 512 characters and a zero");
    uint8_t sealed[vantrel::record::kRecordBytes];
    vantrel::text::ReadNibbleText(text.data(), vantrel::record::kRecordBytes, sealed);
    uint8_t plain[vantrel::record::kRecordBytes];
    Require(vantrel::record::UnsealCopy(sealed, plain) == 0, "the feature unseals");
    vantrel::record::DecodedRecord decoded;
    vantrel::record::DecodeRecord(plain, decoded);
    Require(decoded.count >= 0 && decoded.count <= vantrel::record::kMaxMinutiae, "count 0..50");
    for (int i = 0; i < decoded.usable; ++i) {
      const auto& m = decoded.minutiae[i];
      Require(m.x < 256 && m.y < 288 && m.direction < 360, "minutiae on the canvas");
    }
  }
  return 0;
}
