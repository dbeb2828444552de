// The disk seam on Linux: SCSI generic nodes (/dev/sgN) and block disks (/dev/sdX),
// commands through the SG_IO ioctl. SG_IO waits for the command, so a call never stays
// pending here; the time-out is the kernel's, and an expired one reads as a failed
// transport.
#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "reader/platform/disk_device.h"

namespace vantrel::platform {

namespace {

constexpr int kSenseLength = 32;
constexpr uint32_t kMinimumTimeoutMs = 1000;
constexpr uint32_t kMaximumTimeoutS = 3600;

// Names in a /sys folder that begin with prefix, sorted so the order is stable.
std::vector<std::string> NamesIn(const char* folder, const char* prefix) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder);
  if (dir == nullptr) return names;
  const size_t prefix_length = std::strlen(prefix);
  while (const dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix, prefix_length) == 0) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(dir);
  // sg2 before sg10: shorter names first, then by text.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

class SgDisks final : public DiskDevices {
 public:
  int List(DiskPath* paths, int capacity) override {
    if (paths == nullptr || capacity <= 0) return 0;
    int count = 0;
    auto add = [&](const std::string& name) {
      if (count >= capacity) return;
      const std::string path = "/dev/" + name;
      if (path.size() >= sizeof(paths[count].text)) return;
      std::memcpy(paths[count].text, path.c_str(), path.size() + 1);
      ++count;
    };
    // The generic nodes first: they take any command. The block nodes serve where the
    // sg driver is not loaded.
    for (const std::string& name : NamesIn("/sys/class/scsi_generic", "sg")) add(name);
    for (const std::string& name : NamesIn("/sys/block", "sd")) add(name);
    return count;
  }

  int Open(const char* path) override {
    if (path == nullptr) return -1;
    int fd;
    do {
      fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? -1 : fd;
  }

  bool Close(int handle) override {
    if (handle < 0) return false;
    // Linux releases the descriptor even when close reports EINTR; do not retry.
    return close(handle) == 0 || errno == EINTR;
  }

  ScsiResult Execute(int handle, const ScsiCommand& command) override {
    ScsiResult result;
    if (handle < 0 || command.cdb == nullptr || command.cdb_length <= 0 ||
        command.cdb_length > 16 || command.data_length < 0 ||
        command.data_length > kMaxScsiTransfer ||
        (command.data_length > 0 && command.data == nullptr)) {
      return result;
    }
    unsigned char cdb[16];
    std::memcpy(cdb, command.cdb, static_cast<size_t>(command.cdb_length));
    unsigned char sense[kSenseLength] = {};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof(io));
    io.interface_id = 'S';
    switch (command.direction) {
      case DataDirection::kToDevice: io.dxfer_direction = SG_DXFER_TO_DEV; break;
      case DataDirection::kFromDevice: io.dxfer_direction = SG_DXFER_FROM_DEV; break;
      case DataDirection::kNone: io.dxfer_direction = SG_DXFER_NONE; break;
    }
    if (command.data_length == 0) io.dxfer_direction = SG_DXFER_NONE;
    io.cmd_len = static_cast<unsigned char>(command.cdb_length);
    io.cmdp = cdb;
    io.mx_sb_len = kSenseLength;
    io.sbp = sense;
    io.dxfer_len = static_cast<unsigned int>(command.data_length);
    io.dxferp = command.data_length > 0 ? command.data : nullptr;
    io.timeout = std::max(kMinimumTimeoutMs, std::min(command.timeout_s, kMaximumTimeoutS) * 1000u);
    int rc;
    do {
      rc = ioctl(handle, SG_IO, &io);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return result;
    // Host or driver trouble other than sense data (time-out, reset, device gone).
    const bool driver_ok = (io.driver_status & ~0x08) == 0;  // 0x08: sense data follow
    if (io.host_status != 0 || !driver_ok) return result;
    result.outcome = ScsiOutcome::kDone;
    result.status = io.status;
    result.residual = io.resid;
    return result;
  }
};

}  // namespace

DiskDevices& LinuxDiskDevices() {
  static SgDisks disks;
  return disks;
}

}  // namespace vantrel::platform
