// The serial link: text frames and raw commands over a COM port, one operation per open.
#include "reader/links/serial_link.h"

#include <cstring>
#include <memory>

#include "reader/record/record_text.h"
#include "reader/links/link_ops.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/serial_port.h"
#include "reader/protocol/command_table.h"
#include "reader/protocol/frames.h"
#include "reader/protocol/result_codes.h"

namespace vantrel::links::serial {

namespace p = vantrel::protocol;

namespace {

constexpr uint8_t kRawPrefix = 0x1A;
constexpr uint8_t kTransferAck = 'T';
constexpr int kRawImageRate = 115200;
constexpr int kPrepareRate = 9600;
constexpr uint32_t kImageHeaderReadMs[2] = {3000, 30000};  // get mode, upload mode
constexpr uint32_t kImageBodyReadMs[2] = {25000, 25};

PortState g_state;
std::unique_ptr<platform::SerialPort> g_port;

platform::Clock& TheClock() {
  platform::Clock* clock = platform::Current().clock;
  return clock != nullptr ? *clock : platform::SystemClock();
}

platform::SerialPorts& ThePorts() {
  platform::SerialPorts* ports = platform::Current().serial;
  return ports != nullptr ? *ports : platform::NoSerialPorts();
}

platform::SerialRead ReadOne(uint8_t* byte, uint32_t timeout_ms) {
  if (!g_port) return platform::SerialRead::kError;
  return g_port->ReadByte(byte, timeout_ms);
}

// Frame receiver over a buffer of limit bytes (the caller's buffer or smaller).
int ReceiveInto(uint8_t* buffer, int limit, int* length, uint32_t timeout_ms) {
  platform::Clock& clock = TheClock();
  const uint32_t start = clock.TickMs();
  std::memset(buffer, 0, static_cast<size_t>(limit));
  int tries = 0;
  bool hunted = false;
  uint8_t byte = 0;
  // The deadline ends the receive; closing is left to the caller, so that detection can
  // go on to the next channel on the same port.
  while (!hunted && tries < kHuntTries) {
    if (clock.TickMs() - start > timeout_ms) return p::kDeadlinePassed;
    platform::SerialRead r = ReadOne(&byte, kHuntReadMs);
    if (r == platform::SerialRead::kError) return p::kReceiveFailed;
    if (r == platform::SerialRead::kNoByte || byte != p::kStartMarker) {
      ++tries;
      continue;
    }
    buffer[0] = byte;
    for (;;) {
      if (clock.TickMs() - start > timeout_ms) return p::kDeadlinePassed;
      r = ReadOne(&byte, kHuntReadMs);
      if (r == platform::SerialRead::kError) return p::kReceiveFailed;
      if (r == platform::SerialRead::kByte && byte == p::kStartMarker) continue;
      if (r == platform::SerialRead::kByte && byte >= 0x30) {
        buffer[1] = byte;
        hunted = true;
      } else {
        buffer[0] = 0;  // a false start: hunt again without counting a try
      }
      break;
    }
  }
  // After 100 tries the body is read anyway with positions 0 and 1 left at zero; such a
  // frame then fails its check.
  int position = 2;
  uint8_t last = buffer[1];
  while (last != p::kEndMarker) {
    // The frame receiver holds 2112 bytes and every caller area is sized for what fits
    // it (link_ops.h): a frame that fills it without its end marker is refused.
    if (position >= limit) return p::kReplyTooLong;
    const platform::SerialRead r = ReadOne(&byte, timeout_ms);
    if (r != platform::SerialRead::kByte) return p::kReceiveFailed;
    buffer[position++] = byte;
    last = byte;
  }
  *length = position;
  return p::kOk;
}

bool IsFramed(const uint8_t* reply, int length) {
  return length >= 2 && reply[0] == p::kStartMarker && reply[length - 1] == p::kEndMarker;
}

}  // namespace

const PortState& State() { return g_state; }

void ResetForTests() {
  ClosePort();
  g_port.reset();
  g_state = PortState{};
}

namespace {

// An exchange of a framed request on port_number at baud, with the saved channel.
int ExchangeOn(int port_number, int baud, const uint8_t* request, int length, uint8_t* reply,
               int limit, int* reply_length, uint32_t timeout_ms) {
  const int opened = OpenPort(port_number, baud);
  if (opened != p::kOk) return opened;
  SelectChannel(port_number, 1, true);  // a port outside 1..9 simply goes unselected
  if (Send(request, length) != p::kOk) {
    ClosePort();
    return p::kSendFailed;
  }
  const int received = ReceiveInto(reply, limit, reply_length, timeout_ms);
  if (received != p::kOk) {
    ClosePort();
    return received;
  }
  return ClosePort();
}

// A firmware update whose finish never came leaves the reader talking at 115200, so
// that nothing sent at the configured rate is heard any more, and may leave the port
// held open. Before any other command the link ends such an update: it closes the held
// port and, on the update's port at 115200, asks the reader back to the configured
// rate with the set-baud-rate command. The caller's command then goes on as if no
// update had been begun; the caller hears nothing of the ending.
void EndAbandonedUpdate() {
  if (!g_state.update_pending) return;
  g_state.update_pending = false;  // first, so that the ending's own open passes here
  const p::SerialCommand& command = p::SerialCommandOf(p::SerialOp::kSetBaudRate);
  const uint8_t code[1] = {p::BaudCode(links::State().configured_baud)};
  char request[p::kTextRequestBufferSize];
  const int length =
      p::BuildTextRequest(command.code, 0, 0, 0, code, 1, request, sizeof request);
  uint8_t reply[kFrameBufferSize];
  int reply_length = 0;
  ExchangeOn(g_state.update_port, kRawImageRate, reinterpret_cast<const uint8_t*>(request),
             length, reply, sizeof reply, &reply_length, command.timeout_ms);
}

// Opens without ending an update: the firmware steps' own opens.
int OpenForUpdate(int port_number, int baud) {
  const int com = (port_number >= 0 && port_number <= 9) ? port_number : 1;
  if (g_port) ClosePort();
  g_state.com_number = com;
  g_port = ThePorts().Open(com, baud);
  if (!g_port) {
    g_state.open = false;
    return p::kNoDevice;
  }
  g_state.open = true;
  g_state.baud = baud;
  return p::kOk;
}

}  // namespace

int OpenPort(int port_number, int baud) {
  EndAbandonedUpdate();
  return OpenForUpdate(port_number, baud);
}

int ClosePort() {
  if (g_state.channel_selected) {
    const uint8_t* release = p::kChannelSequence[0];
    if (g_port) g_port->Write(release, 3);
    g_state.channel_selected = false;
  }
  if (g_port) {
    if (!g_port->Close()) return p::kReceiveFailed;  // the handle is kept
    g_port.reset();
  }
  g_state.open = false;
  return p::kOk;
}

int Send(const uint8_t* bytes, int count) {
  if (!g_port || bytes == nullptr || count < 0) return p::kSendFailed;
  // The port is held exclusively, so its transmit queue holds only what this link wrote
  // itself, such as the channel selection in front of a request. Those bytes must reach
  // the reader: they are waited for, and only what the port cannot get out is discarded.
  if (!g_port->Drain()) g_port->DiscardOutput();
  g_port->DiscardInput();
  if (!g_port->Write(bytes, count)) {
    g_port->ClearError();
    return p::kSendFailed;
  }
  return p::kOk;
}

int ReceiveFrame(uint8_t* buffer, int capacity, int* length, uint32_t timeout_ms) {
  if (buffer == nullptr || length == nullptr || capacity < 3) return p::kReceiveFailed;
  const int limit = capacity < kFrameBufferSize ? capacity : kFrameBufferSize;
  return ReceiveInto(buffer, limit, length, timeout_ms);
}

int ReceiveRaw(uint8_t* buffer, int count, uint32_t timeout_ms) {
  for (int i = 0; i < count; ++i) {
    if (ReadOne(&buffer[i], timeout_ms) != platform::SerialRead::kByte) {
      return p::kReceiveFailed;
    }
  }
  return p::kOk;
}

int SelectChannel(int port_number, int channel, bool use_saved) {
  if (port_number < 1 || port_number > 9) {
    g_state.channel_selected = false;
    return p::kReceiveFailed;
  }
  if (channel < 1 || channel > 4) {
    g_state.channel_selected = false;
    return p::kOk;
  }
  if (!use_saved) g_state.saved_channel = channel;
  const int sent = Send(p::kChannelSequence[g_state.saved_channel - 1], 3);
  if (sent != p::kOk) return sent;
  g_state.channel_selected = true;
  return p::kOk;
}

// Framed exchange with a receive buffer of its own size (the packed image needs more
// than the ordinary frame buffer).
int detail::Exchange(const uint8_t* request, int length, uint8_t* reply, int limit,
                        int* reply_length, uint32_t timeout_ms) {
  const SerialSelection selection = links::State().serial;
  return ExchangeOn(selection.port, selection.baud, request, length, reply, limit,
                    reply_length, timeout_ms);
}

int FramedExchange(const uint8_t* request, int length, uint8_t* reply, int capacity,
                   int* reply_length, int timeout_s) {
  if (request == nullptr || reply == nullptr || reply_length == nullptr || capacity < 3) {
    return p::kReceiveFailed;
  }
  const int limit = capacity < kFrameBufferSize ? capacity : kFrameBufferSize;
  return detail::Exchange(request, length, reply, limit, reply_length,
                      static_cast<uint32_t>(timeout_s) * 1000u);
}

int Detect(int port_number, int baud) {
  const int opened = OpenPort(port_number, baud);
  if (opened != p::kOk) return opened;
  const p::RawCommand& version = p::RawCommandOf(p::RawOp::kReadVersion);
  uint8_t reply[kFrameBufferSize];
  bool found = false;
  for (int channel = 1; channel <= 4 && !found; ++channel) {
    SelectChannel(port_number, channel, false);
    if (Send(version.prefix, version.prefix_length) != p::kOk) continue;
    int length = 0;
    if (ReceiveInto(reply, kFrameBufferSize, &length, version.detect_timeout_ms) != p::kOk) {
      continue;
    }
    if (IsFramed(reply, length)) {
      g_state.channel_selected = true;
      found = true;
    }
  }
  if (ClosePort() != p::kOk) {
    g_state.channel_selected = false;
    g_state.saved_channel = 1;
    return p::kReceiveFailed;
  }
  return found ? p::kOk : p::kReceiveFailed;
}

int ReadRawImage(uint8_t* image, int capacity, int upload_mode, int* image_length) {
  const int mode = upload_mode != 0 ? 1 : 0;
  const int port_number = links::State().serial.port;
  const p::RawCommand& prepare = p::RawCommandOf(p::RawOp::kPrepareImage);
  const p::RawCommand& transfer = p::RawCommandOf(p::RawOp::kTransferImage);

  // Step 1: the reader prepares the image, talking at 9600 whatever the selection says.
  int result = OpenPort(port_number, kPrepareRate);
  if (result != p::kOk) return result;
  uint8_t ack[kFrameBufferSize];
  int ack_length = 0;
  result = Send(prepare.prefix, prepare.prefix_length);
  if (result == p::kOk) result = ReceiveInto(ack, kFrameBufferSize, &ack_length, prepare.timeout_ms);
  const int closed = ClosePort();
  if (result != p::kOk) return result;
  if (closed != p::kOk) return closed;
  if (ack[0] != p::kStartMarker) return p::kNoReply;
  if (ack[1] != kTransferAck) return p::kBadChecksum;
  if (ack[2] != p::kEndMarker) return p::kBadStartMarker;

  // Step 2: the transfer itself at 115200.
  result = OpenPort(port_number, kRawImageRate);
  if (result != p::kOk) return result;
  if (Send(transfer.prefix, transfer.prefix_length) != p::kOk) {
    ClosePort();
    return p::kSendFailed;
  }
  uint8_t header[4] = {};
  result = ReceiveRaw(header, 4, kImageHeaderReadMs[mode]);
  if (result != p::kOk) {
    ClosePort();
    return result;
  }
  if (header[0] != p::kStartMarker) {
    ClosePort();
    return p::kNoReply;
  }
  if (header[1] != kTransferAck) {
    ClosePort();
    return p::kBadChecksum;
  }
  const int length = header[2] * 256 + header[3];
  // The raw image body buffer holds 30410 bytes, at most 30409 image bytes and the end
  // marker (an upload also no more than the caller's width x height): a longer image is
  // refused before reading.
  if (length > kMaxImageLength || length > capacity) {
    ClosePort();
    return p::kReplyTooLong;
  }
  static uint8_t body[kImageBodySize];
  std::memset(body, 0, sizeof body);
  ReceiveRaw(body, length + 1, kImageBodyReadMs[mode]);  // a short read fails below
  result = ClosePort();
  if (body[length] != p::kEndMarker) return p::kBadStartMarker;
  if (result != p::kOk) return result;
  std::memcpy(image, body, static_cast<size_t>(length));
  *image_length = length;
  return p::kOk;
}

namespace {

// One raw firmware stage on the port already open: 1A 'D' '0'+stage, data, then a
// frame that must begin 02 'T'. Every failure is -1.
int RawFirmware(int stage, const uint8_t* data, int n) {
  if (n < 0 || n > kMaxRawFirmwareData || (n > 0 && data == nullptr)) return p::kReceiveFailed;
  const p::RawOp ops[3] = {p::RawOp::kFirmwareAnnounce, p::RawOp::kFirmwarePacket,
                           p::RawOp::kFirmwareFinish};
  const p::RawCommand& command = p::RawCommandOf(ops[stage - 1]);
  uint8_t request[3 + kMaxRawFirmwareData];
  std::memcpy(request, command.prefix, static_cast<size_t>(command.prefix_length));
  if (n > 0) std::memcpy(request + command.prefix_length, data, static_cast<size_t>(n));
  if (Send(request, command.prefix_length + n) != p::kOk) return p::kReceiveFailed;
  uint8_t reply[kFrameBufferSize];
  int length = 0;
  if (ReceiveInto(reply, kFrameBufferSize, &length, command.timeout_ms) != p::kOk) {
    return p::kReceiveFailed;
  }
  return reply[0] == p::kStartMarker && reply[1] == kTransferAck ? p::kOk : p::kReceiveFailed;
}

}  // namespace

int FirmwareAnnounceSize(int size) {
  const int port_number = links::State().serial.port;
  int result = OpenForUpdate(port_number, kPrepareRate);
  if (result != p::kOk) return result;
  const uint32_t value = static_cast<uint32_t>(size);
  const uint8_t data[5] = {'2', static_cast<uint8_t>(value >> 24),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value)};
  result = RawFirmware(1, data, 5);
  ClosePort();
  if (result != p::kOk) return result;
  // From here the reader talks at 115200 until the finish: an update left unfinished
  // is ended by the next command that is not a firmware step.
  g_state.update_pending = true;
  g_state.update_port = port_number;
  // The following steps talk at 115200 on a port that stays open until step 3.
  return OpenForUpdate(port_number, kRawImageRate);
}

int FirmwareSendPacket(const uint8_t* data, int length) {
  int result = p::kReceiveFailed;
  if (length >= 0 && length <= kMaxFirmwarePacket && (length == 0 || data != nullptr)) {
    uint8_t packet[kMaxRawFirmwareData];
    packet[0] = static_cast<uint8_t>(length >> 8);
    packet[1] = static_cast<uint8_t>(length);
    if (length > 0) std::memcpy(packet + 2, data, static_cast<size_t>(length));
    result = RawFirmware(2, packet, length + 2);
  }
  if (result != p::kOk) {
    ClosePort();
    return p::kReceiveFailed;
  }
  return p::kOk;
}

int FirmwareFinish(int value) {
  const uint8_t data[1] = {static_cast<uint8_t>(value)};
  const int result = RawFirmware(3, data, 1);
  g_state.update_pending = false;  // the order is complete, whatever the reader answered
  ClosePort();
  return result;
}

}  // namespace vantrel::links::serial

// ---- Command operations (the framed command rows and the raw commands), as the exports
// call them.

namespace vantrel::links {

namespace {

namespace p = vantrel::protocol;
namespace s = vantrel::links::serial;
using p::SerialOp;

constexpr int kImageWidth = 152;
constexpr int kImageHeight = 200;
constexpr int kImagePixels = kImageWidth * kImageHeight;
constexpr int kPackedBytes = kImagePixels / 2;
// Base64 of the packed image: 4 characters per 3 bytes, the last group padded.
constexpr int kPackedTextLength = (kPackedBytes + 2) / 3 * 4;
// The packed image cannot travel in the ordinary 2112-byte frame buffer; its reply gets
// a buffer of its own that holds exactly one well-formed answer.
constexpr int kPackedReplyCapacity = p::kTextReplyOverhead + kPackedTextLength;

// A framed command: build, exchange (or the reset's own exchange), check. The reply and
// its length are left for the copy-out. limit bounds the reply (the caller's buffer).
int RunFramed(SerialOp op, uint8_t p1, uint8_t p2, const uint8_t* data, int n,
              uint8_t* reply, int limit, int* reply_length) {
  const p::SerialCommand& command = p::SerialCommandOf(op);
  char request[p::kTextRequestBufferSize];
  const int length = p::BuildTextRequest(command.code, p1, p2, 0, data, n, request,
                                         p::kTextRequestBufferSize);
  if (length < 0) return length;
  const auto* bytes = reinterpret_cast<const uint8_t*>(request);
  int result = p::kOk;
  if (command.own_exchange) {
    // Reset goes out without a channel selection and with its own short receive.
    const SerialSelection selection = State().serial;
    result = s::OpenPort(selection.port, selection.baud);
    if (result != p::kOk) return result;
    result = s::Send(bytes, length);
    if (result == p::kOk) result = s::ReceiveFrame(reply, limit, reply_length, command.timeout_ms);
    const int closed = s::ClosePort();
    if (result == p::kOk) result = closed;
  } else {
    result = s::detail::Exchange(bytes, length, reply, limit, reply_length, command.timeout_ms);
  }
  if (result != p::kOk) return result;
  if (command.check_reply) {
    result = p::CheckTextReply(reinterpret_cast<const char*>(reply), *reply_length);
  }
  return result;
}

// Decodes count data bytes of a text reply; a reply carrying fewer is refused.
int DecodeData(const uint8_t* reply, int reply_length, int count, uint8_t* out) {
  const int characters = reply_length - p::kTextReplyOverhead;
  if (characters < 2 * count) return p::kReplyLengthMismatch;
  for (int i = 0; i < count; ++i) {
    out[i] = p::DecodeNibblePair(static_cast<char>(reply[p::kTextReplyDataOffset + 2 * i]),
                                 static_cast<char>(reply[p::kTextReplyDataOffset + 2 * i + 1]));
  }
  return p::kOk;
}

// A command without reply data.
int Plain(SerialOp op, const uint8_t* data = nullptr, int n = 0) {
  uint8_t reply[s::kFrameBufferSize];
  int length = 0;
  return RunFramed(op, 0, 0, data, n, reply, s::kFrameBufferSize, &length);
}

// A command whose reply carries count decoded bytes.
int Decoded(SerialOp op, uint8_t* out, const uint8_t* data = nullptr, int n = 0) {
  const p::SerialCommand& command = p::SerialCommandOf(op);
  uint8_t reply[s::kFrameBufferSize];
  int length = 0;
  const int result = RunFramed(op, 0, 0, data, n, reply, s::kFrameBufferSize, &length);
  if (result != p::kOk) return result;
  return DecodeData(reply, length, command.decoded_bytes, out);
}

// Capture and reader-made records: the data characters as they are.
int NibbleText(SerialOp op, char* text, int* text_length) {
  if (text == nullptr || text_length == nullptr) return p::kBadArguments;
  uint8_t reply[s::kFrameBufferSize];
  int length = 0;
  const int result = RunFramed(op, 0, 0, nullptr, 0, reply, sizeof reply, &length);
  if (result != p::kOk) return result;
  const int characters = length - p::kTextReplyOverhead;
  if (characters < 0) return p::kReplyLengthMismatch;
  std::memcpy(text, reply + p::kTextReplyDataOffset, static_cast<size_t>(characters));
  *text_length = characters;
  return p::kOk;
}

int Reset() { return Plain(SerialOp::kReset); }
int Free() { return Plain(SerialOp::kFree); }
int SetWorkMode(int mode) {
  const uint8_t data[1] = {static_cast<uint8_t>(mode)};
  return Plain(SerialOp::kSetWorkMode, data, 1);
}
int GetWorkMode(int* mode) {
  if (mode == nullptr) return p::kBadArguments;
  uint8_t value[1];
  const int result = Decoded(SerialOp::kGetWorkMode, value);
  if (result == p::kOk) *mode = value[0];
  return result;
}
int GetStatus(uint8_t* word) {
  if (word == nullptr) return p::kBadArguments;
  uint8_t value[2];
  const int result = Decoded(SerialOp::kGetStatus, value);
  if (result == p::kOk) std::memcpy(word, value, 2);
  return result;
}
int GetErrorCode(uint8_t* word) {
  if (word == nullptr) return p::kBadArguments;
  uint8_t value[2];
  const int result = Decoded(SerialOp::kGetErrorCode, value);
  if (result == p::kOk) std::memcpy(word, value, 2);
  return result;
}

// Version: raw 1A 'V', own exchange without channel selection, the text between the
// markers handed out.
int GetVersion(uint8_t* buffer, int* length) {
  if (buffer == nullptr || length == nullptr) return p::kBadArguments;
  const p::RawCommand& command = p::RawCommandOf(p::RawOp::kReadVersion);
  const SerialSelection selection = State().serial;
  int result = s::OpenPort(selection.port, selection.baud);
  if (result != p::kOk) return result;
  uint8_t reply[s::kFrameBufferSize];
  int reply_length = 0;
  result = s::Send(command.prefix, command.prefix_length);
  if (result == p::kOk) {
    result = s::ReceiveFrame(reply, sizeof reply, &reply_length, command.timeout_ms);
  }
  const int closed = s::ClosePort();
  if (result == p::kOk) result = closed;
  if (result != p::kOk) return result;
  if (reply_length < 2 || reply[0] != p::kStartMarker ||
      reply[reply_length - 1] != p::kEndMarker) {
    return p::kBadStatus;
  }
  std::memcpy(buffer, reply + 1, static_cast<size_t>(reply_length - 2));
  *length = reply_length - 2;
  return p::kOk;
}

int SetSequence(const char* text) {
  if (text == nullptr) return p::kBadArguments;
  return Plain(SerialOp::kSetSequence, reinterpret_cast<const uint8_t*>(text), 32);
}
int GetSequence(uint8_t* buffer) {
  if (buffer == nullptr) return p::kBadArguments;
  // The request carries the buffer up to its first zero byte, never past its 32 bytes.
  int n = 0;
  while (n < 32 && buffer[n] != 0) ++n;
  uint8_t request[32];
  std::memcpy(request, buffer, static_cast<size_t>(n));
  uint8_t value[32];
  const int result = Decoded(SerialOp::kGetSequence, value, request, n);
  if (result == p::kOk) std::memcpy(buffer, value, 32);
  return result;
}
int SetKey(const char* text) {
  if (text == nullptr) return p::kBadArguments;
  return Plain(SerialOp::kSetKey, reinterpret_cast<const uint8_t*>(text), 16);
}
int SetSecurityLevel(int level) {
  const uint8_t data[1] = {static_cast<uint8_t>(level)};
  return Plain(SerialOp::kSetSecurityLevel, data, 1);
}
int GetSecurityLevel(int* level) {
  if (level == nullptr) return p::kBadArguments;
  uint8_t value[1];
  const int result = Decoded(SerialOp::kGetSecurityLevel, value);
  if (result == p::kOk) *level = value[0];
  return result;
}
int Calibrate() { return Plain(SerialOp::kCalibrate); }

int SetBaudRate(int baud) {
  const uint8_t code[1] = {p::BaudCode(baud)};
  const int result = Plain(SerialOp::kSetBaudRate, code, 1);
  if (result == p::kOk) State().configured_baud = p::BaudOfCode(code[0]);
  return result;
}

int ClearLibrary() { return Plain(SerialOp::kClearLibrary); }
int InsertTemplate(int id, const uint8_t* name, int name_length, const char* text,
                   int text_length) {
  uint8_t data[p::kMaxInsertData];
  const int n = p::BuildInsertTemplateData(id, name, name_length, text, text_length, data,
                                           p::kMaxInsertData);
  if (n < 0) return n;
  return Plain(SerialOp::kInsertTemplate, data, n);
}
int StoreLibrary() { return Plain(SerialOp::kStoreLibrary); }
int CountTemplates(int* count) {
  if (count == nullptr) return p::kBadArguments;
  uint8_t value[2];
  const int result = Decoded(SerialOp::kCountTemplates, value);
  if (result == p::kOk) *count = value[0] * 256 + value[1];
  return result;
}
int Search(int first, int second, uint8_t* buffer, int* length) {
  if (buffer == nullptr || length == nullptr) return p::kBadArguments;
  const uint8_t data[4] = {static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first),
                           static_cast<uint8_t>(second >> 8), static_cast<uint8_t>(second)};
  uint8_t reply[s::kFrameBufferSize];
  int reply_length = 0;
  const int result =
      RunFramed(SerialOp::kSearch, 0, 0, data, 4, reply, sizeof reply, &reply_length);
  if (result != p::kOk) return result;
  const int characters = reply_length - p::kTextReplyOverhead;
  if (characters < 0) return p::kReplyLengthMismatch;
  const int count = characters / 2;
  DecodeData(reply, reply_length, count, buffer);
  *length = count;
  return p::kOk;
}

static_assert(kMaxUpdateBytes ==
              (p::kTextRequestBufferSize - p::kTextRequestOverhead) / 2);
int Update(const uint8_t* data, int length, int kind, int baud) {
  // Refused before the request is built: no length sum of a caller's number overflows.
  if (length < 0 || length > kMaxUpdateBytes) return p::kBadArguments;
  const uint8_t kind_byte = static_cast<uint8_t>(kind);
  const uint8_t code = p::BaudCode(baud);
  const uint8_t p2 = kind_byte == 2 ? 0 : code;
  uint8_t reply[s::kFrameBufferSize];
  int reply_length = 0;
  const int result = RunFramed(SerialOp::kFirmwareUpdate, kind_byte, p2, data, length, reply,
                               s::kFrameBufferSize, &reply_length);
  if (result == p::kOk) State().configured_baud = p::BaudOfCode(code);
  return result;
}
int UpdateSendFileSize(int size) { return s::FirmwareAnnounceSize(size); }
int UpdateSendPacket(int /*number: the serial reader counts packets itself*/,
                     const uint8_t* data, int length) {
  return s::FirmwareSendPacket(data, length);
}
int UpdateWrite(int value) { return s::FirmwareFinish(value); }

int ReaderTemplate(char* text, int* length) { return NibbleText(SerialOp::kReaderTemplate, text, length); }
int ReaderFeature(char* text, int* length) { return NibbleText(SerialOp::kReaderFeature, text, length); }
int CaptureTemplate(char* text, int* length) { return NibbleText(SerialOp::kCaptureTemplate, text, length); }
int CaptureFeature(char* text, int* length) { return NibbleText(SerialOp::kCaptureFeature, text, length); }

int GetImageSize(int* width, int* height) {
  if (width == nullptr || height == nullptr) return p::kBadArguments;
  *width = kImageWidth;
  *height = kImageHeight;
  return p::kOk;
}

int ReadImage(int width, int height, uint8_t* image, int upload_mode, int* out_width,
              int* out_height) {
  if (image == nullptr) return p::kBadArguments;
  // Get mode fills the caller's 152 x 200 image; upload mode the width x height it gave.
  int capacity = kImagePixels;
  if (upload_mode != 0) {
    const long long pixels = static_cast<long long>(width) * height;
    capacity = (width <= 0 || height <= 0) ? 0
               : pixels > s::kMaxImageLength ? s::kMaxImageLength
                                             : static_cast<int>(pixels);
  }
  int delivered = 0;
  const int result = s::ReadRawImage(image, capacity, upload_mode, &delivered);
  if (result != p::kOk) return result;
  if (upload_mode == 0) {
    if (out_width != nullptr) *out_width = kImageWidth;
    if (out_height != nullptr) *out_height = kImageHeight;
  }
  return p::kOk;
}

int ReadPackedImage(int request, int* width, int* height, uint8_t* image) {
  if (width == nullptr || height == nullptr || image == nullptr) return p::kBadArguments;
  const uint8_t data[2] = {static_cast<uint8_t>(request >> 8), static_cast<uint8_t>(request)};
  static uint8_t reply[kPackedReplyCapacity + 3];
  int reply_length = 0;
  const int result = RunFramed(SerialOp::kReadPackedImage, 0, 0, data, 2, reply,
                               kPackedReplyCapacity, &reply_length);
  if (result != p::kOk) return result;
  const int characters = reply_length - p::kTextReplyOverhead;
  if (characters <= 0) return p::kReceiveFailed;
  // The decoder pads its input in place: hand it a private copy with room to spare.
  static char text[kPackedTextLength + 3];
  std::memcpy(text, reply + p::kTextReplyDataOffset, static_cast<size_t>(characters));
  static uint8_t packed[kPackedBytes];
  int packed_length = 0;
  const int converted =
      text::Base64Convert(0, text, characters, packed, kPackedBytes, &packed_length);
  if (converted != 0 || packed_length != kPackedBytes) return p::kReceiveFailed;
  for (int i = 0; i < kPackedBytes; ++i) {
    image[2 * i] = static_cast<uint8_t>(packed[i] & 0xF0);
    image[2 * i + 1] = static_cast<uint8_t>((packed[i] & 0x0F) << 4);
  }
  *width = kImageWidth;
  *height = kImageHeight;
  return p::kOk;
}

int Detect() {
  const SerialSelection selection = State().serial;
  return s::Detect(selection.port, selection.baud);
}

}  // namespace

const LinkOps& SerialLinkOps() {
  static const LinkOps ops = [] {
    LinkOps o{};
    o.Reset = Reset;
    o.Free = Free;
    o.SetWorkMode = SetWorkMode;
    o.GetWorkMode = GetWorkMode;
    o.GetStatus = GetStatus;
    o.GetErrorCode = GetErrorCode;
    o.GetVersion = GetVersion;
    o.SetSequence = SetSequence;
    o.GetSequence = GetSequence;
    o.SetKey = SetKey;
    o.SetSecurityLevel = SetSecurityLevel;
    o.GetSecurityLevel = GetSecurityLevel;
    o.Calibrate = Calibrate;
    o.SetBaudRate = SetBaudRate;
    o.ClearLibrary = ClearLibrary;
    o.InsertTemplate = InsertTemplate;
    o.StoreLibrary = StoreLibrary;
    o.CountTemplates = CountTemplates;
    o.Search = Search;
    o.Update = Update;
    o.UpdateSendFileSize = UpdateSendFileSize;
    o.UpdateSendPacket = UpdateSendPacket;
    o.UpdateWrite = UpdateWrite;
    o.ReaderTemplate = ReaderTemplate;
    o.ReaderFeature = ReaderFeature;
    o.CaptureTemplate = CaptureTemplate;
    o.CaptureFeature = CaptureFeature;
    o.GetImageSize = GetImageSize;
    o.ReadImage = ReadImage;
    o.ReadPackedImage = ReadPackedImage;
    o.Detect = Detect;
    return o;
  }();
  return ops;
}

}  // namespace vantrel::links
