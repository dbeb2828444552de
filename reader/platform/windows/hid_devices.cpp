// The HID seam on Windows: the HID interface class through SetupDi, ids from
// HidD_GetAttributes, report lengths from HidP_GetCaps, reports through overlapped
// WriteFile and ReadFile whose waits are the link's time-outs, and the device-change
// registration.
#include <windows.h>
#include <dbt.h>
// These two headers of MinGW-w64 declare C functions without saying so to C++.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstring>
#include <memory>

#include "reader/platform/hid_device.h"
#include "reader/platform/windows/device_interfaces.h"
#include "reader/platform/windows/windows_backends.h"

namespace vantrel::platform {

namespace {

constexpr int kMaxReportBytes = 1024;

GUID HidClass() {
  GUID hid_class;
  HidD_GetHidGuid(&hid_class);
  return hid_class;
}

bool ReadIds(HANDLE handle, HidDeviceInfo* info) {
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof attributes;
  if (!HidD_GetAttributes(handle, &attributes)) return false;
  info->vendor_id = attributes.VendorID;
  info->product_id = attributes.ProductID;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(handle, &preparsed)) return false;
  HIDP_CAPS caps = {};
  const bool ok = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
  HidD_FreePreparsedData(preparsed);
  if (!ok) return false;
  info->input_report_length = caps.InputReportByteLength;
  info->output_report_length = caps.OutputReportByteLength;
  return true;
}

// One open device. Reads land in a buffer of the object's own, so a transfer that the
// system finishes late can never write into a caller's memory; every wait that gives up
// cancels the transfer and waits for the cancellation before returning.
class WindowsHidDevice final : public HidDevice {
 public:
  WindowsHidDevice(HANDLE handle, HANDLE event, const HidDeviceInfo& info)
      : handle_(handle), event_(event), info_(info) {
    overlapped_.hEvent = event_;
  }
  ~WindowsHidDevice() override {
    CancelPending();
    CloseHandle(event_);
    CloseHandle(handle_);
  }
  int InputReportLength() const override { return info_.input_report_length; }
  int OutputReportLength() const override { return info_.output_report_length; }

  HidIo WriteReport(const uint8_t* report, int length, uint32_t timeout_ms) override {
    if (report == nullptr || length <= 0 || length > kMaxReportBytes) return HidIo::kGone;
    std::memcpy(out_, report, static_cast<size_t>(length));
    DWORD done = 0;
    return Transfer(WriteFile(handle_, out_, static_cast<DWORD>(length), &done, &overlapped_),
                    timeout_ms, &done);
  }

  HidIo ReadReport(uint8_t* report, int capacity, int* length, uint32_t timeout_ms) override {
    *length = 0;
    const int want = info_.input_report_length;
    if (report == nullptr || capacity <= 0 || want <= 0 || want > kMaxReportBytes) {
      return HidIo::kGone;
    }
    DWORD got = 0;
    const HidIo io =
        Transfer(ReadFile(handle_, in_, static_cast<DWORD>(want), &got, &overlapped_),
                 timeout_ms, &got);
    if (io != HidIo::kDone) return io;
    const int kept = static_cast<int>(got) < capacity ? static_cast<int>(got) : capacity;
    std::memcpy(report, in_, static_cast<size_t>(kept));
    *length = kept;
    return HidIo::kDone;
  }

  void AbandonPending() override { CancelPending(); }

 private:
  HidIo Transfer(BOOL started, uint32_t timeout_ms, DWORD* done) {
    if (!started && GetLastError() != ERROR_IO_PENDING) {
      ResetEvent(event_);
      return HidIo::kGone;
    }
    pending_ = true;
    const DWORD wait = WaitForSingleObject(event_, timeout_ms);
    if (wait != WAIT_OBJECT_0) {
      CancelPending();
      return wait == WAIT_TIMEOUT ? HidIo::kTimeout : HidIo::kGone;
    }
    pending_ = false;
    const BOOL ok = GetOverlappedResult(handle_, &overlapped_, done, FALSE);
    ResetEvent(event_);
    return ok ? HidIo::kDone : HidIo::kGone;
  }

  void CancelPending() {
    if (!pending_) return;
    CancelIo(handle_);
    DWORD ignored = 0;
    GetOverlappedResult(handle_, &overlapped_, &ignored, TRUE);
    ResetEvent(event_);
    pending_ = false;
  }

  HANDLE handle_;
  HANDLE event_;
  HidDeviceInfo info_;
  OVERLAPPED overlapped_ = {};
  bool pending_ = false;
  uint8_t out_[kMaxReportBytes] = {};
  uint8_t in_[kMaxReportBytes] = {};
};

class Devices final : public HidDevices {
 public:
  int List(HidDeviceInfo* devices, int capacity) override {
    if (devices == nullptr || capacity <= 0) return 0;
    struct Listing {
      HidDeviceInfo* devices;
      int capacity;
      int count;
    } listing{devices, capacity, 0};
    ForEachInterfacePath(
        HidClass(), static_cast<int>(sizeof devices[0].path),
        [](const char* path, void* context) {
          auto* l = static_cast<Listing*>(context);
          HANDLE handle = OpenDevicePath(path);
          if (handle == INVALID_HANDLE_VALUE) return true;  // skip to the next
          HidDeviceInfo info;
          std::strcpy(info.path, path);  // fits: checked by the walk
          const bool ok = ReadIds(handle, &info);
          CloseHandle(handle);
          if (ok) l->devices[l->count++] = info;
          return l->count < l->capacity;
        },
        &listing);
    return listing.count;
  }

  std::unique_ptr<HidDevice> Open(const HidDeviceInfo& device) override {
    HANDLE handle = OpenDevicePath(device.path);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    HidDeviceInfo info = device;
    // Another device may have taken the path meanwhile: the ids must still match.
    if (!ReadIds(handle, &info) || info.vendor_id != device.vendor_id ||
        info.product_id != device.product_id) {
      CloseHandle(handle);
      return nullptr;
    }
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
      CloseHandle(handle);
      return nullptr;
    }
    return std::make_unique<WindowsHidDevice>(handle, event, info);
  }

  void* RegisterChangeNotices(void* recipient) override {
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = 32;  // the broadcast header and the class, without a name
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = HidClass();
    return RegisterDeviceNotificationA(static_cast<HANDLE>(recipient), &filter,
                                       DEVICE_NOTIFY_WINDOW_HANDLE);
  }

  void UnregisterChangeNotices(void* registration) override {
    if (registration != nullptr) UnregisterDeviceNotification(registration);
  }
};

}  // namespace

HidDevices& WindowsHidDevices() {
  static Devices devices;
  return devices;
}

}  // namespace vantrel::platform
