#include "fuzz/script_devices.h"

#include <algorithm>
#include <cstring>

#include "sim/reader_model.h"

namespace vantrel::fuzz {

std::vector<uint8_t> ByteScript::Bytes(size_t n) {
  const size_t take = std::min(n, size_ - std::min(at_, size_));
  std::vector<uint8_t> out(data_ + at_, data_ + at_ + take);
  at_ += take;
  return out;
}

std::vector<uint8_t> NextBinaryReply(ByteScript& script, uint8_t* flags) {
  *flags = script.Byte();
  std::vector<uint8_t> reply = script.Bytes(static_cast<size_t>(script.Word()));
  const size_t n = reply.size();
  const size_t head = (*flags & kLongForm) ? 5 : 3;
  if ((*flags & kFixStart) && n > 0) reply[0] = 0x02;
  if ((*flags & kFixLength) && n >= head + 2) {
    const uint32_t c = static_cast<uint32_t>(n - head - 2);
    for (size_t i = 1; i < head; ++i) reply[i] = static_cast<uint8_t>(c >> (8 * (head - 1 - i)));
  }
  if ((*flags & kFixEnd) && n > 0) reply[n - 1] = 0x03;
  if ((*flags & kFixChecksum) && n >= 3) {
    uint8_t x = 0;
    for (size_t i = 1; i + 2 < n; ++i) x ^= reply[i];
    reply[n - 2] = x;
  }
  return reply;
}

// --- disk --------------------------------------------------------------------------

int ScriptDisk::List(platform::DiskPath* paths, int capacity) {
  if (gone_ || capacity < 1) return 0;
  std::strcpy(paths[0].text, "/dev/script-disk");
  return 1;
}

int ScriptDisk::Open(const char*) {
  if (gone_) return -1;
  ++opens_;
  return 3;
}

bool ScriptDisk::Close(int) {
  ++closes_;
  return true;
}

platform::ScsiResult ScriptDisk::Execute(int, const platform::ScsiCommand& command) {
  platform::ScsiResult result;
  if (gone_) return result;
  if (command.cdb_length == 6) {
    // The identity is the reader's; what follows it is the script's to decide.
    static const std::vector<uint8_t> identity = [] {
      std::vector<uint8_t> bytes(192);
      sim::ReaderModel model;
      model.Inquiry(bytes.data());
      return bytes;
    }();
    std::memcpy(command.data, identity.data(),
                std::min<size_t>(identity.size(), static_cast<size_t>(command.data_length)));
    result.outcome = platform::ScsiOutcome::kDone;
    result.status = 0;
    return result;
  }
  if (command.direction == platform::DataDirection::kToDevice) {
    uint8_t flags = 0;
    reply_ = NextBinaryReply(script_, &flags);
    if (flags & kGone) {
      gone_ = true;
      return result;
    }
    if (flags & kNoReply) reply_.clear();
    result.outcome = platform::ScsiOutcome::kDone;
    result.status = 0;
    return result;
  }
  if (reply_.empty()) return result;  // a silent reader: the fetch times out
  const size_t n = std::min(reply_.size(), static_cast<size_t>(command.data_length));
  std::memcpy(command.data, reply_.data(), n);
  result.outcome = platform::ScsiOutcome::kDone;
  result.status = 0;
  result.residual = command.data_length - static_cast<int>(n);
  reply_.clear();
  return result;
}

// --- HID ---------------------------------------------------------------------------

class ScriptHidDevice final : public platform::HidDevice {
 public:
  explicit ScriptHidDevice(ScriptHid& owner) : owner_(owner) { ++owner_.open_; }
  ~ScriptHidDevice() override { --owner_.open_; }
  int InputReportLength() const override { return 65; }
  int OutputReportLength() const override { return 65; }

  platform::HidIo WriteReport(const uint8_t* report, int length, uint32_t) override {
    if (owner_.gone_) return platform::HidIo::kGone;
    // A request is complete when its own length is covered; then the next reply is due.
    if (length < 65) return platform::HidIo::kGone;
    request_.insert(request_.end(), report + 1, report + 65);
    if (request_.size() >= 3 && request_.size() >= size_t((request_[1] << 8 | request_[2]) + 5)) {
      request_.clear();
      uint8_t flags = 0;
      std::vector<uint8_t> reply = NextBinaryReply(owner_.script_, &flags);
      if (flags & kGone) owner_.gone_ = true;
      if (flags & (kGone | kNoReply)) reply.clear();
      // The script decides how many leading reports do not start with 0x02.
      for (int i = 0; i < (flags >> 7); ++i) reports_.push_back(std::vector<uint8_t>(64, 0));
      for (size_t at = 0; at < reply.size(); at += 64) {
        std::vector<uint8_t> payload(64, 0);
        std::copy(reply.begin() + static_cast<long>(at),
                  reply.begin() + static_cast<long>(std::min(reply.size(), at + 64)),
                  payload.begin());
        reports_.push_back(std::move(payload));
      }
    }
    return platform::HidIo::kDone;
  }

  platform::HidIo ReadReport(uint8_t* report, int capacity, int* length, uint32_t) override {
    *length = 0;
    if (owner_.gone_) return platform::HidIo::kGone;
    if (reports_.empty()) return platform::HidIo::kTimeout;
    const std::vector<uint8_t>& payload = reports_.front();
    const int n = std::min(capacity, 65);
    report[0] = 0;
    std::memcpy(report + 1, payload.data(), static_cast<size_t>(n - 1));
    *length = n;
    reports_.erase(reports_.begin());
    return platform::HidIo::kDone;
  }

  void AbandonPending() override {}

 private:
  ScriptHid& owner_;
  std::vector<uint8_t> request_;
  std::vector<std::vector<uint8_t>> reports_;
};

int ScriptHid::List(platform::HidDeviceInfo* devices, int capacity) {
  if (gone_ || capacity < 1) return 0;
  devices[0] = platform::HidDeviceInfo{};
  std::strcpy(devices[0].path, "/dev/script-hid");
  devices[0].vendor_id = 0x4B21;
  devices[0].product_id = 0x0771;
  devices[0].input_report_length = 65;
  devices[0].output_report_length = 65;
  return 1;
}

std::unique_ptr<platform::HidDevice> ScriptHid::Open(const platform::HidDeviceInfo&) {
  if (gone_) return nullptr;
  return std::make_unique<ScriptHidDevice>(*this);
}

// --- serial ------------------------------------------------------------------------

class ScriptSerialPort final : public platform::SerialPort {
 public:
  explicit ScriptSerialPort(ScriptSerial& owner) : owner_(owner) { ++owner_.open_; }
  ~ScriptSerialPort() override {
    if (open_) --owner_.open_;
  }
  bool Drain() override { return !failed_; }
  void DiscardOutput() override {}
  void DiscardInput() override {}
  bool Write(const uint8_t*, int count) override { return !failed_ && count >= 0; }
  platform::SerialRead ReadByte(uint8_t* byte, uint32_t timeout_ms) override {
    if (failed_) return platform::SerialRead::kError;
    if (owner_.script_.Done()) {
      owner_.clock_.Advance(timeout_ms);
      return platform::SerialRead::kNoByte;
    }
    const uint8_t b = owner_.script_.Byte();
    if (b == kSerialEscape && !owner_.script_.Done()) {
      const uint8_t what = owner_.script_.Byte();
      if (what == kSerialFails) {
        failed_ = true;
        return platform::SerialRead::kError;
      }
      if (what == kSerialTimeout) {
        owner_.clock_.Advance(timeout_ms);
        return platform::SerialRead::kNoByte;
      }
      *byte = what == kSerialLiteral ? kSerialEscape : what;
      return platform::SerialRead::kByte;
    }
    *byte = b;
    return platform::SerialRead::kByte;
  }
  void ClearError() override {}
  bool Close() override {
    if (open_) {
      open_ = false;
      --owner_.open_;
    }
    return true;
  }

 private:
  ScriptSerial& owner_;
  bool open_ = true;
  bool failed_ = false;
};

std::unique_ptr<platform::SerialPort> ScriptSerial::Open(int, int) {
  return std::make_unique<ScriptSerialPort>(*this);
}

}  // namespace vantrel::fuzz
