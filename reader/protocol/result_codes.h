// Result codes of the packet layer and of the three links. Every command operation
// returns 0 or the first of these that occurs; the exports pass them on unchanged.
#pragma once

namespace vantrel::protocol {

inline constexpr int kOk = 0;
// Receive failed; bad exchange arguments (HID); port close failed (serial); disk fetch
// failed; arguments outside what the request layout can carry.
inline constexpr int kReceiveFailed = -1;
inline constexpr int kBadArguments = -1;
inline constexpr int kSendFailed = -2;
// Disk exchange arguments missing; HID reply not received; serial raw image without
// start marker.
inline constexpr int kExchangeArgumentsMissing = -3;
inline constexpr int kNoReply = -3;
inline constexpr int kReplyLengthMismatch = -4;
inline constexpr int kBadStartMarker = -5;
inline constexpr int kBadChecksum = -6;
inline constexpr int kBadEndMarker = -7;
inline constexpr int kBadStatus = -8;
inline constexpr int kNoDevice = -10;
// Binary reply status 0x3A (the reader is busy); serial receive deadline passed.
inline constexpr int kReaderBusy = -11;
inline constexpr int kDeadlinePassed = -11;
// A reply that would not fit the buffer it is read into. It is refused before a byte
// of it is stored; no other layer uses -12, so callers can tell it apart.
inline constexpr int kReplyTooLong = -12;

// Reply status values the binary check distinguishes.
inline constexpr int kStatusSuccess = 0x00;
inline constexpr int kStatusBusy = 0x3A;

}  // namespace vantrel::protocol
