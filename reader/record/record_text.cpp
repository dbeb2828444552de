#include "reader/record/record_text.h"

namespace vantrel::text {

namespace {

constexpr int kResultOk = 0;
constexpr int kResultEmptyInput = -1;
constexpr int kResultNullPointer = -2;

constexpr char kNibbleBase = 0x30;  // '0'
constexpr char kPad = '=';
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoding table over all 256 byte values: characters outside the alphabet, including
// every byte at or above 0x80 and the padding character, count as 0.
struct DecodeTable {
  uint8_t value[256] = {};
  DecodeTable() {
    for (int i = 0; i < 64; ++i) value[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
  }
};

const DecodeTable& Decoding() {
  static const DecodeTable table;
  return table;
}

// Bounded writer: everything past the capacity is dropped, the length still counts it.
struct Sink {
  uint8_t* out;
  int capacity;
  int length = 0;
  void Put(uint8_t v) {
    if (length < capacity) out[length] = v;
    ++length;
  }
};

void Encode(const uint8_t* in, int n, Sink& sink) {
  int i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t group = (static_cast<uint32_t>(in[i]) << 16) | (in[i + 1] << 8) | in[i + 2];
    sink.Put(static_cast<uint8_t>(kAlphabet[(group >> 18) & 0x3F]));
    sink.Put(static_cast<uint8_t>(kAlphabet[(group >> 12) & 0x3F]));
    sink.Put(static_cast<uint8_t>(kAlphabet[(group >> 6) & 0x3F]));
    sink.Put(static_cast<uint8_t>(kAlphabet[group & 0x3F]));
  }
  const int rest = n - i;
  if (rest == 1) {
    const uint32_t group = static_cast<uint32_t>(in[i]) << 16;
    sink.Put(static_cast<uint8_t>(kAlphabet[(group >> 18) & 0x3F]));
    sink.Put(static_cast<uint8_t>(kAlphabet[(group >> 12) & 0x3F]));
    sink.Put(static_cast<uint8_t>(kPad));
    sink.Put(static_cast<uint8_t>(kPad));
  } else if (rest == 2) {
    const uint32_t group = (static_cast<uint32_t>(in[i]) << 16) | (in[i + 1] << 8);
    sink.Put(static_cast<uint8_t>(kAlphabet[(group >> 18) & 0x3F]));
    sink.Put(static_cast<uint8_t>(kAlphabet[(group >> 12) & 0x3F]));
    sink.Put(static_cast<uint8_t>(kAlphabet[(group >> 6) & 0x3F]));
    sink.Put(static_cast<uint8_t>(kPad));
  }
}

// Decodes length characters. A length that is not a multiple of four is padded with
// '=' as if the characters were there; the pad is supplied here rather than written
// into the caller's text, so a text without spare room is never written past its end.
void Decode(const char* in, int length, Sink& sink) {
  if (length <= 0) return;
  const DecodeTable& table = Decoding();
  const int padded = (length + 3) / 4 * 4;
  auto at = [&](int k) -> char { return k < length ? in[k] : kPad; };
  for (int g = 0; g < padded; g += 4) {
    uint32_t group = 0;
    for (int k = 0; k < 4; ++k) group = (group << 6) | table.value[static_cast<uint8_t>(at(g + k))];
    int bytes = 3;
    if (g + 4 == padded) {
      if (at(g + 2) == kPad) {
        bytes = 1;
      } else if (at(g + 3) == kPad) {
        bytes = 2;
      }
    }
    sink.Put(static_cast<uint8_t>(group >> 16));
    if (bytes >= 2) sink.Put(static_cast<uint8_t>((group >> 8) & 0xFF));
    if (bytes >= 3) sink.Put(static_cast<uint8_t>(group & 0xFF));
  }
}

}  // namespace

void WriteNibbleText(const uint8_t* bytes, int n, char* text) {
  if (bytes == nullptr || text == nullptr) return;
  for (int i = 0; i < n; ++i) {
    text[2 * i] = static_cast<char>(kNibbleBase + (bytes[i] >> 4));
    text[2 * i + 1] = static_cast<char>(kNibbleBase + (bytes[i] & 0x0F));
  }
}

void ReadNibbleText(const char* text, int n, uint8_t* bytes) {
  if (bytes == nullptr) return;
  // Once the text has ended, every further character reads as '0'; a null text is an
  // empty one.
  bool ended = text == nullptr;
  auto next = [&](int k) -> uint8_t {
    if (!ended && text[k] == '\0') ended = true;
    return static_cast<uint8_t>(ended ? kNibbleBase : text[k]);
  };
  for (int i = 0; i < n; ++i) {
    const uint8_t c0 = next(2 * i);
    const uint8_t c1 = next(2 * i + 1);
    bytes[i] = static_cast<uint8_t>((c0 << 4) | (c1 & 0x0F));
  }
}

int Base64Convert(int direction, char* input, int input_length, uint8_t* output,
                  int output_capacity, int* output_length) {
  if (input_length == 0) return kResultEmptyInput;
  if (input == nullptr || output == nullptr) return kResultNullPointer;
  Sink sink{output, output_capacity < 0 ? 0 : output_capacity};
  // A negative length is an empty input in either direction.
  if ((direction & 0xFF) != 0) {
    Encode(reinterpret_cast<const uint8_t*>(input), input_length, sink);
  } else {
    Decode(input, input_length, sink);
  }
  if (output_length != nullptr) *output_length = sink.length;
  return kResultOk;
}

}  // namespace vantrel::text
