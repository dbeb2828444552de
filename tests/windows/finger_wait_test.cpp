// The finger wait on Windows keeps the caller's window messages flowing: a handler that
// the waiting export dispatches can cancel the wait (as a Cancel button of the
// application would), on the waiting thread itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "reader/api/module_state.h"
#include "sim/reader_model.h"
#include "vantrel/vantrel.h"

namespace {

std::atomic<DWORD> g_handler_thread{0};
constexpr UINT kCancelMessage = WM_APP + 1;

LRESULT CALLBACK ApplicationWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kCancelMessage) {
    g_handler_thread = GetCurrentThreadId();
    FPICancle();
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

TEST(FingerWait, DispatchesTheCallersMessagesSoAHandlerCanCancel) {
  // The stand-in reader on the disk link, its finger taken away: the wait would last.
  _putenv_s("VANTREL_SIMULATOR", "disk");
  vantrel::api::OnLoad();
  vantrel::sim::SharedReader().SetFinger(false);
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = ApplicationWindow;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "VantrelFingerWaitTest";
  ASSERT_NE(RegisterClassA(&window_class), 0);
  HWND window = CreateWindowA("VantrelFingerWaitTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostMessageA(window, kCancelMessage, 0, 0));

  // Should the messages not flow, cancel from another thread after a while, so that the
  // test ends and fails on the handler check instead of waiting 100 s.
  std::atomic<bool> done{false};
  std::thread fallback([&] {
    for (int i = 0; i < 500 && !done; ++i) Sleep(10);
    if (!done) FPICancle();
  });
  char text[FPI_TEXT_BUFFER_BYTES] = {};
  int length = -1;
  const int result = FPIFeature(0, text, &length);
  done = true;
  fallback.join();

  EXPECT_EQ(result, -1);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(g_handler_thread.load(), GetCurrentThreadId());
  DestroyWindow(window);
  vantrel::sim::SharedReader().SetFinger(true);
  _putenv_s("VANTREL_SIMULATOR", "");
  vantrel::api::OnLoad();
}

}  // namespace
