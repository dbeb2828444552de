// The Windows backends of the seams, one file each in reader/platform/windows/.
#pragma once

#include <windows.h>

namespace vantrel::platform {

class DiskDevices;
class HidDevices;
class DialogHost;

DiskDevices& PassThroughDisks();  // disk_pass_through.cpp
HidDevices& WindowsHidDevices();  // hid_devices.cpp
DialogHost& Win32DialogHost();    // dialog_host.cpp

void SetModuleInstance(HINSTANCE instance);  // from DllMain

}  // namespace vantrel::platform
