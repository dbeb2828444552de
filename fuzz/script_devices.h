// Devices that answer from a byte script instead of a reader: the fuzz input decides
// every reply, its fate on the transport, and when the device goes away. They plug into
// the same seams as the real backends, so the whole receive and check path of each link
// runs. Each counts its opens and closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "reader/platform/clock.h"
#include "reader/platform/disk_device.h"
#include "reader/platform/hid_device.h"
#include "reader/platform/serial_port.h"

namespace vantrel::fuzz {

// Reads the fuzz input front to back; past its end every read gives 0 / nothing.
class ByteScript {
 public:
  ByteScript(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Done() const { return at_ >= size_; }
  uint8_t Byte() { return Done() ? 0 : data_[at_++]; }
  int Word() { return Byte() << 8 | Byte(); }
  // Up to n bytes (fewer when the script ends).
  std::vector<uint8_t> Bytes(size_t n);

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Flags of one scripted binary reply: which frame fields the device puts right before
// sending, so that the fuzzer reaches the checks behind the first wrong field.
enum ReplyFlags : uint8_t {
  kFixStart = 1,      // byte 0 = 0x02
  kFixLength = 2,     // the length field matches the bytes sent
  kFixChecksum = 4,
  kFixEnd = 8,        // last byte = 0x03
  kLongForm = 16,     // 32-bit length field (HID image replies)
  kNoReply = 32,      // the transport fails instead (disk: fetch fails; HID: time-out)
  kGone = 64,         // the device goes away instead of answering
};

// One scripted reply: flags, a 16-bit length, that many bytes, fixed up as flagged.
// Returns the bytes; *flags receives the flags.
std::vector<uint8_t> NextBinaryReply(ByteScript& script, uint8_t* flags);

class ScriptDisk final : public platform::DiskDevices {
 public:
  explicit ScriptDisk(ByteScript& script) : script_(script) {}
  int List(platform::DiskPath* paths, int capacity) override;
  int Open(const char* path) override;
  bool Close(int handle) override;
  platform::ScsiResult Execute(int handle, const platform::ScsiCommand& command) override;
  int OpenHandles() const { return opens_ - closes_; }

 private:
  ByteScript& script_;
  int opens_ = 0;
  int closes_ = 0;
  bool gone_ = false;
  std::vector<uint8_t> reply_;
};

class ScriptHid final : public platform::HidDevices {
 public:
  explicit ScriptHid(ByteScript& script) : script_(script) {}
  int List(platform::HidDeviceInfo* devices, int capacity) override;
  std::unique_ptr<platform::HidDevice> Open(const platform::HidDeviceInfo& device) override;
  int OpenDevices() const { return open_; }

 private:
  friend class ScriptHidDevice;
  ByteScript& script_;
  int open_ = 0;
  bool gone_ = false;
};

// Every byte read is the next script byte, except after the escape byte 0xFF: then 0x00
// stands for a 0xFF byte, 0x01 for a per-read time-out, 0x02 for a failed port (it stays
// failed), anything else for itself.
inline constexpr uint8_t kSerialEscape = 0xFF;
inline constexpr uint8_t kSerialLiteral = 0x00;
inline constexpr uint8_t kSerialTimeout = 0x01;
inline constexpr uint8_t kSerialFails = 0x02;
class ScriptSerial final : public platform::SerialPorts {
 public:
  ScriptSerial(ByteScript& script, platform::VirtualClock& clock)
      : script_(script), clock_(clock) {}
  std::unique_ptr<platform::SerialPort> Open(int com_number, int baud) override;
  int OpenPorts() const { return open_; }

 private:
  friend class ScriptSerialPort;
  ByteScript& script_;
  platform::VirtualClock& clock_;
  int open_ = 0;
};

}  // namespace vantrel::fuzz
