// The real backends of the system the library is built for: one definition of each in
// reader/platform/linux/ or reader/platform/windows/, chosen by the build.
#pragma once

namespace vantrel::platform {

class DiskDevices;
class HidDevices;
class SerialPorts;
class DialogHost;

DiskDevices& SystemDiskDevices();  // SG_IO on Linux; SetupDi + SCSI pass-through on Windows
HidDevices& SystemHidDevices();    // hidraw; SetupDi + HidD/HidP with overlapped I/O
SerialPorts& SystemSerialPorts();  // termios; COM ports
DialogHost& SystemDialogHost();    // the Qt plugin, loaded at the first dialog; Win32

// Removes one pending window message of the calling thread, if there is one, and
// dispatches it without translation. Systems without window messages do nothing.
void DispatchOnePendingMessage();

}  // namespace vantrel::platform
