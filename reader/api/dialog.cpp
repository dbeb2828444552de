// The capture dialogs' workers and stage threads.
//
// The host runs the window on the caller's thread: OnInit sets the fixed texts, the first
// timer message (20 ms later) runs the worker inside OnTimer, and the worker keeps the
// window alive by pumping one message per poll; Cancel and close arrive in those pumps.
// One stage thread at a time waits for the finger, captures or waits for the lift, and
// reports through image status and stage finished.
#include "reader/api/dialog.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "reader/api/capture.h"
#include "reader/api/dispatch.h"
#include "reader/api/export_buffers.h"
#include "reader/api/module_state.h"
#include "reader/extract/extract_feature.h"
#include "reader/record/record_text.h"
#include "reader/links/link_ops.h"
#include "reader/match/matcher.h"
#include "reader/match/synthesis.h"
#include "reader/platform/clock.h"
#include "reader/platform/code_page.h"
#include "reader/platform/dialog_host.h"
#include "reader/platform/platform.h"

namespace vantrel::api {

namespace {

using platform::DialogControl;
using platform::DialogWindow;

platform::Clock& DialogClock() {
  platform::Clock* clock = platform::Current().clock;
  return clock != nullptr ? *clock : platform::SystemClock();
}

// What the link answered, with an exception in it counted as a failure.
template <typename Call>
int LinkCall(Call&& call) {
  try {
    return call();
  } catch (...) {
    return kFailure;
  }
}

enum class Stage { kPress, kCapture, kLift };

// The feature worker's own code for a failed image capture; like every non-zero worker
// result it leaves the dialog result at -1.
constexpr int kFeatureCaptureFailed = -2;

void PressThread(const links::LinkOps* link) {
  DialogState& d = Module().dialog;
  while (d.running == 1) {
    if (LinkCall([&] { return link->FingerState != nullptr ? link->FingerState() : kFailure; }) == 0) {
      break;
    }
    DialogClock().SleepMs(kSensorPollMs);
  }
  // Found or cancelled, the stage ends with status 0; the worker tells them apart by
  // dialog running.
  d.image_status = 0;
  d.stage_finished = 1;
}

void LiftThread(const links::LinkOps* link) {
  DialogState& d = Module().dialog;
  while (d.running == 1) {
    // No finger, or an error: either way nothing presses any more.
    if (LinkCall([&] { return link->FingerState != nullptr ? link->FingerState() : kFailure; }) != 0) {
      d.image_status = 0;
      d.stage_finished = 1;
      return;
    }
    DialogClock().SleepMs(kSensorPollMs);
  }
}

// Image capture and upload into the captured image, through an area that takes the
// largest image any link delivers, so that a reader reporting more than 152 x 200 cannot
// write past the 30400 bytes of the captured image.
int CaptureImage(const links::LinkOps& link, uint8_t* captured) {
  std::unique_ptr<uint8_t[]> area(new uint8_t[kImageAreaBytes]());
  int bytes = 0;
  const int rc = FetchImage(link, area.get(), &bytes);
  if (rc != 0) return rc;
  std::memcpy(captured, area.get(), static_cast<size_t>(bytes < kDialogImageBytes ? bytes : kDialogImageBytes));
  return kOk;
}

void CaptureThread(const links::LinkOps* link) {
  DialogState& d = Module().dialog;
  d.image_status = link != nullptr ? LinkCall([&] { return CaptureImage(*link, d.image); })
                                   : kFailure;
  d.stage_finished = 1;
}

// The dialog client: both workers, the stage runner and the status line.
class CaptureDialog final : public platform::DialogClient {
 public:
  CaptureDialog(DialogKind kind, const links::LinkOps* link) : kind_(kind), link_(link) {}

  void OnInit(DialogWindow& window) override {
    const bool templ = kind_ == DialogKind::kTemplate;
    window.SetText(DialogControl::kCaption,
                   Text(templ ? kTextTemplateCaption : kTextFeatureCaption));
    window.SetText(DialogControl::kInstructions,
                   Text(templ ? kTextTemplateInstructions : kTextFeatureInstructions));
    window.SetText(DialogControl::kCancel, Text(kTextCancel));
  }

  void OnTimer(DialogWindow& window) override {
    DialogState& d = Module().dialog;
    // A Cancel pressed in the 20 ms between the window's appearance and this first timer
    // message is honoured: the user saw the window and asked to stop, so the worker does
    // not start and the result stays -3.
    if (cancelled_) return;
    d.running = 1;
    const int rc = kind_ == DialogKind::kTemplate ? TemplateWorker(window) : FeatureWorker(window);
    if (rc == 0) d.result = kOk;
    d.running = 0;
  }

  void OnCancel() override {
    DialogState& d = Module().dialog;
    cancelled_ = true;
    d.running = 0;
    d.result = kBadPortOrSame;
    if (kind_ == DialogKind::kTemplate) DialogClock().SleepMs(kCancelPauseMs);
  }

 private:
  const char* Text(int base_id) {
    const ModuleState& module = Module();
    return LoadText(kind_, base_id, module.language_offset, module.instance != nullptr, loaded_);
  }

  // Sets the status line, keeps it for show_ms, then dispatches one message.
  void ShowStatus(DialogWindow& window, const char* text, uint32_t show_ms = 0) {
    window.SetText(DialogControl::kStatus, text);
    if (show_ms != 0) DialogClock().SleepMs(show_ms);
    window.PumpOne();
  }

  void ShowNumbered(DialogWindow& window, int base_id, int number, uint32_t show_ms = 0) {
    char status[kStatusTextBytes];
    FormatStatus(Text(base_id), number, status);
    ShowStatus(window, status, show_ms);
  }

  // Runs one stage thread to its end. 0 when it finished, -3 when the user cancelled.
  // A cancelled stage thread sees dialog running cleared at its next poll; it is joined
  // before the disk link's reset goes out, so that two commands never share the link.
  // The reset follows every cancelled stage, also one whose thread ended first.
  int RunStage(DialogWindow& window, Stage stage) {
    DialogState& d = Module().dialog;
    d.stage_finished = 0;
    d.image_status = kFailure;
    if (stage == Stage::kCapture) std::memset(d.image, 0, sizeof d.image);
    std::thread thread;
    try {
      switch (stage) {
        case Stage::kPress: thread = std::thread(PressThread, link_); break;
        case Stage::kCapture: thread = std::thread(CaptureThread, link_); break;
        case Stage::kLift: thread = std::thread(LiftThread, link_); break;
      }
    } catch (const std::system_error&) {
      // Nothing will finish the stage: the dialog waits for Cancel.
      ShowStatus(window, Text(kTextThreadFailed), kStageFailureShowMs);
    }
    while (d.stage_finished == 0 && d.running != 0) {
      DialogClock().SleepMs(kStagePollMs);
      window.PumpOne();
    }
    if (thread.joinable()) thread.join();
    d.stage_finished = 0;
    if (d.running != 0) return kOk;
    const links::LinkOps& disk = DiskOps();
    if (disk.Reset != nullptr) LinkCall([&] { return disk.Reset(); });
    return kBadPortOrSame;
  }

  // Copies the captured image, paints it and asks for the lift.
  void ShowCapturedImage(DialogWindow& window, uint8_t* copy) {
    std::memcpy(copy, Module().dialog.image, kDialogImageBytes);
    window.PaintImage(copy);
    window.PumpOne();
    ShowStatus(window, Text(kTextLiftFinger));
  }

  static bool Extract(const uint8_t* image, uint8_t* record) {
    uint16_t n = 0;
    try {
      return extract::ExtractFeature(image, record, &n) == 0;
    } catch (...) {
      return false;
    }
  }

  int TemplateWorker(DialogWindow& window) {
    DialogState& d = Module().dialog;
    uint8_t features[4][kWorkAreaBytes] = {};
    uint8_t templ[kWorkAreaBytes + 1] = {};
    uint8_t image[kDialogImageBytes];
    int attempts = 0;
    int captures = 0;
    while (attempts < kTemplateDialogAttempts) {
      if (d.running == 0) return kBadPortOrSame;
      if (captures == 4) break;
      if (captures < 3) {
        ShowNumbered(window, kTextStepPrompt, captures + 1);
      } else {
        ShowStatus(window, Text(kTextPrompt));
      }
      if (RunStage(window, Stage::kPress) != 0) return kBadPortOrSame;
      if (RunStage(window, Stage::kCapture) != 0) return kBadPortOrSame;
      // At most two failed attempts: failures so far are attempts - captures.
      const bool may_retry = attempts - captures <= 1;
      if (d.image_status != 0) {
        if (may_retry) {
          ++attempts;
          continue;
        }
        ShowStatus(window, Text(kTextCaptureFailed), kStageFailureShowMs);
        return d.image_status;
      }
      ShowCapturedImage(window, image);
      if (RunStage(window, Stage::kLift) != 0) return kBadPortOrSame;
      if (!Extract(image, features[captures])) {
        if (may_retry) {
          ShowNumbered(window, kTextStepRetry, captures + 1, kRetryShowMs);
          ++attempts;
          continue;
        }
        ShowStatus(window, Text(kTextFeatureFailed), kStageFailureShowMs);
        return kFailure;
      }
      if (captures == 2 && !Synthesise(features, templ)) {
        ShowStatus(window, Text(kTextSynthesisFailed), kStageFailureShowMs);
        return kFailure;
      }
      ++captures;
      ++attempts;
    }
    if (captures != 4) return kFailure;
    if (!Verified(features[3], templ)) {
      ShowStatus(window, Text(kTextNotVerified), kStageFailureShowMs);
      return kFailure;
    }
    ShowStatus(window, Text(kTextVerified), kVerifiedShowMs);
    std::memset(d.template_text, 0, sizeof d.template_text);
    text::WriteNibbleText(templ, kRecordBytes, d.template_text);
    return kOk;
  }

  int FeatureWorker(DialogWindow& window) {
    DialogState& d = Module().dialog;
    uint8_t record[kWorkAreaBytes] = {};
    uint8_t image[kDialogImageBytes];
    ShowStatus(window, Text(kTextPrompt));
    if (RunStage(window, Stage::kPress) != 0) return kBadPortOrSame;
    if (RunStage(window, Stage::kCapture) != 0) return kBadPortOrSame;
    if (d.image_status != 0) {
      ShowStatus(window, Text(kTextCaptureFailed), kStageFailureShowMs);
      return kFeatureCaptureFailed;
    }
    ShowCapturedImage(window, image);
    if (RunStage(window, Stage::kLift) != 0) return kBadPortOrSame;
    if (!Extract(image, record)) {
      ShowStatus(window, Text(kTextFeatureFailed), kStageFailureShowMs);
      return kFailure;
    }
    std::memset(d.feature_text, 0, sizeof d.feature_text);
    text::WriteNibbleText(record, kRecordBytes, d.feature_text);
    ShowStatus(window, Text(kTextFeatureDone), kFeatureDoneShowMs);
    return kOk;
  }

  static bool Synthesise(uint8_t (&features)[4][kWorkAreaBytes], uint8_t* templ) {
    uint16_t n = 0;
    try {
      return match::SynthesiseTemplate(features[0], features[1], features[2], templ, &n) >= 0;
    } catch (...) {
      return false;
    }
  }

  static bool Verified(const uint8_t* feature, const uint8_t* templ) {
    try {
      return match::MatchRecords(feature, templ, kVerifyLevel) >= 0;
    } catch (...) {
      return false;
    }
  }

  DialogKind kind_;
  const links::LinkOps* link_;
  bool cancelled_ = false;
  char loaded_[kLoadedTextBytes] = {};
};

}  // namespace

void FormatStatus(const char* format, int number, char (&out)[kStatusTextBytes]) {
  std::memset(out, 0, sizeof out);
  char digits[16];
  int n = 0;
  // The number's decimal digits, most significant first.
  unsigned magnitude = number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) digits[n++] = '-';
  int at = 0;
  bool placed = false;
  for (const char* p = format; *p != '\0' && at < kStatusTextBytes - 1; ++p) {
    // The tables hold at most one %d; a second one is shown as it stands.
    if (!placed && p[0] == '%' && p[1] == 'd') {
      for (int i = n - 1; i >= 0 && at < kStatusTextBytes - 1; --i) out[at++] = digits[i];
      placed = true;
      ++p;
      continue;
    }
    out[at++] = *p;
  }
}

void RunCaptureDialog(DialogKind kind, int port) {
  ModuleState& module = Module();
  DialogState& d = module.dialog;
  d.port = port;
  d.image_status = kFailure;
  d.running = 0;
  const links::LinkOps* link = SelectLink(port, PortClass::kDiskOrHid);
  platform::DialogHost* host = platform::Current().dialog;
  if (link == nullptr || host == nullptr) return;
  CaptureDialog dialog(kind, link);
  // The encoding of the texts the host gets: the built-in defaults of every other code
  // page are GB2312 bytes.
  const int code_page = module.language_offset == kLanguageEnglish ? platform::kCodePageWestern
                        : module.language_offset == kLanguageTraditionalChinese
                            ? platform::kCodePageTraditionalChinese
                            : platform::kCodePageSimplifiedChinese;
  // A host that cannot show a window leaves the result at -1.
  host->Run(code_page, dialog);
  d.running = 0;
}

}  // namespace vantrel::api
