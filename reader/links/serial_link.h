// The serial link: text frames and raw commands over one COM port at a time.
//
// The command operations are reached through SerialLinkOps() (link_ops.h). The pieces
// below are the link's own steps, declared here so that they can be exercised one by
// one against the stand-in port.
#pragma once

#include <cstdint>

#include "reader/links/link_ops.h"

namespace vantrel::links::serial {

constexpr int kFrameBufferSize = 2112;     // frame receiver buffer
constexpr int kImageBodySize = 30410;      // raw image body: at most 30409 image bytes + 0x03
constexpr int kMaxImageLength = kImageBodySize - 1;
constexpr int kHuntReadMs = 600;           // per-read time-out while hunting the start marker
constexpr int kHuntTries = 100;            // bytes (or empty reads) before the hunt gives up
constexpr int kMaxRawFirmwareData = 2045;  // data bytes of one raw firmware command
constexpr int kMaxFirmwarePacket = kMaxRawFirmwareData - 2;

// Every reply of this link is read into the frame receiver buffer; that buffer alone
// bounds what the operations hand out (link_ops.h), a longer frame is refused.
static_assert(kMaxVersionBytes == kFrameBufferSize - 2);
static_assert(kMaxRecordTextChars == kFrameBufferSize - 12);

// Channel selection sequences ESC '%' X; channel 1 is also the release sequence.
constexpr uint8_t kChannelLetters[4] = {'A', 'B', 'C', 'K'};

// The link state that lives for the process.
struct PortState {
  bool open = false;
  int com_number = 0;         // number used at the last open
  int baud = 0;               // rate of the open port
  bool channel_selected = false;
  int saved_channel = 1;      // 1..4, set by detection
  // A firmware update announced on update_port and not finished: the reader talks at
  // 115200 until the next command that is not a firmware step ends it.
  bool update_pending = false;
  int update_port = 0;
};
const PortState& State();
// Closes the port if open (with release) and puts the state back as at load.
void ResetForTests();

// 0 or kNotFound. Ends an abandoned firmware update first (see PortState).
int OpenPort(int port_number, int baud);
int ClosePort();                          // 0, or kReceiveFailed when closing fails
int Send(const uint8_t* bytes, int count);  // 0 or kSendFailed
// Receives one frame into buffer (at most min(capacity, kFrameBufferSize) bytes).
// 0, kReceiveFailed, kDeadline, or kReplyTooLong when no end marker fits.
int ReceiveFrame(uint8_t* buffer, int capacity, int* length, uint32_t timeout_ms);
int ReceiveRaw(uint8_t* buffer, int count, uint32_t timeout_ms);  // 0 or kReceiveFailed
int SelectChannel(int port_number, int channel, bool use_saved);
// Open at the serial selection, saved channel, send, receive, close.
int FramedExchange(const uint8_t* request, int length, uint8_t* reply, int capacity,
                   int* reply_length, int timeout_s);
// Probes port_number at baud on channels 1 to 4; 0 when a reader answered.
int Detect(int port_number, int baud);

// The raw image transfer; get mode (upload_mode 0) fills a 152 x 200 buffer, upload mode
// a buffer of capacity bytes. *image_length receives the bytes delivered.
int ReadRawImage(uint8_t* image, int capacity, int upload_mode, int* image_length);

// Raw firmware steps; the port stays open from a successful step 1 until step 3 or a
// failed step 2.
int FirmwareAnnounceSize(int size);
int FirmwareSendPacket(const uint8_t* data, int length);
int FirmwareFinish(int value);

}  // namespace vantrel::links::serial

namespace vantrel::links::serial::detail {
// The framed exchange over a receive buffer of limit bytes, which may exceed the frame
// buffer (the packed image's reply).
int Exchange(const uint8_t* request, int length, uint8_t* reply, int limit,
             int* reply_length, uint32_t timeout_ms);
}  // namespace vantrel::links::serial::detail
