// The disk seam on Windows: the disk interface class through SetupDi, commands through
// DeviceIoControl with the SCSI pass-through ioctls. The 6-byte INQUIRY goes with its
// data inside the request block (IOCTL_SCSI_PASS_THROUGH); the 16-byte vendor commands
// move their data directly from and to the caller's buffer (IOCTL_SCSI_PASS_THROUGH_DIRECT).
#include <windows.h>
#include <ntddscsi.h>

#include <cstddef>
#include <cstring>
#include <mutex>

#include "reader/platform/disk_device.h"
#include "reader/platform/windows/device_interfaces.h"

namespace vantrel::platform {

namespace {

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}: the disk device interface class.
constexpr GUID kDiskInterfaceClass = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

constexpr UCHAR kTargetId = 1;
constexpr UCHAR kSenseBytes = 24;
constexpr int kInlineDataBytes = 192;  // the INQUIRY's data, inside the request block
constexpr DWORD kOverlappedOffset = 400;
constexpr int kMaxOpen = 8;

struct DirectBlock {
  SCSI_PASS_THROUGH_DIRECT request;
  ULONG filler;
  UCHAR sense[32];
};

struct BufferedBlock {
  SCSI_PASS_THROUGH request;
  ULONG filler;
  UCHAR sense[32];
  UCHAR data[kInlineDataBytes];
};

// One call of a pass-through ioctl, with a fresh manual-reset event. A call that did not
// complete at once counts as failed; it is cancelled and waited for before the blocks it
// writes into go away.
ScsiOutcome PassThrough(HANDLE handle, DWORD code, void* block, DWORD in_bytes,
                        DWORD out_bytes) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = kOverlappedOffset;
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return ScsiOutcome::kFailed;
  DWORD returned = 0;
  ScsiOutcome outcome = ScsiOutcome::kDone;
  if (!DeviceIoControl(handle, code, block, in_bytes, block, out_bytes, &returned,
                       &overlapped)) {
    outcome = ScsiOutcome::kFailed;
    if (GetLastError() == ERROR_IO_PENDING) {
      outcome = ScsiOutcome::kPending;
      CancelIo(handle);
      GetOverlappedResult(handle, &overlapped, &returned, TRUE);
    }
  }
  CloseHandle(overlapped.hEvent);
  return outcome;
}

class PassThroughDiskDevices final : public DiskDevices {
 public:
  int List(DiskPath* paths, int capacity) override {
    if (paths == nullptr || capacity <= 0) return 0;
    struct Listing {
      DiskPath* paths;
      int capacity;
      int count;
    } listing{paths, capacity, 0};
    const bool ok = ForEachInterfacePath(
        kDiskInterfaceClass, static_cast<int>(sizeof paths[0].text),
        [](const char* path, void* context) {
          auto* l = static_cast<Listing*>(context);
          std::strcpy(l->paths[l->count].text, path);  // fits: checked by the walk
          return ++l->count < l->capacity;
        },
        &listing);
    return ok ? listing.count : -1;
  }

  int Open(const char* path) override {
    if (path == nullptr) return -1;
    std::lock_guard<std::mutex> guard(lock_);
    int slot = -1;
    for (int i = 0; i < kMaxOpen && slot < 0; ++i) {
      if (handles_[i] == nullptr) slot = i;
    }
    if (slot < 0) return -1;
    HANDLE handle = OpenDevicePath(path);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    handles_[slot] = handle;
    return slot;
  }

  bool Close(int handle) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (handle < 0 || handle >= kMaxOpen || handles_[handle] == nullptr) return false;
    if (!CloseHandle(handles_[handle])) return false;
    handles_[handle] = nullptr;
    return true;
  }

  ScsiResult Execute(int handle, const ScsiCommand& command) override {
    ScsiResult result;
    HANDLE device = HandleOf(handle);
    if (device == nullptr || command.cdb == nullptr || command.cdb_length <= 0 ||
        command.cdb_length > 16 || command.data_length < 0 ||
        command.data_length > kMaxScsiTransfer ||
        (command.data_length > 0 && command.data == nullptr)) {
      return result;
    }
    const bool inline_data =
        command.cdb_length <= 6 && command.data_length <= kInlineDataBytes;
    return inline_data ? Buffered(device, command) : Direct(device, command);
  }

 private:
  HANDLE HandleOf(int handle) {
    std::lock_guard<std::mutex> guard(lock_);
    return handle >= 0 && handle < kMaxOpen ? handles_[handle] : nullptr;
  }

  template <typename Request>
  static void Fill(Request& r, const ScsiCommand& command, ULONG sense_offset) {
    r.Length = sizeof(Request);
    r.PathId = 0;
    r.TargetId = kTargetId;
    r.Lun = 0;
    r.CdbLength = static_cast<UCHAR>(command.cdb_length);
    r.SenseInfoLength = kSenseBytes;
    r.DataIn = command.direction == DataDirection::kFromDevice ? SCSI_IOCTL_DATA_IN
               : command.direction == DataDirection::kToDevice ? SCSI_IOCTL_DATA_OUT
                                                                : SCSI_IOCTL_DATA_UNSPECIFIED;
    r.DataTransferLength = static_cast<ULONG>(command.data_length);
    r.TimeOutValue = command.timeout_s & 0xFF;  // the reader's time-outs fit one byte
    r.SenseInfoOffset = sense_offset;
    std::memcpy(r.Cdb, command.cdb, static_cast<size_t>(command.cdb_length));
  }

  static ScsiResult Finish(ScsiOutcome outcome, UCHAR status, ULONG transferred,
                           const ScsiCommand& command) {
    ScsiResult result;
    result.outcome = outcome;
    if (outcome != ScsiOutcome::kDone) return result;
    result.status = status;
    const ULONG asked = static_cast<ULONG>(command.data_length);
    result.residual = transferred < asked ? static_cast<int>(asked - transferred) : 0;
    return result;
  }

  static ScsiResult Buffered(HANDLE device, const ScsiCommand& command) {
    BufferedBlock block = {};
    Fill(block.request, command, offsetof(BufferedBlock, sense));
    block.request.DataBufferOffset = offsetof(BufferedBlock, data);
    const bool to_device = command.direction == DataDirection::kToDevice;
    if (to_device && command.data_length > 0) {
      std::memcpy(block.data, command.data, static_cast<size_t>(command.data_length));
    }
    const DWORD in_bytes = to_device ? static_cast<DWORD>(offsetof(BufferedBlock, data) +
                                                          command.data_length)
                                     : static_cast<DWORD>(sizeof(SCSI_PASS_THROUGH));
    const ScsiOutcome outcome =
        PassThrough(device, IOCTL_SCSI_PASS_THROUGH, &block, in_bytes, sizeof block);
    ULONG transferred = block.request.DataTransferLength;
    if (transferred > static_cast<ULONG>(command.data_length)) {
      transferred = static_cast<ULONG>(command.data_length);
    }
    if (outcome == ScsiOutcome::kDone && !to_device && transferred > 0) {
      std::memcpy(command.data, block.data, transferred);
    }
    return Finish(outcome, block.request.ScsiStatus, transferred, command);
  }

  static ScsiResult Direct(HANDLE device, const ScsiCommand& command) {
    DirectBlock block = {};
    Fill(block.request, command, offsetof(DirectBlock, sense));
    block.request.DataBuffer = command.data_length > 0 ? command.data : nullptr;
    const ScsiOutcome outcome = PassThrough(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                            sizeof block, sizeof block);
    return Finish(outcome, block.request.ScsiStatus, block.request.DataTransferLength,
                  command);
  }

  std::mutex lock_;
  HANDLE handles_[kMaxOpen] = {};
};

}  // namespace

DiskDevices& PassThroughDisks() {
  static PassThroughDiskDevices disks;
  return disks;
}

}  // namespace vantrel::platform
