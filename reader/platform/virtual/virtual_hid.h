// The HID seam served by stand-in readers: each added reader is one present HID device.
// A report that does not come costs its time-out on the platform clock (instant with a
// virtual clock).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "reader/platform/hid_device.h"
#include "sim/hid_device_sim.h"

namespace vantrel::platform {

class VirtualHid final : public HidDevices {
 public:
  // Adds a device carrying model, listed as "virtual-hid<N>" in order of adding.
  sim::HidDeviceSim& AddReader(sim::ReaderModel& model, uint16_t vendor = 0x4B21,
                               uint16_t product = 0x0771);
  int OpenHandles() const;
  int Opens() const;

  int List(HidDeviceInfo* devices, int capacity) override;
  std::unique_ptr<HidDevice> Open(const HidDeviceInfo& device) override;

  void Released();  // used by the device objects

 private:
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<sim::HidDeviceSim>> readers_;
  int open_ = 0;
  int opens_ = 0;
};

// The process-wide stand-in device that VANTREL_SIMULATOR=hid plugs in.
VirtualHid& SimulatedHid();

}  // namespace vantrel::platform
