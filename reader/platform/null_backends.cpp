// The backends that find nothing: what a seam answers where no real backend serves it.
#include "reader/platform/dialog_host.h"
#include "reader/platform/disk_device.h"
#include "reader/platform/hid_device.h"
#include "reader/platform/serial_port.h"

namespace vantrel::platform {

namespace {

class EmptyDisks final : public DiskDevices {
 public:
  int List(DiskPath*, int) override { return 0; }
  int Open(const char*) override { return -1; }
  bool Close(int) override { return false; }
  ScsiResult Execute(int, const ScsiCommand&) override { return {}; }
};

class EmptyHid final : public HidDevices {
 public:
  int List(HidDeviceInfo*, int) override { return 0; }
  std::unique_ptr<HidDevice> Open(const HidDeviceInfo&) override { return nullptr; }
};

class EmptyPorts final : public SerialPorts {
 public:
  std::unique_ptr<SerialPort> Open(int, int) override { return nullptr; }
};

class NullDialogHost final : public DialogHost {
 public:
  bool Run(int, DialogClient&) override { return false; }
};

}  // namespace

DiskDevices& NoDiskDevices() {
  static EmptyDisks disks;
  return disks;
}

HidDevices& NoHidDevices() {
  static EmptyHid devices;
  return devices;
}

SerialPorts& NoSerialPorts() {
  static EmptyPorts ports;
  return ports;
}

DialogHost& NoDialogHost() {
  static NullDialogHost host;
  return host;
}

}  // namespace vantrel::platform
