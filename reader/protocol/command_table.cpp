#include "reader/protocol/command_table.h"

#include "reader/protocol/frames.h"
#include "reader/protocol/result_codes.h"

namespace vantrel::protocol {

namespace {

using R = ReplyRule;
using C = CopyOut;
using Q = RequestData;
constexpr int kBuf = kReplyBufferSize;

// Columns are {HID, disk}. Time-outs in milliseconds.
constexpr BinaryCommand kBinaryCommands[kBinaryOpCount] = {
    {BinaryOp::kReadVersion, "read version", 0x01, 0, Q::kNone, {R::kReceived, R::kFixed},
     {0, 71}, {3000, 3000}, {C::kVersionText, C::kVersionText}, {kBuf, kBuf}, {0, 0}, {0, 0}},
    {BinaryOp::kReset, "reset", 0x02, 0, Q::kNone, {R::kFixed, R::kFixed},
     {7, 7}, {3000, 3000}, {C::kNone, C::kNone}, {kBuf, kBuf}, {0, 0}, {0, 0}},
    {BinaryOp::kSetSecurityLevel, "set security level", 0x04, 0, Q::kOneByte,
     {R::kFixed, R::kFixed}, {7, 7}, {3000, 3000}, {C::kNone, C::kNone}, {kBuf, kBuf},
     {0, 0}, {0, 0}},
    {BinaryOp::kGetSecurityLevel, "get security level", 0x05, 0, Q::kNone,
     {R::kFixed, R::kFixed}, {8, 8}, {3000, 3000}, {C::kByte, C::kByte}, {kBuf, kBuf},
     {0, 0}, {0, 0}},
    {BinaryOp::kCaptureImageAtOnce, "capture image at once", 0x1E, 0, Q::kTwoZeroBytes,
     {R::kFixed, R::kFixed}, {92169, 30407}, {200000, 15000}, {C::kImage, C::kImage},
     {kHidImageReplyBuffer, kDiskImageReplyBuffer}, {256, 152}, {360, 200}},
    {BinaryOp::kClearLibrary, "clear template library", 0x20, 0, Q::kNone,
     {R::kFixed, R::kFixed}, {7, 7}, {3000, 3000}, {C::kNone, C::kNone}, {kBuf, kBuf},
     {0, 0}, {0, 0}},
    {BinaryOp::kInsertTemplate, "insert template", 0x21, 0, Q::kInsertTemplate,
     {R::kFixed, R::kFixed}, {7, 7}, {10000, 10000}, {C::kNone, C::kNone}, {kBuf, kBuf},
     {0, 0}, {0, 0}},
    {BinaryOp::kStoreLibrary, "store template library", 0x22, 0, Q::kNone,
     {R::kFixed, R::kFixed}, {7, 7}, {45000, 45000}, {C::kNone, C::kNone}, {kBuf, kBuf},
     {0, 0}, {0, 0}},
    {BinaryOp::kCountTemplates, "count templates", 0x23, 0, Q::kNone,
     {R::kFixed, R::kFixed}, {9, 9}, {3000, 3000}, {C::kWord, C::kWord}, {kBuf, kBuf},
     {0, 0}, {0, 0}},
    {BinaryOp::kSearch, "search library", 0x31, 0, Q::kTwoValues, {R::kFixed, R::kFixed},
     {159, 159}, {15000, 15000}, {C::kSearchAll, C::kSearchToZero}, {kBuf, kBuf}, {0, 0},
     {0, 0}},
    {BinaryOp::kGetImageSize, "get image size", 0x40, 0, Q::kNone, {R::kFixed, R::kFixed},
     {11, 11}, {20000, 20000}, {C::kTwoWords, C::kTwoWords}, {kBuf, kBuf}, {0, 0}, {0, 0}},
    // HID: 15 s in one part, 200 s per part in two (kHidSinglePartImageTimeoutMs).
    {BinaryOp::kReadImage, "read image", 0x41, 0, Q::kTwoZeroBytes, {R::kImage, R::kImage},
     {0, 0}, {200000, 15000}, {C::kImage, C::kImage},
     {kHidImageReplyBuffer, kDiskImageReplyBuffer}, {0, 0}, {0, 0}},
    {BinaryOp::kFingerState, "read finger state", 0x43, 0, Q::kNone, {R::kFixed, R::kFixed},
     {9, 9}, {3000, 3000}, {C::kWord, C::kWord}, {kBuf, kBuf}, {0, 0}, {0, 0}},
    {BinaryOp::kFirmwareAnnounce, "firmware: announce size", 0x50, 1, Q::kSize32,
     {R::kFixed, R::kFixed}, {7, 7}, {3000, 3000}, {C::kNone, C::kNone}, {kBuf, kBuf},
     {0, 0}, {0, 0}},
    {BinaryOp::kFirmwarePacket, "firmware: send packet", 0x50, 2, Q::kPacket,
     {R::kFixed, R::kFixed}, {7, 7}, {5000, 5000}, {C::kNone, C::kNone}, {kBuf, kBuf},
     {0, 0}, {0, 0}},
    {BinaryOp::kFirmwareFinish, "firmware: finish", 0x50, 3, Q::kOneByte,
     {R::kFixed, R::kFixed}, {7, 7}, {30000, 30000}, {C::kNone, C::kNone}, {kBuf, kBuf},
     {0, 0}, {0, 0}},
    {BinaryOp::kReaderTemplate, "reader-made template", 0xA0, 0, Q::kNone,
     {R::kFixed, R::kFixed}, {265, 265}, {45000, 45000},
     {C::kRecordNibbles, C::kRecordNibbles}, {kBuf, kBuf}, {0, 0}, {0, 0}},
    {BinaryOp::kReaderFeature, "reader-made feature", 0xA2, 0, Q::kNone,
     {R::kFixed, R::kFixed}, {265, 265}, {15000, 20000},
     {C::kRecordNibbles, C::kRecordNibbles}, {kBuf, kBuf}, {0, 0}, {0, 0}},
};

using S = SerialRequest;
using SC = SerialCopy;
using SO = SerialOp;

constexpr SerialCommand kSerialCommands[kSerialOpCount] = {
    {SO::kReset, "reset", 4, S::kNone, SC::kNone, 0, 100, true, true},
    {SO::kFree, "free", 5, S::kNone, SC::kNone, 0, 2000, true, false},
    {SO::kSetWorkMode, "set work mode", 6, S::kOneByte, SC::kNone, 0, 2000, true, false},
    {SO::kGetStatus, "get status", 7, S::kNone, SC::kDecoded, 2, 2000, true, false},
    {SO::kGetErrorCode, "get error code", 8, S::kNone, SC::kDecoded, 2, 2000, true, false},
    {SO::kClearLibrary, "clear template library", 10, S::kNone, SC::kNone, 0, 2000, true,
     false},
    {SO::kCaptureTemplate, "capture template", 11, S::kNone, SC::kNibbleText, 0, 15000, true,
     false},
    {SO::kCaptureFeature, "capture feature", 12, S::kNone, SC::kNibbleText, 0, 8000, true,
     false},
    {SO::kSetSequence, "set sequence", 13, S::kText32, SC::kNone, 0, 2000, true, false},
    {SO::kSetKey, "set key", 13, S::kText16, SC::kNone, 0, 2000, true, false},
    {SO::kGetSequence, "get sequence", 14, S::kTextToZero, SC::kDecoded, 32, 2000, true,
     false},
    {SO::kSetSecurityLevel, "set security level", 16, S::kOneByte, SC::kNone, 0, 2000, true,
     false},
    {SO::kGetSecurityLevel, "get security level", 17, S::kNone, SC::kDecoded, 1, 2000, true,
     false},
    {SO::kGetWorkMode, "get work mode", 18, S::kNone, SC::kDecoded, 1, 2000, true, false},
    {SO::kCalibrate, "calibrate", 19, S::kNone, SC::kNone, 0, 2000, true, false},
    {SO::kInsertTemplate, "insert template", 20, S::kInsertTemplate, SC::kNone, 0, 10000,
     true, false},
    {SO::kStoreLibrary, "store template library", 21, S::kNone, SC::kNone, 0, 2000, true,
     false},
    {SO::kCountTemplates, "count templates", 22, S::kNone, SC::kDecoded, 2, 2000, true,
     false},
    {SO::kSearch, "search library", 23, S::kTwoValues, SC::kDecodedAll, 0, 15000, true,
     false},
    {SO::kFirmwareUpdate, "firmware update", 26, S::kFirmware, SC::kNone, 0, 10000, true,
     false},
    {SO::kReaderTemplate, "reader-made template", 171, S::kNone, SC::kNibbleText, 0, 15000,
     true, false},
    {SO::kReaderFeature, "reader-made feature", 172, S::kNone, SC::kNibbleText, 0, 8000,
     true, false},
    {SO::kSetBaudRate, "set baud rate", 173, S::kBaudCode, SC::kNone, 0, 2000, true, false},
    {SO::kReadPackedImage, "read packed image", 174, S::kRequestValue, SC::kPackedImage, 0,
     25000, false, false},
};

constexpr RawCommand kRawCommands[static_cast<int>(RawOp::kCount)] = {
    {RawOp::kReadVersion, "read version", {0x1A, 'V', 0}, 2, 100, 300},
    {RawOp::kPrepareImage, "prepare image transfer", {0x1A, 'P', '1'}, 3, 3000, 0},
    {RawOp::kTransferImage, "transfer image", {0x1A, 'P', '2'}, 3, 0, 0},
    {RawOp::kFirmwareAnnounce, "firmware: announce size", {0x1A, 'D', '1'}, 3, 12000, 0},
    {RawOp::kFirmwarePacket, "firmware: send packet", {0x1A, 'D', '2'}, 3, 12000, 0},
    {RawOp::kFirmwareFinish, "firmware: finish", {0x1A, 'D', '3'}, 3, 12000, 0},
};

struct BaudRow {
  int baud;
  uint8_t code;
};
constexpr BaudRow kBaudCodes[] = {{9600, 'L'}, {57600, 'M'}, {115200, 'H'}};

// Sizes between the two forms: the short form cannot announce them and the long form
// is only checked from 92161 on.
constexpr int64_t kFirstGapPixels = 65529;
constexpr int64_t kLastGapPixels = 92151;

}  // namespace

const BinaryCommand& BinaryCommandOf(BinaryOp op) {
  return kBinaryCommands[static_cast<int>(op)];
}

const SerialCommand& SerialCommandOf(SerialOp op) {
  return kSerialCommands[static_cast<int>(op)];
}

const RawCommand& RawCommandOf(RawOp op) { return kRawCommands[static_cast<int>(op)]; }

uint8_t BaudCode(int baud) {
  for (const BaudRow& row : kBaudCodes) {
    if (row.baud == baud) return row.code;
  }
  return kBaudCodes[0].code;
}

int BaudOfCode(uint8_t code) {
  for (const BaudRow& row : kBaudCodes) {
    if (row.code == code) return row.baud;
  }
  return kBaudCodes[0].baud;
}

int64_t ExpectedImageTotal(BinaryLink link, int64_t pixels) {
  if (pixels < 0) return kBadArguments;
  const int column = static_cast<int>(link);
  const int buffer = kBinaryCommands[static_cast<int>(BinaryOp::kReadImage)].reply_buffer[column];
  int64_t total = 0;
  if (pixels <= 65536) {
    total = pixels + kShortReplyOverhead + 2;
  } else if (link == BinaryLink::kHid) {
    total = pixels + kLongReplyOverhead + 2;
  } else {
    return kReplyTooLong;
  }
  if (link == BinaryLink::kHid && pixels >= kFirstGapPixels && pixels <= kLastGapPixels) {
    return kBadArguments;
  }
  if (total > buffer) return kReplyTooLong;
  return total;
}

}  // namespace vantrel::protocol
