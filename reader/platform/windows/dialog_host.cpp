// The dialog host on Windows: dialog template 101 from the library's resources, run with
// DialogBoxParamA on the calling thread. The host gives the controls the dialog font,
// centres the window, starts the 20 ms timer whose first tick runs the client's worker,
// and paints images with StretchDIBits.
#include <windows.h>

#include <cstring>
#include <memory>

#include "reader/platform/dialog_host.h"
#include "reader/platform/windows/module_instance.h"
#include "reader/platform/windows/windows_backends.h"

namespace vantrel::platform {

namespace {

constexpr int kTemplateId = 101;
constexpr UINT_PTR kWorkerTimer = 1;
constexpr UINT kWorkerDelayMs = 20;
constexpr LONG kFontHeight = 13;
constexpr char kFontFace[] = "\xCB\xCE\xCC\xE5";  // "SimSun" in GB2312

class Win32Window final : public DialogWindow {
 public:
  explicit Win32Window(int code_page) : code_page_(code_page) {}

  void Attach(HWND dialog) { dialog_ = dialog; }

  void SetText(DialogControl control, const char* text) override {
    if (dialog_ == nullptr || text == nullptr) return;
    HWND target = control == DialogControl::kCaption
                      ? dialog_
                      : GetDlgItem(dialog_, static_cast<int>(control));
    if (target == nullptr) return;
    // Texts come in the code page the client was given; the ANSI call reads them in the
    // system's, so another page is widened here instead.
    if (static_cast<UINT>(code_page_) == GetACP() || !IsValidCodePage(code_page_)) {
      SetWindowTextA(target, text);
      return;
    }
    const int wide = MultiByteToWideChar(code_page_, 0, text, -1, nullptr, 0);
    if (wide <= 0) return;
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[wide]);
    if (!buffer) return;
    MultiByteToWideChar(code_page_, 0, text, -1, buffer.get(), wide);
    SetWindowTextW(target, buffer.get());
  }

  void PaintImage(const uint8_t* reader_form) override {
    HWND frame = dialog_ != nullptr
                     ? GetDlgItem(dialog_, static_cast<int>(DialogControl::kFrame))
                     : nullptr;
    if (frame == nullptr || reader_form == nullptr) return;
    // Bottom-up 8-bit grey bitmap: rows of the reader form from the bottom, every pixel
    // inverted, show the display form upright.
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD palette[256];
    } info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = kDialogImageWidth;
    info.header.biHeight = kDialogImageHeight;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    info.header.biSizeImage = kDialogImageBytes;
    for (int i = 0; i < 256; ++i) {
      const BYTE v = static_cast<BYTE>(i);
      info.palette[i] = RGBQUAD{v, v, v, 0};
    }
    for (int i = 0; i < kDialogImageBytes; ++i) {
      pixels_[i] = static_cast<uint8_t>(255 - reader_form[i]);
    }
    HDC dc = GetDC(frame);
    if (dc != nullptr) {
      StretchDIBits(dc, 0, 0, kDialogImageWidth, kDialogImageHeight, 0, 0, kDialogImageWidth,
                    kDialogImageHeight, pixels_, reinterpret_cast<BITMAPINFO*>(&info),
                    DIB_RGB_COLORS, SRCCOPY);
      ReleaseDC(frame, dc);
    }
    PumpOne();
  }

  void PumpOne() override {
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }

 private:
  HWND dialog_ = nullptr;
  int code_page_;
  // 152 x 200 is a multiple of four bytes per row, so the rows need no padding.
  uint8_t pixels_[kDialogImageBytes] = {};
};

struct ShownDialog {
  DialogClient* client;
  Win32Window* window;
  HFONT font;
};

void GiveFont(HWND dialog, HFONT font) {
  for (DialogControl control :
       {DialogControl::kInstructions, DialogControl::kStatus, DialogControl::kCancel}) {
    HWND item = GetDlgItem(dialog, static_cast<int>(control));
    if (item != nullptr) SendMessageA(item, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
}

void Centre(HWND dialog) {
  RECT rect;
  if (!GetWindowRect(dialog, &rect)) return;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int x = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
  const int y = GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
  SetWindowPos(dialog, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* shown = reinterpret_cast<ShownDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      shown = reinterpret_cast<ShownDialog*>(lparam);
      SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      shown->window->Attach(dialog);
      LOGFONTA font = {};
      GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
      std::memcpy(font.lfFaceName, kFontFace, sizeof kFontFace);
      font.lfHeight = kFontHeight;
      font.lfCharSet = GB2312_CHARSET;
      shown->font = CreateFontIndirectA(&font);
      if (shown->font != nullptr) GiveFont(dialog, shown->font);
      Centre(dialog);
      shown->client->OnInit(*shown->window);
      SetTimer(dialog, kWorkerTimer, kWorkerDelayMs, nullptr);
      return TRUE;
    }
    case WM_TIMER:
      if (shown == nullptr || wparam != kWorkerTimer) return FALSE;
      KillTimer(dialog, kWorkerTimer);
      shown->client->OnTimer(*shown->window);
      EndDialog(dialog, 1);
      return TRUE;
    case WM_COMMAND:
      if (shown == nullptr || LOWORD(wparam) != IDCANCEL) return FALSE;
      shown->client->OnCancel();
      return TRUE;
    case WM_CLOSE:
      if (shown == nullptr) return FALSE;
      shown->client->OnCancel();
      return TRUE;
    default:
      return FALSE;
  }
}

class Win32Host final : public DialogHost {
 public:
  bool Run(int code_page, DialogClient& client) override {
    auto window = std::make_unique<Win32Window>(code_page);
    ShownDialog shown{&client, window.get(), nullptr};
    const INT_PTR ended =
        DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(kTemplateId), nullptr, DialogProc,
                        reinterpret_cast<LPARAM>(&shown));
    // The font goes once the controls that use it are gone.
    if (shown.font != nullptr) DeleteObject(shown.font);
    return ended != -1 && ended != 0;
  }
};

}  // namespace

DialogHost& Win32DialogHost() {
  static Win32Host host;
  return host;
}

}  // namespace vantrel::platform
