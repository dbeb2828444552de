// The Win32 dialog host under Wine: dialog 101 from the resources, driven as a user would
// from a second thread (find the window, read the status line, press Cancel with a
// message). With VANTREL_DIALOG_SHOT=<file.bmp> the window is also saved as a picture.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "reader/platform/code_page.h"
#include "reader/platform/dialog_host.h"
#include "reader/platform/resource_text.h"
#include "reader/platform/system_backends.h"

namespace vantrel::platform {
namespace {

int LanguageOffset() {
  switch (AnsiCodePage()) {
    case kCodePageSimplifiedChinese: return 0;
    case kCodePageTraditionalChinese: return 200;
    default: return 100;
  }
}

std::string Text(int base_id) {
  char text[512] = {};
  LoadResourceText(base_id + LanguageOffset(), text, sizeof text);
  return text;
}

TEST(ResourceTexts, EachTableHoldsSixteenTextsAndNothingElse) {
  struct Row {
    int id;
    const char* expected;  // nullptr: present, not compared (not in this code page)
  } const rows[] = {
      {10103, "Cancle"},
      {10116, "Feature Succeed"},
      {10104, "Scan fingerprint step [%d], press finger..."},
      {10001, nullptr}, {10016, nullptr}, {10201, nullptr}, {10216, nullptr},
  };
  for (const Row& row : rows) {
    char text[512] = {};
    const int length = LoadResourceText(row.id, text, sizeof text);
    EXPECT_GT(length, 0) << row.id;
    EXPECT_EQ(length, static_cast<int>(std::strlen(text))) << row.id;
    if (row.expected != nullptr) {
      EXPECT_STREQ(text, row.expected) << row.id;
    }
  }
  for (int missing : {10000, 10017, 10100, 10117, 10217, 11252, 10001 + 1251}) {
    char text[8] = "keep";
    EXPECT_EQ(LoadResourceText(missing, text, sizeof text), 0) << missing;
  }
  // A short target keeps the start of the text and its terminator.
  char small[4] = {};
  EXPECT_EQ(LoadResourceText(10103, small, sizeof small), 3);
  EXPECT_STREQ(small, "Can");
}

TEST(CodePage, IsTheSystemsAnsiCodePage) {
  if (std::getenv("VANTREL_CODEPAGE") == nullptr) {
    EXPECT_EQ(AnsiCodePage(), static_cast<int>(GetACP()));
  }
}

// The client a capture dialog would be: texts at init, then a worker that keeps the window
// alive until Cancel.
class CancelWaitingClient final : public DialogClient {
 public:
  void OnInit(DialogWindow& window) override {
    window.SetText(DialogControl::kCaption, Text(10001).c_str());
    window.SetText(DialogControl::kInstructions, Text(10015).c_str());
    window.SetText(DialogControl::kCancel, Text(10003).c_str());
    window.SetText(DialogControl::kStatus, Text(10005).c_str());
    inits++;
  }
  void OnTimer(DialogWindow& window) override {
    timer_after_init = inits == 1;
    // A reader-form test picture: rings of an 8-pixel period around (76, 130), bright in
    // reader form, on a background that gets brighter with the row. On screen the display
    // form shows: rows reversed (the centre 70 rows from the top) and values inverted.
    static uint8_t image[kDialogImageBytes];
    for (int y = 0; y < kDialogImageHeight; ++y) {
      for (int x = 0; x < kDialogImageWidth; ++x) {
        const int dx = x - 76, dy = y - 130;
        const int r = static_cast<int>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
        image[y * kDialogImageWidth + x] =
            static_cast<uint8_t>(((r / 4) % 2 == 0 && r < 64) ? 220 : 10 + y / 5);
      }
    }
    window.PaintImage(image);
    const DWORD start = GetTickCount();
    while (!cancelled && GetTickCount() - start < 30000) {
      window.PumpOne();
      Sleep(10);
    }
    cancelled_inside_worker = cancelled.load();
  }
  void OnCancel() override { cancelled = true; }

  std::atomic<int> inits{0};
  std::atomic<bool> cancelled{false};
  bool timer_after_init = false;
  bool cancelled_inside_worker = false;
};

// Saves the screen under the window as a 24-bit BMP.
bool SaveWindowPicture(HWND window, const char* path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const int row = (w * 3 + 3) / 4 * 4;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + row * h;
  bool ok = false;
  if (FILE* f = std::fopen(path, "wb")) {
    ok = std::fwrite(&file, sizeof file, 1, f) == 1 &&
         std::fwrite(&info.bmiHeader, sizeof(BITMAPINFOHEADER), 1, f) == 1 &&
         std::fwrite(bits, static_cast<size_t>(row) * h, 1, f) == 1;
    std::fclose(f);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

std::string ItemText(HWND dialog, int id) {
  char text[512] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

TEST(Win32DialogHost, ShowsDialog101AndEndsOnCancel) {
  CancelWaitingClient client;
  struct Seen {
    bool found = false;
    std::string status, cancel_text;
    bool has_frame = false, status_font = false, centred = false, topmost = false;
    COLORREF centre = 0, corner = 0;
  } seen;
  const std::string caption = Text(10001);
  std::thread user([&] {
    HWND dialog = nullptr;
    for (int i = 0; i < 1000 && dialog == nullptr; ++i) {
      dialog = FindWindowA(nullptr, caption.c_str());
      if (dialog == nullptr) Sleep(10);
    }
    if (dialog == nullptr) {
      client.OnCancel();  // do not leave the worker waiting
      return;
    }
    seen.found = true;
    Sleep(300);  // the worker has started and painted
    seen.status = ItemText(dialog, 1002);
    seen.cancel_text = ItemText(dialog, IDCANCEL);
    seen.has_frame = GetDlgItem(dialog, 1000) != nullptr;
    if (HDC dc = GetDC(GetDlgItem(dialog, 1000))) {
      seen.centre = GetPixel(dc, 76, kDialogImageHeight - 1 - 130);
      seen.corner = GetPixel(dc, 0, 0);
      ReleaseDC(GetDlgItem(dialog, 1000), dc);
    }
    seen.status_font = SendMessageA(GetDlgItem(dialog, 1002), WM_GETFONT, 0, 0) != 0;
    RECT r;
    GetWindowRect(dialog, &r);
    const int cx = GetSystemMetrics(SM_CXSCREEN) / 2, cy = GetSystemMetrics(SM_CYSCREEN) / 2;
    seen.centred = std::abs((r.left + r.right) / 2 - cx) <= 1 &&
                   std::abs((r.top + r.bottom) / 2 - cy) <= 1;
    seen.topmost = (GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    if (const char* shot = std::getenv("VANTREL_DIALOG_SHOT")) {
      SaveWindowPicture(dialog, shot);
    }
    // The user presses Cancel: a click message to the button, from this thread.
    SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
  });
  const bool ran = SystemDialogHost().Run(AnsiCodePage(), client);
  user.join();
  EXPECT_TRUE(ran);
  ASSERT_TRUE(seen.found) << "no window titled " << caption;
  EXPECT_EQ(seen.status, Text(10005));
  EXPECT_EQ(seen.cancel_text, Text(10003));
  EXPECT_TRUE(seen.has_frame);
  // Reader value 220 at the ring centre shows as 35; the top-left pixel is reader row 199,
  // value 10 + 199 / 5 = 49, shown as 206.
  EXPECT_EQ(seen.centre, RGB(35, 35, 35));
  EXPECT_EQ(seen.corner, RGB(206, 206, 206));
  EXPECT_TRUE(seen.status_font);
  EXPECT_TRUE(seen.centred);
  EXPECT_TRUE(seen.topmost);
  EXPECT_EQ(client.inits.load(), 1);
  EXPECT_TRUE(client.timer_after_init);
  EXPECT_TRUE(client.cancelled_inside_worker);
  EXPECT_EQ(FindWindowA(nullptr, caption.c_str()), nullptr) << "the window outlived Run";
}

}  // namespace
}  // namespace vantrel::platform
