// Reading the image files of the fingerprint sets: a binary PGM with the exact header
// "P5\n152 200\n255\n" (15 bytes) followed by 30 400 pixels in reader form. Shared by the
// tests, the benchmarks and the tools; the library itself reads no such files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vantrel::tools {

inline constexpr char kFingerprintPgmHeader[] = "P5\n152 200\n255\n";
inline constexpr int kFingerprintPgmHeaderBytes = 15;
inline constexpr int kFingerprintPixels = 152 * 200;

// The 30 400 pixels of the file, or an empty vector when it is missing, carries another
// header or ends early.
inline std::vector<uint8_t> ReadFingerprintPgm(const std::string& path) {
  std::vector<uint8_t> pixels;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return pixels;
  char header[kFingerprintPgmHeaderBytes];
  if (std::fread(header, 1, sizeof header, file) == sizeof header &&
      std::memcmp(header, kFingerprintPgmHeader, sizeof header) == 0) {
    pixels.resize(kFingerprintPixels);
    if (std::fread(pixels.data(), 1, pixels.size(), file) != pixels.size()) pixels.clear();
  }
  std::fclose(file);
  return pixels;
}

}  // namespace vantrel::tools
