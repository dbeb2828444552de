// The HID link: the binary command layer over 64-byte output and input reports.
#include "reader/links/hid_link.h"

#include <cstring>
#include <memory>

#include "reader/links/link_ops.h"
#include "reader/platform/platform.h"
#include "reader/protocol/frames.h"
#include "reader/protocol/result_codes.h"

namespace vantrel::links::hid {

namespace p = vantrel::protocol;

namespace {

// Open devices by handle number; a command holds one, a firmware update one more.
constexpr int kSlots = 4;
std::unique_ptr<platform::HidDevice> g_devices[kSlots];
DeviceObject g_object;

platform::HidDevices& TheDevices() {
  platform::HidDevices* devices = platform::Current().hid;
  return devices != nullptr ? *devices : platform::NoHidDevices();
}

platform::HidDevice* DeviceOf(const DeviceSlot& slot) {
  if (slot.handle < 0 || slot.handle >= kSlots) return nullptr;
  return g_devices[slot.handle].get();
}

bool IsImageCommand(uint8_t code) { return code == 0x41 || code == 0x1E; }

class HidTransport final : public BinaryTransport {
 public:
  p::BinaryLink Link() const override { return p::BinaryLink::kHid; }

  bool Open(DeviceSlot& slot) override {
    if (!slot.Empty()) return false;
    int free_slot = -1;
    for (int i = 0; i < kSlots && free_slot < 0; ++i) {
      if (!g_devices[i]) free_slot = i;
    }
    bool found = false;
    if (free_slot >= 0) {
      const int count = TheDevices().List(listed_, kMaxListed);
      for (int i = 0; i < count && !found; ++i) {
        if (!IsAccepted(listed_[i].vendor_id, listed_[i].product_id)) continue;
        std::unique_ptr<platform::HidDevice> device = TheDevices().Open(listed_[i]);
        if (!device) continue;  // gone or busy: try the next one
        g_devices[free_slot] = std::move(device);
        slot.handle = free_slot;
        found = true;
      }
    }
    // The once-only registration for device-change notices, made on the first search;
    // the flag is set whatever the system answered.
    if (!g_object.notification_registered) {
      g_object.notification_handle =
          TheDevices().RegisterChangeNotices(g_object.recipient_window);
      g_object.notification_registered = true;
    }
    return found;
  }

  bool Close(DeviceSlot& slot) override {
    if (slot.handle >= 0 && slot.handle < kSlots) g_devices[slot.handle].reset();
    slot.handle = -1;
    return true;
  }

  int Exchange(DeviceSlot& slot, const uint8_t* request, int request_length, uint8_t* reply,
               int capacity, int expected_total, uint32_t timeout_ms, int* received) override {
    platform::HidDevice* device = DeviceOf(slot);
    if (device == nullptr || request == nullptr || request_length <= 0 || reply == nullptr ||
        received == nullptr) {
      return p::kBadArguments;
    }
    if (!WriteReports(device, request, request_length)) return p::kSendFailed;
    // The 16-bit length of a reply cannot tell the size of an image part: each part is
    // told its length by the caller instead.
    int part_length = 0;
    bool second = false;
    if (request_length > 4 && IsImageCommand(request[3]) && expected_total > 0) {
      second = request[4] == 1;
      if (second || expected_total == PartSize()) part_length = expected_total;
    }
    return ReadReports(device, reply, capacity, part_length, second, timeout_ms, received);
  }

  DeviceSlot& FirmwareSlot() override { return g_object.firmware_slot; }
  int PartSize() const override { return p::kHidPartSize; }

 private:
  // The devices of the current search (about 17 KB: kept here, off the callers' stacks).
  static constexpr int kMaxListed = 64;
  platform::HidDeviceInfo listed_[kMaxListed];
};

HidTransport g_transport;

}  // namespace

bool IsAccepted(uint16_t vendor, uint16_t product) {
  for (const AcceptedId& id : kAcceptedIds) {
    if (id.vendor == vendor && id.product == product) return true;
  }
  return false;
}

const DeviceObject& Object() { return g_object; }
BinaryTransport& Transport() { return g_transport; }

bool WriteReports(platform::HidDevice* device, const uint8_t* request, int length) {
  if (device == nullptr || request == nullptr) return false;
  const int report_length = device->OutputReportLength();
  // A report that cannot carry a whole block would cut the request; nothing goes out.
  if (report_length < 1 + kBlockSize || report_length > kMaxReportLength) return true;
  const int padded = (length + kBlockSize - 1) / kBlockSize * kBlockSize;
  uint8_t report[kMaxReportLength];
  for (int offset = 0; offset < padded; offset += kBlockSize) {
    std::memset(report, 0, static_cast<size_t>(report_length));
    const int take = length - offset < kBlockSize ? length - offset : kBlockSize;
    std::memcpy(report + 1, request + offset, static_cast<size_t>(take));
    if (device->WriteReport(report, report_length, kWriteWaitMs) != platform::HidIo::kDone) {
      // A stalled block ends the request; the missing reply then fails the exchange.
      device->AbandonPending();
      break;
    }
  }
  return true;
}

int ReadReports(platform::HidDevice* device, uint8_t* reply, int capacity, int part_length,
                bool second, uint32_t timeout_ms, int* received) {
  const int report_length = device->InputReportLength();
  const int buffer_size = report_length > kReportBufferSize ? report_length : kReportBufferSize;
  if (report_length > kMaxReportLength) return p::kNoReply;
  uint8_t report[kMaxReportLength];
  bool have_first = false;
  int got = 0;
  for (int attempt = 0; attempt < kFirstReportAttempts && !have_first; ++attempt) {
    std::memset(report, 0, static_cast<size_t>(buffer_size));
    const platform::HidIo io = device->ReadReport(report, buffer_size, &got, timeout_ms);
    if (io == platform::HidIo::kTimeout) {
      device->AbandonPending();
      break;
    }
    if (io != platform::HidIo::kDone) continue;
    if (!second && report[1] != p::kStartMarker) continue;
    have_first = true;
  }
  if (!have_first) return p::kNoReply;

  const int total = part_length > 0 ? part_length : report[2] * 256 + report[3] + 5;
  // capacity is the command's reply buffer: 1024 bytes, or 93184 for the two image
  // commands, which every reply of the reader fits. A longer reply cannot be read; it is
  // refused before a byte of it is stored.
  if (total > capacity) return p::kReplyTooLong;
  int stored = total < kBlockSize ? total : kBlockSize;
  std::memcpy(reply, report + 1, static_cast<size_t>(stored));
  int remaining = total - kBlockSize;
  while (remaining > 0) {
    std::memset(report, 0, static_cast<size_t>(buffer_size));
    const platform::HidIo io = device->ReadReport(report, buffer_size, &got, timeout_ms);
    if (io != platform::HidIo::kDone) {
      device->AbandonPending();
      break;
    }
    const int take = remaining < kBlockSize ? remaining : kBlockSize;
    std::memcpy(reply + stored, report + 1, static_cast<size_t>(take));
    stored += take;
    remaining -= kBlockSize;
  }
  // A reply that stopped short still has the length it announced; the bytes that never
  // came read as zero, never as what an earlier reply left in the buffer, and the reply
  // check then finds them out (its checksum or end marker).
  std::memset(reply + stored, 0, static_cast<size_t>(total - stored));
  *received = total;
  return p::kOk;
}

void TeardownHidLink() {
  g_transport.Close(g_object.firmware_slot);
  for (auto& device : g_devices) device.reset();
  if (g_object.notification_handle != nullptr) {
    TheDevices().UnregisterChangeNotices(g_object.notification_handle);
  }
  g_object.notification_handle = nullptr;
  g_object.notification_registered = false;
}

}  // namespace vantrel::links::hid

namespace vantrel::links {

namespace {

BinaryTransport& T() { return hid::Transport(); }

}  // namespace

const LinkOps& HidLinkOps() { return BinaryLinkOps<T>(); }

}  // namespace vantrel::links
