// The stand-in reader on a serial line: text frames, the raw 0x1A commands, channel
// selection (ESC '%' X), baud switching and the serial-only commands, over the shared
// reader state of ReaderModel.
//
// The line: bytes the host writes at a rate other than the reader's current line rate
// are lost, as on a wire. The line rate is the reader's configured rate, except between
// an image preparation (1A 'P' '1') and its transfer, and between a firmware size
// announcement (1A 'D' '1') and the finish, when the reader talks at 115200.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "sim/reader_model.h"

namespace vantrel::sim {

enum class SerialFault : uint8_t {
  kNone,
  kGarbage,    // the reply is replaced by bytes without a start marker
  kTruncated,  // the reply stops halfway, without its end marker
  kOversized,  // a start marker and 3000 characters without an end marker
};

// What only the serial reader keeps.
struct SerialReaderState {
  int work_mode = 0;
  uint8_t status[2] = {0x00, 0x01};
  uint8_t error_code[2] = {0x00, 0x00};
  uint8_t sequence[32] = {};
  uint8_t key[16] = {};
  int calibrations = 0;
  int frees = 0;
  int resets = 0;
  int firmware_kind = -1;          // last framed firmware update (code 26)
  std::vector<uint8_t> firmware;   // its data, or the raw packets joined
  int raw_firmware_step = 0;       // 0 idle, 1 announced
  uint32_t raw_firmware_size = 0;
  int raw_firmware_packets = 0;
  int raw_firmware_finished = 0;
  int raw_firmware_value = -1;
};

class SerialDeviceSim {
 public:
  explicit SerialDeviceSim(ReaderModel& model);

  // --- Control surface -------------------------------------------------------------
  void SetAnswerChannel(int channel);  // 0: answers on every channel, else on that one
  void SetNoise(int bytes);            // noise bytes in front of every framed reply
  void SetRepeatedStart(bool repeat);  // the start marker sent twice
  void InjectSerialFault(SerialFault fault, int count = 1);
  void SetRate(int baud);              // the reader's configured rate
  int Rate() const;
  int LineRate() const;
  int Channel() const;                 // the channel last selected on the line
  SerialReaderState Serial() const;
  std::vector<uint8_t> Heard() const;  // every byte that reached the reader
  void ClearHeard();
  ReaderModel& Model() { return model_; }

  // --- The wire ----------------------------------------------------------------------
  bool Present() const { return model_.Present(); }
  // Bytes from the host at the host's rate (0: the rate is not known, taken as right).
  void Write(const uint8_t* bytes, int count, int baud);
  // The next byte the reader sends; false when nothing is waiting.
  bool ReadByte(uint8_t* byte);
  // The host discarded what it had not read yet.
  void DiscardOutput();

 private:
  void Parse();
  bool Hears() const;
  void HandleFrame(const uint8_t* text, int length);
  void HandleCommand(uint8_t code, uint8_t p1, uint8_t p2, const uint8_t* data, int n);
  void SendFrame(uint8_t status, const uint8_t* data, int n);
  void SendFramedRaw(const std::vector<uint8_t>& bytes);  // noise and faults applied
  void SendPacked();
  int BinaryAsk(uint8_t code, const uint8_t* data, int n, uint8_t* reply, int capacity);

  ReaderModel& model_;
  mutable std::mutex lock_;
  int answer_channel_ = 0;
  int noise_ = 0;
  bool repeat_start_ = false;
  SerialFault serial_fault_ = SerialFault::kNone;
  int serial_fault_count_ = 0;
  Fault fault_ = Fault::kNone;  // the model fault taken for the reply being built
  int rate_ = 9600;
  int line_rate_ = 9600;
  int channel_ = 1;
  SerialReaderState serial_;
  std::vector<uint8_t> in_;
  std::deque<uint8_t> out_;
  std::vector<uint8_t> heard_;
};

}  // namespace vantrel::sim
