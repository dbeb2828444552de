// The seal of a feature record and the reversible byte scrambler beneath it.
#include <cstring>

#include "reader/record/record.h"

namespace vantrel::record {

namespace {

constexpr int kResultOk = 0;
constexpr int kResultRefused = -1;

constexpr int kKeyBytes = 16;
constexpr uint8_t kSealVersion = 0x81;   // byte 1 of a sealed record before scrambling
constexpr uint8_t kSealVersionHigh = 0x80;  // what its high nibble must read after unsealing
constexpr int kScrambledBytes = kRecordBytes - 1;  // bytes 1..255

// Key material: table A (nibble and pair passes), table B (bit pass) and the chaining
// seed. The values are our own, drawn once from a fixed xorshift generator with a fixed
// start; records sealed with any other key material cannot be exchanged with ours, so
// neither the start value nor the order of drawing may ever change.
struct ScrambleKey {
  uint8_t a[kKeyBytes];
  uint8_t b[kKeyBytes];
  uint8_t seed;

  ScrambleKey() {
    uint32_t state = 0x5EA1C0DEu;
    auto next = [&state]() {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      return static_cast<uint8_t>(state >> 24);
    };
    for (uint8_t& k : a) k = next();
    for (uint8_t& k : b) k = next();
    seed = next();
  }
};

const ScrambleKey& Key() {
  static const ScrambleKey key;
  return key;
}

// Bit pass: new position of each old bit 0..7, and the table that undoes it.
struct BitMoves {
  uint8_t forward[256];
  uint8_t backward[256];

  BitMoves() {
    // old bit -> new bit: 7 -> 3, 6 -> 1, 5 -> 6, 4 -> 0, 3 -> 7, 2 -> 5, 1 -> 4, 0 -> 2.
    constexpr int kNewBit[8] = {2, 4, 5, 7, 0, 6, 1, 3};
    for (int v = 0; v < 256; ++v) {
      int moved = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (v & (1 << bit)) moved |= 1 << kNewBit[bit];
      forward[v] = static_cast<uint8_t>(moved);
      backward[moved] = static_cast<uint8_t>(v);
    }
  }
};

const BitMoves& Moves() {
  static const BitMoves moves;
  return moves;
}

uint8_t NibbleSwap(uint8_t v) { return static_cast<uint8_t>((v << 4) | (v >> 4)); }

void SwapLowNibbles(uint8_t& p, uint8_t& q) {
  const uint8_t lp = p & 0x0F;
  p = static_cast<uint8_t>((p & 0xF0) | (q & 0x0F));
  q = static_cast<uint8_t>((q & 0xF0) | lp);
}

}  // namespace

int ScrambleBytes(uint8_t* bytes, uint16_t length) {
  if (bytes == nullptr) return length == 0 ? kResultOk : kResultRefused;
  const ScrambleKey& key = Key();
  const BitMoves& moves = Moves();

  for (int i = 0; i < length; ++i)
    bytes[i] = static_cast<uint8_t>(NibbleSwap(static_cast<uint8_t>(~bytes[i])) ^ key.a[i % kKeyBytes]);

  for (int j = 0; j + 1 < length; j += 2) {
    SwapLowNibbles(bytes[j], bytes[j + 1]);
    bytes[j] ^= key.a[j % kKeyBytes];
    bytes[j + 1] ^= key.a[(j + 1) % kKeyBytes];
  }

  for (int i = 0; i < length; ++i)
    bytes[i] = static_cast<uint8_t>(moves.forward[bytes[i]] ^ key.b[i % kKeyBytes]);

  uint8_t chain = key.seed;
  for (int i = 0; i < length; ++i) {
    bytes[i] ^= chain;
    chain = bytes[i];
  }
  return kResultOk;
}

int UnscrambleBytes(uint8_t* bytes, uint16_t length) {
  if (bytes == nullptr) return length == 0 ? kResultOk : kResultRefused;
  if (length == 0) return kResultOk;
  const ScrambleKey& key = Key();
  const BitMoves& moves = Moves();

  for (int i = length - 1; i >= 1; --i) bytes[i] ^= bytes[i - 1];
  bytes[0] ^= key.seed;

  for (int i = 0; i < length; ++i)
    bytes[i] = moves.backward[static_cast<uint8_t>(bytes[i] ^ key.b[i % kKeyBytes])];

  for (int j = 0; j + 1 < length; j += 2) {
    bytes[j] ^= key.a[j % kKeyBytes];
    bytes[j + 1] ^= key.a[(j + 1) % kKeyBytes];
    SwapLowNibbles(bytes[j], bytes[j + 1]);
  }

  for (int i = 0; i < length; ++i)
    bytes[i] = static_cast<uint8_t>(~NibbleSwap(static_cast<uint8_t>(bytes[i] ^ key.a[i % kKeyBytes])));
  return kResultOk;
}

int SealRecord(uint8_t* record) {
  if (record == nullptr) return kResultRefused;
  if (record[0] != kFormat || record[1] != kVersion) return kResultRefused;
  record[0] = kSealMark;
  record[1] = kSealVersion;
  ScrambleBytes(record + 1, kScrambledBytes);
  return kResultOk;
}

int UnsealRecord(uint8_t* record) {
  if (record == nullptr) return kResultRefused;
  if (record[0] != kSealMark) return kResultRefused;
  UnscrambleBytes(record + 1, kScrambledBytes);
  // A failed unseal leaves the bytes unscrambled; readers only ever unseal a private
  // copy, so the caller's record is not affected.
  if ((record[1] & 0xF0) != kSealVersionHigh) return kResultRefused;
  record[0] = kFormat;
  record[1] = kVersion;
  return kResultOk;
}

int UnsealCopy(const uint8_t* sealed, uint8_t* out) {
  if (sealed == nullptr || out == nullptr) return kResultRefused;
  // memmove: a caller may pass the same buffer twice.
  std::memmove(out, sealed, kRecordBytes);
  return UnsealRecord(out);
}

}  // namespace vantrel::record
