// The template library kept in the reader.
#include <cstring>

#include "reader/api/dispatch.h"
#include "reader/api/export_buffers.h"
#include "vantrel/vantrel.h"

using vantrel::links::LinkOps;
namespace api = vantrel::api;
using api::PortClass;

extern "C" int FPIClearMBLib(int port) {
  return api::Guarded(api::kFailure,
                      [&] { return api::Dispatch(port, PortClass::kAny, &LinkOps::ClearLibrary); });
}

extern "C" int FPIInsertMBLib(int port, int id, const unsigned char* data, int data_length,
                              const char* template_text, int text_length) {
  return api::Guarded(api::kFailure, [&] {
    if (data_length < 0 || text_length < 0) return api::kFailure;
    if ((data == nullptr && data_length > 0) || (template_text == nullptr && text_length > 0)) {
      return api::kFailure;
    }
    // Refused here rather than overrunning the request frame: identifier, name length and
    // template length take two bytes each beside the name and the template bytes. The
    // sum is never formed: with both lengths checked non-negative, the room left beside
    // the template cannot overflow, whatever the caller's data length.
    const int template_bytes = text_length / 2;
    if (template_bytes > api::kInsertTemplateMaxBytes ||
        data_length > api::kInsertDataMaxBytes - 6 - template_bytes) {
      return api::kFailure;
    }
    return api::Dispatch(port, PortClass::kAny, &LinkOps::InsertTemplate, id, data, data_length,
                         template_text, text_length);
  });
}

extern "C" int FPIWriteMBLib(int port) {
  return api::Guarded(api::kFailure,
                      [&] { return api::Dispatch(port, PortClass::kAny, &LinkOps::StoreLibrary); });
}

extern "C" int FPIGetMBLibCount(int port, int* count) {
  return api::Guarded(api::kFailure, [&] {
    if (count == nullptr) return api::kFailure;
    int value = 0;
    const int rc = api::Dispatch(port, PortClass::kAny, &LinkOps::CountTemplates, &value);
    if (rc == 0) *count = value;
    return rc;
  });
}

extern "C" int FPISearch(int port, int first, int second, unsigned char* buffer, int* length) {
  return api::Guarded(api::kFailure, [&] {
    if (buffer == nullptr || length == nullptr) return api::kFailure;
    uint8_t area[api::kReplyAreaBytes] = {};
    int count = 0;
    const int rc = api::Dispatch(port, PortClass::kAny, &LinkOps::Search, first, second, area,
                                 &count);
    if (rc != 0) return rc;
    // The answer goes out with a zero byte behind it, as the disk link delivers it.
    if (count < 0 || count >= api::kSearchBufferBytes) return api::kFailure;
    std::memcpy(buffer, area, static_cast<size_t>(count));
    buffer[count] = 0;
    *length = count;
    return api::kOk;
  });
}
