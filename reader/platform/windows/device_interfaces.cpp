#include "reader/platform/windows/device_interfaces.h"

#include <setupapi.h>

#include <cstring>
#include <memory>

namespace vantrel::platform {

bool ForEachInterfacePath(const GUID& interface_class, int path_capacity,
                          bool (*visit)(const char* path, void* context), void* context) {
  HDEVINFO set = SetupDiGetClassDevsA(&interface_class, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interface_data = {};
    interface_data.cbSize = sizeof interface_data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &interface_class, index, &interface_data)) {
      break;  // no interface left
    }
    DWORD needed = 0;
    if (!SetupDiGetDeviceInterfaceDetailA(set, &interface_data, nullptr, 0, &needed, nullptr) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      break;
    }
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || needed > 65536) continue;
    std::unique_ptr<unsigned char[]> storage(new (std::nothrow) unsigned char[needed]());
    if (!storage) break;
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);  // the header, not the whole
    if (!SetupDiGetDeviceInterfaceDetailA(set, &interface_data, detail, needed, nullptr,
                                          nullptr)) {
      continue;
    }
    // The path ends inside the record: never read past it even if the system forgot the
    // terminator.
    const size_t room = needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const size_t length = strnlen(detail->DevicePath, room);
    if (length == room || length == 0 || length >= static_cast<size_t>(path_capacity)) continue;
    if (!visit(detail->DevicePath, context)) break;
  }
  SetupDiDestroyDeviceInfoList(set);
  return true;
}

HANDLE OpenDevicePath(const char* path) {
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace vantrel::platform
