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

ReportLengths ReportLengthsOf(const uint8_t* descriptor, int size) {
  // Bits per report id and direction; id 0 stands for "no id".
  static constexpr int kIds = 256;
  static constexpr int kMaxReportBits = 1 << 20;
  int input_bits[kIds] = {};
  int output_bits[kIds] = {};
  struct Globals {
    uint32_t report_size = 0;
    uint32_t report_count = 0;
    int report_id = 0;
  };
  Globals globals;
  Globals stack[8];
  int depth = 0;
  ReportLengths lengths;
  int i = 0;
  while (descriptor != nullptr && i < size) {
    const uint8_t prefix = descriptor[i];
    if (prefix == 0xFE) {  // long item: size byte, tag byte, data
      if (i + 1 >= size) break;
      i += 3 + descriptor[i + 1];
      continue;
    }
    int data_size = prefix & 0x03;
    if (data_size == 3) data_size = 4;
    if (i + 1 + data_size > size) break;
    uint32_t value = 0;
    for (int b = 0; b < data_size; ++b) value |= uint32_t{descriptor[i + 1 + b]} << (8 * b);
    const int type = (prefix >> 2) & 0x03;
    const int tag = (prefix >> 4) & 0x0F;
    // Very large counts cannot be real; clamp each item and each sum (a descriptor of
    // thousands of one-byte items would otherwise overflow it).
    const uint64_t bits = uint64_t{globals.report_size} * globals.report_count;
    const int add = bits > kMaxReportBits ? kMaxReportBits : static_cast<int>(bits);
    auto grow = [add](int& sum) { sum = sum > kMaxReportBits - add ? kMaxReportBits : sum + add; };
    if (type == 0 && tag == 0x8) grow(input_bits[globals.report_id]);
    if (type == 0 && tag == 0x9) grow(output_bits[globals.report_id]);
    if (type == 1) {
      if (tag == 0x7) globals.report_size = value;
      if (tag == 0x9) globals.report_count = value;
      if (tag == 0x8) {
        globals.report_id = static_cast<int>(value & 0xFF);
        lengths.numbered = true;
      }
      if (tag == 0xA && depth < 8) stack[depth++] = globals;
      if (tag == 0xB && depth > 0) globals = stack[--depth];
    }
    i += 1 + data_size;
  }
  for (int id = 0; id < kIds; ++id) {
    // The report-id byte is counted whether or not the device numbers its reports.
    const int in = input_bits[id] > 0 ? (input_bits[id] + 7) / 8 + 1 : 0;
    const int out = output_bits[id] > 0 ? (output_bits[id] + 7) / 8 + 1 : 0;
    if (in > lengths.input) lengths.input = in;
    if (out > lengths.output) lengths.output = out;
  }
  return lengths;
}

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

class NoDevices final : public HidDevices {
 public:
  int List(HidDeviceInfo*, int) override { return 0; }
  std::unique_ptr<HidDevice> Open(const HidDeviceInfo&) override { return nullptr; }
};

}  // namespace

HidDevices& HidrawDevices() {
  static Hidraw devices;
  return devices;
}

HidDevices& NoHidDevices() {
  static NoDevices devices;
  return devices;
}

}  // namespace vantrel::platform
