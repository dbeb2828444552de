#include "reader/protocol/frames.h"

#include "reader/protocol/result_codes.h"

namespace vantrel::protocol {

namespace {

char NibbleChar(uint8_t nibble) { return static_cast<char>(0x30 + (nibble & 0x0F)); }

// Decoded byte i (from 1) of a text frame; the caller has made sure 2i < length.
uint8_t DecodedByte(const char* frame, int i) {
  return DecodeNibblePair(frame[2 * i - 1], frame[2 * i]);
}

}  // namespace

uint8_t Checksum(const uint8_t* bytes, int count) {
  uint8_t sum = 0;
  for (int i = 0; i < count; ++i) sum ^= bytes[i];
  return sum;
}

int BuildBinaryRequest(uint8_t command, uint8_t p1, uint8_t p2, uint8_t p3,
                       const uint8_t* data, int n, uint8_t* out, int capacity) {
  if (n < 0 || (n > 0 && data == nullptr) || out == nullptr) return kBadArguments;
  if (n > kMaxLengthField - 4) return kBadArguments;  // n + 4 would not fit, or overflow
  const int total = n + kBinaryRequestOverhead;
  if (capacity < total) return kBadArguments;
  const int length = n + 4;
  out[0] = kStartMarker;
  out[1] = static_cast<uint8_t>(length >> 8);
  out[2] = static_cast<uint8_t>(length & 0xFF);
  out[3] = command;
  out[4] = p1;
  out[5] = p2;
  out[6] = p3;
  for (int i = 0; i < n; ++i) out[7 + i] = data[i];
  out[7 + n] = Checksum(out + 1, 6 + n);
  out[8 + n] = kEndMarker;
  return total;
}

int ReplyDataOffset(int expected_total) {
  return expected_total < kLongFormThreshold ? kShortReplyDataOffset : kLongReplyDataOffset;
}

int CheckBinaryReply(const uint8_t* reply, int available, int expected_total) {
  if (reply == nullptr || available < 1) return kReplyLengthMismatch;
  if (reply[0] != kStartMarker) return kBadStartMarker;
  const bool long_form = expected_total >= kLongFormThreshold;
  const int field = long_form ? 4 : 2;
  const int overhead = long_form ? kLongReplyOverhead : kShortReplyOverhead;
  // The reply must hold everything the expected total covers before its length field
  // can be trusted to place the status, checksum and end marker.
  if (expected_total < overhead || available < expected_total) return kReplyLengthMismatch;
  int64_t c = 0;
  for (int i = 0; i < field; ++i) c = (c << 8) | reply[1 + i];
  if (static_cast<int64_t>(expected_total) != c + overhead) return kReplyLengthMismatch;
  const int status_at = 1 + field;
  const int status = reply[status_at];
  if (status != kStatusSuccess) return status == kStatusBusy ? kReaderBusy : kBadStatus;
  const int checksum_at = expected_total - 2;
  if (Checksum(reply + 1, checksum_at - 1) != reply[checksum_at]) return kBadChecksum;
  if (reply[expected_total - 1] != kEndMarker) return kBadEndMarker;
  return kOk;
}

int BuildTextRequest(uint8_t command, uint8_t p1, uint8_t p2, uint8_t p3,
                     const uint8_t* data, int n, char* out, int capacity) {
  if (n < 0 || (n > 0 && data == nullptr) || out == nullptr) return kBadArguments;
  if (n > kMaxLengthField - 4) return kBadArguments;  // n + 4 would not fit, or overflow
  const int total = 2 * n + kTextRequestOverhead;
  if (capacity < total) return kBadArguments;
  const int length = n + 4;
  int pos = 0;
  uint8_t sum = 0;
  auto put = [&](uint8_t b) {
    out[pos++] = NibbleChar(b >> 4);
    out[pos++] = NibbleChar(b);
    sum ^= b;
  };
  out[pos++] = static_cast<char>(kStartMarker);
  put(static_cast<uint8_t>(length >> 8));
  put(static_cast<uint8_t>(length & 0xFF));
  put(command);
  put(p1);
  put(p2);
  put(p3);
  for (int i = 0; i < n; ++i) put(data[i]);
  const uint8_t checksum = sum;
  put(checksum);
  out[pos++] = static_cast<char>(kEndMarker);
  return pos;
}

int CheckTextReply(const char* reply, int length) {
  if (reply == nullptr || length < 1) return kBadStartMarker;
  if (static_cast<uint8_t>(reply[0]) != kStartMarker) return kBadStartMarker;
  if (static_cast<uint8_t>(reply[length - 1]) != kEndMarker) return kBadEndMarker;
  // Decoded bytes 1 to 3 (length and status) need characters up to 6.
  if (length < 7) return kBadChecksum;
  const int c = (DecodedByte(reply, 1) << 8) | DecodedByte(reply, 2);
  if (DecodedByte(reply, 3) != 0) return kBadStatus;
  const int checksum_byte = c + 3;
  if (2 * checksum_byte >= length) return kBadChecksum;
  uint8_t sum = 0;
  for (int i = 1; i <= c + 2; ++i) sum ^= DecodedByte(reply, i);
  if (sum != DecodedByte(reply, checksum_byte)) return kBadChecksum;
  return kOk;
}

uint8_t DecodeNibblePair(char high, char low) {
  return static_cast<uint8_t>(((static_cast<uint8_t>(high) & 0x0F) << 4) |
                              (static_cast<uint8_t>(low) & 0x0F));
}

int BuildInsertTemplateData(int id, const uint8_t* name, int name_length,
                            const char* text, int text_length, uint8_t* out,
                            int capacity) {
  if (name_length < 0 || text_length < 0 || out == nullptr) return kBadArguments;
  if ((name_length > 0 && name == nullptr) || (text_length > 1 && text == nullptr)) {
    return kBadArguments;
  }
  const int t = text_length / 2;
  if (t > kMaxTemplateBytes) return kBadArguments;
  // Compared with the room left, so that no sum of caller numbers can overflow.
  if (name_length > kMaxInsertData - t - 6) return kBadArguments;
  const int n = name_length + t + 6;
  if (n > capacity) return kBadArguments;
  int pos = 0;
  out[pos++] = static_cast<uint8_t>((id >> 8) & 0xFF);
  out[pos++] = static_cast<uint8_t>(id & 0xFF);
  out[pos++] = static_cast<uint8_t>(name_length >> 8);
  out[pos++] = static_cast<uint8_t>(name_length & 0xFF);
  for (int i = 0; i < name_length; ++i) out[pos++] = name[i];
  out[pos++] = static_cast<uint8_t>(t >> 8);
  out[pos++] = static_cast<uint8_t>(t & 0xFF);
  for (int i = 0; i < t; ++i) out[pos++] = DecodeNibblePair(text[2 * i], text[2 * i + 1]);
  return pos;
}

}  // namespace vantrel::protocol
