// The seams between the library and the operating system, and the one place that says
// which backend serves each of them.
//
// Backends are chosen once, when the library loads (SelectBackendsAtLoad): the real Linux
// backends by default; VANTREL_SIMULATOR attaches the stand-in reader on the links it
// names instead (see README). Tests may install providers directly with Install().
// Nothing above reader/platform includes an operating-system header.
#pragma once

namespace vantrel::platform {

class Clock;
class DiskDevices;   // reader/platform/disk_device.h
class HidDevices;    // reader/platform/hid_device.h
class SerialPorts;   // reader/platform/serial_port.h
class DialogHost;    // reader/platform/dialog_host.h

struct Providers {
  DiskDevices* disk = nullptr;
  HidDevices* hid = nullptr;
  SerialPorts* serial = nullptr;
  Clock* clock = nullptr;
  DialogHost* dialog = nullptr;
};

// The providers in use. Never null members once the library has loaded: a link without a
// backend gets one that finds no device.
Providers& Current();

// Replaces the providers (members left null keep their current value) and returns the
// previous set, so that a test can put it back.
Providers Install(const Providers& providers);

// Reads VANTREL_SIMULATOR and installs the matching backends. Called from the library's
// load hook; calling it again re-reads the variable.
void SelectBackendsAtLoad();

}  // namespace vantrel::platform
