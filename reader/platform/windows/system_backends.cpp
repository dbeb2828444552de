// The real backends on Windows, the clock and code page from the kernel, the module
// instance handle, string resources and the calling thread's message queue.
#include <windows.h>

#include "reader/platform/clock.h"
#include "reader/platform/code_page.h"
#include "reader/platform/dialog_host.h"
#include "reader/platform/disk_device.h"
#include "reader/platform/hid_device.h"
#include "reader/platform/resource_text.h"
#include "reader/platform/serial_port.h"
#include "reader/platform/system_backends.h"
#include "reader/platform/windows/module_instance.h"
#include "reader/platform/windows/windows_backends.h"

namespace vantrel::platform {

namespace {

// GetTickCount wraps at 2^32 ms like the seam's ticks.
class TickClock final : public Clock {
 public:
  uint32_t TickMs() override { return static_cast<uint32_t>(GetTickCount()); }
  void SleepMs(uint32_t ms) override {
    const DWORD start = GetTickCount();
    // Sleep may return a little early on a coarse timer; finish the wait on the ticks.
    Sleep(ms);
    while (GetTickCount() - start < ms) Sleep(1);
  }
};

HINSTANCE g_instance = nullptr;

}  // namespace

Clock& SystemClock() {
  static TickClock clock;
  return clock;
}

DiskDevices& SystemDiskDevices() { return PassThroughDisks(); }
HidDevices& SystemHidDevices() { return WindowsHidDevices(); }
SerialPorts& SystemSerialPorts() { return ComPorts(); }
DialogHost& SystemDialogHost() { return Win32DialogHost(); }

void DispatchOnePendingMessage() {
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

int AnsiCodePage() {
  int forced = 0;
  if (CodePageOverride(&forced)) return forced;
  return static_cast<int>(GetACP());
}

HINSTANCE ModuleInstance() {
  return g_instance != nullptr ? g_instance : GetModuleHandleA(nullptr);
}

int LoadResourceText(int id, char* target, int capacity) {
  if (target == nullptr || capacity <= 0) return 0;
  // The string tables hold at most 500 bytes per text in the ANSI code page.
  char loaded[500] = {};
  const int length = LoadStringA(ModuleInstance(), static_cast<UINT>(id), loaded,
                                 static_cast<int>(sizeof loaded));
  if (length <= 0) return 0;
  const int kept = length < capacity ? length : capacity - 1;
  CopyMemory(target, loaded, static_cast<SIZE_T>(kept));
  target[kept] = '\0';
  return kept;
}

void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

}  // namespace vantrel::platform

// The library's entry point: keeps the instance handle for the resources. Everything else
// that loading does runs in the library's constructors (reader/api/load.cpp).
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) vantrel::platform::SetModuleInstance(instance);
  if (reason == DLL_PROCESS_DETACH) vantrel::platform::SetModuleInstance(nullptr);
  return TRUE;
}
