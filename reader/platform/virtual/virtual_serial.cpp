#include "reader/platform/virtual/virtual_serial.h"

#include "reader/platform/clock.h"
#include "reader/platform/platform.h"

namespace vantrel::platform {

namespace {

Clock& TheClock() {
  Clock* clock = Current().clock;
  return clock != nullptr ? *clock : SystemClock();
}

class VirtualPort final : public SerialPort {
 public:
  VirtualPort(VirtualSerial& owner, int com, int baud, sim::SerialDeviceSim& device)
      : owner_(owner), com_(com), baud_(baud), device_(device) {}
  ~VirtualPort() override {
    if (open_) owner_.ReleasePort(com_, true);
  }
  bool Drain() override { return open_; }  // the stand-in takes every byte at once
  void DiscardOutput() override {}
  void DiscardInput() override { device_.DiscardOutput(); }
  bool Write(const uint8_t* bytes, int count) override {
    if (!open_ || !device_.Present()) return false;
    device_.Write(bytes, count, baud_);
    return true;
  }
  SerialRead ReadByte(uint8_t* byte, uint32_t timeout_ms) override {
    if (!open_) return SerialRead::kError;
    // Bytes already sent are still read after the reader is unplugged.
    if (device_.ReadByte(byte)) return SerialRead::kByte;
    if (!device_.Present()) return SerialRead::kError;
    TheClock().SleepMs(timeout_ms);
    // A reply may have been queued meanwhile by another thread driving the stand-in.
    return device_.ReadByte(byte) ? SerialRead::kByte : SerialRead::kNoByte;
  }
  void ClearError() override {}
  bool Close() override {
    if (!open_) return true;
    if (!owner_.ReleasePort(com_)) return false;
    open_ = false;
    return true;
  }

 private:
  VirtualSerial& owner_;
  int com_;
  int baud_;
  sim::SerialDeviceSim& device_;
  bool open_ = true;
};

}  // namespace

sim::SerialDeviceSim& VirtualSerial::AddReader(int com_number, sim::ReaderModel& model) {
  std::lock_guard<std::mutex> guard(lock_);
  const int com = com_number >= 1 && com_number <= kPorts ? com_number : 1;
  readers_[com] = std::make_unique<sim::SerialDeviceSim>(model);
  return *readers_[com];
}

void VirtualSerial::RemoveReader(int com_number) {
  std::lock_guard<std::mutex> guard(lock_);
  if (com_number >= 1 && com_number <= kPorts && !open_[com_number]) readers_[com_number].reset();
}

void VirtualSerial::FailNextClose() {
  std::lock_guard<std::mutex> guard(lock_);
  fail_close_ = true;
}

bool VirtualSerial::IsOpen(int com_number) const {
  std::lock_guard<std::mutex> guard(lock_);
  return com_number >= 1 && com_number <= kPorts && open_[com_number];
}

int VirtualSerial::OpenPorts() const {
  std::lock_guard<std::mutex> guard(lock_);
  int count = 0;
  for (bool open : open_) count += open ? 1 : 0;
  return count;
}

int VirtualSerial::Opens() const {
  std::lock_guard<std::mutex> guard(lock_);
  return opens_;
}
int VirtualSerial::LastCom() const {
  std::lock_guard<std::mutex> guard(lock_);
  return last_com_;
}
int VirtualSerial::LastBaud() const {
  std::lock_guard<std::mutex> guard(lock_);
  return last_baud_;
}

std::unique_ptr<SerialPort> VirtualSerial::Open(int com_number, int baud) {
  std::lock_guard<std::mutex> guard(lock_);
  last_com_ = com_number;
  if (com_number < 1 || com_number > kPorts) return nullptr;
  sim::SerialDeviceSim* reader = readers_[com_number].get();
  // A missing, unplugged or already open port cannot be opened (COM ports are exclusive).
  if (reader == nullptr || !reader->Present() || open_[com_number]) return nullptr;
  open_[com_number] = true;
  ++opens_;
  last_baud_ = baud;
  reader->DiscardOutput();
  return std::make_unique<VirtualPort>(*this, com_number, baud, *reader);
}

bool VirtualSerial::ReleasePort(int com_number, bool force) {
  std::lock_guard<std::mutex> guard(lock_);
  if (fail_close_ && !force) {
    fail_close_ = false;
    return false;
  }
  if (com_number >= 1 && com_number <= kPorts) open_[com_number] = false;
  return true;
}

VirtualSerial& SimulatedSerial() {
  static VirtualSerial ports;
  return ports;
}

}  // namespace vantrel::platform
