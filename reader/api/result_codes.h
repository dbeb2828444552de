// Result codes of the exports. Link result codes (-2 .. -11) pass through unchanged and
// are named in the link and packet layers.
#pragma once

namespace vantrel::api {

inline constexpr int kOk = 0;
inline constexpr int kFailure = -1;           // general failure, port not served, bad argument
inline constexpr int kUnsealFailed = -2;      // a record does not unseal
inline constexpr int kBadPortOrSame = -3;     // port outside 0..9, identical inputs, cancelled
inline constexpr int kSynthesisFailed = -8;
inline constexpr int kCaptureExtractFailed = -9;
inline constexpr int kNoReader = -10;
inline constexpr int kAlgorithmException = -99;  // also: base64 refused its input

// FPICheckFinger answers.
inline constexpr int kFingerPresent = 0;
inline constexpr int kNoFinger = 1;

}  // namespace vantrel::api
