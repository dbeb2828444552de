// The capture window on Linux: dialog template 101 as a modal Qt 5 Widgets dialog.
#pragma once

#include "reader/platform/dialog_host.h"

namespace vantrel::dialog_qt {

// Object names of the window's controls, for those that look at the window.
inline constexpr const char* kFrameName = "vantrel-frame";
inline constexpr const char* kInstructionsName = "vantrel-instructions";
inline constexpr const char* kStatusName = "vantrel-status";
inline constexpr const char* kCancelName = "vantrel-cancel";

// Shows the dialog on the calling thread. Creates a QApplication there when the process
// has none; refuses (Run returns false) where the process has a non-widget application,
// where the application lives on another thread, or where Qt finds no platform.
platform::DialogHost& QtDialogHost();

}  // namespace vantrel::dialog_qt
