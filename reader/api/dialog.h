// The capture dialogs: the feature dialog (one capture) and the template dialog (three
// captures merged, then a fourth that must match the template), run modally on the
// dialog host in use. Only the logic lives here; the window is the host's.
#pragma once

#include <cstdint>

#include "reader/api/dialog_texts.h"

namespace vantrel::api {

// Display times of the status line, and the waits of the workers and stage threads.
inline constexpr uint32_t kStageFailureShowMs = 1000;  // 10006, 10007, 10009, 10011, 10013
inline constexpr uint32_t kRetryShowMs = 800;          // 10010
inline constexpr uint32_t kVerifiedShowMs = 500;       // 10012
inline constexpr uint32_t kFeatureDoneShowMs = 300;    // 10016
inline constexpr uint32_t kCancelPauseMs = 100;        // template dialog, after a Cancel
inline constexpr uint32_t kStagePollMs = 10;           // the worker waiting for a stage
inline constexpr uint32_t kSensorPollMs = 30;          // press and lift waits
inline constexpr int kTemplateDialogAttempts = 6;
inline constexpr int kVerifyLevel = 3;
inline constexpr int kStatusTextBytes = 128;

// Runs the dialog of kind for port (0 disk, 9 HID) and leaves its outcome in
// Module().dialog: result 0 with 512 characters of nibble text in feature_text or
// template_text; -3 when the user cancelled; -1 for any failure, also when no window can
// be shown here. The caller sets the result to -1 and zeroes the text buffer before.
void RunCaptureDialog(DialogKind kind, int port);

// The status text of a base id formatted with the capture number into 128 bytes.
void FormatStatus(const char* format, int number, char (&out)[kStatusTextBytes]);

}  // namespace vantrel::api
