// The host road of the capture exports on ports 0 and 9: wait for a finger, take images
// from the reader, extract on the host and, for templates, merge three captures.
#pragma once

#include <cstdint>

#include "reader/links/link_ops.h"

namespace vantrel::api {

inline constexpr uint32_t kFingerWaitLimitMs = 100000;
inline constexpr uint32_t kWaitPollMs = 50;         // the waiting export
inline constexpr uint32_t kFingerPollMs = 30;       // the finger-wait thread
inline constexpr uint32_t kPauseAfterCaptureMs = 300;
inline constexpr int kCaptureAttempts = 5;
inline constexpr int kWorkAreaBytes = 1024;

// Waits until the link reports a finger on the sensor (0), FPICancle clears the wait
// (-1) or 100 s pass (-1); -1 also when the wait thread cannot be started. The thread is
// joined before returning, so no wait outlives its export.
int WaitForFinger(const links::LinkOps& link);

// Image capture and upload: the reader's image into area (kImageAreaBytes, which takes
// the largest image any link delivers; a larger reported size gives -1), *bytes = its
// width x height. Link errors pass through.
int FetchImage(const links::LinkOps& link, uint8_t* area, int* bytes);

// One image from the reader, extracted on the host. record: a kWorkAreaBytes area;
// *length: record bytes, capped at 256. Link errors pass through, extraction failure
// (an exception included) gives -9.
int CaptureFeature(const links::LinkOps& link, uint8_t* record, int* length);

// Three good captures in at most five attempts, then template synthesis. -8 when the
// synthesis fails; the last failed capture's code when fewer than three succeed.
int CaptureTemplate(const links::LinkOps& link, uint8_t* templ, int* length);

}  // namespace vantrel::api
