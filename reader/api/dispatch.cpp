#include "reader/api/dispatch.h"

#include "reader/platform/clock.h"
#include "reader/platform/platform.h"

namespace vantrel::api {

namespace {

LinkTables& Installed() {
  static LinkTables tables;
  return tables;
}

}  // namespace

LinkTables InstallLinkTables(const LinkTables& tables) {
  const LinkTables previous = Installed();
  Installed() = tables;
  return previous;
}

const links::LinkOps& DiskOps() {
  const links::LinkOps* ops = Installed().disk;
  return ops != nullptr ? *ops : links::DiskLinkOps();
}

const links::LinkOps& HidOps() {
  const links::LinkOps* ops = Installed().hid;
  return ops != nullptr ? *ops : links::HidLinkOps();
}

const links::LinkOps& SerialOps() {
  const links::LinkOps* ops = Installed().serial;
  return ops != nullptr ? *ops : links::SerialLinkOps();
}

void SelectSerialPort(int port) {
  links::LinkState& state = links::State();
  state.serial.port = port;
  state.serial.baud = state.configured_baud;
}

const links::LinkOps* SelectLink(int port, PortClass port_class) {
  const bool disk = port == kDiskPort;
  const bool hid = port == kHidPort;
  switch (port_class) {
    case PortClass::kAny: break;
    case PortClass::kSerialOnly:
      if (disk || hid) return nullptr;
      break;
    case PortClass::kDiskOnly:
      if (!disk) return nullptr;
      break;
    case PortClass::kDiskOrHid:
      if (!disk && !hid) return nullptr;
      break;
  }
  if (disk) return &DiskOps();
  if (hid) return &HidOps();
  SelectSerialPort(port);
  return &SerialOps();
}

int MapReaderBaud(int baud) {
  return (baud == 57600 || baud == 115200) ? baud : 9600;
}

void SleepMs(unsigned ms) {
  platform::Clock* clock = platform::Current().clock;
  (clock != nullptr ? *clock : platform::SystemClock()).SleepMs(ms);
}

}  // namespace vantrel::api
