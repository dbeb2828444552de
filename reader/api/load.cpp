// What happens when the library is loaded into a process and when it leaves it.
#include <atomic>
#include <cstdlib>

#include "reader/api/module_state.h"
#include "reader/links/hid_link.h"
#include "reader/links/link_ops.h"
#include "reader/platform/code_page.h"
#include "reader/platform/platform.h"

namespace vantrel::api {

void OnLoad() {
  ModuleState& module = Module();
  module.instance = &module;
  module.language_offset = LanguageOffsetFor(platform::AnsiCodePage());
  module.dialog_mode = 0;
  module.finger_wait_active = 0;
  module.finger_wait_done = 0;
  links::LinkState& link_state = links::State();
  link_state.configured_baud = 9600;
  link_state.serial = links::SerialSelection{1, 9600};
  platform::SelectBackendsAtLoad();
}

void OnUnload() {
  ModuleState& module = Module();
  module.instance = nullptr;
  module.dialog.window = nullptr;
  // The HID device object goes with the library: its firmware handle is closed and its
  // device-change notification released.
  links::hid::TeardownHidLink();
}

namespace {

// Set once the process's exit handlers (or this library's, on unload) have run: from then
// on the other parts' objects may already be destroyed, and the unload hook must not call
// into them. At process exit the system releases the devices anyway.
std::atomic<bool> g_exit_handlers_ran{false};

void NoteExitHandlersRan() { g_exit_handlers_ran = true; }

// Loading never fails: a fault while choosing backends leaves the defaults, whose links
// find no device.
__attribute__((constructor)) void LibraryLoaded() {
  try {
    std::atexit(NoteExitHandlersRan);
    OnLoad();
  } catch (...) {
  }
}

__attribute__((destructor)) void LibraryUnloaded() {
  if (g_exit_handlers_ran) return;
  try {
    OnUnload();
  } catch (...) {
  }
}

}  // namespace

}  // namespace vantrel::api
