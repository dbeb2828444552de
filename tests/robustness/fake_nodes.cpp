#include "tests/robustness/fake_nodes.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/disk_reader_sim.h"
#include "sim/hid_device_sim.h"

namespace vantrel::testing {
namespace {

// The C library's own entries, found past this program.
template <typename F>
F Next(const char* name) {
  static_assert(sizeof(F) == sizeof(void*));
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
using OpenFn = int (*)(const char*, int, ...);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);
using ReadFn = ssize_t (*)(int, void*, size_t);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using PollFn = int (*)(pollfd*, nfds_t, int);
using OpendirFn = DIR* (*)(const char*);
using ReaddirFn = dirent* (*)(DIR*);
using ClosedirFn = int (*)(DIR*);

constexpr char kDiskNode[] = "/dev/sg0";
constexpr char kHidNode[] = "/dev/hidraw0";

// A vendor-defined device with unnumbered 64-byte input and output reports, as the reader.
constexpr uint8_t kHidDescriptor[] = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};

enum class NodeKind { kDisk, kHid };

struct OpenNode {
  NodeKind kind;
  bool has_pending = false;
  uint8_t pending[128] = {};  // an input report taken from the device, id byte first
  int pending_length = 0;
};

struct FakeDir {
  std::vector<std::string> names;
  size_t next = 0;
  dirent entry{};
};

struct Nodes {
  std::recursive_mutex lock;
  std::unique_ptr<sim::DiskReaderSim> disk;
  std::unique_ptr<sim::HidDeviceSim> hid;
  std::map<int, OpenNode> open;
  std::set<const void*> dirs;
  bool Active() const { return disk != nullptr || hid != nullptr; }
};

Nodes& State() {
  static Nodes* nodes = new Nodes;  // never destroyed: calls may come during exit
  return *nodes;
}

// The listing of a /sys folder while a reader is attached; false for other folders.
bool FakeListing(const char* path, std::vector<std::string>* names) {
  Nodes& n = State();
  if (!n.Active() || path == nullptr) return false;
  const std::string p = path;
  if (p == "/sys/class/scsi_generic") {
    if (n.disk != nullptr && n.disk->model().Present()) names->push_back("sg0");
  } else if (p == "/sys/class/hidraw") {
    if (n.hid != nullptr && n.hid->Present()) names->push_back("hidraw0");
  } else if (p != "/sys/block") {
    return false;
  }
  names->insert(names->begin(), {".", ".."});
  return true;
}

int OpenNodeAt(const char* path, int flags, mode_t mode, bool* handled) {
  Nodes& n = State();
  std::lock_guard<std::recursive_mutex> guard(n.lock);
  *handled = false;
  if (!n.Active() || path == nullptr) return -1;
  const std::string p = path;
  NodeKind kind;
  bool present = false;
  if (p == kDiskNode) {
    kind = NodeKind::kDisk;
    present = n.disk != nullptr && n.disk->model().Present();
  } else if (p == kHidNode) {
    kind = NodeKind::kHid;
    present = n.hid != nullptr && n.hid->Present();
  } else if (p.rfind("/dev/sg", 0) == 0 || p.rfind("/dev/sd", 0) == 0 ||
             p.rfind("/dev/hidraw", 0) == 0) {
    kind = NodeKind::kDisk;  // another node of the machine: not there while faked
  } else {
    return -1;
  }
  *handled = true;
  if (!present) {
    errno = ENOENT;
    return -1;
  }
  static const OpenFn real_open = Next<OpenFn>("open");
  const int fd = real_open("/dev/null", (flags & O_CLOEXEC) | O_RDWR, mode);
  if (fd < 0) return -1;
  n.open[fd] = OpenNode{kind};
  if (kind == NodeKind::kHid) n.hid->DropPending();
  return fd;
}

OpenNode* Find(int fd) {
  Nodes& n = State();
  auto it = n.open.find(fd);
  return it == n.open.end() ? nullptr : &it->second;
}

int DiskIoctl(sg_io_hdr_t* io) {
  Nodes& n = State();
  if (n.disk == nullptr || io == nullptr || io->cmdp == nullptr) {
    errno = EINVAL;
    return -1;
  }
  const bool to_device = io->dxfer_direction == SG_DXFER_TO_DEV;
  int transferred = 0;
  const sim::DiskAnswer answer =
      n.disk->Execute(io->cmdp, io->cmd_len, to_device, static_cast<uint8_t*>(io->dxferp),
                      static_cast<int>(io->dxfer_len), &transferred);
  io->status = 0;
  io->host_status = 0;
  io->driver_status = 0;
  io->resid = static_cast<int>(io->dxfer_len) - transferred;
  switch (answer) {
    case sim::DiskAnswer::kGood: return 0;
    case sim::DiskAnswer::kCheckCondition:
      io->status = 0x02;
      io->driver_status = 0x08;  // sense data follow
      return 0;
    case sim::DiskAnswer::kPending:
      io->host_status = 0x03;  // the kernel's time-out
      return 0;
    case sim::DiskAnswer::kGone: break;
  }
  errno = ENODEV;
  return -1;
}

int HidIoctl(unsigned long request, void* arg) {
  Nodes& n = State();
  if (n.hid == nullptr || !n.hid->Present()) {
    errno = ENODEV;
    return -1;
  }
  if (request == HIDIOCGRAWINFO) {
    auto* info = static_cast<hidraw_devinfo*>(arg);
    info->bustype = 3;  // USB
    info->vendor = static_cast<int16_t>(n.hid->Vendor());
    info->product = static_cast<int16_t>(n.hid->Product());
    return 0;
  }
  if (request == HIDIOCGRDESCSIZE) {
    *static_cast<int*>(arg) = sizeof kHidDescriptor;
    return 0;
  }
  if (request == HIDIOCGRDESC) {
    auto* d = static_cast<hidraw_report_descriptor*>(arg);
    if (d->size > sizeof kHidDescriptor) d->size = sizeof kHidDescriptor;
    std::memcpy(d->value, kHidDescriptor, d->size);
    return 0;
  }
  errno = ENOTTY;
  return -1;
}

int Failed(int error) {
  errno = error;
  return -1;
}

// An open hidraw node whose device is still there.
bool LiveHid(const OpenNode& node) {
  const Nodes& n = State();
  return node.kind == NodeKind::kHid && n.hid != nullptr && n.hid->Present();
}

// Takes the next input report from the device into the node, if one waits.
bool HidReady(OpenNode& node) {
  Nodes& n = State();
  if (node.has_pending) return true;
  int length = 0;
  if (!n.hid->NextInputReport(node.pending, sizeof node.pending, &length)) return false;
  node.has_pending = true;
  node.pending_length = length;
  return true;
}

}  // namespace

void AttachFakeDisk(sim::ReaderModel& reader) {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  State().disk = std::make_unique<sim::DiskReaderSim>(reader);
}

void AttachFakeHid(sim::ReaderModel& reader, uint16_t vendor, uint16_t product) {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  State().hid = std::make_unique<sim::HidDeviceSim>(reader, vendor, product);
}

void DetachFakeNodes() {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  State().disk.reset();
  State().hid.reset();
}

int OpenFakeNodes() {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  return static_cast<int>(State().open.size());
}

}  // namespace vantrel::testing

// --- The caught calls ----------------------------------------------------------------

using namespace vantrel::testing;

extern "C" {

// open and open64 differ only in the C library entry a path that is not ours goes to.
#define VANTREL_FAKE_OPEN(name)                                            \
  int name(const char* path, int flags, ...) {                             \
    va_list args;                                                          \
    va_start(args, flags);                                                 \
    const mode_t mode = (flags & (O_CREAT | __O_TMPFILE))                  \
                            ? static_cast<mode_t>(va_arg(args, int)) : 0;  \
    va_end(args);                                                          \
    bool handled = false;                                                  \
    const int fd = OpenNodeAt(path, flags, mode, &handled);                \
    if (handled) return fd;                                                \
    static const OpenFn real = Next<OpenFn>(#name);                        \
    return real(path, flags, mode);                                        \
  }
VANTREL_FAKE_OPEN(open)
VANTREL_FAKE_OPEN(open64)

int close(int fd) {
  {
    Nodes& n = State();
    std::lock_guard<std::recursive_mutex> guard(n.lock);
    n.open.erase(fd);
  }
  static const CloseFn real = Next<CloseFn>("close");
  return real(fd);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  {
    Nodes& n = State();
    std::lock_guard<std::recursive_mutex> guard(n.lock);
    if (OpenNode* node = Find(fd)) {
      if (node->kind == NodeKind::kDisk) {
        if (request != SG_IO) {
          errno = ENOTTY;
          return -1;
        }
        return DiskIoctl(static_cast<sg_io_hdr_t*>(arg));
      }
      return HidIoctl(request, arg);
    }
  }
  static const IoctlFn real = Next<IoctlFn>("ioctl");
  return real(fd, request, arg);
}

ssize_t read(int fd, void* buffer, size_t count) {
  {
    Nodes& n = State();
    std::lock_guard<std::recursive_mutex> guard(n.lock);
    if (OpenNode* node = Find(fd)) {
      if (!LiveHid(*node)) return Failed(EIO);
      if (!HidReady(*node)) return Failed(EAGAIN);
      // Unnumbered reports reach the reader of a hidraw node without their id byte.
      const size_t n_bytes = std::min(count, static_cast<size_t>(node->pending_length - 1));
      std::memcpy(buffer, node->pending + 1, n_bytes);
      node->has_pending = false;
      return static_cast<ssize_t>(n_bytes);
    }
  }
  static const ReadFn real = Next<ReadFn>("read");
  return real(fd, buffer, count);
}

ssize_t write(int fd, const void* buffer, size_t count) {
  {
    Nodes& n = State();
    std::lock_guard<std::recursive_mutex> guard(n.lock);
    if (OpenNode* node = Find(fd)) {
      if (!LiveHid(*node)) return Failed(EIO);
      if (!n.hid->TakeOutputReport(static_cast<const uint8_t*>(buffer), static_cast<int>(count))) {
        return Failed(EAGAIN);
      }
      return static_cast<ssize_t>(count);
    }
  }
  static const WriteFn real = Next<WriteFn>("write");
  return real(fd, buffer, count);
}

int poll(pollfd* fds, nfds_t count, int timeout) {
  {
    Nodes& n = State();
    std::lock_guard<std::recursive_mutex> guard(n.lock);
    if (count == 1 && fds != nullptr) {
      if (OpenNode* node = Find(fds[0].fd)) {
        fds[0].revents = 0;
        if (!LiveHid(*node)) {
          fds[0].revents = POLLHUP;
          return 1;
        }
        if (fds[0].events & POLLOUT) fds[0].revents |= POLLOUT;
        if ((fds[0].events & POLLIN) && HidReady(*node)) fds[0].revents |= POLLIN;
        // Nothing to read: the time-out passes at once, the reader answers synchronously.
        return fds[0].revents != 0 ? 1 : 0;
      }
    }
  }
  static const PollFn real = Next<PollFn>("poll");
  return real(fds, count, timeout);
}

DIR* opendir(const char* path) {
  {
    Nodes& n = State();
    std::lock_guard<std::recursive_mutex> guard(n.lock);
    std::vector<std::string> names;
    if (FakeListing(path, &names)) {
      auto* dir = new FakeDir{std::move(names)};
      n.dirs.insert(dir);
      return reinterpret_cast<DIR*>(dir);
    }
  }
  static const OpendirFn real = Next<OpendirFn>("opendir");
  return real(path);
}

dirent* readdir(DIR* dir) {
  {
    Nodes& n = State();
    std::lock_guard<std::recursive_mutex> guard(n.lock);
    if (n.dirs.count(dir)) {
      auto* fake = reinterpret_cast<FakeDir*>(dir);
      if (fake->next >= fake->names.size()) return nullptr;
      const std::string& name = fake->names[fake->next++];
      std::memset(&fake->entry, 0, sizeof fake->entry);
      std::strncpy(fake->entry.d_name, name.c_str(), sizeof fake->entry.d_name - 1);
      fake->entry.d_type = DT_LNK;
      return &fake->entry;
    }
  }
  static const ReaddirFn real = Next<ReaddirFn>("readdir");
  return real(dir);
}

dirent64* readdir64(DIR* dir) {
  {
    Nodes& n = State();
    std::lock_guard<std::recursive_mutex> guard(n.lock);
    if (n.dirs.count(dir)) return reinterpret_cast<dirent64*>(readdir(dir));
  }
  using Readdir64Fn = dirent64* (*)(DIR*);
  static const Readdir64Fn real = Next<Readdir64Fn>("readdir64");
  return real(dir);
}

int closedir(DIR* dir) {
  {
    Nodes& n = State();
    std::lock_guard<std::recursive_mutex> guard(n.lock);
    if (n.dirs.erase(dir)) {
      delete reinterpret_cast<FakeDir*>(dir);
      return 0;
    }
  }
  static const ClosedirFn real = Next<ClosedirFn>("closedir");
  return real(dir);
}

}  // extern "C"
