#include "reader/api/capture.h"

#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "reader/api/dispatch.h"
#include "reader/api/export_buffers.h"
#include "reader/api/module_state.h"
#include "reader/extract/extract_feature.h"
#include "reader/match/synthesis.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/system_backends.h"

namespace vantrel::api {

namespace {

platform::Clock& WaitClock() {
  platform::Clock* clock = platform::Current().clock;
  return clock != nullptr ? *clock : platform::SystemClock();
}

// Polls the finger state while the wait is active; marks the wait done when it ends.
void FingerWaitThread(const links::LinkOps* link) {
  ModuleState& module = Module();
  platform::Clock& clock = WaitClock();
  while (module.finger_wait_active == 1) {
    int state = -1;
    try {
      state = link->FingerState != nullptr ? link->FingerState() : kFailure;
    } catch (...) {
      state = kFailure;
    }
    if (state == 0) {
      module.finger_wait_done = 1;
      return;
    }
    clock.SleepMs(kFingerPollMs);
    platform::DispatchOnePendingMessage();
  }
  module.finger_wait_done = 1;
}

}  // namespace

int WaitForFinger(const links::LinkOps& link) {
  ModuleState& module = Module();
  platform::Clock& clock = WaitClock();
  module.finger_wait_active = 1;
  module.finger_wait_done = 0;
  module.finger_wait_start_tick = clock.TickMs();
  std::thread thread;
  try {
    thread = std::thread(FingerWaitThread, &link);
  } catch (const std::system_error&) {
    module.finger_wait_active = 0;
    return kFailure;
  }
  int result = kOk;
  while (module.finger_wait_done == 0) {
    if (module.finger_wait_active == 0) {
      result = kFailure;  // cancelled
      break;
    }
    module.finger_wait_current_tick = clock.TickMs();
    if (module.finger_wait_current_tick - module.finger_wait_start_tick > kFingerWaitLimitMs) {
      module.finger_wait_done = 1;
      module.finger_wait_active = 0;
      clock.SleepMs(kWaitPollMs);
      result = kFailure;
      break;
    }
    // The caller's window messages keep flowing while it waits (none on Linux).
    clock.SleepMs(kWaitPollMs);
    platform::DispatchOnePendingMessage();
  }
  // The thread sees the cleared flag at its next poll; waiting for it here means no
  // thread of an old wait can mark a later wait done.
  thread.join();
  if (result != kOk || module.finger_wait_active == 0) return kFailure;
  return kOk;
}

int FetchImage(const links::LinkOps& link, uint8_t* area, int* bytes) {
  if (link.GetImageSize == nullptr || link.ReadImage == nullptr) return kFailure;
  int width = 0, height = 0;
  int rc = link.GetImageSize(&width, &height);
  if (rc != 0) return rc;
  if (width <= 0 || height <= 0 || width > kImageAreaBytes / height) return kFailure;
  rc = link.ReadImage(width, height, area, 0, nullptr, nullptr);
  if (rc != 0) return rc;
  *bytes = width * height;
  return kOk;
}

int CaptureFeature(const links::LinkOps& link, uint8_t* record, int* length) {
  // Extraction reads the first 152 x 200 bytes of the fetched image.
  std::unique_ptr<uint8_t[]> image(new uint8_t[kImageAreaBytes]());
  int bytes = 0;
  const int rc = FetchImage(link, image.get(), &bytes);
  if (rc != 0) return rc;
  uint16_t n = 0;
  try {
    if (extract::ExtractFeature(image.get(), record, &n) != 0) return kCaptureExtractFailed;
  } catch (...) {
    return kCaptureExtractFailed;
  }
  *length = n > kRecordBytes ? kRecordBytes : n;
  return kOk;
}

int CaptureTemplate(const links::LinkOps& link, uint8_t* templ, int* length) {
  uint8_t areas[3][kWorkAreaBytes] = {};
  int successes = 0;
  // The code of the last failed capture: when the last attempt succeeded but too few
  // did, answering its 0 would report success without a template.
  int last_failure = kFailure;
  for (int attempt = 0; attempt < kCaptureAttempts && successes < 3; ++attempt) {
    int n = 0;
    const int rc = CaptureFeature(link, areas[successes], &n);
    if (rc == 0) {
      WaitClock().SleepMs(kPauseAfterCaptureMs);
      ++successes;
    } else {
      last_failure = rc;
    }
  }
  if (successes != 3) return last_failure;
  uint16_t n = 0;
  try {
    if (match::SynthesiseTemplate(areas[0], areas[1], areas[2], templ, &n) != 0) {
      return kSynthesisFailed;
    }
  } catch (...) {
    return kSynthesisFailed;
  }
  *length = n > kRecordBytes ? kRecordBytes : n;
  return kOk;
}

}  // namespace vantrel::api
