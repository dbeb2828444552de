// The dialog host seam: the modal capture window of dialog template 101.
//
// The dialog logic (reader/api) owns every text, count and wait; a host only shows the
// window and hands back what the user does. Control flow follows a modal dialog: the host
// creates the window, calls the client's OnInit, and 20 ms later OnTimer, inside which the
// worker runs and keeps the window alive by calling PumpOne. The host ends the window when
// OnTimer returns. Cancel and close arrive as OnCancel from inside a PumpOne.
//
// Backends: a scripted host for tests, the Qt plugin on Linux (dialog-qt/), the Win32
// dialog on Windows, and a null host that cannot show a window.
#pragma once

#include <cstdint>

namespace vantrel::platform {

// Control ids of dialog template 101. kCaption names the window's own title.
enum class DialogControl : int {
  kCaption = 0,
  kFrame = 1000,         // black frame in which the image is painted
  kInstructions = 1001,  // instructions text
  kStatus = 1002,        // status line
  kCancel = 2,           // Cancel button
};

inline constexpr int kDialogImageWidth = 152;
inline constexpr int kDialogImageHeight = 200;
inline constexpr int kDialogImageBytes = kDialogImageWidth * kDialogImageHeight;

// The window as the dialog logic sees it while it is shown. Texts are NUL-terminated
// bytes in the process code page (GB2312 for 936, Big5 for 950, Windows-1252 otherwise).
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual void SetText(DialogControl control, const char* text) = 0;
  // Paints a 152 x 200 image in reader form into the frame; the host shows it upright in
  // display form (each pixel inverted, 255 - v).
  virtual void PaintImage(const uint8_t* reader_form) = 0;
  // Dispatches at most one pending window message. A Cancel press or a close request
  // handled in it reaches the client's OnCancel before PumpOne returns.
  virtual void PumpOne() = 0;
};

// The dialog logic, called back by the host on the thread that called Run.
class DialogClient {
 public:
  virtual ~DialogClient() = default;
  virtual void OnInit(DialogWindow& window) = 0;   // window created, not yet waited on
  virtual void OnTimer(DialogWindow& window) = 0;  // the worker; the window ends after it
  virtual void OnCancel() = 0;                     // Cancel pressed or window closed
};

class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // Shows dialog 101 modally on the calling thread and returns once it has ended. The
  // code page tells the host which text encoding and font the texts need. Returns false,
  // without calling the client, when no window can be shown here.
  virtual bool Run(int code_page, DialogClient& client) = 0;
};

// A host that cannot show a window: Run returns false.
DialogHost& NoDialogHost();

// The Linux host: loads the Qt plugin (libvantrel-dialog-qt.so) at the first dialog and
// runs its window; acts as the null host where Qt has no platform or the plugin is absent.
DialogHost& PluginDialogHost();

// The plugin's one entry, exported with C linkage: its host, or null when the plugin was
// built for another form of this seam (abi is kDialogHostAbi of the caller).
inline constexpr int kDialogHostAbi = 1;
inline constexpr const char* kDialogPluginEntry = "VantrelDialogHost";
using DialogPluginEntry = DialogHost* (*)(int abi);

}  // namespace vantrel::platform
