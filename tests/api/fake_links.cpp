#include "tests/api/fake_links.h"

#include <algorithm>

#include "reader/api/module_state.h"

namespace vantrel::api::testing {

FakeLog& Log() {
  static FakeLog log;
  return log;
}

namespace {

template <int kLink>
struct Fake {
  static int Note(const char* operation, int a = 0, int b = 0) {
    Log().calls.push_back(Call{kLink, operation, links::State().serial, a, b});
    return Log().result[kLink];
  }
  static int Reset() { return Note("Reset"); }
  static int Free() { return Note("Free"); }
  static int SetWorkMode(int mode) { return Note("SetWorkMode", mode); }
  static int GetWorkMode(int* mode) {
    *mode = Log().value;
    return Note("GetWorkMode");
  }
  static int GetStatus(uint8_t* word) {
    word[0] = 0x12;
    word[1] = 0x34;
    return Note("GetStatus");
  }
  static int GetErrorCode(uint8_t* word) {
    word[0] = 0x56;
    word[1] = 0x78;
    return Note("GetErrorCode");
  }
  static int GetVersion(uint8_t* buffer, int* length) {
    std::memcpy(buffer, Log().text.data(), Log().text.size());
    *length = static_cast<int>(Log().text.size());
    return Note("GetVersion");
  }
  static int SetSequence(const char* text) {
    std::memcpy(Log().field, text, 32);
    return Note("SetSequence");
  }
  static int GetSequence(uint8_t* buffer) {
    // What the request would carry: the contents up to the first zero byte.
    const int sent = static_cast<int>(std::strlen(reinterpret_cast<const char*>(buffer)));
    for (int i = 0; i < 32; ++i) buffer[i] = static_cast<uint8_t>(0xA0 + i);
    return Note("GetSequence", sent);
  }
  static int SetKey(const char* text) {
    std::memcpy(Log().field, text, 16);
    return Note("SetKey");
  }
  static int SetSecurityLevel(int level) { return Note("SetSecurityLevel", level); }
  static int GetSecurityLevel(int* level) {
    *level = Log().value;
    return Note("GetSecurityLevel");
  }
  static int Calibrate() { return Note("Calibrate"); }
  static int SetBaudRate(int baud) { return Note("SetBaudRate", baud); }
  static int ClearLibrary() { return Note("ClearLibrary"); }
  static int InsertTemplate(int id, const uint8_t*, int name_length, const char*, int) {
    return Note("InsertTemplate", id, name_length);
  }
  static int StoreLibrary() { return Note("StoreLibrary"); }
  static int CountTemplates(int* count) {
    *count = Log().value;
    return Note("CountTemplates");
  }
  static int Search(int first, int second, uint8_t* buffer, int* length) {
    std::memcpy(buffer, Log().text.data(), Log().text.size());
    *length = static_cast<int>(Log().text.size());
    return Note("Search", first, second);
  }
  static int Update(const uint8_t*, int length, int kind, int baud) {
    return Note("Update", length * 1000 + kind, baud);
  }
  static int UpdateSendFileSize(int size) { return Note("UpdateSendFileSize", size); }
  static int UpdateSendPacket(int number, const uint8_t*, int length) {
    return Note("UpdateSendPacket", number, length);
  }
  static int UpdateWrite(int value) { return Note("UpdateWrite", value); }
  static int Text(const char* operation, char* text, int* length) {
    std::memcpy(text, Log().text.data(), Log().text.size());
    *length = static_cast<int>(Log().text.size());
    return Note(operation);
  }
  static int ReaderTemplate(char* t, int* n) { return Text("ReaderTemplate", t, n); }
  static int ReaderFeature(char* t, int* n) { return Text("ReaderFeature", t, n); }
  static int CaptureTemplate(char* t, int* n) { return Text("CaptureTemplate", t, n); }
  static int CaptureFeature(char* t, int* n) { return Text("CaptureFeature", t, n); }
  static int GetImageSize(int* width, int* height) {
    *width = Log().width;
    *height = Log().height;
    return Note("GetImageSize");
  }
  static void FillImage(uint8_t* image, int bytes) {
    for (int i = 0; i < bytes; ++i) image[i] = static_cast<uint8_t>(Log().pixel_base + i);
  }
  static int ReadImage(int width, int height, uint8_t* image, int upload_mode, int* out_width,
                       int* out_height) {
    FillImage(image, width * height);
    if (out_width != nullptr) *out_width = Log().width;
    if (out_height != nullptr) *out_height = Log().height;
    return Note("ReadImage", width * height, upload_mode);
  }
  static int CaptureImageAtOnce(int* width, int* height, uint8_t* image) {
    *width = Log().width;
    *height = Log().height;
    FillImage(image, Log().width * Log().height);
    return Note("CaptureImageAtOnce");
  }
  static int FingerState() {
    const int rc = Note("FingerState");
    return rc != 0 ? rc : Log().finger_state;
  }
  static int ReadPackedImage(int request, int* width, int* height, uint8_t* image) {
    *width = Log().width;
    *height = Log().height;
    FillImage(image, 30400);
    return Note("ReadPackedImage", request);
  }
  static int Detect() { return Note("Detect"); }

  static const links::LinkOps& Table() {
    static const links::LinkOps ops{
        Reset,          Free,           SetWorkMode,      GetWorkMode,     GetStatus,
        GetErrorCode,   GetVersion,     SetSequence,      GetSequence,     SetKey,
        SetSecurityLevel, GetSecurityLevel, Calibrate,    SetBaudRate,     ClearLibrary,
        InsertTemplate, StoreLibrary,   CountTemplates,   Search,          Update,
        UpdateSendFileSize, UpdateSendPacket, UpdateWrite, ReaderTemplate, ReaderFeature,
        CaptureTemplate, CaptureFeature, GetImageSize,    ReadImage,       CaptureImageAtOnce,
        FingerState,    ReadPackedImage, Detect};
    return ops;
  }
};

}  // namespace

const links::LinkOps& FakeOps(int link) {
  switch (link) {
    case kDisk: return Fake<kDisk>::Table();
    case kHid: return Fake<kHid>::Table();
    default: return Fake<kSerial>::Table();
  }
}

FakeLinks::FakeLinks() : state_(links::State()) {
  Log() = FakeLog{};
  previous_ = InstallLinkTables(LinkTables{&FakeOps(kDisk), &FakeOps(kHid), &FakeOps(kSerial)});
  links::State() = links::LinkState{};
  Module().dialog_mode = 0;
}

FakeLinks::~FakeLinks() {
  InstallLinkTables(previous_);
  links::State() = state_;
  Module().dialog_mode = 0;
}

}  // namespace vantrel::api::testing
