// The disk seam served by stand-in readers: each added reader is one present disk.
// Counts open handles, so tests can check that every path closes what it opened, and
// keeps the command blocks it was given.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "reader/platform/disk_device.h"
#include "sim/disk_reader_sim.h"

namespace vantrel::platform {

class VirtualDisk final : public DiskDevices {
 public:
  VirtualDisk() = default;

  // Adds a disk carrying the model, listed as "/dev/vantrel-sim<N>" in order of adding.
  // An unplugged model (not Present()) is not listed and cannot be opened.
  void AddReader(sim::ReaderModel& model);
  // The listing fails as a whole (-1).
  void FailListing(bool fail);

  int OpenHandles() const;
  int OpensSoFar() const;
  // 16-byte command blocks seen, oldest first (INQUIRY blocks are not kept).
  std::vector<std::array<uint8_t, 16>> VendorBlocks() const;
  void ClearLog();

  int List(DiskPath* paths, int capacity) override;
  int Open(const char* path) override;
  bool Close(int handle) override;
  ScsiResult Execute(int handle, const ScsiCommand& command) override;

 private:
  struct Disk {
    std::unique_ptr<sim::DiskReaderSim> reader;
  };
  struct Handle {
    int disk = -1;
    bool open = false;
  };
  mutable std::mutex lock_;
  // One command at a time reaches the readers, as on a real bus.
  std::mutex exec_lock_;
  std::vector<Disk> disks_;
  std::vector<Handle> handles_;
  std::vector<std::array<uint8_t, 16>> blocks_;
  bool fail_listing_ = false;
  int opens_ = 0;
};

}  // namespace vantrel::platform
