// Module-level state of the library: one instance per process, alive while the library
// is loaded. The configured baud rate and the serial selection are shared with the serial
// link and live in links::State().
#pragma once

#include <atomic>
#include <cstdint>

namespace vantrel::api {

inline constexpr int kDialogTextBytes = 513;  // 512 nibble characters and a terminator
inline constexpr int kDialogImageBytes = 30400;

// Language offsets added to string resource ids; any other code page keeps its own number
// as the offset, which names no resource, so the built-in texts are used.
inline constexpr int kLanguageSimplifiedChinese = 0;
inline constexpr int kLanguageEnglish = 100;
inline constexpr int kLanguageTraditionalChinese = 200;

struct DialogState {
  int32_t result = -1;
  int32_t port = 0;
  char feature_text[kDialogTextBytes] = {};
  char template_text[kDialogTextBytes] = {};
  uint8_t image[kDialogImageBytes] = {};
  // Shared between the dialog worker, its stage threads and the Cancel handler: atomics,
  // and a stage thread writes image_status before stage_finished.
  std::atomic<uint8_t> running{0};
  std::atomic<int32_t> image_status{-1};
  std::atomic<uint8_t> stage_finished{0};
  void* window = nullptr;
  void* font = nullptr;
};

struct ModuleState {
  // Non-null while loaded; the dialog host uses it to find the library's resources.
  const void* instance = nullptr;
  int32_t language_offset = kLanguageEnglish;
  int32_t dialog_mode = 0;
  // Written by the finger-wait thread and by FPICancle from any thread, polled by the
  // waiting export: atomics, so the handshake is well defined.
  std::atomic<int32_t> finger_wait_active{0};
  std::atomic<int32_t> finger_wait_done{0};
  uint32_t finger_wait_start_tick = 0;
  uint32_t finger_wait_current_tick = 0;
  DialogState dialog;
};

ModuleState& Module();

// Maps an ANSI code page to the language offset: 936 -> 0, 1252 -> 100, 950 -> 200,
// anything else -> the code page itself.
int LanguageOffsetFor(int code_page);

// What loading and unloading the library do (load.cpp). OnLoad reads the code page and
// VANTREL_SIMULATOR again each time it runs, so tests can call it after changing them.
void OnLoad();
void OnUnload();

}  // namespace vantrel::api
