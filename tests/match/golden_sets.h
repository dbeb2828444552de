// The two real image sets as unsealed records, for the golden tables of the matcher and
// of template synthesis.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "reader/extract/extract_feature.h"
#include "reader/record/record.h"
#include "tools/fingerprint_pgm.h"

namespace vantrel::match::golden {

constexpr int kFirstFinger = 101, kFingers = 10, kImpressions = 8;
inline const char* const kSetFolders[2] = {"FVC2002_DB1_B", "FVC2002_DB2_B"};

// Unsealed records of one set, [finger][impression]; empty when the image is missing or
// does not extract.
using Record = std::vector<uint8_t>;
inline std::vector<Record> ExtractSet(const char* folder) {
  std::vector<Record> out(kFingers * kImpressions);
  for (int f = 0; f < kFingers; ++f)
    for (int i = 0; i < kImpressions; ++i) {
      const std::string path = std::string(VANTREL_FINGERPRINTS_DIR) + "/" + folder + "/" +
                               std::to_string(kFirstFinger + f) + "_" + std::to_string(i + 1) +
                               ".pgm";
      const std::vector<uint8_t> pixels = vantrel::tools::ReadFingerprintPgm(path);
      if (pixels.empty()) continue;
      uint8_t sealed[record::kRecordBytes];
      Record unsealed(record::kRecordBytes);
      uint16_t length = 0;
      if (extract::ExtractFeature(pixels.data(), sealed, &length) == 0 &&
          record::UnsealCopy(sealed, unsealed.data()) == 0)
        out[f * kImpressions + i] = unsealed;
    }
  return out;
}

inline bool ImagesPresent() {
  for (const char* folder : kSetFolders) {
    const std::string path = std::string(VANTREL_FINGERPRINTS_DIR) + "/" + folder + "/101_1.pgm";
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
  }
  return true;
}

// FNV-1a, 32 bits, continued from h.
inline uint32_t Fnv(uint32_t h, const uint8_t* bytes, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    h ^= bytes[k];
    h *= 16777619u;
  }
  return h;
}
inline constexpr uint32_t kFnvStart = 2166136261u;

}  // namespace vantrel::match::golden
