// Firmware update: one-shot on the serial link, or stepwise on any link.
#include "reader/api/dispatch.h"
#include "vantrel/vantrel.h"

using vantrel::links::LinkOps;
namespace api = vantrel::api;
using api::PortClass;

extern "C" int FPIUpdate(int port, const unsigned char* data, int length, int kind, int baud) {
  return api::Guarded(api::kFailure, [&] {
    if (api::SelectLink(port, PortClass::kSerialOnly) == nullptr) return api::kFailure;
    if (length < 0 || (data == nullptr && length > 0)) return api::kFailure;
    // The data travels in one text request; what that cannot carry is refused here.
    if (length > vantrel::links::kMaxUpdateBytes) return api::kFailure;
    const int mapped = api::MapReaderBaud(baud);
    const int rc =
        api::Dispatch(port, PortClass::kSerialOnly, &LinkOps::Update, data, length, kind, mapped);
    if (rc == 0) vantrel::links::State().configured_baud = mapped;
    return rc;
  });
}

extern "C" int FPIUpdate_SendFileSize(int port, int size) {
  return api::Guarded(api::kFailure, [&] {
    return api::Dispatch(port, PortClass::kAny, &LinkOps::UpdateSendFileSize, size);
  });
}

extern "C" int FPIUpdate_SendPacket(int port, int number, const unsigned char* data, int length) {
  return api::Guarded(api::kFailure, [&] {
    if (length < 0 || (data == nullptr && length > 0)) return api::kFailure;
    return api::Dispatch(port, PortClass::kAny, &LinkOps::UpdateSendPacket, number, data, length);
  });
}

extern "C" int FPIUpdate_Write(int port, int value) {
  return api::Guarded(api::kFailure, [&] {
    return api::Dispatch(port, PortClass::kAny, &LinkOps::UpdateWrite, value);
  });
}
