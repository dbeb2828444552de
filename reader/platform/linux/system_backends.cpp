// The real backends on Linux, and the parts of the seams that Linux has nothing for.
#include "reader/platform/system_backends.h"

#include <chrono>
#include <thread>

#include "reader/platform/clock.h"
#include "reader/platform/dialog_host.h"
#include "reader/platform/disk_device.h"
#include "reader/platform/hid_device.h"
#include "reader/platform/resource_text.h"
#include "reader/platform/serial_port.h"

namespace vantrel::platform {

namespace {

class SteadyClock final : public Clock {
 public:
  uint32_t TickMs() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void SleepMs(uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

DiskDevices& SystemDiskDevices() { return LinuxDiskDevices(); }
HidDevices& SystemHidDevices() { return HidrawDevices(); }
SerialPorts& SystemSerialPorts() { return TermiosSerialPorts(); }
// The Qt dialog host installs itself when it loads; until then no window can be shown.
DialogHost& SystemDialogHost() { return PluginDialogHost(); }

void DispatchOnePendingMessage() {}  // no window messages on this system

int LoadResourceText(int, char*, int) { return 0; }  // texts are built in here

}  // namespace vantrel::platform
