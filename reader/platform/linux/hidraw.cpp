// HID devices through hidraw: nodes from /sys/class/hidraw, ids from HIDIOCGRAWINFO,
// report lengths from the report descriptor, poll() for every time-out.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "reader/platform/clock.h"
#include "reader/platform/hid_device.h"

namespace vantrel::platform {

namespace {

class HidrawDevice final : public HidDevice {
 public:
  HidrawDevice(int fd, const ReportLengths& lengths) : fd_(fd), lengths_(lengths) {}
  ~HidrawDevice() override { ::close(fd_); }
  int InputReportLength() const override { return lengths_.input; }
  int OutputReportLength() const override { return lengths_.output; }

  HidIo WriteReport(const uint8_t* report, int length, uint32_t timeout_ms) override {
    const HidIo ready = Wait(POLLOUT, timeout_ms);
    if (ready != HidIo::kDone) return ready;
    // hidraw wants byte 0 = report id; for id 0 it strips the byte itself.
    for (;;) {
      const ssize_t n = ::write(fd_, report, static_cast<size_t>(length));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return HidIo::kTimeout;
      return n < 0 ? HidIo::kGone : HidIo::kDone;
    }
  }

  HidIo ReadReport(uint8_t* report, int capacity, int* length, uint32_t timeout_ms) override {
    *length = 0;
    if (capacity < 2) return HidIo::kGone;
    const HidIo ready = Wait(POLLIN, timeout_ms);
    if (ready != HidIo::kDone) return ready;
    // Unnumbered reports arrive without an id byte: put the 0 in front ourselves.
    uint8_t* target = lengths_.numbered ? report : report + 1;
    const int room = lengths_.numbered ? capacity : capacity - 1;
    for (;;) {
      const ssize_t n = ::read(fd_, target, static_cast<size_t>(room));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return HidIo::kTimeout;
      if (n <= 0) return HidIo::kGone;
      if (!lengths_.numbered) report[0] = 0;
      *length = static_cast<int>(n) + (lengths_.numbered ? 0 : 1);
      return HidIo::kDone;
    }
  }

  void AbandonPending() override {}  // reads and writes never outlive their call here

 private:
  HidIo Wait(short events, uint32_t timeout_ms) {
    Clock& clock = SystemClock();
    const Deadline deadline{clock.TickMs(), timeout_ms};
    for (;;) {
      const uint32_t left = deadline.RemainingMs(clock);
      pollfd p{fd_, events, 0};
      const int r = ::poll(&p, 1, static_cast<int>(left > 0x7FFFFFFF ? 0x7FFFFFFF : left));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return HidIo::kGone;
      if (r == 0) return HidIo::kTimeout;
      if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return HidIo::kGone;
      return HidIo::kDone;
    }
  }

  int fd_;
  ReportLengths lengths_;
};

bool ReadInfo(int fd, HidDeviceInfo* info, ReportLengths* lengths) {
  hidraw_devinfo raw{};
  if (::ioctl(fd, HIDIOCGRAWINFO, &raw) < 0) return false;
  info->vendor_id = static_cast<uint16_t>(raw.vendor);
  info->product_id = static_cast<uint16_t>(raw.product);
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    return false;
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<uint32_t>(size);
  if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) return false;
  *lengths = ReportLengthsOf(descriptor.value, size);
  info->input_report_length = lengths->input;
  info->output_report_length = lengths->output;
  return true;
}

class Hidraw final : public HidDevices {
 public:
  int List(HidDeviceInfo* devices, int capacity) override {
    DIR* dir = ::opendir("/sys/class/hidraw");
    if (dir == nullptr) return 0;
    int count = 0;
    while (dirent* entry = ::readdir(dir)) {
      if (count >= capacity) break;
      if (std::strncmp(entry->d_name, "hidraw", 6) != 0) continue;
      HidDeviceInfo info;
      std::snprintf(info.path, sizeof info.path, "/dev/%.100s", entry->d_name);
      // Nodes we may not open are skipped, like a device whose attributes cannot be read.
      const int fd = ::open(info.path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) continue;
      ReportLengths lengths;
      const bool ok = ReadInfo(fd, &info, &lengths);
      ::close(fd);
      if (ok) devices[count++] = info;
    }
    ::closedir(dir);
    return count;
  }

  std::unique_ptr<HidDevice> Open(const HidDeviceInfo& device) override {
    const int fd = ::open(device.path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    HidDeviceInfo info;
    ReportLengths lengths;
    if (!ReadInfo(fd, &info, &lengths) || info.vendor_id != device.vendor_id ||
        info.product_id != device.product_id) {
      ::close(fd);  // another device took the node number meanwhile
      return nullptr;
    }
    return std::make_unique<HidrawDevice>(fd, lengths);
  }
};

}  // namespace

HidDevices& HidrawDevices() {
  static Hidraw devices;
  return devices;
}

}  // namespace vantrel::platform
