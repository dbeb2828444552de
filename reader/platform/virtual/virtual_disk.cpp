#include "reader/platform/virtual/virtual_disk.h"

#include <cstdio>
#include <cstring>

namespace vantrel::platform {

namespace {

constexpr char kPathPrefix[] = "/dev/vantrel-sim";

int DiskIndexOf(const char* path) {
  const size_t prefix = sizeof(kPathPrefix) - 1;
  if (path == nullptr || std::strncmp(path, kPathPrefix, prefix) != 0) return -1;
  int index = 0;
  const char* p = path + prefix;
  if (*p == '\0') return -1;
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || index > 100000) return -1;
    index = index * 10 + (*p - '0');
  }
  return index;
}

}  // namespace

void VirtualDisk::AddReader(sim::ReaderModel& model) {
  std::lock_guard<std::mutex> guard(lock_);
  disks_.push_back(Disk{std::make_unique<sim::DiskReaderSim>(model)});
}

void VirtualDisk::FailListing(bool fail) {
  std::lock_guard<std::mutex> guard(lock_);
  fail_listing_ = fail;
}

int VirtualDisk::OpenHandles() const {
  std::lock_guard<std::mutex> guard(lock_);
  int count = 0;
  for (const Handle& h : handles_) count += h.open ? 1 : 0;
  return count;
}

int VirtualDisk::OpensSoFar() const {
  std::lock_guard<std::mutex> guard(lock_);
  return opens_;
}

std::vector<std::array<uint8_t, 16>> VirtualDisk::VendorBlocks() const {
  std::lock_guard<std::mutex> guard(lock_);
  return blocks_;
}

void VirtualDisk::ClearLog() {
  std::lock_guard<std::mutex> guard(lock_);
  blocks_.clear();
}

int VirtualDisk::List(DiskPath* paths, int capacity) {
  std::lock_guard<std::mutex> guard(lock_);
  if (fail_listing_) return -1;
  if (paths == nullptr || capacity <= 0) return 0;
  int count = 0;
  for (size_t i = 0; i < disks_.size() && count < capacity; ++i) {
    if (!disks_[i].reader->model().Present()) continue;
    std::snprintf(paths[count].text, sizeof(paths[count].text), "%s%zu", kPathPrefix, i);
    ++count;
  }
  return count;
}

int VirtualDisk::Open(const char* path) {
  std::lock_guard<std::mutex> guard(lock_);
  const int index = DiskIndexOf(path);
  if (index < 0 || index >= static_cast<int>(disks_.size())) return -1;
  if (!disks_[static_cast<size_t>(index)].reader->model().Present()) return -1;
  ++opens_;
  for (size_t i = 0; i < handles_.size(); ++i) {
    if (!handles_[i].open) {
      handles_[i] = Handle{index, true};
      return static_cast<int>(i);
    }
  }
  handles_.push_back(Handle{index, true});
  return static_cast<int>(handles_.size() - 1);
}

bool VirtualDisk::Close(int handle) {
  std::lock_guard<std::mutex> guard(lock_);
  if (handle < 0 || handle >= static_cast<int>(handles_.size())) return false;
  Handle& h = handles_[static_cast<size_t>(handle)];
  if (!h.open) return false;
  h.open = false;
  return true;
}

ScsiResult VirtualDisk::Execute(int handle, const ScsiCommand& command) {
  ScsiResult result;
  sim::DiskReaderSim* reader = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (handle < 0 || handle >= static_cast<int>(handles_.size()) ||
        !handles_[static_cast<size_t>(handle)].open) {
      return result;
    }
    if (command.cdb == nullptr || (command.cdb_length != 6 && command.cdb_length != 16) ||
        command.data_length < 0 || command.data_length > kMaxScsiTransfer) {
      return result;
    }
    if (command.cdb_length == 16) {
      std::array<uint8_t, 16> block{};
      std::memcpy(block.data(), command.cdb, 16);
      blocks_.push_back(block);
    }
    reader = disks_[static_cast<size_t>(handles_[static_cast<size_t>(handle)].disk)]
                 .reader.get();
  }
  int transferred = 0;
  std::lock_guard<std::mutex> serial(exec_lock_);
  const bool to_device = command.direction == DataDirection::kToDevice;
  const sim::DiskAnswer answer =
      reader->Execute(command.cdb, command.cdb_length, to_device, command.data,
                      command.data_length, &transferred);
  switch (answer) {
    case sim::DiskAnswer::kGood:
      result.outcome = ScsiOutcome::kDone;
      result.status = 0;
      break;
    case sim::DiskAnswer::kCheckCondition:
      result.outcome = ScsiOutcome::kDone;
      result.status = 0x02;
      break;
    case sim::DiskAnswer::kPending:
      result.outcome = ScsiOutcome::kPending;
      break;
    case sim::DiskAnswer::kGone:
      result.outcome = ScsiOutcome::kFailed;
      break;
  }
  result.residual = command.data_length - transferred;
  return result;
}

}  // namespace vantrel::platform
