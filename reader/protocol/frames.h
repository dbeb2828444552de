// Binary and text command frames: building requests, checking replies. Pure functions
// over caller buffers; nothing here touches a device.
//
// Binary request: 02, length n + 4 (16-bit), command, p1, p2, p3, n data bytes,
// checksum, 03. The checksum is the XOR of everything between the start marker and the
// checksum itself. A text frame carries the same bytes between its markers, each byte
// written as two characters 0x30 + nibble.
#pragma once

#include <cstdint>

namespace vantrel::protocol {

inline constexpr uint8_t kStartMarker = 0x02;
inline constexpr uint8_t kEndMarker = 0x03;
// Header and trailer bytes around the data of a binary request.
inline constexpr int kBinaryRequestOverhead = 9;
// Short-form reply: 02, 16-bit length c, status, spare, c - 2 data bytes, checksum, 03.
inline constexpr int kShortReplyOverhead = 5;
inline constexpr int kShortReplyDataOffset = 5;
// Long-form reply (HID image replies): 02, 32-bit length c, status, spare, data, ...
inline constexpr int kLongReplyOverhead = 7;
inline constexpr int kLongReplyDataOffset = 7;
// Expected totals from here on are checked in the long form.
inline constexpr int kLongFormThreshold = 92161;
// A 16-bit length field counts at most this many bytes.
inline constexpr int kMaxLengthField = 0xFFFF;
// Text request buffers hold this many characters, so n is at most 1048.
inline constexpr int kTextRequestBufferSize = 2112;
inline constexpr int kTextRequestOverhead = 16;
// Characters in front of the data of a text reply, and the framing characters in all.
inline constexpr int kTextReplyDataOffset = 9;
inline constexpr int kTextReplyOverhead = 12;

// XOR of bytes[0..count), starting from 0.
uint8_t Checksum(const uint8_t* bytes, int count);

// Writes the n + 9 bytes of a binary request into out. Returns the length, or
// kBadArguments when n is negative, data is null with n > 0, n + 4 does not fit the
// 16-bit length field, or capacity is too small (nothing is written then).
int BuildBinaryRequest(uint8_t command, uint8_t p1, uint8_t p2, uint8_t p3,
                       const uint8_t* data, int n, uint8_t* out, int capacity);

// Checks a binary reply against the total length the command expects. available is the
// number of valid bytes at reply; a reply shorter than expected_total is a length
// mismatch, and no byte at or past available is read. Below kLongFormThreshold the
// short form applies, from it on the long form. Order: start marker (-5), length
// (-4), status (-11 for 0x3A, else -8), checksum (-6), end marker (-7).
int CheckBinaryReply(const uint8_t* reply, int available, int expected_total);

// Offset of data byte 0 in a reply of the given expected total (short or long form).
int ReplyDataOffset(int expected_total);

// Writes the 2n + 16 characters of a text request (no terminator). Same refusals as
// BuildBinaryRequest; capacity is usually kTextRequestBufferSize.
int BuildTextRequest(uint8_t command, uint8_t p1, uint8_t p2, uint8_t p3,
                     const uint8_t* data, int n, char* out, int capacity);

// Checks a text reply of length characters. Order: start marker (-5), last character
// (-7), status (-8), checksum (-6). There is no length comparison, but the checksum
// character pair must lie inside the reply: a frame too short to hold its header or
// the checksum its length field points at fails as a checksum mismatch (-6), without a
// read past the reply.
int CheckTextReply(const char* reply, int length);

// Decoded byte i (counted from 1) of a text reply is the pair at characters 2i-1, 2i.
// Only the low four bits of each character count, so 0x3A..0x3F decode as 10..15.
uint8_t DecodeNibblePair(char high, char low);

// Builds the insert-template request data: id (16-bit), name length m (16-bit), the m
// name bytes, t = text_length / 2 (16-bit), the t template bytes decoded from the
// nibble text (an odd last character is dropped). Returns n = m + t + 6, or
// kBadArguments when a length is negative, a pointer needed is null, t exceeds
// kMaxTemplateBytes, n exceeds kMaxInsertData, or capacity is too small.
inline constexpr int kMaxTemplateBytes = 512;
inline constexpr int kMaxInsertData = 1015;
int BuildInsertTemplateData(int id, const uint8_t* name, int name_length,
                            const char* text, int text_length, uint8_t* out,
                            int capacity);

}  // namespace vantrel::protocol
