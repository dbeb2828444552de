#include "reader/platform/virtual/virtual_hid.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "reader/platform/clock.h"
#include "reader/platform/platform.h"

namespace vantrel::platform {

namespace {

Clock& TheClock() {
  Clock* clock = Current().clock;
  return clock != nullptr ? *clock : SystemClock();
}

class VirtualHidDevice final : public HidDevice {
 public:
  VirtualHidDevice(VirtualHid& owner, sim::HidDeviceSim& device)
      : owner_(owner), device_(device) {}
  ~VirtualHidDevice() override { owner_.Released(); }
  int InputReportLength() const override { return device_.InputReportLength(); }
  int OutputReportLength() const override { return device_.OutputReportLength(); }
  HidIo WriteReport(const uint8_t* report, int length, uint32_t timeout_ms) override {
    if (!device_.Present()) return HidIo::kGone;
    if (device_.TakeOutputReport(report, length)) return HidIo::kDone;
    TheClock().SleepMs(timeout_ms);
    return HidIo::kTimeout;
  }
  HidIo ReadReport(uint8_t* report, int capacity, int* length, uint32_t timeout_ms) override {
    *length = 0;
    if (device_.NextInputReport(report, capacity, length)) return HidIo::kDone;
    if (!device_.Present()) return HidIo::kGone;
    TheClock().SleepMs(timeout_ms);
    return device_.NextInputReport(report, capacity, length) ? HidIo::kDone : HidIo::kTimeout;
  }
  void AbandonPending() override {}

 private:
  VirtualHid& owner_;
  sim::HidDeviceSim& device_;
};

}  // namespace

sim::HidDeviceSim& VirtualHid::AddReader(sim::ReaderModel& model, uint16_t vendor,
                                         uint16_t product) {
  std::lock_guard<std::mutex> guard(lock_);
  readers_.push_back(std::make_unique<sim::HidDeviceSim>(model, vendor, product));
  return *readers_.back();
}

int VirtualHid::OpenHandles() const {
  std::lock_guard<std::mutex> guard(lock_);
  return open_;
}

int VirtualHid::Opens() const {
  std::lock_guard<std::mutex> guard(lock_);
  return opens_;
}

int VirtualHid::List(HidDeviceInfo* devices, int capacity) {
  std::lock_guard<std::mutex> guard(lock_);
  int count = 0;
  for (size_t i = 0; i < readers_.size() && count < capacity; ++i) {
    const sim::HidDeviceSim& reader = *readers_[i];
    if (!reader.Present()) continue;
    HidDeviceInfo info;
    std::snprintf(info.path, sizeof info.path, "virtual-hid%zu", i);
    info.vendor_id = reader.Vendor();
    info.product_id = reader.Product();
    info.input_report_length = reader.InputReportLength();
    info.output_report_length = reader.OutputReportLength();
    devices[count++] = info;
  }
  return count;
}

std::unique_ptr<HidDevice> VirtualHid::Open(const HidDeviceInfo& device) {
  std::lock_guard<std::mutex> guard(lock_);
  if (std::strncmp(device.path, "virtual-hid", 11) != 0) return nullptr;
  const size_t index = std::strtoul(device.path + 11, nullptr, 10);
  if (index >= readers_.size() || !readers_[index]->Present()) return nullptr;
  readers_[index]->DropPending();
  ++open_;
  ++opens_;
  return std::make_unique<VirtualHidDevice>(*this, *readers_[index]);
}

void VirtualHid::Released() {
  std::lock_guard<std::mutex> guard(lock_);
  --open_;
}

VirtualHid& SimulatedHid() {
  static VirtualHid devices;
  return devices;
}

}  // namespace vantrel::platform
