#include "reader/api/bmp_file.h"

#include <cstdio>
#include <cstring>

#include "reader/api/export_buffers.h"
#include "reader/api/image_forms.h"
#include "reader/api/result_codes.h"

namespace vantrel::api {

namespace {

void PutLe16(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* at, uint32_t v) {
  PutLe16(at, v);
  PutLe16(at + 2, v >> 16);
}

int32_t GetLe32(const uint8_t* at) {
  return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                              static_cast<uint32_t>(at[2]) << 16 |
                              static_cast<uint32_t>(at[3]) << 24);
}

// The header as the library writes it: size fields left 0, bottom-up rows, grey palette.
void BuildHeader(uint8_t* header, int width, int height) {
  std::memset(header, 0, kBmpHeaderBytes);
  header[0] = 0x42;
  header[1] = 0x4D;
  PutLe32(header + 10, kBmpHeaderBytes);
  PutLe32(header + 14, 40);
  PutLe32(header + 18, static_cast<uint32_t>(width));
  PutLe32(header + 22, static_cast<uint32_t>(height));
  PutLe16(header + 26, 1);
  PutLe16(header + 28, 8);
  for (int i = 0; i < 256; ++i) {
    uint8_t* entry = header + 54 + 4 * i;
    entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
  }
}

class File {
 public:
  File(const char* path, const char* mode) : file_(std::fopen(path, mode)) {}
  ~File() {
    if (file_ != nullptr) std::fclose(file_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return file_; }
  // Closes now, so that a failed flush is seen.
  bool Close() {
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }

 private:
  std::FILE* file_;
};

// Mean brightness of the four 8 x 8 corners of an image of width x height (row stride
// width) is at least 128.
bool CornersAreBright(const uint8_t* image, int width, int height) {
  if (width < 8 || height < 8) return false;  // no corner to measure: taken as dark
  const int rows[2] = {0, height - 8};
  const int columns[2] = {0, width - 8};
  int sum_of_means = 0;
  for (int row : rows) {
    for (int column : columns) {
      int sum = 0;
      for (int r = row; r < row + 8; ++r) {
        for (int c = column; c < column + 8; ++c) sum += image[r * width + c];
      }
      sum_of_means += sum / 64;
    }
  }
  return sum_of_means / 4 >= 128;
}

}  // namespace

int WriteBmpFile(const char* path, const uint8_t* reader_image) {
  if (path == nullptr || reader_image == nullptr) return kFailure;
  File file(path, "wb");
  if (file.get() == nullptr) return kFailure;
  uint8_t header[kBmpHeaderBytes];
  BuildHeader(header, kImageWidth, kImageHeight);
  uint8_t display[kImageBytes] = {};
  FlipImageForm(reader_image, display);
  // Bottom row first: the row stored at 1078 + 152 k is display row 199 - k.
  if (std::fwrite(header, 1, sizeof header, file.get()) != sizeof header) return kFailure;
  for (int k = 0; k < kImageHeight; ++k) {
    const uint8_t* row = display + (kImageHeight - 1 - k) * kImageWidth;
    if (std::fwrite(row, 1, kImageWidth, file.get()) != static_cast<size_t>(kImageWidth)) {
      return kFailure;
    }
  }
  return file.Close() ? kOk : kFailure;
}

int ReadBmpFile(const char* path, uint8_t* reader_image) {
  if (path == nullptr || reader_image == nullptr) return kFailure;
  File file(path, "rb");
  if (file.get() == nullptr) return kFailure;
  uint8_t header[26];
  if (std::fread(header, 1, sizeof header, file.get()) != sizeof header) return kFailure;
  const int32_t width = GetLe32(header + 18);
  const int32_t height = GetLe32(header + 22);
  // The image area holds 30400 bytes; a larger (or negative) size cannot be read into it.
  if (width <= 0 || height <= 0 || width > kImageBytes / height) return kFailure;
  uint8_t image[kImageBytes] = {};
  for (int i = 0; i < height; ++i) {
    const long offset = kBmpHeaderBytes + static_cast<long>(width) * (height - 1 - i);
    if (std::fseek(file.get(), offset, SEEK_SET) != 0 ||
        std::fread(image + i * width, 1, static_cast<size_t>(width), file.get()) !=
            static_cast<size_t>(width)) {
      return kFailure;  // the file ends before its pixels do
    }
  }
  if (CornersAreBright(image, width, height)) {
    FlipImageForm(image, reader_image);
  } else {
    std::memcpy(reader_image, image, kImageBytes);
  }
  return kOk;
}

}  // namespace vantrel::api
