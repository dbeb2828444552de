// The command operations of one link, as the exports call them.
//
// Each link (disk, HID, serial) fills one LinkOps. The export frame picks the table by
// port number and calls the operation with the export's arguments as they came; the
// link checks nothing the export has not promised. A null member means the link does
// not serve that operation (the export then answers -1). Every operation returns 0 or a
// negative link result code (reader/protocol/result_codes.h), except where noted; output
// arguments are written only on success unless noted.
#pragma once

#include <cstdint>

namespace vantrel::links {

// The longest answers an operation hands out, which the caller's area must hold. The
// serial link's 2112-byte frame receiver bounds them (a longer frame is refused with
// -12): the text between the version reply's two markers, and the L - 12 data
// characters of a framed reply, or half as many decoded bytes. The binary links' are
// shorter (255 version bytes, 150 search bytes, 512 record characters).
inline constexpr int kMaxVersionBytes = 2112 - 2;
inline constexpr int kMaxRecordTextChars = 2112 - 12;
inline constexpr int kMaxSearchBytes = kMaxRecordTextChars / 2;
// Data of the one-shot update: one text request of 2112 characters, 16 of them framing.
inline constexpr int kMaxUpdateBytes = (2112 - 16) / 2;

struct LinkOps {
  int (*Reset)();
  int (*Free)();                                    // serial only
  int (*SetWorkMode)(int mode);                     // serial only
  int (*GetWorkMode)(int* mode);                    // serial only
  int (*GetStatus)(uint8_t* word);                  // serial only, 2 bytes
  int (*GetErrorCode)(uint8_t* word);               // serial only, 2 bytes
  int (*GetVersion)(uint8_t* buffer, int* length);  // kMaxVersionBytes area, count
  int (*SetSequence)(const char* text);             // serial only, 32 bytes sent
  int (*GetSequence)(uint8_t* buffer);              // serial only, 32 bytes
  int (*SetKey)(const char* text);                  // serial only, 16 bytes sent
  int (*SetSecurityLevel)(int level);
  int (*GetSecurityLevel)(int* level);
  int (*Calibrate)();                               // serial only
  int (*SetBaudRate)(int baud);                     // serial only
  int (*ClearLibrary)();
  int (*InsertTemplate)(int id, const uint8_t* name, int name_length, const char* text,
                        int text_length);
  int (*StoreLibrary)();
  int (*CountTemplates)(int* count);
  // buffer: kMaxSearchBytes + 1 (a zero may follow the answer).
  int (*Search)(int first, int second, uint8_t* buffer, int* length);
  // Serial only; length at most kMaxUpdateBytes.
  int (*Update)(const uint8_t* data, int length, int kind, int baud);
  int (*UpdateSendFileSize)(int size);
  int (*UpdateSendPacket)(int number, const uint8_t* data, int length);
  int (*UpdateWrite)(int value);
  // Records made by the reader itself, handed out as nibble text (no terminator) into
  // a kMaxRecordTextChars area; *length = number of characters.
  int (*ReaderTemplate)(char* text, int* length);   // binary 0xA0, serial 171
  int (*ReaderFeature)(char* text, int* length);    // binary 0xA2, serial 172
  // Serial capture commands 11 and 12 (the reader captures, extracts and merges).
  int (*CaptureTemplate)(char* text, int* length);
  int (*CaptureFeature)(char* text, int* length);
  // Size of the image the reader holds (binary 0x40; serial: 152 x 200 without exchange).
  int (*GetImageSize)(int* width, int* height);
  // Fetches the image the reader holds: binary 0x41 with the given size; serial: the raw
  // transfer, upload_mode choosing its time-outs. *out_width / *out_height receive the
  // size where the link reports one (may be null).
  int (*ReadImage)(int width, int height, uint8_t* image, int upload_mode, int* out_width,
                   int* out_height);
  // Binary 0x1E: width and height are set before the exchange, also when it fails.
  int (*CaptureImageAtOnce)(int* width, int* height, uint8_t* image);
  // Binary 0x43: the finger state (>= 0: 0 = finger present) or a negative code.
  int (*FingerState)();
  // Serial 174: the packed image, unpacked to 152 x 200.
  int (*ReadPackedImage)(int request, int* width, int* height, uint8_t* image);
  // Detection probe of this link: 0 when a reader answers (serial: on the selected port
  // at the selected rate), negative otherwise.
  int (*Detect)();
};

const LinkOps& DiskLinkOps();
const LinkOps& HidLinkOps();
const LinkOps& SerialLinkOps();

// Module state the export frame shares with the serial link.
struct SerialSelection {
  int port = 1;
  int baud = 9600;
};
struct LinkState {
  int configured_baud = 9600;   // written by FPISetParam, FPISetBuadRate, FPIUpdate
  SerialSelection serial;       // set before every serial dispatch
};
LinkState& State();

}  // namespace vantrel::links
