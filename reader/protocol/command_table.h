// The reader's command sets, held as data: the binary commands of the disk and HID
// links (one row per operation, with a column per link where the links differ), the
// framed commands of the serial link and its raw commands. The command operations in
// reader/links read a row and follow it; they hold no codes or time-outs of their own.
#pragma once

#include <cstdint>

namespace vantrel::protocol {

// Links of a binary command row, used as column index.
enum class BinaryLink : int { kHid = 0, kDisk = 1 };
inline constexpr int kBinaryLinkCount = 2;

enum class BinaryOp : int {
  kReadVersion,
  kReset,
  kSetSecurityLevel,
  kGetSecurityLevel,
  kCaptureImageAtOnce,
  kClearLibrary,
  kInsertTemplate,
  kStoreLibrary,
  kCountTemplates,
  kSearch,
  kGetImageSize,
  kReadImage,
  kFingerState,
  kFirmwareAnnounce,
  kFirmwarePacket,
  kFirmwareFinish,
  kReaderTemplate,
  kReaderFeature,
  kCount
};
inline constexpr int kBinaryOpCount = static_cast<int>(BinaryOp::kCount);

// What the request carries after the header.
enum class RequestData : uint8_t {
  kNone,
  kOneByte,         // one byte: level, or the caller's finish value
  kTwoZeroBytes,    // 00 00 (image commands)
  kInsertTemplate,  // BuildInsertTemplateData
  kTwoValues,       // the caller's two values, 16-bit each
  kSize32,          // 4-byte size
  kPacket,          // 16-bit packet number, then the packet bytes
};

// How the expected total reply length is found.
enum class ReplyRule : uint8_t {
  kFixed,           // the row's fixed total for the link
  kReceived,        // any length; checked against the length actually received
  kImage,           // from width x height (see ExpectedImageTotal)
};

// What is copied out of a checked reply.
enum class CopyOut : uint8_t {
  kNone,
  kVersionText,     // data 0 = k, then k bytes; k returned as the length
  kByte,            // data 0
  kWord,            // data 0..1, big-endian
  kTwoWords,        // data 0..1 and 2..3 (width, height)
  kImage,           // width x height bytes from data 0
  kSearchAll,       // 16-bit k, then k bytes copied with a zero behind
  kSearchToZero,    // as kSearchAll, stopping at the first zero byte
  kRecordNibbles,   // 16-bit length (capped at 256), the record as nibble text
};

struct BinaryCommand {
  BinaryOp op;
  const char* name;
  uint8_t code;
  uint8_t p1;
  RequestData request;
  ReplyRule reply_rule[kBinaryLinkCount];
  int reply_total[kBinaryLinkCount];      // for kFixed; image commands see below
  uint32_t timeout_ms[kBinaryLinkCount];  // per exchange (per part for two-part images)
  CopyOut copy[kBinaryLinkCount];
  // Reply buffer: 1024 bytes, the image commands their own size per link.
  int reply_buffer[kBinaryLinkCount];
  // Immediate capture: the size the reader delivers on each link (0 elsewhere).
  int image_width[kBinaryLinkCount];
  int image_height[kBinaryLinkCount];
};

const BinaryCommand& BinaryCommandOf(BinaryOp op);

inline constexpr int kReplyBufferSize = 1024;
inline constexpr int kDiskImageReplyBuffer = 30553;
inline constexpr int kHidImageReplyBuffer = 93184;
// Data bytes a request of each kind carries at most.
inline constexpr int kMaxFirmwarePacket = 2037;
// Largest binary request: a firmware packet with its 16-bit number.
inline constexpr int kMaxBinaryRequest = 9 + 2 + kMaxFirmwarePacket;
// Largest reply that one HID exchange carries; image replies beyond it come in two parts,
// the second requested with parameter 1 = 1.
inline constexpr int kHidPartSize = 65536;
// Capped length of an on-reader record.
inline constexpr int kMaxReaderRecord = 256;
// HID read-image time-out when the image comes in one part.
inline constexpr uint32_t kHidSinglePartImageTimeoutMs = 15000;

// Expected total of a read-image reply for an image of pixels bytes on the link:
// pixels + 7 while pixels is at most 65536, else pixels + 9 in the long form (HID
// only). Returns kReplyTooLong when the reply would not fit the link's image reply
// buffer, kBadArguments for a negative size or, on the HID link, for the sizes whose
// totals fall between the two forms (pixels 65529..92151), which the reader does not
// deliver.
int64_t ExpectedImageTotal(BinaryLink link, int64_t pixels);

// Serial framed commands.
enum class SerialOp : int {
  kReset, kFree, kSetWorkMode, kGetStatus, kGetErrorCode, kClearLibrary,
  kCaptureTemplate, kCaptureFeature, kSetSequence, kSetKey, kGetSequence,
  kSetSecurityLevel, kGetSecurityLevel, kGetWorkMode, kCalibrate, kInsertTemplate,
  kStoreLibrary, kCountTemplates, kSearch, kFirmwareUpdate, kReaderTemplate,
  kReaderFeature, kSetBaudRate, kReadPackedImage, kCount
};
inline constexpr int kSerialOpCount = static_cast<int>(SerialOp::kCount);

enum class SerialRequest : uint8_t {
  kNone,
  kOneByte,          // mode or level
  kText32,           // always 32 bytes of the caller's text
  kText16,           // the first 16 bytes of the caller's text
  kTextToZero,       // the caller's buffer up to its first zero byte
  kInsertTemplate,   // as binary 0x21
  kTwoValues,        // two 16-bit values
  kFirmware,         // p1 = kind, p2 = baud code (0 for kind 2), the caller's bytes
  kBaudCode,         // one byte: baud code
  kRequestValue,     // the caller's request value, 16-bit
};

enum class SerialCopy : uint8_t {
  kNone,
  kDecoded,          // the row's decoded byte count into the caller's buffer
  kNibbleText,       // all L - 12 data characters as they are; count returned
  kDecodedAll,       // all (L - 12) / 2 data bytes decoded; count returned
  kPackedImage,      // base64, 15200 bytes, unpacked to 152 x 200
};

struct SerialCommand {
  SerialOp op;
  const char* name;
  uint8_t code;
  SerialRequest request;
  SerialCopy copy;
  int decoded_bytes;     // for kDecoded
  uint32_t timeout_ms;
  bool check_reply;      // false: the text reply is not checked (packed image)
  bool own_exchange;     // true: no channel selection (reset)
};

const SerialCommand& SerialCommandOf(SerialOp op);

// Baud codes of set-baud-rate and firmware update; any other rate counts as 9600.
uint8_t BaudCode(int baud);
int BaudOfCode(uint8_t code);

// Serial raw commands.
enum class RawOp : int {
  kReadVersion, kPrepareImage, kTransferImage, kFirmwareAnnounce, kFirmwarePacket,
  kFirmwareFinish, kCount
};
struct RawCommand {
  RawOp op;
  const char* name;
  uint8_t prefix[3];
  int prefix_length;
  uint32_t timeout_ms;       // 0: see the serial link
  uint32_t detect_timeout_ms;
};
const RawCommand& RawCommandOf(RawOp op);

// Channel selection sequences, channels 1 to 4 (index 0 to 3).
inline constexpr uint8_t kChannelSequence[4][3] = {
    {0x1B, 0x25, 0x41}, {0x1B, 0x25, 0x42}, {0x1B, 0x25, 0x43}, {0x1B, 0x25, 0x4B}};

}  // namespace vantrel::protocol
