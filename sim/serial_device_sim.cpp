#include "sim/serial_device_sim.h"

#include <algorithm>
#include <cstring>

namespace vantrel::sim {

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kRaw = 0x1A;
constexpr uint8_t kNoise = 0x55;
constexpr int kTransferRate = 115200;
constexpr size_t kMaxPending = 1 << 16;  // a host that never ends its frame is cut off

int RateOfCode(uint8_t code) {
  switch (code) {
    case 'M': return 57600;
    case 'H': return 115200;
    default: return 9600;
  }
}

int ChannelOfLetter(uint8_t letter) {
  switch (letter) {
    case 'A': return 1;
    case 'B': return 2;
    case 'C': return 3;
    case 'K': return 4;
    default: return 0;
  }
}

uint8_t Nibble(uint8_t c) { return static_cast<uint8_t>(c & 0x0F); }

void Base64(const uint8_t* bytes, int n, std::vector<uint8_t>& out) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < n; i += 3) {
    const uint32_t a = bytes[i];
    const uint32_t b = i + 1 < n ? bytes[i + 1] : 0;
    const uint32_t c = i + 2 < n ? bytes[i + 2] : 0;
    const uint32_t v = (a << 16) | (b << 8) | c;
    out.push_back(static_cast<uint8_t>(kAlphabet[(v >> 18) & 63]));
    out.push_back(static_cast<uint8_t>(kAlphabet[(v >> 12) & 63]));
    out.push_back(i + 1 < n ? static_cast<uint8_t>(kAlphabet[(v >> 6) & 63]) : '=');
    out.push_back(i + 2 < n ? static_cast<uint8_t>(kAlphabet[v & 63]) : '=');
  }
}

}  // namespace

SerialDeviceSim::SerialDeviceSim(ReaderModel& model) : model_(model) {}

void SerialDeviceSim::SetAnswerChannel(int channel) {
  std::lock_guard<std::mutex> guard(lock_);
  answer_channel_ = channel;
}
void SerialDeviceSim::SetNoise(int bytes) {
  std::lock_guard<std::mutex> guard(lock_);
  noise_ = bytes;
}
void SerialDeviceSim::SetRepeatedStart(bool repeat) {
  std::lock_guard<std::mutex> guard(lock_);
  repeat_start_ = repeat;
}
void SerialDeviceSim::InjectSerialFault(SerialFault fault, int count) {
  std::lock_guard<std::mutex> guard(lock_);
  serial_fault_ = fault;
  serial_fault_count_ = count;
}
void SerialDeviceSim::SetRate(int baud) {
  std::lock_guard<std::mutex> guard(lock_);
  rate_ = baud;
  line_rate_ = baud;
}
int SerialDeviceSim::Rate() const {
  std::lock_guard<std::mutex> guard(lock_);
  return rate_;
}
int SerialDeviceSim::LineRate() const {
  std::lock_guard<std::mutex> guard(lock_);
  return line_rate_;
}
int SerialDeviceSim::Channel() const {
  std::lock_guard<std::mutex> guard(lock_);
  return channel_;
}
SerialReaderState SerialDeviceSim::Serial() const {
  std::lock_guard<std::mutex> guard(lock_);
  return serial_;
}
std::vector<uint8_t> SerialDeviceSim::Heard() const {
  std::lock_guard<std::mutex> guard(lock_);
  return heard_;
}
void SerialDeviceSim::ClearHeard() {
  std::lock_guard<std::mutex> guard(lock_);
  heard_.clear();
}

void SerialDeviceSim::Write(const uint8_t* bytes, int count, int baud) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!model_.Present()) return;
  if (baud != 0 && baud != line_rate_) return;  // garbled on the line: lost
  heard_.insert(heard_.end(), bytes, bytes + count);
  in_.insert(in_.end(), bytes, bytes + count);
  Parse();
  if (in_.size() > kMaxPending) in_.clear();
}

bool SerialDeviceSim::ReadByte(uint8_t* byte) {
  std::lock_guard<std::mutex> guard(lock_);
  if (out_.empty()) return false;
  *byte = out_.front();
  out_.pop_front();
  return true;
}

void SerialDeviceSim::DiscardOutput() {
  std::lock_guard<std::mutex> guard(lock_);
  out_.clear();
}

bool SerialDeviceSim::Hears() const { return answer_channel_ == 0 || answer_channel_ == channel_; }

// Takes complete messages off the front of the input; an incomplete one waits.
void SerialDeviceSim::Parse() {
  size_t at = 0;
  const size_t size = in_.size();
  auto has = [&](size_t n) { return size - at >= n; };
  while (at < size) {
    const uint8_t b = in_[at];
    if (b == kEsc) {
      if (!has(3)) break;
      if (in_[at + 1] == '%') {
        const int channel = ChannelOfLetter(in_[at + 2]);
        if (channel != 0) channel_ = channel;
        at += 3;
      } else {
        at += 1;
      }
      continue;
    }
    if (b == kRaw) {
      if (!has(2)) break;
      const uint8_t what = in_[at + 1];
      if (what == 'V') {
        at += 2;
        if (!Hears()) continue;
        model_.CountCommand();
        const std::string version = model_.Snapshot().version;
        std::vector<uint8_t> reply(version.size() + 2, kEtx);
        reply[0] = kStx;
        std::memcpy(reply.data() + 1, version.data(), version.size());
        SendFramedRaw(reply);
        continue;
      }
      if (what != 'P' && what != 'D') {
        at += 1;
        continue;
      }
      if (!has(3)) break;
      const uint8_t stage = in_[at + 2];
      size_t need = 3;
      if (what == 'D' && stage == '1') need = 8;
      if (what == 'D' && stage == '2') {
        if (!has(5)) break;
        need = 5 + static_cast<size_t>(in_[at + 3] * 256 + in_[at + 4]);
      }
      if (what == 'D' && stage == '3') need = 4;
      if (!has(need)) break;
      const uint8_t* body = in_.data() + at + 3;
      at += need;
      if (!Hears()) continue;
      model_.CountCommand();
      const std::vector<uint8_t> ack{kStx, 'T', kEtx};
      const std::vector<uint8_t> refuse{kStx, 'F', kEtx};
      if (what == 'P' && stage == '1') {
        model_.Capture();
        SendFramedRaw(ack);
        line_rate_ = kTransferRate;
      } else if (what == 'P' && stage == '2') {
        const ReaderImage held = model_.Snapshot().held;
        const size_t count = std::min<size_t>(held.pixels.size(), 0xFFFF);
        out_.push_back(kStx);
        out_.push_back('T');
        out_.push_back(static_cast<uint8_t>(count >> 8));
        out_.push_back(static_cast<uint8_t>(count));
        out_.insert(out_.end(), held.pixels.begin(), held.pixels.begin() + static_cast<long>(count));
        out_.push_back(kEtx);
        line_rate_ = rate_;
      } else if (what == 'D' && stage == '1' && body[0] == '2') {
        serial_.raw_firmware_step = 1;
        serial_.raw_firmware_size = (uint32_t{body[1]} << 24) | (uint32_t{body[2]} << 16) |
                                    (uint32_t{body[3]} << 8) | body[4];
        serial_.raw_firmware_packets = 0;
        serial_.firmware.clear();
        SendFramedRaw(ack);
        line_rate_ = kTransferRate;
      } else if (what == 'D' && stage == '2' && serial_.raw_firmware_step == 1) {
        serial_.firmware.insert(serial_.firmware.end(), body + 2, body + 2 + (need - 5));
        ++serial_.raw_firmware_packets;
        SendFramedRaw(ack);
      } else if (what == 'D' && stage == '3' && serial_.raw_firmware_step == 1) {
        serial_.raw_firmware_step = 0;
        serial_.raw_firmware_value = body[0];
        ++serial_.raw_firmware_finished;
        SendFramedRaw(ack);
        line_rate_ = rate_;
      } else {
        SendFramedRaw(refuse);
      }
      continue;
    }
    if (b == kStx) {
      size_t end = at + 1;
      while (end < size && in_[end] != kEtx) ++end;
      if (end >= size) break;  // the end marker is still to come
      const uint8_t* text = in_.data() + at + 1;
      const int length = static_cast<int>(end - at - 1);
      at = end + 1;
      if (Hears()) HandleFrame(text, length);
      continue;
    }
    at += 1;  // anything else is line noise to the reader
  }
  in_.erase(in_.begin(), in_.begin() + static_cast<long>(at));
}

void SerialDeviceSim::HandleFrame(const uint8_t* text, int length) {
  if (length < 14 || length % 2 != 0) return;  // not a frame the reader can read
  std::vector<uint8_t> bytes(static_cast<size_t>(length / 2));
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>((Nibble(text[2 * i]) << 4) | Nibble(text[2 * i + 1]));
  }
  const int n = bytes[0] * 256 + bytes[1] - 4;
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) sum ^= bytes[i];
  model_.CountCommand();
  if (n < 0 || static_cast<size_t>(n) + 7 != bytes.size() || sum != bytes.back()) {
    SendFrame(0x01, nullptr, 0);  // the reader refuses a frame it cannot trust
    return;
  }
  HandleCommand(bytes[2], bytes[3], bytes[4], bytes.data() + 6, n);
}

int SerialDeviceSim::BinaryAsk(uint8_t code, const uint8_t* data, int n, uint8_t* reply,
                               int capacity) {
  // The level lives in the shared model; ask it the way a binary link would.
  uint8_t request[16] = {kStx, 0, static_cast<uint8_t>(n + 4), code, 0, 0, 0};
  std::memcpy(request + 7, data, static_cast<size_t>(n));
  uint8_t sum = 0;
  for (int i = 1; i < 7 + n; ++i) sum ^= request[i];
  request[7 + n] = sum;
  request[8 + n] = kEtx;
  return model_.AnswerBinary(SimLink::kSerial, request, 9 + n, reply, capacity);
}

void SerialDeviceSim::HandleCommand(uint8_t code, uint8_t p1, uint8_t p2, const uint8_t* data,
                                    int n) {
  fault_ = model_.TakeFault();
  if (fault_ == Fault::kSilent) return;
  std::vector<uint8_t> answer;
  uint8_t status = 0;
  const ReaderState state = model_.Snapshot();
  switch (code) {
    case 4: ++serial_.resets; break;
    case 5: ++serial_.frees; break;
    case 6:
      if (n >= 1) serial_.work_mode = data[0];
      break;
    case 7: answer.assign(serial_.status, serial_.status + 2); break;
    case 8: answer.assign(serial_.error_code, serial_.error_code + 2); break;
    case 10: model_.ClearLibrary(); break;
    case 11: case 171: case 12: case 172:
      answer = model_.ReaderRecord(code == 11 || code == 171);
      if (answer.empty()) status = 1;
      break;
    case 13:
      if (n == 32) std::memcpy(serial_.sequence, data, 32);
      else if (n == 16) std::memcpy(serial_.key, data, 16);
      else status = 1;
      break;
    case 14: answer.assign(serial_.sequence, serial_.sequence + 32); break;
    case 16: case 17: {
      uint8_t reply[64];
      const int got = BinaryAsk(code == 16 ? 0x04 : 0x05, data, code == 16 && n >= 1 ? 1 : 0,
                                reply, sizeof reply);
      if (got < 7 || reply[3] != 0) status = 1;
      else if (code == 17) answer.push_back(reply[5]);
      break;
    }
    case 18: answer.push_back(static_cast<uint8_t>(serial_.work_mode)); break;
    case 19: ++serial_.calibrations; break;
    case 20: {
      // id, name length m, m name bytes, record length t, t record bytes
      bool ok = n >= 6;
      int m = ok ? data[2] * 256 + data[3] : 0;
      ok = ok && 4 + m + 2 <= n;
      int t = ok ? data[4 + m] * 256 + data[5 + m] : 0;
      ok = ok && 6 + m + t <= n &&
           model_.InsertTemplate(data[0] * 256 + data[1], data + 4, m, data + 6 + m, t);
      if (!ok) status = 1;
      break;
    }
    case 21: model_.StoreLibrary(); break;
    case 22: {
      const int count = model_.CountTemplates();
      answer = {static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
      break;
    }
    case 23: {
      if (n < 4) { status = 1; break; }
      char text[150];
      const int length =
          model_.Search(data[0] * 256 + data[1], data[2] * 256 + data[3], text, sizeof text);
      answer.assign(text, text + length);
      break;
    }
    case 26:
      serial_.firmware_kind = p1;
      serial_.firmware.assign(data, data + n);
      break;
    case 173:
      if (n < 1) { status = 1; break; }
      break;
    case 174: SendPacked(); return;
    default: status = 1; break;
  }
  if (fault_ == Fault::kStatusBusy) status = 0x3A;
  if (fault_ == Fault::kStatusError) status = 0x01;
  SendFrame(status, answer.data(), static_cast<int>(answer.size()));
  // A new rate takes effect once the answer has gone out at the old one.
  if (status == 0 && code == 173) rate_ = line_rate_ = RateOfCode(data[0]);
  if (status == 0 && code == 26 && p2 != 0) rate_ = line_rate_ = RateOfCode(p2);
}

void SerialDeviceSim::SendFrame(uint8_t status, const uint8_t* data, int n) {
  std::vector<uint8_t> bytes;
  const int c = n + 2 + (fault_ == Fault::kWrongLength ? 1 : fault_ == Fault::kShortReply ? -1 : 0);
  bytes.push_back(static_cast<uint8_t>(c >> 8));
  bytes.push_back(static_cast<uint8_t>(c));
  bytes.push_back(status);
  bytes.push_back(0);
  bytes.insert(bytes.end(), data, data + n);
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum ^= b;
  if (fault_ == Fault::kBadChecksum) sum ^= 0x5A;
  bytes.push_back(sum);
  std::vector<uint8_t> frame{kStx};
  for (uint8_t b : bytes) {
    frame.push_back(static_cast<uint8_t>(0x30 + (b >> 4)));
    frame.push_back(static_cast<uint8_t>(0x30 + (b & 0x0F)));
  }
  frame.push_back(kEtx);
  SendFramedRaw(frame);
}

void SerialDeviceSim::SendPacked() {
  model_.Capture();
  const ReaderImage held = model_.Snapshot().held;
  std::vector<uint8_t> packed(held.pixels.size() / 2);
  for (size_t i = 0; i < packed.size(); ++i) {
    packed[i] = static_cast<uint8_t>((held.pixels[2 * i] & 0xF0) | (held.pixels[2 * i + 1] >> 4));
  }
  std::vector<uint8_t> text;
  Base64(packed.data(), static_cast<int>(packed.size()), text);
  // Header pairs: length, status 0, spare; the text is not nibble pairs, so the length
  // and checksum are only what the reader writes, nobody checks them.
  const int c = static_cast<int>(text.size() / 2) + 2;
  const uint8_t header[4] = {static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c), 0, 0};
  std::vector<uint8_t> frame{kStx};
  for (uint8_t b : header) {
    frame.push_back(static_cast<uint8_t>(0x30 + (b >> 4)));
    frame.push_back(static_cast<uint8_t>(0x30 + (b & 0x0F)));
  }
  frame.insert(frame.end(), text.begin(), text.end());
  frame.push_back('0');
  frame.push_back('0');
  frame.push_back(kEtx);
  SendFramedRaw(frame);
}

void SerialDeviceSim::SendFramedRaw(const std::vector<uint8_t>& bytes) {
  SerialFault fault = SerialFault::kNone;
  if (serial_fault_count_ > 0) {
    fault = serial_fault_;
    if (--serial_fault_count_ == 0) serial_fault_ = SerialFault::kNone;
  }
  for (int i = 0; i < noise_; ++i) out_.push_back(kNoise);
  if (fault == SerialFault::kGarbage) {
    for (size_t i = 0; i < bytes.size(); ++i) out_.push_back(static_cast<uint8_t>(0x40 + i % 31));
    return;
  }
  if (fault == SerialFault::kOversized) {
    out_.push_back(kStx);
    for (int i = 0; i < 3000; ++i) out_.push_back('0');
    return;
  }
  size_t count = bytes.size();
  if (fault == SerialFault::kTruncated) count /= 2;
  if (fault_ == Fault::kBadEndMarker && count == bytes.size()) count -= 1;
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = bytes[i];
    if (i == 0 && fault_ == Fault::kBadStartMarker) b = 0x01;
    if (i == 0 && b == kStx && repeat_start_) out_.push_back(kStx);
    out_.push_back(b);
  }
  fault_ = Fault::kNone;
}

}  // namespace vantrel::sim
