// Image exports: images between the reader, the caller and BMP files.
#include <cstring>
#include <memory>

#include "reader/api/bmp_file.h"
#include "reader/api/dispatch.h"
#include "reader/api/export_buffers.h"
#include "reader/api/image_forms.h"
#include "reader/record/record_text.h"
#include "vantrel/vantrel.h"

using vantrel::links::LinkOps;
namespace api = vantrel::api;
using api::PortClass;

namespace {

// Image areas are larger than a caller image (the HID link's own size); they live on the
// heap so that a caller's thread with a small stack is safe.
std::unique_ptr<uint8_t[]> NewImageArea() {
  return std::unique_ptr<uint8_t[]>(new uint8_t[api::kImageAreaBytes]());
}

// The display conversion and the caller's 30400-byte buffer are made for 152 x 200; a
// reader reporting any other size is refused rather than delivered misshapen.
bool IsCallerImageSize(int width, int height) {
  return width == api::kImageWidth && height == api::kImageHeight;
}

int DeliverDisplayImage(const uint8_t* reader_form, int width, int height, int* out_width,
                        int* out_height, unsigned char* image) {
  if (!IsCallerImageSize(width, height)) return api::kFailure;
  vantrel::api::FlipImageForm(reader_form, image);
  *out_width = width;
  *out_height = height;
  return api::kOk;
}

}  // namespace

extern "C" int FPIGetImage(int port, int* width, int* height) {
  return api::Guarded(api::kFailure, [&] {
    if (width == nullptr || height == nullptr) return api::kFailure;
    *width = 0;
    *height = 0;
    int w = 0, h = 0;
    const int rc = api::Dispatch(port, PortClass::kAny, &LinkOps::GetImageSize, &w, &h);
    if (rc == 0) {
      *width = w;
      *height = h;
    }
    return rc;
  });
}

extern "C" int FPIUploadImage(int port, int width, int height, unsigned char* image) {
  return api::Guarded(api::kFailure, [&] {
    if (image == nullptr || width <= 0 || height <= 0) return api::kFailure;
    if (width > api::kImageAreaBytes / height) return api::kFailure;
    auto area = NewImageArea();
    const int rc = api::Dispatch(port, PortClass::kAny, &LinkOps::ReadImage, width, height,
                                 area.get(), 1, nullptr, nullptr);
    if (rc == 0) std::memcpy(image, area.get(), static_cast<size_t>(width) * height);
    return rc;
  });
}

extern "C" int FPIGetImageData(int port, int* width, int* height, unsigned char* image) {
  return api::Guarded(api::kFailure, [&] {
    if (width == nullptr || height == nullptr || image == nullptr) return api::kFailure;
    *width = 0;
    *height = 0;
    auto area = NewImageArea();
    int w = 0, h = 0;
    const LinkOps* ops = api::SelectLink(port, PortClass::kAny);
    if (ops == nullptr || ops->ReadImage == nullptr) return api::kFailure;
    int rc = 0;
    if (port == api::kDiskPort || port == api::kHidPort) {
      if (ops->GetImageSize == nullptr) return api::kFailure;
      rc = ops->GetImageSize(&w, &h);
      if (rc != 0) return rc;
      if (!IsCallerImageSize(w, h)) return api::kFailure;
      rc = ops->ReadImage(w, h, area.get(), 0, nullptr, nullptr);
    } else {
      rc = ops->ReadImage(api::kImageWidth, api::kImageHeight, area.get(), 0, &w, &h);
    }
    if (rc != 0) return rc;
    return DeliverDisplayImage(area.get(), w, h, width, height, image);
  });
}

extern "C" int FPIGetImageImmediately(int port, int* width, int* height, unsigned char* image) {
  return api::Guarded(api::kFailure, [&] {
    if (api::SelectLink(port, PortClass::kDiskOrHid) == nullptr) return api::kFailure;
    if (width == nullptr || height == nullptr || image == nullptr) return api::kFailure;
    *width = 0;
    *height = 0;
    auto area = NewImageArea();
    int w = 0, h = 0;
    const int rc =
        api::Dispatch(port, PortClass::kDiskOrHid, &LinkOps::CaptureImageAtOnce, &w, &h, area.get());
    if (rc != 0) return rc;
    // The HID link's 256 x 360 immediate image does not fit the caller's buffer: refused.
    return DeliverDisplayImage(area.get(), w, h, width, height, image);
  });
}

extern "C" int FPIGetImageData_RED_IZ(int port, int* width, int* height, unsigned char* image,
                                      int* request) {
  return api::Guarded(api::kFailure, [&] {
    if (api::SelectLink(port, PortClass::kSerialOnly) == nullptr) return api::kFailure;
    if (width == nullptr || height == nullptr || image == nullptr || request == nullptr) {
      return api::kFailure;
    }
    auto area = NewImageArea();
    int w = 0, h = 0;
    const int rc = api::Dispatch(port, PortClass::kSerialOnly, &LinkOps::ReadPackedImage,
                                 *request, &w, &h, area.get());
    if (rc != 0) return rc;
    if (!IsCallerImageSize(w, h)) return api::kFailure;
    std::memcpy(image, area.get(), api::kImageBytes);
    *width = w;
    *height = h;
    return api::kOk;
  });
}

namespace {

// One image from the port's reader in reader form for the BMP file. Any failure is -1.
int FetchForBmp(int port, uint8_t* area) {
  const LinkOps* ops = api::SelectLink(port, PortClass::kAny);
  if (ops == nullptr || ops->ReadImage == nullptr) return api::kFailure;
  int w = 0, h = 0;
  if (port == api::kDiskPort || port == api::kHidPort) {
    if (ops->GetImageSize == nullptr || ops->GetImageSize(&w, &h) != 0) return api::kFailure;
    if (w <= 0 || h <= 0 || w > api::kImageAreaBytes / h) return api::kFailure;
    return ops->ReadImage(w, h, area, 0, nullptr, nullptr) == 0 ? api::kOk : api::kFailure;
  }
  return ops->ReadImage(api::kImageWidth, api::kImageHeight, area, 0, &w, &h) == 0
             ? api::kOk
             : api::kFailure;
}

// A BMP file's feature: 0 with the sealed record in record (a 1024-byte area), or -1.
int FeatureOfBmp(const char* path, uint8_t* record) {
  uint8_t image[api::kImageBytes];
  int n = 0;
  if (api::ReadBmpFile(path, image) != 0) return api::kFailure;
  return api::ExtractGuarded(image, record, &n);
}

// The 512 characters of a record's nibble text, no terminator; *length = 512.
void DeliverRecordText(const uint8_t* record, char* text, int* length) {
  char area[1024] = {};
  vantrel::text::WriteNibbleText(record, api::kRecordBytes, area);
  std::memcpy(text, area, api::kRecordTextChars);
  *length = api::kRecordTextChars;
}

}  // namespace

extern "C" int FPIImg2Bmp(int port, const char* path) {
  return api::Guarded(api::kFailure, [&] {
    if (path == nullptr) return api::kFailure;
    auto area = NewImageArea();
    if (FetchForBmp(port, area.get()) != 0) return api::kFailure;
    // Written as 152 x 200 whatever size the link reported.
    return api::WriteBmpFile(path, area.get());
  });
}

extern "C" int FPIBmp2Feature(int /*port*/, const char* path, char* text, int* length) {
  return api::Guarded(api::kFailure, [&] {
    if (path == nullptr || text == nullptr || length == nullptr) return api::kFailure;
    uint8_t record[1024] = {};
    if (FeatureOfBmp(path, record) != 0) return api::kFailure;
    DeliverRecordText(record, text, length);
    return api::kOk;
  });
}

extern "C" int FPIBmp2Template(int /*port*/, const char* path1, const char* path2,
                               const char* path3, char* text, int* length) {
  return api::Guarded(api::kFailure, [&] {
    if (path1 == nullptr || path2 == nullptr || path3 == nullptr || text == nullptr ||
        length == nullptr) {
      return api::kFailure;
    }
    uint8_t features[3][1024] = {};
    const char* paths[3] = {path1, path2, path3};
    for (int i = 0; i < 3; ++i) {
      if (FeatureOfBmp(paths[i], features[i]) != 0) return api::kFailure;
    }
    uint8_t templ[1024] = {};
    int n = 0;
    if (api::SynthesiseGuarded(features[0], features[1], features[2], templ, &n) != 0) {
      return api::kFailure;
    }
    DeliverRecordText(templ, text, length);
    return api::kOk;
  });
}
