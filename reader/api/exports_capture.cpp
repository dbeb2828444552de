// Capture exports: records taken from the reader, handed out as text.
//
// Three roads: serial ports 1 to 8 (the reader captures and extracts or merges by
// itself); ports 0 and 9 with dialog mode off (finger wait, images, extraction and
// synthesis on the host, capture.cpp); ports 0 and 9 with dialog mode on (the capture
// dialogs, dialog.cpp, which answer -1 where no window can be shown).
#include <cstring>

#include "reader/api/capture.h"
#include "reader/api/dialog.h"
#include "reader/api/dispatch.h"
#include "reader/api/export_buffers.h"
#include "reader/api/module_state.h"
#include "reader/record/record_text.h"
#include "reader/match/synthesis.h"
#include "vantrel/vantrel.h"

using vantrel::links::LinkOps;
namespace api = vantrel::api;
using api::PortClass;

namespace {

bool InCaptureRange(int port) { return port >= 0 && port <= 9; }
bool IsSerialCapturePort(int port) { return port >= 1 && port <= 8; }

// One reader-made text record into a private area; the serial link may deliver up to a
// frame's worth of characters, of which the first 512 are kept. *count gets the kept
// number of characters; area[*count] is a terminator.
int ReaderText(int port, PortClass port_class, int (*LinkOps::*operation)(char*, int*),
               char (&area)[api::kReplyAreaBytes + 1], int* count) {
  std::memset(area, 0, sizeof area);
  int n = 0;
  const int rc = api::Dispatch(port, port_class, operation, area, &n);
  if (rc != 0) return rc;
  if (n < 0) return api::kFailure;
  if (n > api::kRecordTextChars) n = api::kRecordTextChars;
  area[n] = '\0';
  *count = n;
  return api::kOk;
}

// Serial road of FPIFeature / FPITemplate: the characters as they came, no terminator.
int SerialCapture(int port, int (*LinkOps::*operation)(char*, int*), char* text, int* length) {
  char area[api::kReplyAreaBytes + 1];
  int n = 0;
  const int rc = ReaderText(port, PortClass::kSerialOnly, operation, area, &n);
  if (rc != 0) return rc;
  std::memcpy(text, area, static_cast<size_t>(n));
  *length = n;
  return api::kOk;
}

// The base64 text of a record's 256 bytes: 344 characters, no terminator. -99 when the
// conversion refuses.
int DeliverBase64(const uint8_t* record, char* text, int* length) {
  char input[api::kRecordBytes + 3] = {};
  std::memcpy(input, record, api::kRecordBytes);
  uint8_t encoded[api::kBase64Chars + 4] = {};
  int encoded_length = 0;
  if (vantrel::text::Base64Convert(1, input, api::kRecordBytes, encoded, sizeof encoded,
                                   &encoded_length) != 0 ||
      encoded_length != api::kBase64Chars) {
    return api::kAlgorithmException;
  }
  std::memcpy(text, encoded, api::kBase64Chars);
  *length = api::kBase64Chars;
  return api::kOk;
}

// Serial road of the base64 exports: the first 512 characters as 256 nibble pairs, then
// 344 characters of base64, no terminator.
int SerialCaptureB64(int port, int (*LinkOps::*operation)(char*, int*), char* text,
                     int* length) {
  char area[api::kReplyAreaBytes + 1];
  int n = 0;
  const int rc = ReaderText(port, PortClass::kSerialOnly, operation, area, &n);
  if (rc != 0) return rc;
  uint8_t record[api::kRecordBytes] = {};
  // A short answer is not read past its terminator: the missing pairs count as zero.
  vantrel::text::ReadNibbleText(area, api::kRecordBytes, record);
  return DeliverBase64(record, text, length);
}

enum class Kind { kFeature, kTemplate };

// The dialog road: the dialog's nibble text, or its result (-3 cancelled, -1 failed).
// After a good capture one version query goes to the port's link; its answer is not
// used.
int DialogCapture(int port, Kind kind, char* text, int* length, bool base64) {
  api::DialogState& dialog = api::Module().dialog;
  char* buffer = kind == Kind::kFeature ? dialog.feature_text : dialog.template_text;
  std::memset(buffer, 0, api::kDialogTextBytes);
  dialog.result = api::kFailure;
  api::RunCaptureDialog(kind == Kind::kFeature ? api::DialogKind::kFeature
                                               : api::DialogKind::kTemplate,
                        port);
  if (dialog.result != 0) return dialog.result;
  uint8_t scratch[api::kVersionBufferBytes];
  int scratch_length = 0;
  api::Dispatch(port, PortClass::kDiskOrHid, &LinkOps::GetVersion, scratch, &scratch_length);
  const size_t n = strnlen(buffer, api::kRecordTextChars);
  if (base64) {
    char work[2 * api::kRecordTextChars + 1] = {};
    std::memcpy(work, buffer, n);
    uint8_t record[api::kRecordBytes] = {};
    vantrel::text::ReadNibbleText(work, api::kRecordBytes, record);
    return DeliverBase64(record, text, length);
  }
  std::memcpy(text, buffer, n);
  *length = static_cast<int>(n);
  return api::kOk;
}

int Capture(int port, Kind kind, char* text, int* length, bool base64) {
  if (!InCaptureRange(port)) return api::kBadPortOrSame;
  if (text == nullptr || length == nullptr) return api::kFailure;
  const auto serial_operation =
      kind == Kind::kFeature ? &LinkOps::CaptureFeature : &LinkOps::CaptureTemplate;
  if (IsSerialCapturePort(port)) {
    return base64 ? SerialCaptureB64(port, serial_operation, text, length)
                  : SerialCapture(port, serial_operation, text, length);
  }
  if (api::Module().dialog_mode != 0) return DialogCapture(port, kind, text, length, base64);

  const LinkOps* link = api::SelectLink(port, PortClass::kDiskOrHid);
  if (link == nullptr) return api::kFailure;
  // The base64 exports take what lies on the sensor without waiting for a finger.
  if (!base64 && api::WaitForFinger(*link) != 0) return api::kFailure;
  uint8_t record[api::kWorkAreaBytes] = {};
  int n = 0;
  const int rc = kind == Kind::kFeature ? api::CaptureFeature(*link, record, &n)
                                        : api::CaptureTemplate(*link, record, &n);
  if (rc != 0) return rc;
  if (base64) return DeliverBase64(record, text, length);
  vantrel::text::WriteNibbleText(record, n, text);
  text[2 * n] = '\0';
  *length = 2 * n;
  return api::kOk;
}

// The reader's own feature or template on any link. The text is terminated: the caller's
// buffer holds 513 bytes, so the terminator always fits.
int ReaderRecord(int port, int (*LinkOps::*operation)(char*, int*), char* text, int* length) {
  if (text == nullptr || length == nullptr) return api::kFailure;
  char area[api::kReplyAreaBytes + 1];
  int n = 0;
  const int rc = ReaderText(port, PortClass::kAny, operation, area, &n);
  if (rc != 0) return rc;
  std::memcpy(text, area, static_cast<size_t>(n) + 1);
  *length = n;
  return api::kOk;
}

}  // namespace

extern "C" int FPIFeature(int port, char* text, int* length) {
  return api::Guarded(api::kAlgorithmException, [&] {
    return Capture(port, Kind::kFeature, text, length, false);
  });
}

extern "C" int FPITemplate(int port, char* text, int* length) {
  return api::Guarded(api::kAlgorithmException, [&] {
    return Capture(port, Kind::kTemplate, text, length, false);
  });
}

extern "C" int FPIFeatureB64(int port, char* text, int* length) {
  return api::Guarded(api::kAlgorithmException, [&] {
    return Capture(port, Kind::kFeature, text, length, true);
  });
}

extern "C" int FPITemplateB64(int port, char* text, int* length) {
  return api::Guarded(api::kAlgorithmException, [&] {
    return Capture(port, Kind::kTemplate, text, length, true);
  });
}

extern "C" int FPIFeature_RED_IZ(int port, char* text, int* length) {
  return api::Guarded(api::kFailure,
                      [&] { return ReaderRecord(port, &LinkOps::ReaderFeature, text, length); });
}

extern "C" int FPITemplate_RED_IZ(int port, char* text, int* length) {
  return api::Guarded(api::kFailure,
                      [&] { return ReaderRecord(port, &LinkOps::ReaderTemplate, text, length); });
}

extern "C" int FPIGetTemplateByFeature(const char* feature1, const char* feature2,
                                       const char* feature3, char* text, int* length) {
  if (feature1 == nullptr || feature2 == nullptr || feature3 == nullptr || text == nullptr ||
      length == nullptr) {
    return api::kFailure;
  }
  uint8_t features[3][api::kRecordBytes] = {};
  // A text that ends early is not read past its terminator (the reader's rule).
  vantrel::text::ReadNibbleText(feature1, api::kRecordBytes, features[0]);
  vantrel::text::ReadNibbleText(feature2, api::kRecordBytes, features[1]);
  vantrel::text::ReadNibbleText(feature3, api::kRecordBytes, features[2]);
  uint8_t templ[api::kRecordBytes] = {};
  uint16_t n = 0;
  int rc = 0;
  // Guarded like every algorithm call, so no exception reaches the caller.
  try {
    rc = vantrel::match::SynthesiseTemplate(features[0], features[1], features[2], templ, &n);
  } catch (...) {
    return api::kAlgorithmException;
  }
  if (rc != 0) return api::kSynthesisFailed;
  vantrel::text::WriteNibbleText(templ, api::kRecordBytes, text);
  text[api::kRecordTextChars] = '\0';
  *length = api::kRecordTextChars;
  return api::kOk;
}

extern "C" int FPICancle(void) {
  api::Module().finger_wait_active = 0;
  return api::kOk;
}
