#include "reader/links/disk_link.h"

#include <cstring>

#include "reader/links/link_ops.h"
#include "reader/platform/disk_device.h"
#include "reader/platform/platform.h"
#include "reader/protocol/result_codes.h"

namespace vantrel::links {

namespace {

constexpr char kVendorTag[] = "ORVANTA771";
constexpr uint8_t kVendorOpcode = 0xFF;
constexpr uint8_t kInquiryOpcode = 0x12;
constexpr uint32_t kInquiryTimeoutS = 3;

struct IdentityField {
  int offset;
  const char* text;
};
// Compared in this order; the first mismatch rejects the device.
constexpr IdentityField kIdentity[] = {
    {8, "Orvanta"}, {8, "Orvanta MTR-771"}, {32, "1.00"}};

platform::DiskDevices& Disks() {
  platform::DiskDevices* disks = platform::Current().disk;
  return disks != nullptr ? *disks : platform::NoDiskDevices();
}

// Sends the INQUIRY on an open handle; true when it completed at once with good status
// and the reader's identity.
bool ProbeIdentity(platform::DiskDevices& disks, int handle) {
  const uint8_t cdb[6] = {kInquiryOpcode, 0x00, 0x00, 0x00, kInquiryLength, 0x00};
  uint8_t data[kInquiryLength] = {};
  platform::ScsiCommand command;
  command.cdb = cdb;
  command.cdb_length = 6;
  command.direction = platform::DataDirection::kFromDevice;
  command.data = data;
  command.data_length = kInquiryLength;
  command.timeout_s = kInquiryTimeoutS;
  const platform::ScsiResult result = disks.Execute(handle, command);
  // A pending INQUIRY counts as failed; a non-good status carries no identity data.
  if (result.outcome != platform::ScsiOutcome::kDone || result.status != 0) return false;
  return IsReaderIdentity(data);
}

// One vendor command in either direction; true on completion with good status.
bool Vendor(platform::DiskDevices& disks, int handle, uint8_t code, uint8_t* data, int length,
            bool to_reader, uint32_t timeout_ms) {
  uint8_t block[kVendorBlockSize];
  BuildVendorBlock(code, length, to_reader ? kVendorToReader : kVendorFromReader, block);
  platform::ScsiCommand command;
  command.cdb = block;
  command.cdb_length = kVendorBlockSize;
  command.direction =
      to_reader ? platform::DataDirection::kToDevice : platform::DataDirection::kFromDevice;
  command.data = data;
  command.data_length = length;
  // The pass-through carries whole seconds in one byte.
  command.timeout_s = (timeout_ms / 1000) & 0xFF;
  const platform::ScsiResult result = disks.Execute(handle, command);
  return result.outcome == platform::ScsiOutcome::kDone && result.status == 0;
}

class DiskLinkTransport final : public BinaryTransport {
 public:
  protocol::BinaryLink Link() const override { return protocol::BinaryLink::kDisk; }

  bool Open(DeviceSlot& slot) override {
    if (!slot.Empty()) return false;
    platform::DiskDevices& disks = Disks();
    platform::DiskPath paths[platform::kMaxDisks];
    const int count = disks.List(paths, platform::kMaxDisks);
    for (int i = 0; i < count && i < platform::kMaxDisks; ++i) {
      paths[i].text[sizeof(paths[i].text) - 1] = '\0';
      const int handle = disks.Open(paths[i].text);
      if (handle < 0) continue;
      if (ProbeIdentity(disks, handle)) {
        slot.handle = handle;
        return true;
      }
      disks.Close(handle);
    }
    return false;
  }

  bool Close(DeviceSlot& slot) override {
    if (slot.Empty()) return true;
    if (!Disks().Close(slot.handle)) return false;
    slot.handle = -1;
    return true;
  }

  int Exchange(DeviceSlot& slot, const uint8_t* request, int request_length, uint8_t* reply,
               int capacity, int expected_total, uint32_t timeout_ms, int* received) override {
    if (slot.Empty() || request == nullptr || reply == nullptr || request_length <= 0 ||
        received == nullptr) {
      return protocol::kExchangeArgumentsMissing;
    }
    if (expected_total <= 0 || request_length < 4) return protocol::kExchangeArgumentsMissing;
    if (expected_total > capacity || expected_total > platform::kMaxScsiTransfer ||
        request_length > platform::kMaxScsiTransfer) {
      return protocol::kReplyTooLong;
    }
    platform::DiskDevices& disks = Disks();
    // The vendor command carries the frame's command code; the request is only read.
    if (!Vendor(disks, slot.handle, request[3], const_cast<uint8_t*>(request), request_length,
                true, timeout_ms)) {
      return protocol::kSendFailed;
    }
    std::memset(reply, 0, static_cast<size_t>(expected_total));
    // Byte 1 of the fetch block is reply byte 3 of the buffer just cleared.
    if (!Vendor(disks, slot.handle, reply[3], reply, expected_total, false, timeout_ms)) {
      return protocol::kReceiveFailed;
    }
    // A short transfer leaves zeros that the reply check refuses.
    *received = expected_total;
    return protocol::kOk;
  }

  DeviceSlot& FirmwareSlot() override { return firmware_; }
  int PartSize() const override { return 0; }

 private:
  DeviceSlot firmware_;
};

DiskLinkTransport& Transport() {
  static DiskLinkTransport transport;
  return transport;
}

}  // namespace

void BuildVendorBlock(uint8_t code, int transfer_length, uint8_t direction,
                      uint8_t block[kVendorBlockSize]) {
  block[0] = kVendorOpcode;
  block[1] = code;
  block[2] = static_cast<uint8_t>((transfer_length >> 8) & 0xFF);
  block[3] = static_cast<uint8_t>(transfer_length & 0xFF);
  block[4] = direction;
  std::memcpy(block + 5, kVendorTag, 10);
  block[15] = kVendorOpcode;
}

bool IsReaderIdentity(const uint8_t data[kInquiryLength]) {
  for (const IdentityField& field : kIdentity) {
    if (std::memcmp(data + field.offset, field.text, std::strlen(field.text)) != 0) {
      return false;
    }
  }
  return true;
}

BinaryTransport& DiskTransport() { return Transport(); }

const LinkOps& DiskLinkOps() { return BinaryLinkOps<DiskTransport>(); }

}  // namespace vantrel::links
