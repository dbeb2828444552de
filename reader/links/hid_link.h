// The HID link: binary frames in 64-byte reports to a reader found by its USB ids.
#pragma once

#include <cstdint>

#include "reader/links/binary_link.h"
#include "reader/platform/hid_device.h"

namespace vantrel::links::hid {

inline constexpr int kBlockSize = 64;          // request bytes per output report
inline constexpr uint32_t kWriteWaitMs = 200;  // per output report
inline constexpr int kFirstReportAttempts = 3;
inline constexpr int kReportBufferSize = 128;  // cleared before every read
inline constexpr int kMaxReportLength = 1024;  // longer declared reports are not served

struct AcceptedId {
  uint16_t vendor;
  uint16_t product;
};
inline constexpr AcceptedId kAcceptedIds[] = {
    {0x5A3C, 0x1E47}, {0x4B21, 0x0771}, {0x4B21, 0xFFFF}};
bool IsAccepted(uint16_t vendor, uint16_t product);

// The HID device object: one per process, built at load, torn down at unload. The first
// device search registers for device-change notices (Windows); where the system has none
// (Linux) the flag still records that the first search has been made.
struct DeviceObject {
  void* recipient_window = nullptr;  // the library leaves it empty
  bool notification_registered = false;
  void* notification_handle = nullptr;
  DeviceSlot firmware_slot;
};
const DeviceObject& Object();

// The transport the binary command layer runs over.
BinaryTransport& Transport();

// Report writer and reader on an open device (exposed for tests).
// Sends request as 64-byte blocks; stops at the first block the device does not take.
// Returns false only when device or request is missing.
bool WriteReports(platform::HidDevice* device, const uint8_t* request, int length);
// Reads one reply into reply (capacity bytes). part_length > 0: the reply is one part
// of a two-part image of that many bytes (a continuation part, second = true, does not
// begin with 0x02). Returns 0, kNoReply or kReplyTooLong; *received = the announced
// total (or part_length), bytes that did not arrive stored as zero.
int ReadReports(platform::HidDevice* device, uint8_t* reply, int capacity, int part_length,
                bool second, uint32_t timeout_ms, int* received);

// Closes what the link still holds (the firmware-update handle) and releases the
// notification registration. Called from the library's unload hook; safe to call twice.
void TeardownHidLink();

}  // namespace vantrel::links::hid
