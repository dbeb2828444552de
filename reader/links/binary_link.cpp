#include "reader/links/binary_link.h"

#include "reader/record/record_text.h"

#include <cstring>
#include <vector>

#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/protocol/frames.h"
#include "reader/protocol/result_codes.h"

namespace vantrel::links {

namespace {

using protocol::BinaryCommand;
using protocol::BinaryCommandOf;
using protocol::BinaryLink;
using protocol::BinaryOp;
using protocol::CopyOut;

constexpr uint32_t kPacketSettleMs = 50;

int Column(const BinaryTransport& t) { return static_cast<int>(t.Link()); }

// The request of one row, built from the data the operation gathered.
struct Request {
  uint8_t bytes[protocol::kMaxBinaryRequest];
  int length = 0;
};

int Build(const BinaryCommand& row, uint8_t p1, const uint8_t* data, int n, Request& out) {
  out.length = protocol::BuildBinaryRequest(row.code, p1, 0, 0, data, n, out.bytes,
                                            protocol::kMaxBinaryRequest);
  return out.length < 0 ? out.length : protocol::kOk;
}

// The reply buffer of a row: 1024 bytes on the stack, image buffers on the heap.
class ReplyBuffer {
 public:
  explicit ReplyBuffer(int size) : size_(size) {
    if (size > static_cast<int>(sizeof(small_))) large_.resize(static_cast<size_t>(size));
  }
  uint8_t* data() { return large_.empty() ? small_ : large_.data(); }
  int size() const { return size_; }

 private:
  uint8_t small_[protocol::kReplyBufferSize] = {};
  std::vector<uint8_t> large_;
  int size_;
};

// Steps 3 and 4 on an open slot: exchange (in two parts where the transport needs it)
// and check against the expected total. expected 0 means: whatever arrived.
int ExchangeAndCheck(BinaryTransport& t, DeviceSlot& slot, const BinaryCommand& row,
                     const Request& request, const uint8_t* data, int n, ReplyBuffer& reply,
                     int expected, uint32_t timeout_ms, int* checked_total) {
  if (expected > reply.size()) return protocol::kReplyTooLong;
  const int part = t.PartSize();
  int received = 0;
  if (part > 0 && expected >= part && row.request == protocol::RequestData::kTwoZeroBytes) {
    // Two-part image transfer: the first part, then the rest asked for with p1 = 1.
    int got = 0;
    int rc = t.Exchange(slot, request.bytes, request.length, reply.data(), part, part,
                        timeout_ms, &got);
    if (rc != protocol::kOk) return rc;
    Request second;
    rc = Build(row, 1, data, n, second);
    if (rc != protocol::kOk) return rc;
    int got2 = 0;
    rc = t.Exchange(slot, second.bytes, second.length, reply.data() + part,
                    reply.size() - part, expected - part, timeout_ms, &got2);
    if (rc != protocol::kOk) return rc;
    received = got + got2;
  } else {
    const int rc = t.Exchange(slot, request.bytes, request.length, reply.data(), reply.size(),
                              expected, timeout_ms, &received);
    if (rc != protocol::kOk) return rc;
  }
  if (received < 0 || received > reply.size()) return protocol::kReplyTooLong;
  const int total = expected > 0 ? expected : received;
  const int rc = protocol::CheckBinaryReply(reply.data(), received, total);
  if (rc != protocol::kOk) return rc;
  *checked_total = total;
  return protocol::kOk;
}

// Steps 2 to 6 with a local slot. copy is called on the checked reply and returns the
// operation's result.
template <typename Copy>
int Run(BinaryTransport& t, BinaryOp op, uint8_t p1, const uint8_t* data, int n,
        int expected, uint32_t timeout_ms, Copy copy) {
  const BinaryCommand& row = BinaryCommandOf(op);
  const int col = Column(t);
  Request request;
  int rc = Build(row, p1, data, n, request);
  if (rc != protocol::kOk) return rc;
  ReplyBuffer reply(row.reply_buffer[col]);
  // The row's reply buffer (1024 bytes; 30553 and 93184 for the disk and HID images)
  // takes every fixed total of the table; only an image asked for at a larger size
  // cannot be read. Refused before any device is touched: nothing to open or close.
  if (expected > reply.size()) return protocol::kReplyTooLong;
  DeviceSlot slot;
  if (!t.Open(slot)) return protocol::kNoDevice;
  int total = 0;
  rc = ExchangeAndCheck(t, slot, row, request, data, n, reply, expected, timeout_ms, &total);
  if (rc == protocol::kOk) {
    rc = copy(reply.data() + protocol::ReplyDataOffset(total), total);
  }
  t.Close(slot);
  return rc;
}

int FixedTotal(const BinaryTransport& t, BinaryOp op) {
  const BinaryCommand& row = BinaryCommandOf(op);
  const int col = Column(t);
  return row.reply_rule[col] == protocol::ReplyRule::kReceived ? 0 : row.reply_total[col];
}

uint32_t TimeoutOf(const BinaryTransport& t, BinaryOp op) {
  return BinaryCommandOf(op).timeout_ms[Column(t)];
}

int RunPlain(BinaryTransport& t, BinaryOp op, const uint8_t* data, int n) {
  return Run(t, op, BinaryCommandOf(op).p1, data, n, FixedTotal(t, op), TimeoutOf(t, op),
             [](const uint8_t*, int) { return protocol::kOk; });
}

int Word(const uint8_t* d) { return (d[0] << 8) | d[1]; }

// Data bytes of a checked reply of the given total.
int DataBytes(int total) {
  return total - (total < protocol::kLongFormThreshold ? protocol::kShortReplyOverhead + 2
                                                         : protocol::kLongReplyOverhead + 2);
}

int RecordNibbles(BinaryTransport& t, BinaryOp op, char* text, int* length) {
  if (text == nullptr || length == nullptr) return protocol::kBadArguments;
  return Run(t, op, BinaryCommandOf(op).p1, nullptr, 0, FixedTotal(t, op), TimeoutOf(t, op),
             [&](const uint8_t* d, int total) {
               int k = Word(d);
               if (k > protocol::kMaxReaderRecord) k = protocol::kMaxReaderRecord;
               if (k > DataBytes(total) - 2) return protocol::kReplyLengthMismatch;
               text::WriteNibbleText(d + 2, k, text);
               *length = 2 * k;
               return protocol::kOk;
             });
}

}  // namespace

int BinaryReset(BinaryTransport& t) { return RunPlain(t, BinaryOp::kReset, nullptr, 0); }

int BinaryGetVersion(BinaryTransport& t, uint8_t* buffer, int* length) {
  if (buffer == nullptr || length == nullptr) return protocol::kBadArguments;
  const BinaryOp op = BinaryOp::kReadVersion;
  return Run(t, op, 0, nullptr, 0, FixedTotal(t, op), TimeoutOf(t, op),
             [&](const uint8_t* d, int total) {
               const int k = d[0];
               // A length byte that points past the reply is malformed, not copied.
               if (k > DataBytes(total) - 1) return protocol::kReplyLengthMismatch;
               std::memcpy(buffer, d + 1, static_cast<size_t>(k));
               *length = k;
               return protocol::kOk;
             });
}

int BinarySetSecurityLevel(BinaryTransport& t, int level) {
  const uint8_t data[1] = {static_cast<uint8_t>(level)};
  return RunPlain(t, BinaryOp::kSetSecurityLevel, data, 1);
}

int BinaryGetSecurityLevel(BinaryTransport& t, int* level) {
  if (level == nullptr) return protocol::kBadArguments;
  const BinaryOp op = BinaryOp::kGetSecurityLevel;
  return Run(t, op, 0, nullptr, 0, FixedTotal(t, op), TimeoutOf(t, op),
             [&](const uint8_t* d, int) {
               *level = d[0];
               return protocol::kOk;
             });
}

int BinaryClearLibrary(BinaryTransport& t) {
  return RunPlain(t, BinaryOp::kClearLibrary, nullptr, 0);
}

int BinaryInsertTemplate(BinaryTransport& t, int id, const uint8_t* name, int name_length,
                         const char* text, int text_length) {
  uint8_t data[protocol::kMaxInsertData];
  const int n = protocol::BuildInsertTemplateData(id, name, name_length, text, text_length,
                                                  data, protocol::kMaxInsertData);
  if (n < 0) return n;
  return RunPlain(t, BinaryOp::kInsertTemplate, data, n);
}

int BinaryStoreLibrary(BinaryTransport& t) {
  return RunPlain(t, BinaryOp::kStoreLibrary, nullptr, 0);
}

int BinaryCountTemplates(BinaryTransport& t, int* count) {
  if (count == nullptr) return protocol::kBadArguments;
  const BinaryOp op = BinaryOp::kCountTemplates;
  return Run(t, op, 0, nullptr, 0, FixedTotal(t, op), TimeoutOf(t, op),
             [&](const uint8_t* d, int) {
               *count = Word(d);
               return protocol::kOk;
             });
}

int BinarySearch(BinaryTransport& t, int first, int second, uint8_t* buffer, int* length) {
  if (buffer == nullptr || length == nullptr) return protocol::kBadArguments;
  const BinaryOp op = BinaryOp::kSearch;
  const uint8_t data[4] = {static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first),
                           static_cast<uint8_t>(second >> 8), static_cast<uint8_t>(second)};
  const CopyOut rule = BinaryCommandOf(op).copy[Column(t)];
  return Run(t, op, 0, data, 4, FixedTotal(t, op), TimeoutOf(t, op),
             [&](const uint8_t* d, int total) {
               const int k = Word(d);
               if (k > DataBytes(total) - 2 || k > kMaxSearchText) {
                 return protocol::kReplyLengthMismatch;
               }
               int copied = 0;
               while (copied < k) {
                 const uint8_t b = d[2 + copied];
                 if (b == 0 && rule == CopyOut::kSearchToZero) break;
                 buffer[copied++] = b;
               }
               buffer[copied] = 0;
               *length = copied;
               return protocol::kOk;
             });
}

int BinaryGetImageSize(BinaryTransport& t, int* width, int* height) {
  if (width == nullptr || height == nullptr) return protocol::kBadArguments;
  const BinaryOp op = BinaryOp::kGetImageSize;
  return Run(t, op, 0, nullptr, 0, FixedTotal(t, op), TimeoutOf(t, op),
             [&](const uint8_t* d, int) {
               *width = Word(d);
               *height = Word(d + 2);
               return protocol::kOk;
             });
}

int BinaryReadImage(BinaryTransport& t, int width, int height, uint8_t* image) {
  if (image == nullptr || width < 0 || height < 0) return protocol::kBadArguments;
  const int64_t pixels = static_cast<int64_t>(width) * height;
  const int64_t total = protocol::ExpectedImageTotal(t.Link(), pixels);
  if (total < 0) return static_cast<int>(total);
  const BinaryOp op = BinaryOp::kReadImage;
  uint32_t timeout = TimeoutOf(t, op);
  if (t.Link() == BinaryLink::kHid && (t.PartSize() == 0 || total < t.PartSize())) {
    timeout = protocol::kHidSinglePartImageTimeoutMs;
  }
  const uint8_t data[2] = {0, 0};
  return Run(t, op, 0, data, 2, static_cast<int>(total), timeout,
             [&](const uint8_t* d, int) {
               std::memcpy(image, d, static_cast<size_t>(pixels));
               return protocol::kOk;
             });
}

int BinaryCaptureImageAtOnce(BinaryTransport& t, int* width, int* height, uint8_t* image) {
  if (width == nullptr || height == nullptr || image == nullptr) {
    return protocol::kBadArguments;
  }
  const BinaryOp op = BinaryOp::kCaptureImageAtOnce;
  const BinaryCommand& row = BinaryCommandOf(op);
  const int col = Column(t);
  // Set before the exchange, also when it fails: callers rely on it.
  *width = row.image_width[col];
  *height = row.image_height[col];
  const int pixels = row.image_width[col] * row.image_height[col];
  const uint8_t data[2] = {0, 0};
  return Run(t, op, 0, data, 2, FixedTotal(t, op), TimeoutOf(t, op),
             [&](const uint8_t* d, int) {
               std::memcpy(image, d, static_cast<size_t>(pixels));
               return protocol::kOk;
             });
}

int BinaryFingerState(BinaryTransport& t) {
  const BinaryOp op = BinaryOp::kFingerState;
  return Run(t, op, 0, nullptr, 0, FixedTotal(t, op), TimeoutOf(t, op),
             [](const uint8_t* d, int) { return Word(d); });
}

int BinaryReaderTemplate(BinaryTransport& t, char* text, int* length) {
  return RecordNibbles(t, BinaryOp::kReaderTemplate, text, length);
}

int BinaryReaderFeature(BinaryTransport& t, char* text, int* length) {
  return RecordNibbles(t, BinaryOp::kReaderFeature, text, length);
}

int BinaryUpdateSendFileSize(BinaryTransport& t, int size) {
  const uint32_t s = static_cast<uint32_t>(size);
  const uint8_t data[4] = {static_cast<uint8_t>(s >> 24), static_cast<uint8_t>(s >> 16),
                           static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s)};
  const int rc = RunPlain(t, BinaryOp::kFirmwareAnnounce, data, 4);
  if (rc != protocol::kOk) return rc;
  // A slot still held by an unfinished update makes Open fail: -10, as for no reader.
  return t.Open(t.FirmwareSlot()) ? protocol::kOk : protocol::kNoDevice;
}

int BinaryUpdateSendPacket(BinaryTransport& t, int number, const uint8_t* data, int length) {
  if (length < 0 || length > protocol::kMaxFirmwarePacket || (length > 0 && data == nullptr)) {
    return protocol::kBadArguments;
  }
  const BinaryOp op = BinaryOp::kFirmwarePacket;
  const BinaryCommand& row = BinaryCommandOf(op);
  uint8_t body[2 + protocol::kMaxFirmwarePacket];
  body[0] = static_cast<uint8_t>(number >> 8);
  body[1] = static_cast<uint8_t>(number);
  if (length > 0) std::memcpy(body + 2, data, static_cast<size_t>(length));
  Request request;
  int rc = Build(row, row.p1, body, length + 2, request);
  if (rc != protocol::kOk) return rc;
  ReplyBuffer reply(row.reply_buffer[Column(t)]);
  DeviceSlot& slot = t.FirmwareSlot();
  int total = 0;
  rc = ExchangeAndCheck(t, slot, row, request, body, length + 2, reply, FixedTotal(t, op),
                        TimeoutOf(t, op), &total);
  if (rc != protocol::kOk) {
    t.Close(slot);
    return rc;
  }
  platform::Clock* clock = platform::Current().clock;
  (clock != nullptr ? *clock : platform::SystemClock()).SleepMs(kPacketSettleMs);
  return protocol::kOk;
}

int BinaryUpdateWrite(BinaryTransport& t, int value) {
  t.Close(t.FirmwareSlot());
  const uint8_t data[1] = {static_cast<uint8_t>(value)};
  return RunPlain(t, BinaryOp::kFirmwareFinish, data, 1);
}

int BinaryDetect(BinaryTransport& t) {
  uint8_t version[kMaxVersionText + 1] = {};
  int length = 0;
  return BinaryGetVersion(t, version, &length);
}

}  // namespace vantrel::links
