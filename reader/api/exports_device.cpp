// Detection, reader state and settings.
#include <cstring>

#include "vantrel/vantrel.h"
#include "reader/api/dispatch.h"
#include "reader/api/export_buffers.h"
#include "reader/api/module_state.h"

using vantrel::links::LinkOps;
namespace api = vantrel::api;
using api::PortClass;

namespace {

// Version query into a private area; on success copies the bytes out. The area is large
// enough for the longest version reply of any link (the HID link accepts any length).
int VersionInto(const LinkOps& ops, unsigned char* out, int* length) {
  if (ops.GetVersion == nullptr) return api::kFailure;
  uint8_t area[api::kReplyAreaBytes] = {};
  int count = 0;
  const int rc = ops.GetVersion(area, &count);
  if (rc != 0) return rc;
  if (count < 0 || count > api::kVersionBufferBytes) return api::kFailure;
  if (out != nullptr) std::memcpy(out, area, static_cast<size_t>(count));
  if (length != nullptr) *length = count;
  return api::kOk;
}

// The link's detection probe (on the disk and HID links a version query); a link
// without one is asked for its version.
bool Answers(const LinkOps& ops) {
  if (ops.Detect != nullptr) return ops.Detect() == 0;
  return VersionInto(ops, nullptr, nullptr) == 0;
}

}  // namespace

extern "C" int FPIDevDetect(void) {
  return api::Guarded(api::kFailure, [] {
    if (Answers(api::DiskOps())) {
      api::SleepMs(300);
      return api::kDiskPort;
    }
    if (Answers(api::HidOps())) {
      api::SleepMs(300);
      return api::kHidPort;
    }
    for (int port = 1; port <= 8; ++port) {
      api::SelectSerialPort(port);
      if (Answers(api::SerialOps())) {
        api::SleepMs(300);
        return port;
      }
    }
    return api::kFailure;
  });
}

extern "C" int FPIReset(int port) {
  return api::Guarded(api::kFailure,
                      [&] { return api::Dispatch(port, PortClass::kAny, &LinkOps::Reset); });
}

extern "C" int FPICheckFinger(int port) {
  return api::Guarded(api::kFailure, [&] {
    const int state = api::Dispatch(port, PortClass::kDiskOnly, &LinkOps::FingerState);
    if (state < 0) return api::kFailure;
    return state == 0 ? api::kFingerPresent : api::kNoFinger;
  });
}

extern "C" int FPIFree(int port) {
  return api::Guarded(api::kFailure,
                      [&] { return api::Dispatch(port, PortClass::kSerialOnly, &LinkOps::Free); });
}

extern "C" int FPISetWorkMode(int port, int mode) {
  return api::Guarded(api::kFailure, [&] {
    return api::Dispatch(port, PortClass::kSerialOnly, &LinkOps::SetWorkMode, mode);
  });
}

extern "C" int FPIGetWorkMode(int port, int* mode) {
  return api::Guarded(api::kFailure, [&] {
    if (api::SelectLink(port, PortClass::kSerialOnly) == nullptr || mode == nullptr) {
      return api::kFailure;
    }
    int value = 0;
    const int rc = api::Dispatch(port, PortClass::kSerialOnly, &LinkOps::GetWorkMode, &value);
    if (rc == 0) *mode = value;
    return rc;
  });
}

namespace {

int ReadWord(int port, unsigned char* out, int (*LinkOps::*operation)(uint8_t*)) {
  if (api::SelectLink(port, PortClass::kSerialOnly) == nullptr || out == nullptr) {
    return api::kFailure;
  }
  uint8_t word[2] = {};
  const int rc = api::Dispatch(port, PortClass::kSerialOnly, operation, word);
  if (rc == 0) std::memcpy(out, word, sizeof word);
  return rc;
}

// The reader takes a fixed-size field. A shorter text is padded with zero bytes instead
// of reading past its terminator.
template <int kBytes>
int SendField(int port, const char* text, int (*LinkOps::*operation)(const char*)) {
  if (api::SelectLink(port, PortClass::kSerialOnly) == nullptr || text == nullptr) {
    return api::kFailure;
  }
  char field[kBytes + 1] = {};
  const char* end = static_cast<const char*>(std::memchr(text, '\0', kBytes));
  const size_t n = end != nullptr ? static_cast<size_t>(end - text) : kBytes;
  std::memcpy(field, text, n);
  return api::Dispatch(port, PortClass::kSerialOnly, operation, field);
}

}  // namespace

extern "C" int FPIGetStatus(int port, unsigned char* status) {
  return api::Guarded(api::kFailure, [&] { return ReadWord(port, status, &LinkOps::GetStatus); });
}

extern "C" int FPIGetErrorCode(int port, unsigned char* code) {
  return api::Guarded(api::kFailure,
                      [&] { return ReadWord(port, code, &LinkOps::GetErrorCode); });
}

extern "C" int FPIGetVersion(int port, unsigned char* version, int* length) {
  return api::Guarded(api::kFailure, [&] {
    if (version == nullptr || length == nullptr) return api::kFailure;
    const LinkOps* ops = api::SelectLink(port, PortClass::kAny);
    return ops != nullptr ? VersionInto(*ops, version, length) : api::kFailure;
  });
}

extern "C" int FPISetSequence(int port, const char* text) {
  return api::Guarded(api::kFailure, [&] {
    return SendField<api::kSequenceBytes>(port, text, &LinkOps::SetSequence);
  });
}

extern "C" int FPIGetSequence(int port, unsigned char* sequence) {
  return api::Guarded(api::kFailure, [&] {
    if (api::SelectLink(port, PortClass::kSerialOnly) == nullptr || sequence == nullptr) {
      return api::kFailure;
    }
    // The request carries the buffer's contents up to its first zero byte; the private
    // copy has a terminator behind the 32 bytes, so that read stays inside.
    uint8_t field[api::kSequenceBytes + 1] = {};
    std::memcpy(field, sequence, api::kSequenceBytes);
    const int rc = api::Dispatch(port, PortClass::kSerialOnly, &LinkOps::GetSequence, field);
    if (rc == 0) std::memcpy(sequence, field, api::kSequenceBytes);
    return rc;
  });
}

extern "C" int FPISetKey(int port, const char* key) {
  return api::Guarded(api::kFailure,
                      [&] { return SendField<api::kKeyBytes>(port, key, &LinkOps::SetKey); });
}

extern "C" int FPISetSecurityLevel(int port, int level) {
  return api::Guarded(api::kFailure, [&] {
    return api::Dispatch(port, PortClass::kAny, &LinkOps::SetSecurityLevel, level);
  });
}

extern "C" int FPIGetSecurityLevel(int port, int* level) {
  return api::Guarded(api::kFailure, [&] {
    if (level == nullptr) return api::kFailure;
    int value = 0;
    const int rc = api::Dispatch(port, PortClass::kAny, &LinkOps::GetSecurityLevel, &value);
    if (rc == 0) *level = value;
    return rc;
  });
}

extern "C" int FPICalibrate(int port) {
  return api::Guarded(api::kFailure, [&] {
    return api::Dispatch(port, PortClass::kSerialOnly, &LinkOps::Calibrate);
  });
}

extern "C" int FPISetBuadRate(int port, int baud) {
  return api::Guarded(api::kFailure, [&] {
    const int mapped = api::MapReaderBaud(baud);
    // The command goes out at the old rate; only success switches the library over.
    const int rc = api::Dispatch(port, PortClass::kSerialOnly, &LinkOps::SetBaudRate, mapped);
    if (rc == 0) vantrel::links::State().configured_baud = mapped;
    return rc;
  });
}

extern "C" int FPISetParam(int dialog, int baud) {
  api::Module().dialog_mode = dialog != 0 ? 1 : 0;
  vantrel::links::State().configured_baud = baud == 115200 ? 115200 : 9600;
  return api::kOk;
}
