#include "fuzz/export_calls.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "vantrel/vantrel.h"

namespace vantrel::fuzz {

namespace {

constexpr int kGuardBytes = 64;
constexpr uint8_t kGuardByte = 0xA5;

// A caller buffer of exactly size bytes, followed by guard bytes the library must not touch.
class Area {
 public:
  explicit Area(int size, uint8_t fill = 0) : size_(size), bytes_(size + kGuardBytes, kGuardByte) {
    std::memset(bytes_.data(), fill, static_cast<size_t>(size));
  }
  uint8_t* data() { return bytes_.data(); }
  char* text() { return reinterpret_cast<char*>(bytes_.data()); }
  void Check(const char* call, Findings& findings) const {
    for (int i = size_; i < size_ + kGuardBytes; ++i) {
      if (bytes_[static_cast<size_t>(i)] != kGuardByte) {
        findings.Note(call, "wrote past a buffer of " + std::to_string(size_) + " bytes");
        return;
      }
    }
  }

 private:
  int size_;
  std::vector<uint8_t> bytes_;
};

void CheckLength(const char* call, int rc, int length, int capacity, Findings& findings) {
  if (rc == 0 && (length < 0 || length > capacity)) {
    findings.Note(call, "length " + std::to_string(length) + " outside 0.." +
                            std::to_string(capacity));
  }
}

void CheckSize(const char* call, int rc, int width, int height, int capacity, Findings& findings) {
  if (rc == 0 && (width < 0 || height < 0 || int64_t{width} * height > capacity)) {
    findings.Note(call, "image size " + std::to_string(width) + " x " + std::to_string(height));
  }
}

// A record text out: a nibble text of 512 characters and a terminator, or base64.
template <int (*Export)(int, char*, int*)>
int TextOut(const char* call, int port, int capacity, Findings& findings) {
  Area text(capacity);
  int length = -7;
  const int rc = Export(port, text.text(), &length);
  text.Check(call, findings);
  CheckLength(call, rc, length, capacity, findings);
  return rc;
}

template <int (*Export)(int, unsigned char*)>
int WordOut(const char* call, int port, int capacity, Findings& findings) {
  Area word(capacity);
  const int rc = Export(port, word.data());
  word.Check(call, findings);
  return rc;
}

// A scratch BMP path for FPIImg2Bmp, removed afterwards.
std::string ScratchBmp() {
  char path[64];
  std::snprintf(path, sizeof path, "/tmp/vantrel-calls-%d.bmp", static_cast<int>(getpid()));
  return path;
}

const ExportCall kCalls[] = {
    {"FPIReset", kOnAll, false, [](int port, Findings&) { return FPIReset(port); }},
    {"FPICheckFinger", kOnDisk, false, [](int port, Findings&) { return FPICheckFinger(port); }},
    {"FPIFree", kOnSerial, false, [](int port, Findings&) { return FPIFree(port); }},
    {"FPISetWorkMode", kOnSerial, false,
     [](int port, Findings&) { return FPISetWorkMode(port, 1); }},
    {"FPIGetWorkMode", kOnSerial, false,
     [](int port, Findings&) {
       int mode = 0;
       return FPIGetWorkMode(port, &mode);
     }},
    {"FPIGetStatus", kOnSerial, false,
     [](int port, Findings& f) { return WordOut<FPIGetStatus>("FPIGetStatus", port, 2, f); }},
    {"FPIGetErrorCode", kOnSerial, false,
     [](int port, Findings& f) {
       return WordOut<FPIGetErrorCode>("FPIGetErrorCode", port, 2, f);
     }},
    {"FPIGetVersion", kOnAll, false,
     [](int port, Findings& f) {
       Area version(FPI_VERSION_BUFFER_BYTES);
       int length = -7;
       const int rc = FPIGetVersion(port, version.data(), &length);
       version.Check("FPIGetVersion", f);
       CheckLength("FPIGetVersion", rc, length, FPI_VERSION_BUFFER_BYTES, f);
       return rc;
     }},
    {"FPISetSequence", kOnSerial, false,
     [](int port, Findings&) {
       static const char kText[33] = "0123456789ABCDEF0123456789ABCDEF";
       return FPISetSequence(port, kText);
     }},
    {"FPIGetSequence", kOnSerial, false,
     [](int port, Findings& f) {
       return WordOut<FPIGetSequence>("FPIGetSequence", port, 32, f);
     }},
    {"FPISetKey", kOnSerial, false,
     [](int port, Findings&) { return FPISetKey(port, "0123456789ABCDEF"); }},
    {"FPISetSecurityLevel", kOnAll, false,
     [](int port, Findings&) { return FPISetSecurityLevel(port, 4); }},
    {"FPIGetSecurityLevel", kOnAll, false,
     [](int port, Findings&) {
       int level = 0;
       return FPIGetSecurityLevel(port, &level);
     }},
    {"FPICalibrate", kOnSerial, false, [](int port, Findings&) { return FPICalibrate(port); }},
    {"FPISetBuadRate", kOnSerial, false,
     [](int port, Findings&) { return FPISetBuadRate(port, 9600); }},
    {"FPIClearMBLib", kOnAll, false, [](int port, Findings&) { return FPIClearMBLib(port); }},
    {"FPIInsertMBLib", kOnAll, false,
     [](int port, Findings& f) {
       const unsigned char name[4] = {'a', 'b', 'c', 'd'};
       char text[513];
       std::memset(text, '7', 512);
       text[0] = '6';
       text[512] = 0;
       const std::string before(text, 513);
       const int rc = FPIInsertMBLib(port, 7, name, 4, text, 512);
       if (before != std::string(text, 513)) f.Note("FPIInsertMBLib", "changed its input text");
       return rc;
     }},
    {"FPIWriteMBLib", kOnAll, false, [](int port, Findings&) { return FPIWriteMBLib(port); }},
    {"FPIGetMBLibCount", kOnAll, false,
     [](int port, Findings&) {
       int count = 0;
       return FPIGetMBLibCount(port, &count);
     }},
    {"FPISearch", kOnAll, false,
     [](int port, Findings& f) {
       Area buffer(FPI_SEARCH_BUFFER_BYTES);
       int length = -7;
       const int rc = FPISearch(port, 0, 100, buffer.data(), &length);
       buffer.Check("FPISearch", f);
       CheckLength("FPISearch", rc, length, FPI_SEARCH_BUFFER_BYTES - 1, f);
       return rc;
     }},
    {"FPIUpdate", kOnSerial, false,
     [](int port, Findings&) {
       const unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
       return FPIUpdate(port, data, 8, 1, 9600);
     }},
    {"FPIUpdate steps", kOnAll, false,
     [](int port, Findings&) {
       const unsigned char packet[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
       int rc = FPIUpdate_SendFileSize(port, 16);
       if (rc == 0) rc = FPIUpdate_SendPacket(port, 0, packet, 16);
       // The finish runs whatever came before: it also ends an update left half done.
       const int finish = FPIUpdate_Write(port, 1);
       return rc != 0 ? rc : finish;
     }},
    {"FPIFeature_RED_IZ", kOnAll, false,
     [](int port, Findings& f) {
       return TextOut<FPIFeature_RED_IZ>("FPIFeature_RED_IZ", port, FPI_TEXT_BUFFER_BYTES, f);
     }},
    {"FPITemplate_RED_IZ", kOnAll, false,
     [](int port, Findings& f) {
       return TextOut<FPITemplate_RED_IZ>("FPITemplate_RED_IZ", port, FPI_TEXT_BUFFER_BYTES, f);
     }},
    {"FPIFeature", kOnAll, true,
     [](int port, Findings& f) {
       return TextOut<FPIFeature>("FPIFeature", port, FPI_TEXT_BUFFER_BYTES, f);
     }},
    {"FPITemplateB64", kOnAll, true,
     [](int port, Findings& f) {
       return TextOut<FPITemplateB64>("FPITemplateB64", port, FPI_B64_BUFFER_BYTES, f);
     }},
    {"FPIGetImage", kOnAll, false,
     [](int port, Findings&) {
       int width = 0, height = 0;
       return FPIGetImage(port, &width, &height);
     }},
    {"FPIUploadImage", kOnAll, false,
     [](int port, Findings& f) {
       Area image(FPI_IMAGE_BYTES);
       const int rc = FPIUploadImage(port, FPI_IMAGE_WIDTH, FPI_IMAGE_HEIGHT, image.data());
       image.Check("FPIUploadImage", f);
       return rc;
     }},
    {"FPIGetImageData", kOnAll, false,
     [](int port, Findings& f) {
       Area image(FPI_IMAGE_BYTES);
       int width = 0, height = 0;
       const int rc = FPIGetImageData(port, &width, &height, image.data());
       image.Check("FPIGetImageData", f);
       CheckSize("FPIGetImageData", rc, width, height, FPI_IMAGE_BYTES, f);
       return rc;
     }},
    {"FPIGetImageImmediately", kOnDisk | kOnHid, false,
     [](int port, Findings& f) {
       Area image(FPI_IMAGE_BYTES);
       int width = 0, height = 0;
       const int rc = FPIGetImageImmediately(port, &width, &height, image.data());
       image.Check("FPIGetImageImmediately", f);
       CheckSize("FPIGetImageImmediately", rc, width, height, FPI_IMAGE_BYTES, f);
       return rc;
     }},
    {"FPIGetImageData_RED_IZ", kOnSerial, false,
     [](int port, Findings& f) {
       Area image(FPI_IMAGE_BYTES);
       int width = 0, height = 0, request = 1;
       const int rc = FPIGetImageData_RED_IZ(port, &width, &height, image.data(), &request);
       image.Check("FPIGetImageData_RED_IZ", f);
       CheckSize("FPIGetImageData_RED_IZ", rc, width, height, FPI_IMAGE_BYTES, f);
       return rc;
     }},
    {"FPIImg2Bmp", kOnAll, false,
     [](int port, Findings&) {
       const std::string path = ScratchBmp();
       const int rc = FPIImg2Bmp(port, path.c_str());
       std::remove(path.c_str());
       return rc;
     }},
};

}  // namespace

const ExportCall* ExportCalls(int* count) {
  *count = static_cast<int>(sizeof kCalls / sizeof kCalls[0]);
  return kCalls;
}

bool KnownResult(int rc) { return rc >= 0 || (rc >= -12 && rc <= -1) || rc == -99; }

}  // namespace vantrel::fuzz
