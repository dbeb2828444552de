// The disk-device seam: the present disk devices, and SCSI commands passed through to
// one of them. The disk link finds the reader among these by an INQUIRY and then talks
// to it with 16-byte vendor commands.
//
// Contract for every backend:
// - All entries may be called from any thread, one call at a time per handle; a
//   backend guards its own tables.
// - Nothing here throws. Handles are small non-negative integers, -1 means none.
#pragma once

#include <cstdint>

namespace vantrel::platform {

// A path by which a disk device is opened (a device node, a Windows device interface
// path, or a stand-in's name). Room for the longest Windows path (MAX_PATH).
struct DiskPath {
  char text[260];
};
inline constexpr int kMaxDisks = 64;

enum class DataDirection : uint8_t { kNone, kToDevice, kFromDevice };

// One pass-through command. data_length is at most kMaxScsiTransfer.
struct ScsiCommand {
  const uint8_t* cdb = nullptr;
  int cdb_length = 0;        // 6 or 16
  DataDirection direction = DataDirection::kNone;
  uint8_t* data = nullptr;   // read from (to device) or written to (from device)
  int data_length = 0;
  uint32_t timeout_s = 0;    // whole seconds; the command is abandoned after it
};
inline constexpr int kMaxScsiTransfer = 65535;

enum class ScsiOutcome : uint8_t {
  kDone,      // the command ran; status tells how it ended
  kPending,   // the command did not complete at once; it counts as failed
  kFailed,    // the command could not be issued or the transport failed (device gone,
              // time-out, host error)
};

struct ScsiResult {
  ScsiOutcome outcome = ScsiOutcome::kFailed;
  uint8_t status = 0xFF;  // SCSI status byte when kDone (0 = good)
  int residual = 0;       // bytes of data_length not transferred
};

class DiskDevices {
 public:
  virtual ~DiskDevices() = default;

  // Writes the paths of the present disk devices, in a stable order, into
  // paths[0..capacity) and returns their count (0 when there are none), or -1 when the
  // list cannot be read at all.
  virtual int List(DiskPath* paths, int capacity) = 0;

  // Opens a device by its path for reading and writing, shared. Returns a handle, or -1.
  virtual int Open(const char* path) = 0;

  // Closes a handle from Open. False when closing failed (the handle stays valid).
  virtual bool Close(int handle) = 0;

  // Issues one command and waits for it (at most its time-out). A data buffer is moved
  // in the command's direction; from the device at most data_length bytes are stored.
  virtual ScsiResult Execute(int handle, const ScsiCommand& command) = 0;
};

// The backends.
DiskDevices& LinuxDiskDevices();  // reader/platform/linux/sg_disk.cpp
DiskDevices& NoDiskDevices();     // finds nothing (reader/platform/null_backends.cpp)

}  // namespace vantrel::platform
