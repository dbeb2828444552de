// The serial seam served by stand-in readers: COM n carries a SerialDeviceSim. Waiting
// for a byte that does not come costs the time-out on the platform clock (instant with
// a virtual clock), so long hunts cost tests no real time.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "reader/platform/serial_port.h"
#include "sim/serial_device_sim.h"

namespace vantrel::platform {

class VirtualSerial final : public SerialPorts {
 public:
  static constexpr int kPorts = 16;  // COM1 .. COM16

  // Puts a reader carrying model on COM com_number (replacing one there) and returns it.
  sim::SerialDeviceSim& AddReader(int com_number, sim::ReaderModel& model);
  void RemoveReader(int com_number);
  // The next close of a port is refused by the system.
  void FailNextClose();

  bool IsOpen(int com_number) const;
  int OpenPorts() const;
  int Opens() const;         // successful opens so far
  int LastCom() const;       // COM number of the last open attempt
  int LastBaud() const;      // rate of the last successful open

  std::unique_ptr<SerialPort> Open(int com_number, int baud) override;

  // Used by the port objects.
  bool ReleasePort(int com_number, bool force = false);  // force: destruction

 private:
  mutable std::mutex lock_;
  std::unique_ptr<sim::SerialDeviceSim> readers_[kPorts + 1];
  bool open_[kPorts + 1] = {};
  bool fail_close_ = false;
  int opens_ = 0;
  int last_com_ = 0;
  int last_baud_ = 0;
};

// The process-wide stand-in ports that VANTREL_SIMULATOR=com<N> fills, carrying the
// shared reader.
VirtualSerial& SimulatedSerial();

}  // namespace vantrel::platform
